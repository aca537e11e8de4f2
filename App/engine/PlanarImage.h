#pragma once

#include <cstdint>

namespace kestrova {

// A writable 8-bit YUV 4:2:0 picture in three planes (I420), BT.601 limited range: the layout the
// encoder takes, so frames are rendered straight into it. Width and height are even.
struct PlanarImage {
  std::uint8_t* y = nullptr;
  std::uint8_t* u = nullptr;
  std::uint8_t* v = nullptr;
  int strideY = 0;  // bytes
  int strideU = 0;
  int strideV = 0;
  int width = 0;  // pixels
  int height = 0;
};

}  // namespace kestrova
