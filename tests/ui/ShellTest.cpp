#include <QWindow>

#include "ControllerFixture.h"
#include "MainWindow.h"
#include "PanelViews.h"

namespace kestrova {
namespace {

using ShellTest = testing::ControllerFixture;

// Where a compositor runs (as on Qt's offscreen platform) the main window turns invisible and
// click-through for the recording instead of going, and comes back after it. Without one:
// ShellX11Test.
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

}  // namespace
}  // namespace kestrova
