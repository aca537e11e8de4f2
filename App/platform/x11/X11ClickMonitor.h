#pragma once

#include <memory>
#include <string>

#include "ClickMonitor.h"

namespace kestrova::x11 {

// The global click monitor of an X11 display: XInput 2 raw presses of buttons 1 and 3 (left and
// right), selected on the root window, so every press counts whichever application gets it and
// even while another client holds a grab. Each installation has its own X connection and thread
// ("kestrova.clicks"), which calls the handler and does nothing else.
class X11ClickMonitor final : public ClickMonitor {
 public:
  // `display` as for xcb_connect; empty: $DISPLAY.
  explicit X11ClickMonitor(std::string display = {}) : display_(std::move(display)) {}

  // nullptr when the display cannot be reached or offers no XInput 2. Any thread. The token's
  // destructor wakes the thread at once (no polling), joins it and closes the connection. Once the
  // display goes away the thread ends by itself and no more presses arrive.
  std::unique_ptr<ClickMonitorToken> install(ClickHandler handler) override;

 private:
  std::string display_;
};

}  // namespace kestrova::x11
