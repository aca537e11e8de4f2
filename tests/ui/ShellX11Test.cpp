// The window and the panels on a real X server (a private Xvfb, with no window manager and no
// compositor) around a real controller: the panels' hints, their shape, where clicks go, and the
// main window taken off the screen while recording. With KESTROVA_SCREENSHOTS=<folder> the walk
// also saves what a user sees at each step as PNG pictures (tests/screenshots.sh).

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ControllerFixture.h"
#include "CountdownView.h"
#include "FloatingPanel.h"
#include "FormControls.h"
#include "MainView.h"
#include "MainWindow.h"
#include "Onboarding.h"
#include "PanelViews.h"
#include "RecordingToolbar.h"
#include "SettingsForm.h"
#include "StatusArea.h"
#include "ToolbarButtonStyle.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;

// A light desktop with a grid behind every window, so edges show; it counts the clicks it gets.
class Wallpaper : public QWidget {
 public:
  Wallpaper() : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint) {
    setGeometry(QGuiApplication::primaryScreen()->geometry());
  }
  int clicks = 0;

 protected:
  void mousePressEvent(QMouseEvent*) override { ++clicks; }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    QLinearGradient sky(0, 0, width(), height());
    sky.setColorAt(0, QColor(120, 170, 220));
    sky.setColorAt(1, QColor(235, 225, 200));
    p.fillRect(rect(), sky);
    p.setPen(QPen(QColor(255, 255, 255, 160), 2));
    for (int x = 0; x < width(); x += 80) p.drawLine(x, 0, x, height());
    for (int y = 0; y < height(); y += 80) p.drawLine(0, y, width(), y);
  }
};

// Our own connection to the test's X server, for reading properties and faking clicks.
class XClient {
 public:
  XClient() : c_(xcb_connect(nullptr, nullptr)) {}
  ~XClient() { xcb_disconnect(c_); }

  xcb_atom_t atom(const char* name) {
    auto* reply =
        xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return result;
  }

  std::vector<std::uint32_t> property(xcb_window_t window, const char* name) {
    auto* reply = xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 64), nullptr);
    std::vector<std::uint32_t> values;
    if (reply && reply->format == 32) {
      const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
      values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
  }

  void click(QPoint at) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    xcb_test_fake_input(c_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root,
                        static_cast<int16_t>(at.x()), static_cast<int16_t>(at.y()), 0);
    xcb_test_fake_input(c_, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, root, 0, 0, 0);
    xcb_test_fake_input(c_, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, root, 0, 0, 0);
    xcb_flush(c_);
  }

 private:
  xcb_connection_t* c_;
};

class ShellX11Test : public testing::ControllerFixture {
 protected:
  void SetUp() override {
    ControllerFixture::SetUp();
    displays_->list[0].frame = Rect{{0, 280}, {1280, 800}};  // the whole 1280×800 screen
    wallpaper_.show();
    window_ = std::make_unique<MainWindow>(controller());
    panels_ = std::make_unique<PanelViews>(controller(), *window_);
    controller().setViews(panels_.get());
    window_->move(60, 60);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  void TearDown() override {
    controller().setViews(nullptr);
    panels_.reset();
    window_.reset();
    ControllerFixture::TearDown();
  }

  // Lets Qt and the X server catch up (layouts, paints, maps).
  static void letXCatchUp() {
    for (int i = 0; i < 5; ++i) QTest::qWait(60);
  }
  // What the X server shows in `area`; saved as `name`.png when KESTROVA_SCREENSHOTS names a
  // folder.
  static QImage shoot(const QRect& area, const char* name) {
    const QImage image = QGuiApplication::primaryScreen()
                             ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                             .toImage();
    if (const QString folder = qEnvironmentVariable("KESTROVA_SCREENSHOTS"); !folder.isEmpty()) {
      const QString path = QDir(folder).filePath(QString::fromLatin1(name) + ".png");
      EXPECT_TRUE(QDir().mkpath(folder) && image.save(path)) << path.toStdString();
      std::printf("%s\n", qPrintable(path));
    }
    return image;
  }
  void shootWindow(const char* name) {
    letXCatchUp();
    shoot(QRect(window_->pos(), window_->size()).adjusted(-20, -20, 20, 20), name);
  }
  static QImage shootPanel(FloatingPanel& panel, const char* name) {
    letXCatchUp();
    return shoot(panel.contentGeometry().adjusted(-40, -40, 40, 40), name);
  }

  // Without a compositor a panel is cut to its outline: the wallpaper shows at `corner`, and the
  // panel's dark fill at `inside` (both in the panel's content).
  static void expectOutline(FloatingPanel& panel, QPoint corner, QPoint inside, const char* name) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    EXPECT_TRUE(panel.isShaped());
    const QImage image = shootPanel(panel, name);
    EXPECT_GT(image.pixelColor(corner + QPoint(40, 40)).lightness(), 120) << "no square corners";
    EXPECT_LT(image.pixelColor(inside + QPoint(40, 40)).lightness(), 40);
  }

