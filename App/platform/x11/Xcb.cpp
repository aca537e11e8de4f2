#include "Xcb.h"

#include <string>

#include "RecorderError.h"

namespace kestrova::x11 {

XcbConnection::XcbConnection(const char* display) {
  int screenNumber = 0;
  conn_.reset(xcb_connect(display, &screenNumber));
  if (xcb_connection_has_error(conn_.get())) {
    const char* name = display ? display : std::getenv("DISPLAY");
    throw PlatformError(std::string("Could not connect to the X server") +
                        (name ? std::string(" ") + name : std::string()) + ".");
  }
  auto it = xcb_setup_roots_iterator(xcb_get_setup(conn_.get()));
  for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
  screen_ = it.data;
}

}  // namespace kestrova::x11
