#pragma once

#include <string>

#include "DesktopDisplays.h"
#include "X11Displays.h"

namespace kestrova::x11 {

// The displays of an X11 desktop for the controller and the windows: X11DisplayList's monitors,
// placed for Qt on the screen of the same name (or, for a monitor Qt has no screen for, the one
// that holds its centre).
//
// Main thread only, after the QGuiApplication.
class X11DesktopDisplays final : public DesktopDisplays {
 public:
  // `display` empty: $DISPLAY, which Qt uses too.
  explicit X11DesktopDisplays(std::string display = {}) : list_(std::move(display)) {}

  std::vector<DisplayInfo> displays() override;
  PanelArea panelArea(std::uint32_t id) override;

 private:
  X11DisplayList list_;
};

}  // namespace kestrova::x11