  // What the menu offers, and whether the start button works and closing the window quits.
  void expectMenu(const char* first, const char* second, bool secondEnabled) {
    EXPECT_EQ(window_->startStopAction()->text(), first);
    EXPECT_TRUE(window_->startStopAction()->isEnabled());
    EXPECT_EQ(window_->pauseAction()->text(), second);
    EXPECT_EQ(window_->pauseAction()->isEnabled(), secondEnabled);
    EXPECT_EQ(window_->view()->form()->startButton()->isEnabled(), state().isIdle());
    EXPECT_EQ(window_->closingQuits(), state().isIdle());
  }

  Wallpaper wallpaper_;
  XClient x_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<PanelViews> panels_;
};

TEST_F(ShellX11Test, TheWindowAndThePanelsThroughARecording) {
  QAction* startStop = window_->startStopAction();
  QAction* pause = window_->pauseAction();
  EXPECT_EQ(startStop->shortcut().toString(QKeySequence::NativeText), "Ctrl+Alt+R");
  EXPECT_EQ(pause->shortcut().toString(QKeySequence::NativeText), "Ctrl+Alt+P");
  EXPECT_EQ(window_->windowTitle(), "Kestrova");
  EXPECT_EQ(window_->minimumSize(), window_->maximumSize()) << "not resizable";
  expectMenu("Start Recording", "Pause", false);
  SettingsForm* form = window_->view()->form();
  form->trackingGroup()->setExpanded(true);
  shootWindow("1-main-window-idle");
  Prefs::set(Prefs::kPreset, QStringLiteral("custom"));
  form->reload();
  shootWindow("1b-main-window-custom-size");
  Prefs::set(Prefs::kPreset, QStringLiteral("1080p"));
  form->reload();
  form->trackingGroup()->setExpanded(false);

  // Without permission the onboarding takes the form's place and asks through the controller
  // (whose rules of asking AppControllerTest checks); checking again or coming back brings the
  // form back once capture is allowed.
  services_->granted = false;
  controller().refreshPermission();
  Onboarding* onboarding = window_->view()->onboarding();
  EXPECT_TRUE(form->isHidden());
  EXPECT_EQ(window_->view()->width(), 360);
  EXPECT_TRUE(onboarding->explanationLabel()->text().contains("stays on your computer"));
  shootWindow("2-onboarding");
  QTest::mouseClick(onboarding->openSettingsButton(), Qt::LeftButton);
  EXPECT_EQ(services_->requests, 1);
  EXPECT_EQ(services_->settingsOpened, 1) << "refused at the prompt: the settings open";
  services_->granted = true;
  emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
  EXPECT_TRUE(form->isHidden()) << "only checking again or becoming active looks";
  QTest::mouseClick(onboarding->checkAgainButton(), Qt::LeftButton);
  EXPECT_FALSE(form->isHidden());
  services_->granted = false;
  emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
  EXPECT_TRUE(form->isHidden());
  services_->granted = true;
  emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
  ASSERT_FALSE(form->isHidden());

  StatusArea* status = form->status();
  EXPECT_EQ(status->shows(), StatusArea::Shows::nothing);
  EXPECT_TRUE(status->isHidden());

  // A window cannot be made invisible without a compositor: it is unmapped for the recording.
  script_.blockStop = true;
  startStop->trigger();
  EXPECT_FALSE(window_->isVisible());
  expectMenu("Stop Recording", "Pause", false);
  ASSERT_NE(panels_->countdownPanel(), nullptr);
  FloatingPanel& countdown = *panels_->countdownPanel();
  const QRect available = displays_->panelArea(0).available;
  EXPECT_EQ(countdown.contentGeometry().center(), available.center());
  auto* number = static_cast<CountdownView*>(countdown.content());
  EXPECT_EQ(number->number(), 3);
  EXPECT_FALSE(number->isAnimating()) << "the first number is on screen at once";
  expectOutline(countdown, {12, 12}, {30, 100}, "3-countdown");
  x_.click(countdown.contentGeometry().center());
  EXPECT_TRUE(QTest::qWaitFor([this] { return wallpaper_.clicks == 1; }, 2000))
      << "the click went through the countdown to the window underneath";
  advance(1s);
  EXPECT_EQ(number->number(), 2);
  EXPECT_TRUE(number->isAnimating());
  advance(1s);
  EXPECT_EQ(number->number(), 1);
  advance(1s);
  ASSERT_TRUE(settle([this] { return state() == RecordingState::recording(); }));
  expectMenu("Stop Recording", "Pause", true);

  ASSERT_NE(panels_->toolbarPanel(), nullptr);
  FloatingPanel& toolbar = *panels_->toolbarPanel();
  EXPECT_EQ(toolbar.contentGeometry(),
            QRect(FloatingPanel::origin(available, {232, 48}, FloatingPanel::Position::bottom),
                  QSize(232, 48)));
  auto* bar = static_cast<RecordingToolbar*>(toolbar.content());
  EXPECT_EQ(bar->timeLabel()->text(), "00:00");
  advance(65s);
  EXPECT_EQ(bar->timeLabel()->text(), "01:05");
  expectOutline(toolbar, {2, 2}, {110, 40}, "4-toolbar-recording");
  EXPECT_EQ(panels_->countdownPanel(), nullptr);
  const auto window = static_cast<xcb_window_t>(toolbar.winId());
  EXPECT_EQ(x_.property(window, "_NET_WM_DESKTOP"), std::vector<std::uint32_t>{0xFFFFFFFF});
  const std::vector<std::uint32_t> states = x_.property(window, "_NET_WM_STATE");
  for (const char* state : {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_ABOVE",
                            "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
    EXPECT_NE(std::find(states.begin(), states.end(), x_.atom(state)), states.end()) << state;
  }
  // WM_HINTS: flags, then input; the input hint is set and false.
  const std::vector<std::uint32_t> hints = x_.property(window, "WM_HINTS");
  ASSERT_GE(hints.size(), 2u);
  EXPECT_TRUE(hints[0] & 1u);
  EXPECT_EQ(hints[1], 0u);

  pause->trigger();
  expectMenu("Stop Recording", "Resume", true);
  EXPECT_EQ(bar->look(), RecordingToolbar::Look::paused);
  shootPanel(toolbar, "5-toolbar-paused");
  advance(5s);
  EXPECT_EQ(bar->timeLabel()->text(), "01:05") << "the clock stands while paused";
  // The toolbar keeps its clicks.
  x_.click(bar->pauseButton()->mapToGlobal(QPoint(16, 16)));
  ASSERT_TRUE(QTest::qWaitFor([this] { return state() == RecordingState::recording(); }, 2000));
  EXPECT_EQ(bar->look(), RecordingToolbar::Look::recording);
  EXPECT_EQ(wallpaper_.clicks, 1);
  advance(1s);
  EXPECT_EQ(bar->timeLabel()->text(), "01:06");

  // Closed during the recording, the window stays away and the recording goes on until the
  // toolbar stops it; then the window comes back with the result.
  window_->close();
  EXPECT_EQ(state(), RecordingState::recording());
  x_.click(bar->stopButton()->mapToGlobal(QPoint(16, 16)));
  ASSERT_TRUE(QTest::qWaitFor([this] { return state().isIdle(); }, 2000));
  expectMenu("Start Recording", "Pause", false);
  EXPECT_EQ(engine().pauses, (std::vector<bool>{true, false}));
  advance(300ms);  // a slow finish
  EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  EXPECT_EQ(status->shows(), StatusArea::Shows::saving);
  EXPECT_EQ(status->savingLabel()->text(), "Saving\u2026");
  engine().stopGate.open();
  ASSERT_TRUE(settle([this] { return !controller().isFinishing(); }));
  EXPECT_EQ(status->shows(), StatusArea::Shows::saved);
  EXPECT_EQ(status->savedLabel()->text(), "Saved");
  shootWindow("6-status-saved");
  QTest::mouseClick(status->showInFolderButton(), Qt::LeftButton);
  EXPECT_EQ(services_->revealed, std::vector{engine().config.url});

  startStop->trigger();
  EXPECT_EQ(status->shows(), StatusArea::Shows::nothing) << "a new countdown clears the status";
  startStop->trigger();
  EXPECT_EQ(state(), RecordingState::idle()) << "the menu's first item cancels a countdown";
  script_.blockStop = false;
  script_.startError = "Could not write the video file: No space left on device.";
  startStop->trigger();
  advance(3s);
  ASSERT_TRUE(settle([this] { return !controller().message().isEmpty(); }));
  EXPECT_EQ(status->shows(), StatusArea::Shows::message);
  EXPECT_EQ(status->messageLabel()->text(), QString::fromStdString(*script_.startError));
  shootWindow("7-status-failure");
}

}  // namespace
}  // namespace kestrova
