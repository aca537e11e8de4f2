// Click rings as they land in real output frames, drawn with the real ring bitmap and measured
// back from the pixels: centre, outer radius and opacity.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "FramePipeline.h"
#include "RingImage.h"
#include "fakes/FakeCapture.h"
#include "fakes/FakeWriterInput.h"

namespace kestrova {
namespace {

using testing::FakeClock;
using testing::FakeImage;
using testing::FakePointer;
using testing::FakeSample;
using testing::FakeWriterInput;

// The ring bitmap's outer edge lies 8 of its 128 half-width pixels inside the square.
constexpr double kOuterEdge = 120.0 / 128.0;

struct Scene {
  Rect screenFrame;  // desktop points
  double scale;      // pixels per point
  int outW, outH;
  Size view;      // viewport, capture pixels
  Point pointer;  // desktop points; decides where the viewport goes
  std::uint32_t background = 0xff3c6e9bu;
};

struct Frame {
  int w = 0, h = 0;
  std::vector<std::uint8_t> y, u, v;
  std::vector<Click> clicksLeft;
};

Frame render(const Scene& sc, const std::vector<Click>& clicks, double now) {
  RecorderConfig cfg;
  cfg.screenFrame = sc.screenFrame;
  cfg.scale = sc.scale;
  cfg.width = sc.outW;
  cfg.height = sc.outH;
  cfg.clickIndicator = true;
  FakePointer pointer;
  pointer.location = sc.pointer;
  FakeClock clock;
  clock.time = now;
  const double cw = std::round(sc.screenFrame.width() * sc.scale);
  const double ch = std::round(sc.screenFrame.height() * sc.scale);
  FakeImage image(int(cw), int(ch), [&](int, int) { return sc.background; });
  FakeWriterInput input(sc.outW, sc.outH, 1);
  FramePipeline pipeline(cfg, pointer, clock, qt::makeRingImage);
  pipeline.installTracker(ViewportTracker{{cw, ch}, sc.view, 0.5, 0.25, 0, 0, false});
  pipeline.setWriterInput(&input);
  for (const Click& c : clicks) pipeline.appendClick(c.t, c.p);
  pipeline.handle(std::make_shared<FakeSample>(1.0, &image));
  return {sc.outW, sc.outH, input.lastY, input.lastU, input.lastV, pipeline.clicks()};
}

// What the pixels say about one ring drawn over a plain background.
struct Measured {
  double cx = 0, cy = 0;  // output pixels from the top-left corner
  double outerRadius = 0;
  double rimOpacity = 0;     // peak alpha along the row through the centre
  double centreOpacity = 0;  // alpha at the centre, where only the fill is
  int changed = 0;
};

// Alpha of the white ring at a luma pixel, from how far it moved the background towards 235.
double alphaAt(const Frame& f, const Frame& bg, int i, int j) {
  const double b = bg.y[j * f.w + i];
  return (f.y[j * f.w + i] - b) / (235.0 - b);
}

// The radius of the square a ring was scaled to, from the ring's total alpha in the frame: it grows
// with the square's area. Works for rings too thin to show their edge.
double radiusFromCoverage(const Frame& f, const Frame& bg, double opacity) {
  static const double bitmapCoverage = [] {
    const auto ring = qt::makeRingImage();
    double sum = 0;
    for (std::size_t k = 3; k < ring->pixels.size(); k += 4) sum += ring->pixels[k] / 255.0;
    return sum / (256.0 * 256.0);
  }();
  double sum = 0;
  for (int j = 0; j < f.h; ++j)
    for (int i = 0; i < f.w; ++i) sum += alphaAt(f, bg, i, j);
  return std::sqrt(sum / (opacity * bitmapCoverage)) / 2;
}

Measured measure(const Frame& f, const Frame& bg) {
  Measured m;
  double sum = 0, sx = 0, sy = 0;
  for (int j = 0; j < f.h; ++j) {
    for (int i = 0; i < f.w; ++i) {
      if (f.y[j * f.w + i] != bg.y[j * f.w + i]) ++m.changed;
      const double a = alphaAt(f, bg, i, j);
      sum += a;
      sx += a * (i + 0.5);
      sy += a * (j + 0.5);
    }
  }
  if (sum <= 0) return m;
  m.cx = sx / sum;
  m.cy = sy / sum;
  const int row = std::clamp(int(m.cy), 0, f.h - 1);
  std::vector<double> a(f.w);
  for (int i = 0; i < f.w; ++i) a[i] = alphaAt(f, bg, i, row);
  m.rimOpacity = *std::max_element(a.begin(), a.end());
  m.centreOpacity = a[std::clamp(int(m.cx), 0, f.w - 1)];
  // The outer edge on each side: where alpha first reaches half the rim's, between pixel centres.
  const double half = m.rimOpacity / 2;
  int l = 0;
  while (l < f.w && a[l] < half) ++l;
  int r = f.w - 1;
  while (r >= 0 && a[r] < half) --r;
  if (l == 0 || r == f.w - 1 || l >= r) return m;
  const double left = l - 0.5 + (half - a[l - 1]) / (a[l] - a[l - 1]);
  const double right = r + 1.5 - (half - a[r + 1]) / (a[r] - a[r + 1]);
  m.outerRadius = (right - left) / 2;
  return m;
}

// 160×90 points at 4 pixels per point, recorded 1:1 at 640×360: rings four times their point size.
const Scene kLarge{{{0, 0}, {160, 90}}, 4, 640, 360, {640, 360}, {80, 45}};

TEST(ClickRingPixels, RingGrowsAndFadesWithTheClicksAge) {
  struct Case {
    double age;  // seconds
    double radius, opacity;
    std::size_t kept;
  };
  const Case cases[] = {
      {0.0, 4 * 8, 0.85, 1}, {0.225, 4 * 30.75, 0.425, 1},
      {0.45, 4 * 34, 0, 1},  // faded out, still listed
      {0.5, 4 * 34, 0, 1},   // listed up to and including half a second
      {0.5 + 1e-9, 0, 0, 0},
  };
  const Frame bg = render(kLarge, {}, 10.0);
  const Point click{300, 170};  // capture pixels; the viewport is the whole display
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "age " << c.age);
    const Frame f = render(kLarge, {{10.0, click}}, 10.0 + c.age);
    EXPECT_EQ(f.clicksLeft.size(), c.kept);
    const Measured m = measure(f, bg);
    if (c.opacity == 0) {
      EXPECT_EQ(f.y, bg.y);
      EXPECT_EQ(f.u, bg.u);
      EXPECT_EQ(f.v, bg.v);
      continue;
    }
    EXPECT_NEAR(m.cx, click.x, 0.1);
    EXPECT_NEAR(m.cy, click.y, 0.1);
    EXPECT_NEAR(m.outerRadius, c.radius * kOuterEdge, 0.3);
    EXPECT_NEAR(m.rimOpacity, c.opacity, 0.015);
    EXPECT_NEAR(m.centreOpacity, 0.22 * c.opacity, 0.01);

