#include "ViewportTracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace kestrova {
namespace {

// The reference scene: a 3024×1964 capture, a 1080p viewport, smoothing 0.5, dead zone 0.25.
ViewportTracker referenceTracker() {
  return ViewportTracker{{3024, 1964}, {1920, 1080}, 0.5, 0.25, 0, 0, false};
}

ViewportTracker centredAt(double cx, double cy) {
  auto t = referenceTracker();
  t.cx = cx;
  t.cy = cy;
  t.started = true;
  return t;
}

TEST(ViewportTracker, FirstUpdateSnapsToThePointerThenClampsToTheDisplay) {
  auto t = referenceTracker();
  const Rect r = t.update({100, 100}, 0);
  EXPECT_EQ(r, (Rect{{0, 0}, {1920, 1080}}));
  EXPECT_TRUE(t.started);
  EXPECT_EQ(t.cx, 960);
  EXPECT_EQ(t.cy, 540);
}

TEST(ViewportTracker, PointerInsideTheDeadZoneMovesNothing) {
  auto t = centredAt(1512, 982);
  EXPECT_EQ(t.update({1712, 982}, 1.0 / 30), (Rect{{552, 442}, {1920, 1080}}));
  EXPECT_EQ(t.cx, 1512);
  EXPECT_EQ(t.cy, 982);
}

TEST(ViewportTracker, EasesTowardsTheDeadZoneEdge) {
  struct Case {
    double pointerX, dt, expectedCx, expectedOriginX;
  };
  // 1812 - 240 = 1572 is the target; alpha is 1 - exp(-dt / 0.29).
  for (const Case& c : {Case{1812, 1.0 / 30, 1518.515, 559}, Case{1812, 0.5, 1561.30, 601}}) {
    SCOPED_TRACE(c.dt);
    auto t = centredAt(1512, 982);
    const Rect r = t.update({c.pointerX, 982}, c.dt);
    EXPECT_NEAR(t.cx, c.expectedCx, 0.005);
    EXPECT_EQ(r.origin.x, c.expectedOriginX);
    EXPECT_EQ(r.origin.y, 442);
  }
}

TEST(ViewportTracker, FastPointerDragsTheViewportThroughTheMargin) {
  auto t = centredAt(1512, 982);
  const Rect r = t.update({2512, 982}, 1.0 / 30);
  EXPECT_DOUBLE_EQ(t.cx, 2512 - 0.85 * 960);  // the eased ~1594.5 is pulled up to 1696
  EXPECT_EQ(r.origin.x, 736);
}

TEST(ViewportTracker, NoTimeMeansNoEasing) {
  for (double dt : {0.0, -0.5}) {
    SCOPED_TRACE(dt);
    auto t = centredAt(1512, 982);
    t.update({1812, 982}, dt);  // outside the dead zone, inside the margin
    EXPECT_EQ(t.cx, 1512);
    t.update({2512, 982}, dt);  // the margin still forces it
    EXPECT_DOUBLE_EQ(t.cx, 1696);
  }
}

TEST(ViewportTracker, ZeroSmoothingIsAlmostAHardFollow) {
  auto t = centredAt(1512, 982);
  t.smoothing = 0;
  t.deadZone = 0;
  t.update({1612, 982}, 0.1);
  const double alpha = 1 - std::exp(-0.1 / 0.04);
  EXPECT_NEAR(alpha, 0.918, 0.001);
  EXPECT_DOUBLE_EQ(t.cx, 1512 + 100 * alpha);
}

TEST(ViewportTracker, ZeroDeadZoneFollowsAnyMovement) {
  auto t = centredAt(1512, 982);
  t.deadZone = 0;
  t.update({1513, 982}, 1.0 / 30);
  EXPECT_GT(t.cx, 1512);
}

TEST(ViewportTracker, PointerFarOutsideHoldsTheViewportAtTheEdge) {
  auto t = centredAt(1512, 982);
  for (int i = 0; i < 50; ++i) {
    const Rect r = t.update({-5000, -3000}, 0.1);
    EXPECT_GE(r.origin.x, 0);
    EXPECT_GE(r.origin.y, 0);
  }
  EXPECT_EQ(t.update({-5000, -3000}, 0.1), (Rect{{0, 0}, {1920, 1080}}));
  EXPECT_EQ(t.update({99999, 99999}, 0.1), (Rect{{1104, 884}, {1920, 1080}}));
}

TEST(ViewportTracker, OriginRoundsHalvesAwayFromZero) {
  ViewportTracker t{{1000, 1000}, {100, 100}, 0.5, 0, 62.5, 62.5, true};
  EXPECT_EQ(t.update({62.5, 62.5}, 0).origin, (Point{13, 13}));
  EXPECT_EQ(t.cx, 62.5);  // the rounding never feeds back
}

TEST(ViewportTracker, DisplaySmallerThanTheViewportEndsAtBoundsMinusHalf) {
  ViewportTracker t{{1000, 600}, {1920, 1080}, 0.5, 0.25, 0, 0, false};
  const Rect r = t.update({500, 300}, 0);
  EXPECT_EQ(t.cx, 1000 - 960);
  EXPECT_EQ(t.cy, 600 - 540);
  // Rounded to -920, raised to 0, then the last clamp to bounds - size wins.
  EXPECT_EQ(r.origin, (Point{-920, -480}));
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
      {"before the first update", referenceTracker(), {1500, 900}, false},
      {"the pointer within the dead zone", centredAt(1500, 900), {1740, 1035}, true},
      {"a pixel past the dead zone", centredAt(1500, 900), {1741, 900}, false},
      {"under half a pixel past it", centredAt(1500, 900), {1740.4, 900}, true},
      {"held at the display's edge", centredAt(3024 - 960, 900), {5000, 900}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.tracker.isAtRest(c.cursor), c.atRest);
  }
}

