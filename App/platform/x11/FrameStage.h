#pragma once

#include <xcb/xcb.h>

#include <cstdint>

#include "X11Desktop.h"

namespace kestrova::x11 {

// A grabbed region of the root window in 32-bit BGRA (the fourth byte is undefined), which stages
// may change in place.
struct RegionFrame {
  std::uint8_t* data = nullptr;  // top-left pixel
  int stride = 0;                // bytes per row
  RootRect rect;                 // where the region lies on the root window, pixels

  std::uint8_t* at(int rootX, int rootY) const {
    return data + static_cast<std::ptrdiff_t>(rootY - rect.y) * stride + (rootX - rect.x) * 4;
  }
};

// One step of finishing a grabbed region before the pipeline sees it (own windows repaired, the
// pointer drawn). Called on the thread that fetches pixels, one frame at a time.
class FrameStage {
 public:
  virtual ~FrameStage() = default;
  // Sees each event that arrived on the connection since the last frame, before prepare().
  virtual void handle(const xcb_generic_event_t& /*event*/) {}
  // Sends the stage's questions to the X server ahead of apply(), so that they travel with the
  // grab instead of costing a round trip each after it. Optional.
  virtual void prepare() {}
  virtual void apply(RegionFrame& frame) = 0;
};

// The intersection of two rectangles; width or height 0 when they do not meet.
inline RootRect intersect(const RootRect& a, const RootRect& b) {
  const int x0 = a.x > b.x ? a.x : b.x;
  const int y0 = a.y > b.y ? a.y : b.y;
  const int x1 = (a.x + a.width) < (b.x + b.width) ? (a.x + a.width) : (b.x + b.width);
  const int y1 = (a.y + a.height) < (b.y + b.height) ? (a.y + a.height) : (b.y + b.height);
  if (x1 <= x0 || y1 <= y0) return {x0, y0, 0, 0};
  return {x0, y0, x1 - x0, y1 - y0};
}

inline bool isEmpty(const RootRect& r) {
  return r.width <= 0 || r.height <= 0;
}

}  // namespace kestrova::x11
