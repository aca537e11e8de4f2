#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>

#include "Geometry.h"
#include "HostPorts.h"

namespace kestrova::x11 {

class XcbConnection;

// The one place where X11 root coordinates (y down from the top of the root window) become the
// engine's desktop points (y up): desktop y = root height - X11 y.
inline Point desktopPointFromX11(double x, double y, double rootHeight) {
  return {x, rootHeight - y};
}

// A rectangle of the root window (top-left origin, y down) as a desktop frame (bottom-left origin).
inline Rect desktopFrameFromX11(double x, double y, double width, double height,
                                double rootHeight) {
  return Rect{{x, rootHeight - (y + height)}, {width, height}};
}

// A rectangle of the root window in pixels, origin top-left, y down.
struct RootRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const RootRect&, const RootRect&) = default;
};

// The inverse of desktopFrameFromX11, rounded to whole pixels.
inline RootRect rootRectFromDesktopFrame(const Rect& frame, double rootHeight) {
  const auto round = [](double v) { return static_cast<int>(std::lround(v)); };
  return {round(frame.minX()), round(rootHeight - frame.maxY()), round(frame.width()),
          round(frame.height())};
}

// The pointer position read from the X server on a connection of its own. Thread-safe (the sample
// queue and the click monitor share one): each call is one round trip, serialised by XCB. When the
// server is gone it keeps answering the last position.
class X11PointerSource final : public PointerSource {
 public:
  explicit X11PointerSource(const char* display = nullptr);
  ~X11PointerSource() override;

  Point mouseLocation() override;

 private:
  std::unique_ptr<XcbConnection> conn_;
  std::uint16_t rootHeight_ = 0;
  // The last root position, x in the high half and y in the low half (X11 root coordinates are
  // 16-bit), so that concurrent callers never see half of one reply and half of another.
  std::atomic<std::uint32_t> lastRoot_{0};
};

}  // namespace kestrova::x11
