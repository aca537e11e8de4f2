// Click rings in the pipeline's frames: where they land and how they grow and fade, measured back
// from the pixels, and the click list and ring image behind them. The ring is an opaque white
// square here, so what it covers tells its centre and size, and its peak alpha its opacity.
#include "ClickRings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "PipelineRig.h"

namespace kestrova {
namespace {

using testing::pipelineConfig;
using testing::PipelineRig;

std::optional<PremultipliedImage> whiteSquare() {
  return PremultipliedImage{64, 64, std::vector<std::uint8_t>(64 * 64 * 4, 255)};
}

struct Planes {
  std::vector<std::uint8_t> y, u, v;
  bool operator==(const Planes&) const = default;
};

// A plain display with the camera resting on `pointer` (desktop points).
struct RingRig : PipelineRig {
  RingRig(const RecorderConfig& config, Size view, Point pointerAt, RingFactory ring = whiteSquare)
      : PipelineRig(
            config, view, [](int, int) { return 0xff3c6e9bu; }, std::move(ring)) {
    pointer.location = pointerAt;
  }
  // A frame at host time `now`.
  Planes frameAt(double now) {
    clock.time = now;
    frame(pts += 0.1);
    return {input.lastY, input.lastU, input.lastV};
  }
  double pts = 0;
};

// 160×90 points at 4 pixels per point, recorded 1:1 at 640×360: rings four times their point size.
const RecorderConfig kLarge = pipelineConfig(160, 90, 640, 360, 4);

// A display, its viewport and where the camera rests (desktop points).
struct Scene {
  RecorderConfig config;
  Size view;
  Point pointer;
};

TEST(ClickRings, RingsGrowFadeAndSitAtTheClickInTheViewportScaledByTheOutput) {
  struct Case {
    const char* name;
    Scene scene;
    std::vector<Point> clicks;  // capture pixels, pressed at 10 s
    double age;                 // seconds
    Point centre;               // expected, output pixels from the top-left
    double radius, opacity;     // expected; opacity 0: the frame is as it was
    std::size_t kept;
  };
  const Scene large{kLarge, {640, 360}, {80, 45}};
  const Scene full{pipelineConfig(1920, 1080, 1920, 1080), {1920, 1080}, {0, 1080}};
  // 1280×800 recorded at 1920×1080: viewport 1280×720, s = 1.5, at the top or the bottom.
  const Scene top{pipelineConfig(1280, 800, 1920, 1080), {1280, 720}, {0, 800}};
  const Scene low{pipelineConfig(1280, 800, 1920, 1080), {1280, 720}, {0, 0}};
  const Scene scale2{pipelineConfig(640, 400, 1920, 1080, 2), {1280, 720}, {0, 400}};
  // 3024×1964 recorded 1:1 at 1920×1080, the viewport at the top-left or at x = 1104.
  const Scene big{pipelineConfig(3024, 1964, 1920, 1080), {1920, 1080}, {0, 1964}};
  const Scene right{pipelineConfig(3024, 1964, 1920, 1080), {1920, 1080}, {3024, 1964}};
  const Case cases[] = {
      {"just pressed", large, {{300, 170}}, 0, {300, 170}, 32, 0.85, 1},
      {"half way", large, {{300, 170}}, 0.225, {300, 170}, 123, 0.425, 1},
      {"faded out, still listed", large, {{300, 170}}, 0.45, {}, 0, 0, 1},
      {"listed up to half a second", large, {{300, 170}}, 0.5, {}, 0, 0, 1},
      {"then forgotten", large, {{300, 170}}, 0.5 + 1e-9, {}, 0, 0, 0},
      {"clipped by the frame's corner", large, {{-20, -20}}, 0.225, {-20, -20}, 123, 0.425, 1},
      {"s = 1", full, {{100, 100}}, 0, {100, 100}, 8, 0.85, 1},
      {"s = 1.5", top, {{100, 100}}, 0, {150, 150}, 12, 0.85, 1},
      {"s = 1.5, viewport lower", low, {{400, 500}}, 0, {600, 630}, 12, 0.85, 1},
      {"2 pixels per point, s = 1.5", scale2, {{300, 200}}, 0, {450, 300}, 24, 0.85, 1},
      {"viewport to the right", right, {{2500, 100}}, 0, {1396, 100}, 8, 0.85, 1},
      {"outside the viewport", big, {{2500, 1500}, {1960, 500}, {-50, -50}}, 0.1, {}, 0, 0, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RingRig r(c.scene.config, c.scene.view, c.scene.pointer);
    const Planes bg = r.frameAt(10.0);
    for (const Point& p : c.clicks) r.pipeline.appendClick(10.0, p);
    const Planes f = r.frameAt(10.0 + c.age);
    EXPECT_EQ(r.pipeline.clicks().size(), c.kept);
    if (c.opacity == 0) {
      EXPECT_TRUE(f == bg);
      continue;
    }
    // Alpha from how far each luma moved from the background's towards white's 235.
    const int w = static_cast<int>(c.scene.config.width),
              h = static_cast<int>(c.scene.config.height);
    const double bgY = bg.y[0];
    double sum = 0, sx = 0, sy = 0, peak = 0;
    int x0 = w, y0 = h, x1 = 0, y1 = 0;
    for (int j = 0; j < h; ++j) {
      for (int i = 0; i < w; ++i) {
        const double a = (f.y[j * w + i] - bgY) / (235 - bgY);
        if (f.y[j * w + i] == bgY) continue;
        sum += a, sx += a * (i + 0.5), sy += a * (j + 0.5), peak = std::max(peak, a);
        x0 = std::min(x0, i), y0 = std::min(y0, j), x1 = std::max(x1, i + 1),
        y1 = std::max(y1, j + 1);
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
    EXPECT_NEAR(sx / sum, (l + rt) / 2, 0.1 + soft / 16);  // a clipped side has no soft edge
    EXPECT_NEAR(sy / sum, (t + b) / 2, 0.1 + soft / 16);
    EXPECT_NEAR(sum, c.opacity * (rt - l) * (b - t), 0.02 * sum);
    EXPECT_NEAR(peak, c.opacity, 0.015);
    // Chroma is pulled towards white's 128 by the same alpha.
    const int ci = int((l + rt) / 4), cj = int((t + b) / 4);
    for (const auto plane : {&Planes::u, &Planes::v}) {
      const double before = (bg.*plane)[cj * w / 2 + ci], after = (f.*plane)[cj * w / 2 + ci];
      EXPECT_NEAR(after, 128 + (1 - c.opacity) * (before - 128), 1.0);
    }
  }
}

TEST(ClickRings, IndicatorOffKeepsNoListMakesNoRingAndReadsNoClock) {
  int made = 0;
  auto config = kLarge;
  config.clickIndicator = false;
  RingRig r(config, {640, 360}, {80, 45}, [&] {
    ++made;
    return whiteSquare();
  });
  const Planes plain = r.frameAt(1.0);
  r.pipeline.appendClick(1.0, {80, 45});
  EXPECT_TRUE(r.frameAt(1.1) == plain);
  EXPECT_TRUE(r.pipeline.clicks().empty());
  EXPECT_EQ(made, 0);
  EXPECT_EQ(r.clock.reads, 0);
}

TEST(ClickRings, RingIsMadeOnceWhenFirstDueAndEachFrameReadsTheClockOnce) {
  int made = 0;
  RingRig r(kLarge, {640, 360}, {80, 45}, [&] {
    ++made;
    return whiteSquare();
  });
  const Planes plain = r.frameAt(1.0);
  EXPECT_EQ(made, 0) << "no click, no ring";
  EXPECT_EQ(r.clock.reads, 0) << "a frame without clicks costs nothing";

  for (double t : {1.0, 1.2, 1.4}) r.pipeline.appendClick(t, {320, 180});
  EXPECT_FALSE(r.frameAt(1.45) == plain);
  EXPECT_EQ(made, 1);
  EXPECT_EQ(r.clock.reads, 1);

  r.frameAt(1.65);  // the click of 1.0 is 0.65 s old; the others stay in order
  EXPECT_EQ(made, 1);
  EXPECT_EQ(r.clock.reads, 2);
  ASSERT_EQ(r.pipeline.clicks().size(), 2u);
  EXPECT_EQ(r.pipeline.clicks()[0].t, 1.2);
  EXPECT_EQ(r.pipeline.clicks()[1].t, 1.4);

  EXPECT_TRUE(r.frameAt(2.0) == plain) << "every click expired";
  EXPECT_TRUE(r.pipeline.clicks().empty());
}

TEST(ClickRings, RingThatCannotBeMadeIsNeverRetriedAndClicksStillExpire) {
  struct Case {
    const char* name;
    RingFactory make;  // without it: no factory at all
  };
  const Case cases[] = {
      {"factory gives nothing", [] { return std::optional<PremultipliedImage>(); }},
      {"factory throws",
       []() -> std::optional<PremultipliedImage> { throw std::runtime_error("no painter"); }},
      {"empty image", [] { return std::optional(PremultipliedImage{}); }},
      {"pixels missing",
       [] {
         return std::optional(PremultipliedImage{8, 8, {}});
       }},
      {"no factory", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int made = 0;
    RingFactory factory;
    if (c.make) {
      factory = [&] {
        ++made;
        return c.make();
      };
    }
    RingRig r(kLarge, {640, 360}, {80, 45}, factory);
    const Planes plain = r.frameAt(1.0);
    r.pipeline.appendClick(1.0, {320, 180});
    EXPECT_TRUE(r.frameAt(1.1) == plain);
    const int requests = r.requests;
    r.pipeline.appendClick(1.2, {160, 80});
    EXPECT_EQ(r.requests, requests) << "no frame asked for a ring that cannot show";
    EXPECT_TRUE(r.frameAt(1.3) == plain);
    EXPECT_EQ(made, c.make ? 1 : 0);
    r.frameAt(1.75);
    EXPECT_TRUE(r.pipeline.clicks().empty());
  }
}

}  // namespace
}  // namespace kestrova
