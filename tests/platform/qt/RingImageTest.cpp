// The click ring bitmap as QPainter draws it.
#include "RingImage.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrova::qt {
namespace {

TEST(RingImage, IsAPremultipliedWhiteDiscWithAnOpaqueRim) {
  const auto ring = makeRingImage();
  ASSERT_TRUE(ring);
  ASSERT_EQ(ring->width, 256);
  ASSERT_EQ(ring->height, 256);
  ASSERT_EQ(ring->pixels.size(), 256u * 256u * 4u);

  int bad = 0;
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      const std::uint8_t* p = ring->pixel(x, y);
      // White premultiplied: every colour component equals alpha.
      if (p[0] != p[3] || p[1] != p[3] || p[2] != p[3]) ++bad;
      // Distance of the pixel's centre from the square's centre.
      const double d = std::hypot(x + 0.5 - 128, y + 0.5 - 128);
      const int a = p[3];
      if (d < 106.5 && std::abs(a - 56) > 1) ++bad;   // fill, 0.22 of 255
      if (d > 109.5 && d < 118.5 && a != 255) ++bad;  // rim, 12 wide around radius 114
      if (d > 121.5 && a != 0) ++bad;                 // outside the outer edge at 120
    }
  }
  EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace kestrova::qt
