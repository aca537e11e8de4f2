#pragma once

#include <functional>
#include <memory>

namespace kestrova {

// Called on the monitor's own thread for every left or right mouse press anywhere on the desktop,
// whichever application has the focus. It must only read what is thread-safe and post work on.
using ClickHandler = std::function<void()>;

// An installed monitor. Destroying it removes the monitor: no handler call starts afterwards, and
// its thread and X connection are gone once the destructor returns (unless it is destroyed from
// inside the handler itself, in which case the thread ends right after the handler returns).
class ClickMonitorToken {
 public:
  virtual ~ClickMonitorToken() = default;
};

// The platform's global click monitor.
class ClickMonitor {
 public:
  virtual ~ClickMonitor() = default;
  // Starts calling `handler`. nullptr when the platform cannot watch clicks (no suitable display);
  // then no handler is ever called. Any thread.
  virtual std::unique_ptr<ClickMonitorToken> install(ClickHandler handler) = 0;
};

}  // namespace kestrova
