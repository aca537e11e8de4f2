#pragma once

#include <QRect>

#include <memory>
#include <optional>
#include <vector>

#include "DesktopDisplays.h"
#include "GrantedMonitor.h"

namespace kestrova {

// The displays of a Wayland session for the controller and the windows. There the desktop's
// screen-sharing dialog picks the screen, and the recording records whatever stream it grants, so
// the controller sees one display standing for that choice. The countdown goes on Qt's primary
// screen (the compositor places it where it likes); the toolbar goes on a monitor that the
// granted stream does not show, or nowhere, since no window can be left out of a screen cast.
//
// Main thread only, after the QGuiApplication.
class ChosenScreenDisplays final : public DesktopDisplays {
 public:
  // `granted` says where the recorded monitor lies once a recording has started; none: never
  // known, so the toolbar is left out.
  explicit ChosenScreenDisplays(std::shared_ptr<const GrantedMonitor> granted = {})
      : granted_(std::move(granted)) {}

  std::vector<DisplayInfo> displays() override;
  PanelArea panelArea(std::uint32_t id) override;
  PanelArea toolbarArea(std::uint32_t id) override;

 private:
  std::shared_ptr<const GrantedMonitor> granted_;
};

// Of `screens` (Qt's screen geometries, logical), the index of one that is certainly not the
// `recorded` monitor: apart from its position when that is known, else of another size. None
// when there is no such screen or nothing is known.
std::optional<std::size_t> screenApartFrom(const std::vector<QRect>& screens,
                                           const GrantedMonitor::Geometry& recorded);

}  // namespace kestrova
