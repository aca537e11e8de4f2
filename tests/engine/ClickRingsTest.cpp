// Click rings in the pipeline's frames: where they land and how they grow and fade, measured back
// from the pixels, and the click list and ring image behind them. The ring is an opaque white
// square here, so what it covers tells its centre and size, and its peak alpha its opacity.
#include "ClickRings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <tuple>

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
    const int w = int(c.scene.config.width), h = int(c.scene.config.height);
    double sum = 0, sx = 0, sy = 0, peak = 0;
    int x0 = w, y0 = h, x1 = 0, y1 = 0;
    for (int j = 0; j < h; ++j) {
      for (int i = 0; i < w; ++i) {
        const double a = (f.y[j * w + i] - bg.y[0]) / (235.0 - bg.y[0]);
        if (a == 0) continue;
        sum += a;
        sx += a * (i + 0.5);
        sy += a * (j + 0.5);
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

// The click list and the ring image behind it: the ring is made once, when first due, and never
// retried when it cannot be made; clicks expire after half a second; with the indicator off there
// is none of it.
TEST(ClickRings, TheRingIsMadeOnceWhenFirstDueAndClicksExpireInOrder) {
  using Ring = std::optional<PremultipliedImage>;
  struct Case {
    const char* name;
    bool indicator;
    RingFactory make;  // without it: no factory at all
    bool drawn;
  };
  const Case cases[] = {
      {"indicator off", false, whiteSquare, false},
      {"ring made", true, whiteSquare, true},
      {"factory gives nothing", true, [] { return Ring(); }, false},
      {"factory throws", true, []() -> Ring { throw std::runtime_error("no painter"); }, false},
      {"empty image", true, [] { return Ring(PremultipliedImage{}); }, false},
      {"pixels missing", true,
       [] {
         return Ring(PremultipliedImage{8, 8, {}});
       },
       false},
      {"no factory", true, {}, false},
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
    RecorderConfig config = kLarge;
    config.clickIndicator = c.indicator;
    RingRig r(config, {640, 360}, {80, 45}, factory);
    const Planes plain = r.frameAt(1.0);
    EXPECT_EQ(made, 0) << "no click, no ring";
    for (double t : {1.0, 1.2, 1.4}) r.pipeline.appendClick(t, {320, 180});
    EXPECT_EQ(r.frameAt(1.45) == plain, !c.drawn);
    r.frameAt(1.65);  // the click of 1.0 is 0.65 s old; the others stay, in order
    std::vector<double> left;
    for (const Click& k : r.pipeline.clicks()) left.push_back(k.t);
    EXPECT_EQ(left, (c.indicator ? std::vector{1.2, 1.4} : std::vector<double>{}));
    EXPECT_EQ(r.clock.reads, c.indicator ? 2 : 0) << "once a frame, and only with clicks listed";
    EXPECT_EQ(made, c.indicator && c.make ? 1 : 0);
    const int requests = r.requests;
    r.pipeline.appendClick(1.7, {160, 80});
    EXPECT_EQ(r.requests - requests, c.drawn ? 1 : 0) << "a frame for a ring that shows";
    EXPECT_TRUE(r.frameAt(2.3) == plain) << "every click expired";
    EXPECT_TRUE(r.pipeline.clicks().empty());
  }
}

}  // namespace
}  // namespace kestrova
