#pragma once

#include <string>

#include "DisplayInfo.h"

namespace kestrova::x11 {

// The monitors of an X server as RandR 1.5 describes them (`xrandr --listmonitors`).
//
// A display's id is the RandR output id of the monitor's first output. A monitor made without
// outputs (`xrandr --setmonitor NAME GEOMETRY none`) has none, so it is identified by its name
// atom with the top bit set: XIDs and atoms never use the top three bits, so neither can collide
// with an output id, and the id is never 0. Frames are in desktop points (y up) at scale 1.
//
// Thread-safe: every call opens a connection of its own.
class X11DisplayList final : public DisplayList {
 public:
  // `display` empty: $DISPLAY.
  explicit X11DisplayList(std::string display = {}) : display_(std::move(display)) {}

  std::vector<DisplayInfo> displays() override;

  // The displays and the height of the root window they were measured against, from one look at
  // the server (a frame's y depends on the root's height, which RandR may change at any time).
  struct Layout {
    std::vector<DisplayInfo> displays;
    int rootHeight = 0;
  };
  Layout layout();

 private:
  std::string display_;
};

}  // namespace kestrova::x11
