// Pictures of what a user sees: the real windows and panels on a private X server, driven through
// the real controller (with a scripted engine, so every state can be reached on demand), grabbed
// from the X root window as the server shows them. Usage: ui_screenshots OUTPUT_FOLDER

#include <QApplication>
#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

#include "AppController.h"
#include "CountdownView.h"
#include "FloatingPanel.h"
#include "FormControls.h"
#include "MainView.h"
#include "MainWindow.h"
#include "PanelViews.h"
#include "Prefs.h"
#include "SettingsForm.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeDesktop.h"
#include "fakes/FakeEngine.h"
#include "support/XvfbServer.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;

// A light desktop with a few shapes behind the windows, so translucency and edges show.
class Wallpaper : public QWidget {
 public:
  Wallpaper() : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint) {
    setGeometry(0, 0, kScreenWidth, kScreenHeight);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    QLinearGradient sky(0, 0, kScreenWidth, kScreenHeight);
    sky.setColorAt(0, QColor(120, 170, 220));
    sky.setColorAt(1, QColor(235, 225, 200));
    p.fillRect(rect(), sky);
    p.setPen(QPen(QColor(255, 255, 255, 160), 2));
    for (int x = 0; x < kScreenWidth; x += 80) p.drawLine(x, 0, x, kScreenHeight);
    for (int y = 0; y < kScreenHeight; y += 80) p.drawLine(0, y, kScreenWidth, y);
  }
};

class Studio {
 public:
  explicit Studio(QString out) : out_(std::move(out)) {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings_.path());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_.path());
    Prefs::registerDefaults();
    auto services = std::make_unique<testing::FakeDesktopServices>();
    services_ = services.get();
    auto displays = std::make_unique<testing::FakeDisplays>();
    displays_ = displays.get();
    auto clock = std::make_unique<testing::FakeMainClock>();
    clock_ = clock.get();
    controller_ = std::make_unique<AppController>(
        [this](const RecorderConfig& config) {
          auto engine = std::make_shared<testing::FakeEngine>(config, script_);
          engines_.push_back(engine);
          return engine;
        },
        std::move(services), std::move(displays), std::move(clock));
    wallpaper_.show();
    window_ = std::make_unique<MainWindow>(*controller_);
    views_ = std::make_unique<PanelViews>(*controller_, *window_);
    controller_->setViews(views_.get());
    window_->move(60, 60);
    window_->show();
  }

  ~Studio() {
    for (auto& engine : engines_) {
      engine->startGate.open();
      engine->stopGate.open();
    }
    controller_->setViews(nullptr);
    views_.reset();
    window_.reset();
    controller_.reset();
  }

  void run() {
    window_->view()->form()->trackingGroup()->setExpanded(true);
    shootWindow("1-main-window-idle");
    Prefs::set(Prefs::kPreset, QStringLiteral("custom"));
    window_->view()->form()->reload();
    shootWindow("1b-main-window-custom-size");
    Prefs::set(Prefs::kPreset, QStringLiteral("1080p"));
    window_->view()->form()->reload();

    services_->granted = false;
    controller_->refreshPermission();
    shootWindow("2-onboarding");
    services_->granted = true;
    controller_->refreshPermission();
    window_->view()->form()->trackingGroup()->setExpanded(false);

    controller_->begin();
    shootPanel(views_->countdownPanel(), "3-countdown", 40);
    advance(3s);
    waitFor("the recording",
            [this] { return controller_->state() == RecordingState::recording(); });
    advance(65s);
    shootPanel(views_->toolbarPanel(), "4-toolbar-recording", 40);
    controller_->togglePause();
    shootPanel(views_->toolbarPanel(), "5-toolbar-paused", 40);
    controller_->stop();
    waitFor("the saved file", [this] { return !controller_->isFinishing(); });
    shootWindow("6-status-saved");

    script_.startError = "Could not write the video file: No space left on device.";
    controller_->begin();
    advance(3s);
    waitFor("the failure", [this] { return controller_->message().size() > 0; });
    shootWindow("7-status-failure");
  }

 private:
  static void waitFor(const char* what, const std::function<bool()>& done) {
    if (!QTest::qWaitFor(done, 5000)) std::fprintf(stderr, "timed out waiting for %s\n", what);
  }

  void advance(std::chrono::milliseconds step) {
    clock_->advance(step);
    settle();
  }

  static void settle() {
    for (int i = 0; i < 5; ++i) {
      QCoreApplication::processEvents();
      QTest::qWait(60);
    }
  }

  void shootWindow(const char* name) {
    settle();
    save(QRect(window_->pos(), window_->size()).adjusted(-20, -20, 20, 20), name);
  }

  void shootPanel(FloatingPanel* panel, const char* name, int margin) {
    settle();
    QTest::qWait(300);  // past the countdown's transition
    if (!panel) {
      std::fprintf(stderr, "no panel for %s\n", name);
      return;
    }
    save(panel->geometry().adjusted(-margin, -margin, margin, margin), name);
  }

  void save(const QRect& area, const char* name) {
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(),
                                                                      area.width(), area.height());
    const QString path = QDir(out_).filePath(QString::fromLatin1(name) + ".png");
    if (!shot.save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    std::printf("%s\n", qPrintable(path));
  }

  QString out_;
  QTemporaryDir settings_;
  Wallpaper wallpaper_;
  testing::FakeDesktopServices* services_ = nullptr;
  testing::FakeDisplays* displays_ = nullptr;
  testing::FakeMainClock* clock_ = nullptr;
  testing::FakeEngineScript script_;
  std::vector<std::shared_ptr<testing::FakeEngine>> engines_;
  std::unique_ptr<AppController> controller_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<PanelViews> views_;
};

}  // namespace
}  // namespace kestrova

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  QDir().mkpath(QString::fromLocal8Bit(argv[1]));
  kestrova::testing::XvfbServer xvfb(kestrova::kScreenWidth, kestrova::kScreenHeight);
  xvfb.exportDisplay();
  QTemporaryDir home;
  qputenv("HOME", home.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  kestrova::Studio(QString::fromLocal8Bit(argv[1])).run();
  return 0;
}
