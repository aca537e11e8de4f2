#pragma once

#include <functional>

#include "DesktopDisplays.h"

namespace kestrova {

// The windows the controller shows and hides around a recording. The user interface implements it;
// until it is set, NoRecordingViews leaves every step out.
//
// Called on the main thread only, by the controller alone. The implementation owns the panels it
// makes; "remove" of a panel that is not shown does nothing. A panel's content observes the
// controller (state, elapsed time) itself; the controller reads nothing back.
class RecordingViews {
 public:
  virtual ~RecordingViews() = default;

  // The 3-2-1 panel: 200×200 points at the centre of `area`, click-through, in front without
  // activating the program.
  virtual void showCountdownPanel(const PanelArea& area) = 0;
  virtual void removeCountdownPanel() = 0;
  // Removes the countdown panel at its end and calls `cleared` once the screen no longer shows
  // it, so the recording's first frame cannot catch it: at once where the capture leaves our
  // windows out anyway. Not called if the panel goes another way first (a cancel). May call
  // `cleared` before it returns.
  // NOLINTNEXTLINE(performance-unnecessary-value-param): overrides keep the handler
  virtual void clearCountdownPanel(std::function<void()> cleared) {
    removeCountdownPanel();
    cleared();
  }

  // The recording toolbar: 232×48 points, centred 28 points above the bottom of `area`,
  // interactive, in front without activating the program; none when the area is nowhere.
  virtual void showToolbarPanel(const PanelArea& area) = 0;
  virtual void removeToolbarPanel() = 0;

  // Makes the main window invisible and click-through for the recording (it must never reach the
  // video) and brings it back afterwards: activated, visible, focused, in front.
  virtual void hideMainWindow() = 0;
  virtual void restoreMainWindow() = 0;
};

class NoRecordingViews final : public RecordingViews {
 public:
  void showCountdownPanel(const PanelArea&) override {}
  void removeCountdownPanel() override {}
  void showToolbarPanel(const PanelArea&) override {}
  void removeToolbarPanel() override {}
  void hideMainWindow() override {}
  void restoreMainWindow() override {}
};

}  // namespace kestrova
