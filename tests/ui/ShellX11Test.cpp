// The window and the panels on a real X server (a private Xvfb, with no window manager and no
// compositor) around a real controller: the panels' hints, their shape, where clicks go, and the
// main window taken off the screen while recording. With KESTROVA_SCREENSHOTS=<folder> the walk
// also saves what a user sees at each step as PNG pictures (tests/screenshots.sh).

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QSlider>
#include <QTest>

#include <cstdio>

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
#include "platform/x11/X11Scene.h"

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
    p.fillRect(rect(), QColor(150, 185, 215));
    p.setPen(QPen(QColor(255, 255, 255, 160), 2));
    for (int x = 0; x < width(); x += 80) p.drawLine(x, 0, x, height());
    for (int y = 0; y < height(); y += 80) p.drawLine(0, y, width(), y);
  }
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

  void click(QPoint at) { x_.click(at.x(), at.y(), 1); }
  static void pick(SegmentedControl* picker, int index) {
    QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(index).center());
  }

  // What the X server shows in `area` once Qt and the server have caught up (layouts, paints,
  // maps); saved as `name`.png when KESTROVA_SCREENSHOTS names a folder.
  static QImage shoot(const QRect& area, const char* name) {
    for (int i = 0; i < 5; ++i) QTest::qWait(60);
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
    shoot(QRect(window_->pos(), window_->size()).adjusted(-20, -20, 20, 20), name);
  }
  static QImage shootPanel(FloatingPanel& panel, const char* name) {
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

  Wallpaper wallpaper_;
  testing::X11Scene x_{qEnvironmentVariable("DISPLAY").toStdString()};
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<PanelViews> panels_;
};

TEST_F(ShellX11Test, TheWindowAndThePanelsThroughARecording) {
  EXPECT_TRUE(window_->closingQuits());
  SettingsForm* form = window_->view()->form();
  form->trackingGroup()->setExpanded(true);
  shootWindow("1-main-window-idle");

  // Each control writes its key at once; typed sizes are clamped as the recording clamps them,
  // and text that is not a number leaves the stored value as it was.
  pick(form->sizePicker(), 2);
  EXPECT_EQ(Prefs::string(Prefs::kPreset), QStringLiteral("custom"));
  const std::pair<const char*, std::int64_t> typed[] = {{"1281", 1280}, {"wide", 1280}};
  for (QLineEdit* field : {form->widthField(), form->heightField()}) {
    const char* key = field == form->widthField() ? Prefs::kCustomWidth : Prefs::kCustomHeight;
    for (const auto& [text, stored] : typed) {
      SCOPED_TRACE(std::string(key) + " typed " + text);
      field->selectAll();
      QTest::keyClicks(field, QString::fromLatin1(text));
      QTest::keyClick(field, Qt::Key_Return);
      EXPECT_EQ(Prefs::integer(key), stored);
      EXPECT_EQ(field->text(), QString::number(stored)) << "the field shows what was stored";
    }
  }
  form->deadZoneSlider()->setValue(1000);
  EXPECT_DOUBLE_EQ(Prefs::real(Prefs::kDeadZone), 0.6);
  form->trackingGroup()->setExpanded(false);
  pick(form->sizePicker(), 1);  // 1080p again, for the pictures

  // Without permission the onboarding takes the form's place (its rules of asking:
  // AppControllerTest); checking again brings the form back once capture is allowed.
  services_->granted = false;
  controller().refreshPermission();
  EXPECT_TRUE(form->isHidden());
  shootWindow("2-onboarding");
  services_->granted = true;
  QTest::mouseClick(window_->view()->onboarding()->checkAgainButton(), Qt::LeftButton);
  ASSERT_FALSE(form->isHidden());
  StatusArea* status = form->status();
  EXPECT_TRUE(status->isHidden());

  // A window cannot be made invisible without a compositor: it is unmapped for the recording.
  script_.blockStop = true;
  window_->startStopAction()->trigger();
  EXPECT_FALSE(window_->isVisible());
  ASSERT_NE(panels_->countdownPanel(), nullptr);
  FloatingPanel& countdown = *panels_->countdownPanel();
  auto* number = static_cast<CountdownView*>(countdown.content());
  EXPECT_FALSE(number->isAnimating()) << "the first number is on screen at once";
  expectOutline(countdown, {12, 12}, {30, 100}, "3-countdown");
  click(countdown.contentGeometry().center());
  EXPECT_TRUE(QTest::qWaitFor([this] { return wallpaper_.clicks == 1; }, 2000))
      << "the click went through the countdown to the window underneath";
  advance(1s);
  EXPECT_EQ(number->number(), 2);
  EXPECT_TRUE(number->isAnimating());
  advance(2s);
  ASSERT_TRUE(settle([this] { return state() == RecordingState::recording(); }));

  ASSERT_NE(panels_->toolbarPanel(), nullptr);
  FloatingPanel& toolbar = *panels_->toolbarPanel();
  auto* bar = static_cast<RecordingToolbar*>(toolbar.content());
  advance(65s);
  EXPECT_EQ(bar->timeLabel()->text(), "01:05");
  expectOutline(toolbar, {2, 2}, {110, 40}, "4-toolbar-recording");
  EXPECT_EQ(panels_->countdownPanel(), nullptr);

  window_->pauseAction()->trigger();
  EXPECT_EQ(window_->pauseAction()->text(), "Resume");
  EXPECT_EQ(bar->look(), RecordingToolbar::Look::paused);
  shootPanel(toolbar, "5-toolbar-paused");
  // The toolbar keeps its clicks.
  click(bar->pauseButton()->mapToGlobal(QPoint(16, 16)));
  ASSERT_TRUE(QTest::qWaitFor([this] { return state() == RecordingState::recording(); }, 2000));
  EXPECT_EQ(bar->look(), RecordingToolbar::Look::recording);
  EXPECT_EQ(wallpaper_.clicks, 1);

  // Closed during the recording, the window stays away and the recording goes on until the
  // toolbar stops it; then the window comes back with the result.
  window_->close();
  EXPECT_EQ(state(), RecordingState::recording());
  click(bar->stopButton()->mapToGlobal(QPoint(16, 16)));
  ASSERT_TRUE(QTest::qWaitFor([this] { return state().isIdle(); }, 2000));
  advance(300ms);  // a slow finish
  EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  EXPECT_EQ(status->shows(), StatusArea::Shows::saving);
  engine().stopGate.open();
  ASSERT_TRUE(settle([this] { return !controller().isFinishing(); }));
  EXPECT_EQ(status->shows(), StatusArea::Shows::saved);
  shootWindow("6-status-saved");
  QTest::mouseClick(status->showInFolderButton(), Qt::LeftButton);
  EXPECT_EQ(services_->revealed, std::vector{engine().config.url});

  script_.blockStop = false;
  script_.startError = "Could not write the video file: No space left on device.";
  window_->startStopAction()->trigger();
  EXPECT_EQ(status->shows(), StatusArea::Shows::nothing) << "a new countdown clears the status";
  advance(3s);
  ASSERT_TRUE(settle([this] { return !controller().message().isEmpty(); }));
  EXPECT_EQ(status->messageLabel()->text(), QString::fromStdString(*script_.startError));
  shootWindow("7-status-failure");
}

}  // namespace
}  // namespace kestrova