TEST(ViewportTracker, AGlideComesToRestEvenTowardsAHalfPixel) {
  auto t = centredAt(1000, 900);
  const Point cursor{1740.5, 900};  // settles on a centre whose origin is a rounding tie
  int frames = 0;
  while (!t.isAtRest(cursor) && frames < 1000) {
    t.update(cursor, 1.0 / 30);
    ++frames;
  }
  EXPECT_GT(frames, 30);
  EXPECT_LT(frames, 200);
  auto later = t;
  later.update(cursor, 10);
  EXPECT_LT(std::abs(later.cx - t.cx), 0.5);
}

// Random walks over random displays: the invariants hold after every step.
TEST(ViewportTracker, RandomPointerPathsKeepTheInvariants) {
  std::mt19937 rng(20261206);
  std::uniform_real_distribution<double> unit(0, 1);
  for (int run = 0; run < 200; ++run) {
    const double vw = 2 * std::floor(100 + unit(rng) * 900);
    const double vh = 2 * std::floor(100 + unit(rng) * 500);
    const double bw = std::floor(vw + unit(rng) * 2000);
    const double bh = std::floor(vh + unit(rng) * 1500);
    ViewportTracker t{{bw, bh}, {vw, vh}, unit(rng) * 1.2, unit(rng) * 0.8, 0, 0, false};
    Point cursor{unit(rng) * bw, unit(rng) * bh};
    SCOPED_TRACE(::testing::Message()
                 << "run " << run << " bounds " << bw << "x" << bh << " size " << vw << "x" << vh);
    for (int step = 0; step < 300; ++step) {
      const double jump = unit(rng) < 0.1 ? 800 : 40;
      cursor.x += (unit(rng) - 0.5) * jump;
      cursor.y += (unit(rng) - 0.5) * jump;
      const double dt = unit(rng) < 0.05 ? 0 : unit(rng) * 0.1;
      const double beforeX = t.cx, beforeY = t.cy;
      const bool wasStarted = t.started;
      const Rect r = t.update(cursor, dt);

      const double hw = vw / 2, hh = vh / 2;
      ASSERT_GE(t.cx, hw);
      ASSERT_LE(t.cx, bw - hw);
      ASSERT_GE(t.cy, hh);
      ASSERT_LE(t.cy, bh - hh);
      ASSERT_GE(r.minX(), 0);
      ASSERT_GE(r.minY(), 0);
      ASSERT_LE(r.maxX(), bw);
      ASSERT_LE(r.maxY(), bh);
      ASSERT_EQ(r.origin.x, std::floor(r.origin.x));
      ASSERT_EQ(r.origin.y, std::floor(r.origin.y));

      // The pointer stays within the margin wherever the display lets the centre follow it.
      const double m = 0.85;
      if (cursor.x >= (1 - m) * hw && cursor.x <= bw - (1 - m) * hw) {
        ASSERT_LE(std::abs(cursor.x - t.cx), m * hw + 1e-9);
      }
      if (cursor.y >= (1 - m) * hh && cursor.y <= bh - (1 - m) * hh) {
        ASSERT_LE(std::abs(cursor.y - t.cy), m * hh + 1e-9);
      }

      // Inside the dead zone on both axes, the centre holds still.
      if (wasStarted && std::abs(cursor.x - beforeX) <= t.deadZone * hw &&
          std::abs(cursor.y - beforeY) <= t.deadZone * hh) {
        ASSERT_EQ(t.cx, beforeX);
        ASSERT_EQ(t.cy, beforeY);
      }
    }
  }
}

}  // namespace
}  // namespace kestrova
