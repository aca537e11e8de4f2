#include "ViewportTracker.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

// The reference scene: a 3024×1964 capture, a 1080p viewport, smoothing 0.5 (a time constant of
// 0.29 s), dead zone 0.25 (240 × 135 pixels).
ViewportTracker at(double cx, double cy, double smoothing = 0.5, double deadZone = 0.25) {
  return {{3024, 1964}, {1920, 1080}, smoothing, deadZone, cx, cy, true};
}
const ViewportTracker kUnstarted{{3024, 1964}, {1920, 1080}, 0.5, 0.25, 0, 0, false};

// Each row's steps, then whether the camera is at rest there: easing on for any time would move the
// centre by less than half a pixel, so frames stop.
TEST(ViewportTracker, StepsTowardsThePointerAndComesToRest) {
  struct Case {
    const char* name;
    ViewportTracker tracker;
    Point pointer;
    double dt;
    int steps;
    double cx;  // after the steps
    Point origin;
    bool atRest;
  };
  const ViewportTracker mid = at(1512, 982);
  const ViewportTracker tie{{1000, 1000}, {100, 100}, 0.5, 0, 62.5, 62.5, true};
  const ViewportTracker small{{1000, 600}, {1920, 1080}, 0.5, 0.25, 0, 0, false};
  const Case cases[] = {
      {"first update snaps, then clamps", kUnstarted, {100, 100}, 0, 1, 960, {0, 0}, true},
      {"inside the dead zone", mid, {1712, 982}, 1.0 / 30, 1, 1512, {552, 442}, true},
      {"under half a pixel past it", mid, {1752.4, 982}, 0, 1, 1512, {552, 442}, true},
      {"eases to its edge", mid, {1812, 982}, 1.0 / 30, 1, 1518.515, {559, 442}, false},
      {"dragged through the margin", mid, {2512, 982}, 1.0 / 30, 1, 1696, {736, 442}, false},
      {"dragged back through it", mid, {512, 982}, 1.0 / 30, 1, 1328, {368, 442}, false},
      {"zero smoothing", at(1512, 982, 0, 0), {1612, 982}, 0.1, 1, 1603.7915, {644, 442}, false},
      {"zero dead zone", at(1512, 982, 0.5, 0), {1513, 982}, 0.04, 1, 1512.1288, {552, 442}, false},
      {"held at the bottom-right", mid, {99999, 99999}, 0.1, 50, 2064, {1104, 884}, true},
      {"halves round away from zero", tie, {62.5, 62.5}, 0, 1, 62.5, {13, 13}, true},
      // Centre at bounds − half; the origin rounds to −920, is raised to 0, and the last clamp to
      // bounds − size wins.
      {"display smaller than it", small, {500, 300}, 0, 1, 40, {-920, -480}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ViewportTracker t = c.tracker;
    Rect r;
    for (int i = 0; i < c.steps; ++i) r = t.update(c.pointer, c.dt);
    EXPECT_NEAR(t.cx, c.cx, 0.001);
    EXPECT_EQ(r.origin, c.origin);
    EXPECT_EQ(r.size, c.tracker.size);
    EXPECT_EQ(t.isAtRest(c.pointer), c.atRest);
  }
}

}  // namespace
}  // namespace kestrova