    // Chroma is pulled towards white's 128 by the same alpha.
    const int ci = int(click.x) / 2, cj = int(click.y) / 2, cw = f.w / 2;
    const double keep = 1 - 0.22 * c.opacity;
    EXPECT_NEAR(f.u[cj * cw + ci], 128 + keep * (bg.u[cj * cw + ci] - 128.0), 1.0);
    EXPECT_NEAR(f.v[cj * cw + ci], 128 + keep * (bg.v[cj * cw + ci] - 128.0), 1.0);

    // Nothing changes outside the square the ring was scaled to.
    int outside = 0;
    for (int j = 0; j < f.h; ++j) {
      for (int i = 0; i < f.w; ++i) {
        const bool inSquare = std::abs(i + 0.5 - click.x) < c.radius + 1 &&
                              std::abs(j + 0.5 - click.y) < c.radius + 1;
        if (!inSquare && f.y[j * f.w + i] != bg.y[j * f.w + i]) ++outside;
      }
    }
    EXPECT_EQ(outside, 0);
  }
}

TEST(ClickRingPixels, RingSitsAtTheClickInTheViewportScaledByTheOutputScale) {
  struct Case {
    const char* name;
    Scene scene;
    Point click;    // capture pixels
    Point centre;   // expected, output pixels from the top-left
    double radius;  // expected, output pixels
  };
  const Case cases[] = {
      // R = (0, 0, 1920, 1080), s = 1: 100 pixels from the left and top edges.
      {"s = 1",
       {{{0, 0}, {1920, 1080}}, 1, 1920, 1080, {1920, 1080}, {0, 1080}},
       {100, 100},
       {100, 100},
       8},
      // 1280×800 recorded at 1920×1080: viewport 1280×720 at the top, s = 1.5.
      {"s = 1.5",
       {{{0, 0}, {1280, 800}}, 1, 1920, 1080, {1280, 720}, {0, 800}},
       {100, 100},
       {150, 150},
       12},
      // The same with the viewport at the bottom: R = (0, 80, 1280, 720).
      {"s = 1.5, viewport lower",
       {{{0, 0}, {1280, 800}}, 1, 1920, 1080, {1280, 720}, {0, 0}},
       {400, 500},
       {600, 630},
       12},
      // 2 pixels per point and s = 1.5 together.
      {"scale 2, s = 1.5",
       {{{0, 0}, {640, 400}}, 2, 1920, 1080, {1280, 720}, {0, 400}},
       {300, 200},
       {450, 300},
       24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Frame bg = render(c.scene, {}, 5.0);
    const Frame f = render(c.scene, {{5.0, c.click}}, 5.0);
    const Measured m = measure(f, bg);
    EXPECT_NEAR(m.cx, c.centre.x, 0.15);
    EXPECT_NEAR(m.cy, c.centre.y, 0.15);
    // Output values are whole numbers over a plain background, which biases the sum a little.
    EXPECT_NEAR(radiusFromCoverage(f, bg, 0.85), c.radius, 0.02 * c.radius);
  }
}

TEST(ClickRingPixels, ClicksOutsideTheViewportLeaveTheFrameAsItWas) {
  // 3024×1964 display, viewport R = (0, 0, 1920, 1080), s = 1.
  const Scene sc{{{0, 0}, {3024, 1964}}, 1, 1920, 1080, {1920, 1080}, {0, 1964}};
  const Frame bg = render(sc, {}, 3.0);
  const Frame f = render(sc, {{3.0, {2500, 1500}}, {3.0, {1960, 500}}, {3.0, {-50, -50}}}, 3.1);
  EXPECT_EQ(f.clicksLeft.size(), 3u) << "kept for their half second all the same";
  EXPECT_EQ(f.y, bg.y);
  EXPECT_EQ(f.u, bg.u);
  EXPECT_EQ(f.v, bg.v);
}

TEST(ClickRingPixels, RingsAcrossTheFramesEdgesAreClipped) {
  // Large rings centred just beyond each corner: only their inner quarters show.
  const Frame bg = render(kLarge, {}, 10.0);
  const std::vector<Click> corners = {
      {10.0, {-20, -20}}, {10.0, {660, -20}}, {10.0, {-20, 380}}, {10.0, {660, 380}}};
  const Frame f = render(kLarge, corners, 10.225);
  for (const auto& [i, j] : {std::pair{10, 10}, {629, 10}, {10, 349}, {629, 349}}) {
    SCOPED_TRACE(::testing::Message() << i << "," << j);
    EXPECT_GT(f.y[j * f.w + i], bg.y[j * f.w + i]);
  }
  EXPECT_EQ(f.y[180 * f.w + 320], bg.y[180 * f.w + 320]) << "the middle is out of reach";
}

}  // namespace
}  // namespace kestrova
