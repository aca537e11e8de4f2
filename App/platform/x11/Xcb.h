#pragma once

// RAII for the XCB handles the X11 adapters use. Only X11 adapter sources include this.

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace kestrova::x11 {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// A reply or error of XCB, which the caller must free().
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

struct DisconnectDeleter {
  void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

// One connection to the X server, closed when dropped. Each adapter thread has its own.
class XcbConnection {
 public:
  // Connects to `display` (nullptr: $DISPLAY). Throws PlatformError when no X server answers.
  explicit XcbConnection(const char* display = nullptr);

  xcb_connection_t* get() const { return conn_.get(); }
  xcb_screen_t* screen() const { return screen_; }
  xcb_window_t root() const { return screen_->root; }
  bool hasError() const { return xcb_connection_has_error(conn_.get()) != 0; }

 private:
  std::unique_ptr<xcb_connection_t, DisconnectDeleter> conn_;
  xcb_screen_t* screen_ = nullptr;
};

}  // namespace kestrova::x11
