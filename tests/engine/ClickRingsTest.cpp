// Click rings in the pipeline's frames: where they land and how they grow and fade, measured back
// from the pixels of a white square drawn as the ring, and what becomes of a ring image that
// cannot be made.
#include "ClickRings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <tuple>

#include "PipelineRig.h"

namespace kestrova {
namespace {

using namespace testing;

// A plain display with the camera resting on `pointer` (desktop points).
struct RingRig : PipelineRig {
  RingRig(const RecorderConfig& config, Point pointerAt, RingFactory ring)
      : PipelineRig(
            config, [](int, int) { return 0xff3c6e9bu; }, std::move(ring)) {
    pointer.location = pointerAt;
  }
  // The luma of a frame at host time `now`.
  std::vector<std::uint8_t> frameAt(double now) {
    clock.time = now;
    frame(pts += 0.1);
    return input.lastY;
  }
  double pts = 0;
};

// 160×90 points at 4 pixels per point, recorded 1:1 at 640×360: rings four times their point size.
const RecorderConfig kLarge = pipelineConfig(160, 90, 640, 360, 4);

// A display and where the camera rests (desktop points).
struct Scene {
  RecorderConfig config;
  Point pointer;
};

// The ring is made once, when first due; one that cannot be made is no ring, and no failure.
TEST(ClickRings, RingsGrowFadeAndSitAtTheClickInTheViewportScaledByTheOutput) {
  using Ring = std::optional<PremultipliedImage>;
  struct Case {
    const char* name;
    Scene scene;
    std::vector<Point> clicks;  // capture pixels, pressed at 10 s
    double age;                 // seconds
    Point centre;               // expected, output pixels from the top-left
    double radius, opacity;     // expected; opacity 0: the frame is as it was
    std::size_t kept;           // clicks listed, up to half a second old
    RingFactory ring = whiteSquare;
  };
  const Scene large{kLarge, {80, 45}};
  RecorderConfig off = kLarge;
  off.clickIndicator = false;
  const RingFactory throws = []() -> Ring { throw std::runtime_error("no painter"); };
  const RingFactory broken = [] { return Ring(PremultipliedImage{8, 8, {1, 2, 3}}); };
  // 1280×800 recorded at 1920×1080: viewport 1280×720 at the bottom, s = 1.5.
  const Scene low{pipelineConfig(1280, 800, 1920, 1080), {0, 0}};
  const Scene scale2{pipelineConfig(640, 400, 1920, 1080, 2), {0, 400}};
  // 3024×1964 recorded 1:1 at 1920×1080, the viewport at x = 1104.
  const Scene right{pipelineConfig(3024, 1964, 1920, 1080), {3024, 1964}};
  const Case cases[] = {
      {"just pressed", large, {{300, 170}}, 0, {300, 170}, 32, 0.85, 1},
      {"half way", large, {{300, 170}}, 0.225, {300, 170}, 123, 0.425, 1},
      {"faded out, still listed", large, {{300, 170}}, 0.45, {}, 0, 0, 1},
      {"forgotten", large, {{300, 170}}, 0.51, {}, 0, 0, 0},
      {"clipped by the frame's corner", large, {{-20, -20}}, 0.225, {-20, -20}, 123, 0.425, 1},
      {"s = 1.5, viewport lower", low, {{400, 500}}, 0, {600, 630}, 12, 0.85, 1},
      {"2 pixels per point, s = 1.5", scale2, {{300, 200}}, 0, {450, 300}, 24, 0.85, 1},
      {"viewport to the right", right, {{2500, 100}}, 0, {1396, 100}, 8, 0.85, 1},
      {"outside the viewport", right, {{500, 500}, {2500, 1500}, {-50, -50}}, 0.1, {}, 0, 0, 3},
      {"indicator off", {off, {80, 45}}, {{300, 170}}, 0, {}, 0, 0, 0},
      {"the ring factory throws", large, {{300, 170}}, 0, {}, 0, 0, 1, throws},
      {"the ring image is broken", large, {{300, 170}}, 0, {}, 0, 0, 1, broken},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int made = 0;
    RingRig r(c.scene.config, c.scene.pointer, [&] {
      ++made;
      return c.ring();
    });
    const auto bg = r.frameAt(10.0);
    for (const Point& p : c.clicks) r.pipeline.appendClick(10.0, p);
    r.frameAt(10.0 + c.age);
    const auto f = r.frameAt(10.0 + c.age);
    EXPECT_EQ(made, c.scene.config.clickIndicator && c.age < 0.5 ? 1 : 0);
    EXPECT_EQ(r.pipeline.clicks().size(), c.kept);
    if (c.opacity == 0) {
      EXPECT_TRUE(f == bg);
      continue;
    }
    // Alpha from how far each luma moved from the background's towards white's 235.
    const int w = int(c.scene.config.width), h = int(c.scene.config.height);
    double peak = 0;
    int x0 = w, y0 = h, x1 = 0, y1 = 0;
    for (int j = 0; j < h; ++j) {
      for (int i = 0; i < w; ++i) {
        const double a = (f[j * w + i] - bg[0]) / (235.0 - bg[0]);
        if (a == 0) continue;
        peak = std::max(peak, a);
        std::tie(x0, y0, x1, y1) =
            std::tuple(std::min(x0, i), std::min(y0, j), std::max(x1, i + 1), std::max(y1, j + 1));
      }
    }
    // The square the ring was scaled to, clipped to the frame; its edges are soft by a texel.
    const double l = std::max(0.0, c.centre.x - c.radius), t = std::max(0.0, c.centre.y - c.radius);
    const double rt = std::min(double(w), c.centre.x + c.radius);
    const double b = std::min(double(h), c.centre.y + c.radius);
    const double soft = 1 + c.radius / 32;
    EXPECT_NEAR(x0, l, soft);
    EXPECT_NEAR(y0, t, soft);
    EXPECT_NEAR(x1, rt, soft);
    EXPECT_NEAR(y1, b, soft);
    EXPECT_NEAR(peak, c.opacity, 0.015);
  }
}

}  // namespace
}  // namespace kestrova
