#pragma once

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>

namespace kestrova::x11 {

// A System V shared-memory segment attached to the X server for MIT-SHM grabs. Private to this
// user (mode 0600), marked for removal right after both sides attached, so it cannot outlive the
// process even if it crashes. Detached when dropped; `conn` must outlive it.
class ShmSegment {
 public:
  // Throws PlatformError when the segment cannot be made or the server refuses to attach it.
  ShmSegment(xcb_connection_t* conn, std::size_t bytes);
  ~ShmSegment();

  ShmSegment(const ShmSegment&) = delete;
  ShmSegment& operator=(const ShmSegment&) = delete;

  xcb_shm_seg_t id() const { return seg_; }
  std::uint8_t* data() const { return data_; }
  std::size_t size() const { return bytes_; }

 private:
  xcb_connection_t* conn_;
  std::size_t bytes_;
  std::uint8_t* data_ = nullptr;
  xcb_shm_seg_t seg_ = 0;
};

}  // namespace kestrova::x11
