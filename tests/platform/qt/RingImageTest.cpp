// The click ring bitmap as QPainter draws it, and as it lands in a frame.
#include "RingImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ClickRings.h"

namespace kestrova::qt {
namespace {

TEST(RingImage, IsAPremultipliedWhiteDiscWithAnOpaqueRimEightPixelsInside) {
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
  // The outer edge lies on pixel boundaries 8 pixels in from each side.
  for (const auto& [in, out] : {std::pair{8, 7}, {247, 248}}) {
    SCOPED_TRACE(in);
    EXPECT_GT(ring->pixel(in, 128)[3], 191);
    EXPECT_LT(ring->pixel(out, 128)[3], 64);
    EXPECT_GT(ring->pixel(128, in)[3], 191);
    EXPECT_LT(ring->pixel(128, out)[3], 64);
  }
}

// Drawn into a plain frame at a ring's size and opacity, the rim keeps its place and strength and
// the fill its faintness, read along the row through the centre; a small ring is drawn from a
// smaller copy of the bitmap without losing its rim.
TEST(RingImage, DrawnIntoAFrameKeepsItsRimAndFill) {
  auto sprite = RingSprite::make(*makeRingImage());
  ASSERT_TRUE(sprite);
  for (const double radius : {32.0, 123.0}) {
    SCOPED_TRACE(radius);
    constexpr int kW = 320, kH = 300, kBackground = 60;
    std::vector<std::uint8_t> y(kW * kH, kBackground), uv(kW * kH / 2, 128);
    PlanarImage frame{y.data(), uv.data(), uv.data() + kW * kH / 4, kW, kW / 2, kW / 2, kW, kH};
    sprite->composite(frame, {160, 150, radius, 0.85});
    std::vector<double> alpha(kW);
    for (int i = 0; i < kW; ++i) alpha[i] = (y[150 * kW + i] - kBackground) / (235.0 - kBackground);
    EXPECT_NEAR(*std::max_element(alpha.begin(), alpha.end()), 0.85, 0.015);
    EXPECT_NEAR(alpha[160], 0.22 * 0.85, 0.01);
    // The outer edge, where alpha first reaches half the rim's, between pixel centres.
    int l = 0;
    while (alpha[l] < 0.425) ++l;
    const double edge = l - 0.5 + (0.425 - alpha[l - 1]) / (alpha[l] - alpha[l - 1]);
    EXPECT_NEAR(160 - edge, radius * 120 / 128, 0.3);
  }
}

}  // namespace
}  // namespace kestrova::qt
