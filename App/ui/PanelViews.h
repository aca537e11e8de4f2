#pragma once

#include <QPointer>
#include <QWidget>

#include "FloatingPanel.h"
#include "RecordingViews.h"

namespace kestrova {

class AppController;

// The windows around a recording, as the controller asks for them: the countdown and toolbar
// panels (their contents follow the controller's state and elapsed time) and the main window,
// made invisible and click-through during the recording and brought back after it.
//
// Main thread only. Owns the panels it shows. The controller and the main window must outlive it.
class PanelViews final : public RecordingViews {
 public:
  PanelViews(AppController& controller, QWidget& mainWindow);
  ~PanelViews() override;

  void showCountdownPanel(const PanelArea& area) override;
  void removeCountdownPanel() override;
  void clearCountdownPanel(std::function<void()> cleared) override;
  void showToolbarPanel(const PanelArea& area) override;
  void removeToolbarPanel() override;
  void hideMainWindow() override;
  void restoreMainWindow() override;

  FloatingPanel* countdownPanel() const { return countdown_; }
  FloatingPanel* toolbarPanel() const { return toolbar_; }

 private:
  AppController& controller_;
  QWidget& mainWindow_;
  QPointer<FloatingPanel> countdown_;
  QPointer<FloatingPanel> toolbar_;
  bool mainWindowTransparent_ = false;  // hidden by opacity (with a compositor), not unmapped
};

}  // namespace kestrova
