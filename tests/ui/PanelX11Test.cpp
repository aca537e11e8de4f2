// The floating panels on a real X server (a private Xvfb, with no window manager and no
// compositor): their hints, their shape, and where clicks go.

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ControllerFixture.h"
#include "CountdownView.h"
#include "FloatingPanel.h"
#include "PanelViews.h"
#include "RecordingToolbar.h"
#include "ToolbarButtonStyle.h"
#include "support/XvfbServer.h"

namespace kestrova {
namespace {

// A plain white window under the panels that counts the clicks it gets.
class Backdrop : public QWidget {
 public:
  Backdrop() : QWidget(nullptr, Qt::FramelessWindowHint) {
    setGeometry(QGuiApplication::primaryScreen()->geometry());
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
  }
  int clicks = 0;

 protected:
  void mousePressEvent(QMouseEvent*) override { ++clicks; }
};

// Our own connection to the test's X server, for reading properties and faking input.
class XClient {
 public:
  XClient() : connection_(xcb_connect(nullptr, nullptr)) {}
  ~XClient() { xcb_disconnect(connection_); }

  xcb_atom_t atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return result;
  }

  std::vector<std::uint32_t> property(xcb_window_t window, const char* name) {
    auto* reply = xcb_get_property_reply(
        connection_,
        xcb_get_property(connection_, 0, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
        nullptr);
    std::vector<std::uint32_t> values;
    if (reply && reply->format == 32) {
      const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
      values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
  }

  void click(QPoint at) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    xcb_test_fake_input(connection_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root,
                        static_cast<int16_t>(at.x()), static_cast<int16_t>(at.y()), 0);
    xcb_test_fake_input(connection_, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, root, 0, 0, 0);
    xcb_test_fake_input(connection_, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, root, 0, 0, 0);
    xcb_flush(connection_);
  }

 private:
  xcb_connection_t* connection_;
};

class PanelX11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    backdrop_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&backdrop_));
  }

  static void settle() {
    for (int i = 0; i < 4; ++i) QTest::qWait(40);
  }

  static QImage grab(const QRect& area) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage();
  }

  Backdrop backdrop_;
  XClient x_;
};

TEST_F(PanelX11Test, PanelsAskForEveryWorkspaceTheTopAndNoFocus) {
  FloatingPanel panel(QGuiApplication::primaryScreen(), RecordingToolbar::kSize,
                      FloatingPanel::Position::bottom, FloatingPanel::Input::interactive,
                      new RecordingToolbar);
  panel.showWithoutActivating();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
  const auto window = static_cast<xcb_window_t>(panel.winId());

  EXPECT_EQ(x_.property(window, "_NET_WM_DESKTOP"), std::vector<std::uint32_t>{0xFFFFFFFF});
  const std::vector<std::uint32_t> states = x_.property(window, "_NET_WM_STATE");
  for (const char* state : {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_ABOVE",
                            "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
    SCOPED_TRACE(state);
    EXPECT_NE(std::find(states.begin(), states.end(), x_.atom(state)), states.end());
  }
  // WM_HINTS: flags, then input; the input hint is set and false.
  const std::vector<std::uint32_t> hints = x_.property(window, "WM_HINTS");
  ASSERT_GE(hints.size(), 2u);
  EXPECT_TRUE(hints[0] & 1u);
  EXPECT_EQ(hints[1], 0u);
}

TEST_F(PanelX11Test, WithoutACompositorPanelsAreCutToTheirOutline) {
  FloatingPanel countdown(QGuiApplication::primaryScreen(), CountdownView::kSize,
                          FloatingPanel::Position::center, FloatingPanel::Input::clickThrough,
                          new CountdownView);
  static_cast<CountdownView*>(countdown.content())->setNumber(3);
  FloatingPanel toolbar(QGuiApplication::primaryScreen(), RecordingToolbar::kSize,
                        FloatingPanel::Position::bottom, FloatingPanel::Input::interactive,
                        new RecordingToolbar);
  countdown.showWithoutActivating();
  toolbar.showWithoutActivating();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&countdown));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&toolbar));
  settle();
  EXPECT_TRUE(countdown.isShaped());
  EXPECT_TRUE(toolbar.isShaped());

  struct Case {
    const char* name;
    QRect area;
    QPoint corner;  // outside the outline: the backdrop shows
    QPoint inside;  // the panel's dark fill
  };
  const Case cases[] = {
      {"countdown", countdown.contentGeometry(), {12, 12}, {30, 100}},
      {"toolbar", toolbar.contentGeometry(), {2, 2}, {110, 40}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QImage image = grab(c.area);
    EXPECT_EQ(image.pixelColor(c.corner), QColor(Qt::white)) << "no square corners";
    EXPECT_LT(image.pixelColor(c.inside).lightness(), 40);
  }
}

TEST_F(PanelX11Test, ClicksPassThroughTheCountdownAndReachTheToolbarsButtons) {
  FloatingPanel countdown(QGuiApplication::primaryScreen(), CountdownView::kSize,
                          FloatingPanel::Position::center, FloatingPanel::Input::clickThrough,
                          new CountdownView);
  countdown.showWithoutActivating();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&countdown));
  settle();
  x_.click(countdown.contentGeometry().center());
  EXPECT_TRUE(QTest::qWaitFor([this] { return backdrop_.clicks == 1; }, 2000))
      << "the click reached the window underneath";

  auto* bar = new RecordingToolbar;
  FloatingPanel toolbar(QGuiApplication::primaryScreen(), RecordingToolbar::kSize,
                        FloatingPanel::Position::bottom, FloatingPanel::Input::interactive, bar);
  toolbar.showWithoutActivating();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&toolbar));
  settle();
  QSignalSpy stops(bar, &RecordingToolbar::stopClicked);
  x_.click(bar->stopButton()->mapToGlobal(QPoint(16, 16)));
  EXPECT_TRUE(QTest::qWaitFor([&] { return stops.count() == 1; }, 2000));
  EXPECT_EQ(backdrop_.clicks, 1) << "the toolbar kept its click";
}

// Without a compositor a window cannot be made invisible, so the main window is unmapped for the
// recording and mapped again afterwards.
class MainWindowX11Test : public testing::ControllerFixture {};

TEST_F(MainWindowX11Test, MainWindowIsUnmappedDuringTheRecordingWithoutACompositor) {
  QWidget window;
  window.resize(360, 400);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  PanelViews views(controller(), window);
  controller().setViews(&views);
  controller().begin();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.windowOpacity(), 1.0);
  controller().cancelCountdown();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
  controller().setViews(nullptr);
}

}  // namespace
}  // namespace kestrova

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  QTemporaryDir home;
  if (!home.isValid()) return 1;
  qputenv("HOME", home.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
  kestrova::testing::XvfbServer xvfb(1280, 800);
  xvfb.exportDisplay();
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
