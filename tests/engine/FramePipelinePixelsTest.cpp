// What the pipeline renders: the right part of the display, at the right place, in the right
// colours.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "FramePipeline.h"
#include "fakes/FakeCapture.h"
#include "fakes/FakeWriterInput.h"

namespace kestrova {
namespace {

using testing::FakeClock;
using testing::FakeImage;
using testing::FakePointer;
using testing::FakeSample;
using testing::FakeWriterInput;

std::uint32_t gray(int g) {
  const auto v = static_cast<std::uint32_t>(g & 0xff);
  return 0xff000000u | v << 16 | v << 8 | v;
}

// BT.601 limited-range luma of a gray level.
double lumaOf(double g) {
  return 16 + 219 * g / 255;
}

// A gray level that differs from pixel to pixel, so any misplaced pixel shows.
int hashed(int x, int y) {
  std::uint32_t h =
      static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return static_cast<int>(h >> 24);
}

struct Scene {
  int displayW, displayH, outW, outH, viewW, viewH;
};

// Renders one first frame with the pointer at `pointer` (desktop points) and returns the output.
struct Rendered {
  Rendered(int w, int h) : input(w, h) {}
  FakeWriterInput input;
  Rect viewport;
};

std::unique_ptr<Rendered> renderOnce(const Scene& sc, Point pointer,
                                     const FakeImage::Painter& paint) {
  RecorderConfig cfg;
  cfg.screenFrame = Rect{{0, 0}, {double(sc.displayW), double(sc.displayH)}};
  cfg.width = sc.outW;
  cfg.height = sc.outH;
  cfg.clickIndicator = false;
  FakePointer ptr;
  ptr.location = pointer;
  FakeClock clock;
  FakeImage image(sc.displayW, sc.displayH, paint);
  auto out = std::make_unique<Rendered>(sc.outW, sc.outH);
  FramePipeline pipeline(cfg, ptr, clock);
  pipeline.installTracker(ViewportTracker{{double(sc.displayW), double(sc.displayH)},
                                          {double(sc.viewW), double(sc.viewH)},
                                          0.5,
                                          0.25,
                                          0,
                                          0,
                                          false});
  pipeline.setWriterInput(&out->input);
  pipeline.handle(std::make_shared<FakeSample>(1.0, &image));
  auto t = *pipeline.tracker();
  out->viewport = Rect{{std::round(t.cx - sc.viewW / 2.0), std::round(t.cy - sc.viewH / 2.0)},
                       {double(sc.viewW), double(sc.viewH)}};
  return out;
}

TEST(FramePipelinePixels, UnscaledViewportIsCutOutExactlyAtCornersAndMiddle) {
  const Scene sc{640, 400, 320, 180, 320, 180};
  struct Case {
    const char* where;
    Point pointer;  // desktop points, y up
    Point origin;   // expected viewport origin, capture pixels
  };
  for (const Case& c :
       {Case{"top-left", {0, 400}, {0, 0}}, Case{"bottom-right", {640, 0}, {320, 220}},
        Case{"top-right", {640, 400}, {320, 0}}, Case{"middle", {320, 200}, {160, 110}},
        Case{"off-centre", {101, 333}, {0, 0}}}) {
    SCOPED_TRACE(c.where);
    auto r = renderOnce(sc, c.pointer, [](int x, int y) { return gray(hashed(x, y)); });
    ASSERT_EQ(r->input.times.size(), 1u);
    EXPECT_EQ(r->viewport.origin, c.origin);
    int wrong = 0;
    for (int j = 0; j < sc.outH; ++j) {
      for (int i = 0; i < sc.outW; ++i) {
        const double want = lumaOf(hashed(int(c.origin.x) + i, int(c.origin.y) + j));
        const int got = r->input.lastY[j * sc.outW + i];
        if (std::abs(got - want) > 1.01) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(FramePipelinePixels, UpScaledViewportFollowsTheSourceWithinTolerance) {
  // 640×400 display, 960×540 output: the viewport shrinks to 640×360 and is scaled by 1.5.
  const Scene sc{640, 400, 960, 540, 640, 360};
  const auto smooth = [](double x, double y) {
    return 128 + 100 * std::sin(x / 23.0) * std::cos(y / 17.0);
  };
  auto r = renderOnce(sc, {320, 150},
                      [&](int x, int y) { return gray(int(std::lround(smooth(x, y)))); });
  ASSERT_EQ(r->input.times.size(), 1u);
  const Point o = r->viewport.origin;
  EXPECT_EQ(o, (Point{0, 40}));
  double worst = 0;
  for (int j = 0; j < sc.outH; j += 3) {
    for (int i = 0; i < sc.outW; i += 3) {
      const double sx = o.x + (i + 0.5) / 1.5 - 0.5;
      const double sy = o.y + (j + 0.5) / 1.5 - 0.5;
      const double want = lumaOf(smooth(std::clamp(sx, 0.0, 639.0), sy));
      worst = std::max(worst, std::abs(r->input.lastY[j * sc.outW + i] - want));
    }
  }
  EXPECT_LT(worst, 4.0);
}

TEST(FramePipelinePixels, ViewportTallerThanTheScaledOutputLosesItsTopRows) {
  // 1366×768 display at 1920×1080: viewport 1364×768, s = 1920 / 1364; 767 of its rows fill the
  // output and the top one is cut, as the bottom edges line up.
  const Scene sc{1366, 768, 1920, 1080, 1364, 768};
  auto r = renderOnce(sc, {683, 384}, [](int, int y) { return gray(y < 1 ? 0 : 200); });
  ASSERT_EQ(r->input.times.size(), 1u);
  EXPECT_NEAR(r->input.lastY[0], lumaOf(200), 3);  // no black from the cut row
  EXPECT_NEAR(r->input.lastY[1079 * 1920 + 960], lumaOf(200), 3);
}

TEST(FramePipelinePixels, ColoursLandInTheRightChannels) {
  struct Case {
    const char* name;
    std::uint32_t argb;
    int y, u, v;  // BT.601 limited range
  };
  const Scene sc{64, 36, 32, 18, 32, 18};
  for (const Case& c :
       {Case{"red", 0xffff0000u, 82, 90, 240}, Case{"green", 0xff00ff00u, 145, 54, 34},
        Case{"blue", 0xff0000ffu, 41, 240, 110}, Case{"white", 0xffffffffu, 235, 128, 128}}) {
    SCOPED_TRACE(c.name);
    auto r = renderOnce(sc, {32, 18}, [&](int, int) { return c.argb; });
    EXPECT_NEAR(r->input.lastY[5 * 32 + 5], c.y, 2);
    EXPECT_NEAR(r->input.lastU[2 * 16 + 2], c.u, 2);
    EXPECT_NEAR(r->input.lastV[2 * 16 + 2], c.v, 2);
  }
}

}  // namespace
}  // namespace kestrova
