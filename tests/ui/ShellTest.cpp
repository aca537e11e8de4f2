// The window and the panels on Qt's offscreen platform: what a compositor changes, and what the
// X11 walk (ShellX11Test) does not meet.

#include <QWindow>

#include "ControllerFixture.h"
#include "FloatingPanel.h"
#include "MainWindow.h"
#include "PanelViews.h"

namespace kestrova {
namespace {

using ShellTest = testing::ControllerFixture;

// Where a compositor runs (as on Qt's offscreen platform) the main window turns invisible and
// click-through for the recording instead of going, and comes back after it.
TEST_F(ShellTest, WithACompositorTheMainWindowTurnsInvisibleInsteadOfGoing) {
  MainWindow window(controller());
  PanelViews panels(controller(), window);
  controller().setViews(&panels);
  window.show();
  startRecording();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.windowOpacity(), 0.0);
  EXPECT_TRUE(window.windowHandle()->flags().testFlag(Qt::WindowTransparentForInput));
  stopAndSettle();
  EXPECT_EQ(window.windowOpacity(), 1.0);
  EXPECT_FALSE(window.windowHandle()->flags().testFlag(Qt::WindowTransparentForInput));
  controller().setViews(nullptr);
}

TEST(FloatingPanel, CentresOrSitsAboveTheBottomOfTheAvailableArea) {
  using enum FloatingPanel::Position;
  const struct {
    QRect available;
    QSize size;
    FloatingPanel::Position position;
    QPoint expected;
  } cases[] = {
      {{0, 0, 1920, 1080}, {200, 200}, center, {860, 440}},
      {{1920, 0, 1280, 984}, {232, 48}, bottom, {2444, 908}},  // a second screen, over a dock
      {{0, 27, 1280, 693}, {200, 200}, center, {540, 273}},    // below a top bar
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected.x());
    EXPECT_EQ(FloatingPanel::origin(c.available, c.size, c.position), c.expected);
  }
}

}  // namespace
}  // namespace kestrova
