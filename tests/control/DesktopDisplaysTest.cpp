#include "DesktopDisplays.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

// Displays in desktop points (one per device pixel, y up from the bottom of the desktop) as Qt
// places them: a screen keeps its top-left corner in device pixels and divides the rest by its
// device pixel ratio.
TEST(QtRectFromDesktop, KeepsTheScreensCornerAndDividesTheRest) {
  const struct {
    const char* name;
    Rect frame;
    double desktopHeight;
    QPoint screenOrigin;
    double ratio;
    QRect expected;
  } cases[] = {
      {"one screen", {{0, 0}, {1280, 800}}, 800, {}, 1, {0, 0, 1280, 800}},
      {"a root taller than the monitor", {{0, 200}, {1280, 800}}, 1000, {}, 1, {0, 0, 1280, 800}},
      {"Qt scale 2", {{0, 0}, {3024, 1964}}, 1964, {}, 2, {0, 0, 1512, 982}},
      {"a second screen", {{3024, 884}, {1920, 1080}}, 1964, {3024, 0}, 2, {3024, 0, 960, 540}},
      {"scale 1.5, no whole pixels", {{0, 0}, {1366, 768}}, 768, {}, 1.5, {0, 0, 911, 512}},
      {"a monitor inside a screen", {{640, 400}, {640, 400}}, 800, {}, 2, {320, 0, 320, 200}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(qtRectFromDesktop(c.frame, c.desktopHeight, c.screenOrigin, c.ratio), c.expected);
  }
}

}  // namespace
}  // namespace kestrova
