#pragma once

#include <QPointer>
#include <QRect>
#include <QScreen>

#include <cstdint>
#include <vector>

#include "DisplayInfo.h"

namespace kestrova {

// Where windows go on one display, in Qt's global coordinates: the display's area without the
// desktop's panels and docks, and Qt's screen for the display when Qt has one (matched by name).
struct PanelArea {
  QPointer<QScreen> screen;  // may be null: Qt has no screen of that name
  QRect available;           // empty when the display could not be found
  // No place that stays out of the recording (its monitor is the only one, or cannot be told
  // apart): the panel is left out.
  bool nowhere = false;
};

// The desktop's displays as the controller and the windows see them. The engine's DisplayList is
// the one source of every display's id, name, frame and scale; this adds only where a display lies
// for Qt. The program's entry picks the implementation for the session.
//
// Main thread only. May block briefly on the window system.
class DesktopDisplays {
 public:
  virtual ~DesktopDisplays() = default;

  // The displays now, the main one first. Throws PlatformError when they cannot be listed.
  virtual std::vector<DisplayInfo> displays() = 0;

  // Where panels go on the display `id` as it lies now (the main display when `id` is 0 or gone).
  virtual PanelArea panelArea(std::uint32_t id) = 0;

  // Where the toolbar goes while the display `id` records. Where the recording can leave our
  // windows out of its frames, on that display itself; where it cannot (a Wayland screen cast),
  // on another monitor, or nowhere.
  virtual PanelArea toolbarArea(std::uint32_t id) { return panelArea(id); }
};

// The one conversion of a display's frame (desktop points, y up from the bottom of a desktop
// `desktopHeight` high, one point per device pixel) into Qt's global coordinates (y down), for a
// display on the Qt screen whose top-left corner is `screenOrigin` and whose device pixel ratio
// is `pixelRatio`. Qt keeps each screen's top-left corner in device pixels and divides only the
// distances from it.
QRect qtRectFromDesktop(const Rect& frame, double desktopHeight, QPoint screenOrigin,
                        double pixelRatio);

}  // namespace kestrova
