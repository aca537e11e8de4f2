#pragma once

#include <QWidget>

#include "DesktopServices.h"

class QLabel;

namespace kestrova {

class AppController;
class LinkButton;
class ProminentButton;

// Shown instead of the settings form while screen capture is not possible: what is missing, how
// to get it, and two buttons: one asks for it (the desktop's dialog on Wayland, else the system's
// settings), one checks again.
// Main thread only; the controller must outlive it.
class Onboarding : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMargin = 28;
  static constexpr int kSpacing = 16;
  // The window's fixed 360 less the margins: wrapped text is measured at this width.
  static constexpr int kTextWidth = 360 - 2 * kMargin;

  // The explanation, in this platform's words.
  static QString explanation(DesktopServices::CaptureGrant grant);

  explicit Onboarding(AppController& controller, QWidget* parent = nullptr);

  ProminentButton* openSettingsButton() const { return openSettings_; }
  LinkButton* checkAgainButton() const { return checkAgain_; }
  QLabel* explanationLabel() const { return explanation_; }
  // Why the desktop cannot grant capture, when a request said so (portal only; else nullptr).
  QLabel* problemLabel() const { return problem_; }

 private:
  AppController& controller_;
  QLabel* explanation_;
  ProminentButton* openSettings_;
  LinkButton* checkAgain_;
  QLabel* problem_ = nullptr;
};

}  // namespace kestrova
