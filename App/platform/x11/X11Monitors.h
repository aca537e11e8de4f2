#pragma once

// RandR monitors as the X11 adapters use them internally. Includes XCB; adapter sources only.

#include <xcb/xcb.h>

#include <cstdint>
#include <string>
#include <vector>

#include "X11Desktop.h"

namespace kestrova::x11 {

// Marks ids made from a monitor's name atom (see X11DisplayList).
constexpr std::uint32_t kOutputlessMonitorBit = 0x80000000u;

struct X11Monitor {
  std::uint32_t id = 0;
  std::string name;
  RootRect rect;
  bool primary = false;
};

// The current monitors, the primary first, otherwise in the server's order. Throws PlatformError
// when the server does not answer or has no RandR 1.5.
std::vector<X11Monitor> queryMonitors(xcb_connection_t* conn, xcb_window_t root);

// The current height of the root window in pixels (it changes with RandR, unlike the setup's).
// Throws PlatformError.
int queryRootHeight(xcb_connection_t* conn, xcb_window_t root);

}  // namespace kestrova::x11
