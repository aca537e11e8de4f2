#pragma once

#include <cstdint>
#include <vector>

namespace kestrova {

// An 8-bit RGBA bitmap with premultiplied alpha: bytes R, G, B, A per pixel, rows top to bottom,
// tightly packed (a row is 4 × width bytes). sRGB.
struct PremultipliedImage {
  int width = 0;  // pixels
  int height = 0;
  std::vector<std::uint8_t> pixels;

  const std::uint8_t* pixel(int x, int y) const {
    return pixels.data() + (static_cast<std::size_t>(y) * width + x) * 4;
  }
};

}  // namespace kestrova
