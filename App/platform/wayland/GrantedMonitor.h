#pragma once

#include <mutex>
#include <optional>

#include "PortalStream.h"

namespace kestrova {

// Where the monitor that the desktop let us record lies, in the compositor's logical coordinates,
// as the screen-cast portal said when it granted the stream, so the windows can keep off it.
// Either part may be unknown (GNOME 43 tells the size only).
//
// Thread-safe: the recording's start writes it on a worker thread, the windows read it on the
// main thread.
class GrantedMonitor {
 public:
  struct Geometry {
    std::optional<PortalStream::LogicalPoint> position;
    std::optional<PortalStream::LogicalSize> size;
  };

  void set(const Geometry& geometry) {
    std::lock_guard lock(mutex_);
    geometry_ = geometry;
  }
  Geometry get() const {
    std::lock_guard lock(mutex_);
    return geometry_;
  }

 private:
  mutable std::mutex mutex_;
  Geometry geometry_;
};

}  // namespace kestrova
