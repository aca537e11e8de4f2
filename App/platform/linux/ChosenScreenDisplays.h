#pragma once

#include "DesktopDisplays.h"

namespace kestrova {

// The displays of a Wayland session for the controller and the windows. There the desktop's
// screen-sharing dialog picks the screen, and the recording records whatever stream it grants, so
// the controller sees one display standing for that choice. Panels go on Qt's primary screen:
// Wayland tells no client where its windows or the chosen screen lie.
//
// Main thread only, after the QGuiApplication.
class ChosenScreenDisplays final : public DesktopDisplays {
 public:
  std::vector<DisplayInfo> displays() override;
  PanelArea panelArea(std::uint32_t id) override;
};

}  // namespace kestrova
