#include "ViewportTracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace kestrova {
namespace {

// The reference scene: a 3024×1964 capture, a 1080p viewport, smoothing 0.5 (a time constant of
// 0.29 s), dead zone 0.25 (240 × 135 pixels).
ViewportTracker at(double cx, double cy, double smoothing = 0.5, double deadZone = 0.25) {
  return {{3024, 1964}, {1920, 1080}, smoothing, deadZone, cx, cy, true};
}
const ViewportTracker kUnstarted{{3024, 1964}, {1920, 1080}, 0.5, 0.25, 0, 0, false};

TEST(ViewportTracker, StepsTowardsThePointer) {
  struct Case {
    const char* name;
    ViewportTracker tracker;
    Point pointer;
    double dt;
    int steps;
    double cx;  // after the steps
    Point origin;
  };
  const ViewportTracker mid = at(1512, 982);
  const ViewportTracker tie{{1000, 1000}, {100, 100}, 0.5, 0, 62.5, 62.5, true};
  const ViewportTracker small{{1000, 600}, {1920, 1080}, 0.5, 0.25, 0, 0, false};
  const Case cases[] = {
      {"first update snaps, then clamps", kUnstarted, {100, 100}, 0, 1, 960, {0, 0}},
      {"inside the dead zone", mid, {1712, 982}, 1.0 / 30, 1, 1512, {552, 442}},
      {"eases to the dead zone's edge", mid, {1812, 982}, 1.0 / 30, 1, 1518.515, {559, 442}},
      {"longer step", mid, {1812, 982}, 0.5, 1, 1561.300, {601, 442}},
      {"dragged through the margin", mid, {2512, 982}, 1.0 / 30, 1, 1696, {736, 442}},
      {"no time, no easing", mid, {1812, 982}, 0, 1, 1512, {552, 442}},
      {"negative time", mid, {1812, 982}, -0.5, 1, 1512, {552, 442}},
      {"no time, margin still holds", mid, {2512, 982}, 0, 1, 1696, {736, 442}},
      {"zero smoothing", at(1512, 982, 0, 0), {1612, 982}, 0.1, 1, 1603.7915, {644, 442}},
      {"zero dead zone", at(1512, 982, 0.5, 0), {1513, 982}, 1.0 / 30, 1, 1512.1086, {552, 442}},
      {"far top-left", mid, {-5000, -3000}, 0.1, 50, 960, {0, 0}},
      {"far bottom-right", mid, {99999, 99999}, 0.1, 50, 2064, {1104, 884}},
      {"halves round away from zero", tie, {62.5, 62.5}, 0, 1, 62.5, {13, 13}},
      // Centre at bounds − half; the origin rounds to −920, is raised to 0, and the last clamp to
      // bounds − size wins.
      {"display smaller than the viewport", small, {500, 300}, 0, 1, 1000 - 960, {-920, -480}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ViewportTracker t = c.tracker;
    Rect r;
    for (int i = 0; i < c.steps; ++i) r = t.update(c.pointer, c.dt);
    EXPECT_TRUE(t.started);
    EXPECT_NEAR(t.cx, c.cx, 0.001);
    EXPECT_EQ(r.origin, c.origin);
    EXPECT_EQ(r.size, c.tracker.size);
  }
}

// At rest means easing on would move the centre by less than half a pixel: frames stop then.
TEST(ViewportTracker, IsAtRestOnlyWhenEasingWouldMoveLessThanHalfAPixel) {
  struct Case {
    const char* name;
    ViewportTracker tracker;
    Point cursor;
    bool atRest;
  };
  const Case cases[] = {
      {"before the first update", kUnstarted, {1500, 900}, false},
      {"the pointer within the dead zone", at(1500, 900), {1740, 1035}, true},
      {"a pixel past the dead zone", at(1500, 900), {1741, 900}, false},
      {"under half a pixel past it", at(1500, 900), {1740.4, 900}, true},
      {"held at the display's edge", at(3024 - 960, 900), {5000, 900}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.tracker.isAtRest(c.cursor), c.atRest);
  }
  // A glide comes to rest at the frame rate, even towards a centre whose origin is a rounding tie.
  auto t = at(1000, 900);
  int frames = 0;
  for (; !t.isAtRest({1740.5, 900}) && frames < 1000; ++frames) t.update({1740.5, 900}, 1.0 / 30);
  EXPECT_GT(frames, 30);
  EXPECT_LT(frames, 200);
  auto later = t;
  later.update({1740.5, 900}, 10);
  EXPECT_LT(std::abs(later.cx - t.cx), 0.5);
}

// Random walks over random displays: the invariants hold after every step.
TEST(ViewportTracker, RandomPointerPathsKeepTheInvariants) {
  std::mt19937 rng(20261206);
  std::uniform_real_distribution<double> unit(0, 1);
  for (int run = 0; run < 200; ++run) {
    const double vw = 2 * std::floor(100 + unit(rng) * 900),
                 vh = 2 * std::floor(100 + unit(rng) * 500);
    const double bw = std::floor(vw + unit(rng) * 2000), bh = std::floor(vh + unit(rng) * 1500);
    ViewportTracker t{{bw, bh}, {vw, vh}, unit(rng) * 1.2, unit(rng) * 0.8, 0, 0, false};
    Point cursor{unit(rng) * bw, unit(rng) * bh};
    SCOPED_TRACE(::testing::Message() << "run " << run);
    for (int step = 0; step < 300; ++step) {
      const double jump = unit(rng) < 0.1 ? 800 : 40;
      cursor.x += (unit(rng) - 0.5) * jump;
      cursor.y += (unit(rng) - 0.5) * jump;
      const double dt = unit(rng) < 0.05 ? 0 : unit(rng) * 0.1;
      const ViewportTracker before = t;
      const Rect r = t.update(cursor, dt);

      const double hw = vw / 2, hh = vh / 2, m = 0.85;
      ASSERT_TRUE(t.cx >= hw && t.cx <= bw - hw && t.cy >= hh && t.cy <= bh - hh);
      ASSERT_TRUE(r.minX() >= 0 && r.minY() >= 0 && r.maxX() <= bw && r.maxY() <= bh);
      ASSERT_EQ(r.origin.x, std::floor(r.origin.x));
      ASSERT_EQ(r.origin.y, std::floor(r.origin.y));
      // The pointer stays within the margin wherever the display lets the centre follow it.
      if (cursor.x >= (1 - m) * hw && cursor.x <= bw - (1 - m) * hw) {
        ASSERT_LE(std::abs(cursor.x - t.cx), m * hw + 1e-9);
      }
      if (cursor.y >= (1 - m) * hh && cursor.y <= bh - (1 - m) * hh) {
        ASSERT_LE(std::abs(cursor.y - t.cy), m * hh + 1e-9);
      }
      // Inside the dead zone on both axes, the centre holds still.
      if (before.started && std::abs(cursor.x - before.cx) <= t.deadZone * hw &&
          std::abs(cursor.y - before.cy) <= t.deadZone * hh) {
        ASSERT_EQ(t.cx, before.cx);
        ASSERT_EQ(t.cy, before.cy);
      }
    }
  }
}

}  // namespace
}  // namespace kestrova
