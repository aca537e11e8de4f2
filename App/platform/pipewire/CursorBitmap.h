#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace kestrova::wayland {

// A pointer image as the compositor last sent it, in stream pixels.
struct CursorBitmap {
  int width = 0;
  int height = 0;
  int hotX = 0;  // the hot spot within the image
  int hotY = 0;
  std::vector<std::uint32_t> argb;  // premultiplied 0xAARRGGBB, row after row

  // A plain arrow, for a stream that joined after the compositor last sent the image.
  static std::shared_ptr<const CursorBitmap> fallbackArrow();
};

}  // namespace kestrova::wayland
