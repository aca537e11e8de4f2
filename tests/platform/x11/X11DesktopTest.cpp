#include "X11Desktop.h"

#include <gtest/gtest.h>

#include "RecorderError.h"
#include "Xcb.h"

namespace kestrova::x11 {
namespace {

TEST(X11Desktop, RootCoordinatesTurnIntoDesktopPointsWithYUpAndBack) {
  EXPECT_EQ(desktopPointFromX11(10, 0, 1080), (Point{10, 1080}));
  EXPECT_EQ(desktopPointFromX11(10, 1080, 1080), (Point{10, 0}));
  struct Case {
    const char* name;
    RootRect root;
    double rootHeight;
    Rect desktop;
  } cases[] = {
      {"the whole root", {0, 0, 1280, 800}, 800, {{0, 0}, {1280, 800}}},
      {"right of and below the top of a taller root",
       {1920, 100, 1920, 1080},
       3000,
       {{1920, 1820}, {1920, 1080}}},
      {"a root grown by RandR under the same monitor",
       {0, 0, 1024, 640},
       800,
       {{0, 160}, {1024, 640}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Rect desktop =
        desktopFrameFromX11(c.root.x, c.root.y, c.root.width, c.root.height, c.rootHeight);
    EXPECT_EQ(desktop, c.desktop);
    EXPECT_EQ(rootRectFromDesktopFrame(desktop, c.rootHeight), c.root);
  }
}

TEST(XcbConnection, NoServerIsAPlatformErrorThatSaysSo) {
  try {
    XcbConnection c(":4097");
    FAIL() << "connected to a display that does not exist";
  } catch (const PlatformError& e) {
    EXPECT_STREQ(e.what(), "Could not connect to the X server :4097.");
  }
}

}  // namespace
}  // namespace kestrova::x11
