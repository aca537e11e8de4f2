#include "AppController.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>

#include <filesystem>

#include "Prefs.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeDesktop.h"
#include "fakes/FakeEngine.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using testing::FakeDesktopServices;
using testing::FakeDisplays;
using testing::FakeEngine;
using testing::FakeEngineScript;
using testing::FakeMainClock;
using testing::FakeViews;

// Prints states in failure messages.
std::string describe(const RecordingState& s) {
  switch (s.phase()) {
    case RecordingState::Phase::idle:
      return "idle";
    case RecordingState::Phase::countdown:
      return "countdown(" + std::to_string(s.countdownNumber()) + ")";
    case RecordingState::Phase::recording:
      return "recording";
    case RecordingState::Phase::paused:
      return "paused";
  }
  return "?";
}

class AppControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(settingsDir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
    Prefs::registerDefaults();
    build(DesktopServices::CaptureGrant::display);
  }

  // A new controller on new fakes, for a desktop that grants capture as `grant` says.
  void build(DesktopServices::CaptureGrant grant) {
    controller_.reset();
    auto services = std::make_unique<FakeDesktopServices>();
    services->grant = grant;
    services_ = services.get();
    auto displays = std::make_unique<FakeDisplays>();
    displays_ = displays.get();
    auto clock = std::make_unique<FakeMainClock>();
    clock_ = clock.get();
    controller_ = std::make_unique<AppController>(
        [this](const RecorderConfig& config) {
          auto engine = std::make_shared<FakeEngine>(config, script_);
          engines_.push_back(engine);
          return engine;
        },
        std::move(services), std::move(displays), std::move(clock));
    controller_->setViews(&views_);
  }

  void TearDown() override {
    for (auto& e : engines_) {
      e->startGate.open();
      e->stopGate.open();
    }
    controller_.reset();
  }

  RecordingState state() const { return controller_->state(); }

  void advance(std::chrono::milliseconds step) {
    clock_->advance(step);
    QCoreApplication::processEvents();
  }

  // Waits for the controller's worker to answer.
  [[nodiscard]] bool settle(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 5000);
  }

  // From idle to recording, through the whole countdown.
  void record() {
    controller_->begin();
    advance(3s);
    ASSERT_TRUE(settle([this] { return state() == RecordingState::recording(); }))
        << describe(state());
    views_.take();
  }

  FakeEngine& engine() { return *engines_.back(); }

  QTemporaryDir settingsDir_;
  FakeEngineScript script_;
  std::vector<std::shared_ptr<FakeEngine>> engines_;
  FakeDesktopServices* services_ = nullptr;
  FakeDisplays* displays_ = nullptr;
  FakeMainClock* clock_ = nullptr;
  FakeViews views_;
  std::unique_ptr<AppController> controller_;
};

TEST(FormatTime, MinutesAndSecondsWithMinutesNotWrapping) {
  const std::pair<double, const char*> cases[] = {
      {0, "00:00"},    {59.9, "00:59"},  {61.99, "01:01"},
      {3725, "62:05"}, {6000, "100:00"}, {600.5, "10:00"},
  };
  for (const auto& [seconds, text] : cases) {
    SCOPED_TRACE(seconds);
    EXPECT_EQ(formatTime(seconds), QString::fromLatin1(text));
  }
}

TEST(QtClock, RunsJobsOnTheEventLoopAndNeverOnceTheirHandleIsDropped) {
  QtClock clock;
  int once = 0, every = 0, dropped = 0;
  const auto a = clock.schedule(1ms, Clock::Repeat::once, [&] { ++once; });
  std::unique_ptr<ScheduledJob> b;
  b = clock.schedule(1ms, Clock::Repeat::every, [&] {
    if (++every == 3) b.reset();  // a job may drop itself
  });
  clock.schedule(1ms, Clock::Repeat::once, [&] { ++dropped; }).reset();
  ASSERT_TRUE(QTest::qWaitFor([&] { return once == 1 && every == 3; }, 5000));
  QTest::qWait(20);
  EXPECT_EQ(once, 1);
  EXPECT_EQ(every, 3);
  EXPECT_EQ(dropped, 0);
}

TEST_F(AppControllerTest, ARecordingGoesThroughEveryStateInOrder) {
  QSignalSpy states(controller_.get(), &AppController::stateChanged);
  controller_->begin();
  EXPECT_EQ(state(), RecordingState::countdown(3));
  EXPECT_EQ(views_.take(), (QStringList{"hide main", "show countdown"}));
  EXPECT_EQ(views_.lastArea, QRect(0, 0, 1920, 1080));

  advance(999ms);
  EXPECT_EQ(state(), RecordingState::countdown(3));
  advance(1ms);
  EXPECT_EQ(state(), RecordingState::countdown(2));
  advance(1s);
  EXPECT_EQ(state(), RecordingState::countdown(1));
  EXPECT_TRUE(engines_.empty());

  // The third second: the panel goes, the engine starts, the state stays at 1 until it answers.
  script_.blockStart = true;
  advance(1s);
  ASSERT_EQ(engines_.size(), 1u);
  EXPECT_EQ(state(), RecordingState::countdown(1));
  EXPECT_EQ(views_.take(), QStringList{"remove countdown"});
  engine().startGate.open();
  ASSERT_TRUE(settle([&] { return state() == RecordingState::recording(); }));
  EXPECT_EQ(views_.take(), QStringList{"show toolbar"});
  EXPECT_EQ(controller_->elapsed(), 0);

  // begin is ignored while anything runs.
  controller_->begin();
  EXPECT_EQ(state(), RecordingState::recording());

  controller_->togglePause();
  EXPECT_EQ(state(), RecordingState::paused());
  controller_->begin();
  EXPECT_EQ(state(), RecordingState::paused());
  controller_->togglePause();
  EXPECT_EQ(state(), RecordingState::recording());
  EXPECT_EQ(engine().pauses, (std::vector<bool>{true, false}));

  // Stop: idle and the toolbar gone at once; the main window returns when the file is done.
  controller_->stop();
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_EQ(views_.take(), QStringList{"remove toolbar"});
  ASSERT_TRUE(settle([&] { return !controller_->lastSaved().isNull(); }));
  EXPECT_EQ(controller_->lastSaved(), QString::fromStdString(engine().config.url.string()));
  EXPECT_TRUE(controller_->message().isNull());
  EXPECT_EQ(services_->sounds, 1);
  EXPECT_EQ(views_.take(), QStringList{"restore main"});
  EXPECT_EQ(engine().stops, 1);

  std::vector<std::string> seen;
  for (const auto& args : states) seen.push_back(describe(args[0].value<RecordingState>()));
  EXPECT_EQ(seen, (std::vector<std::string>{"countdown(3)", "countdown(2)", "countdown(1)",
                                            "recording", "paused", "recording", "idle"}));

  // Toggling pause and stopping while idle do nothing.
  controller_->togglePause();
  controller_->stop();
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_EQ(engine().stops, 1);
}

TEST_F(AppControllerTest, TheRecordingIsConfiguredFromThePreferencesWhenTheCountdownEnds) {
  struct Case {
    int fps;
    int expectedFps;
  } cases[] = {{60, 60}, {30, 30}, {24, 30}, {120, 30}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fps);
    Prefs::set(Prefs::kPreset, "720p");
    controller_->begin();
    // Changes during the countdown count.
    Prefs::set(Prefs::kFps, c.fps);
    Prefs::set(Prefs::kSmoothing, 0.8);
    Prefs::set(Prefs::kDeadZone, 0.1);
    Prefs::set(Prefs::kClicks, false);
    advance(3s);
    ASSERT_TRUE(settle([&] { return state() == RecordingState::recording(); }));
    const RecorderConfig& config = engine().config;
    EXPECT_EQ(config.fps, c.expectedFps);
    EXPECT_EQ(config.width, 1280);
    EXPECT_EQ(config.height, 720);
    EXPECT_EQ(config.smoothing, 0.8);
    EXPECT_EQ(config.deadZone, 0.1);
    EXPECT_FALSE(config.clickIndicator);
    EXPECT_EQ(config.displayID, 7u) << "the main display, as the display list has it";
    EXPECT_EQ(config.screenFrame, (Rect{{0, 0}, {1920, 1080}}));
    EXPECT_EQ(config.scale, 1);
    // The default folder did not exist yet; it was made for the recording.
    EXPECT_EQ(QString::fromStdString(config.url.parent_path().string()), Prefs::defaultFolder());
    EXPECT_TRUE(QString::fromStdString(config.url.filename().string())
                    .contains(QRegularExpression(
                        R"(^Kestrova \d{4}-\d\d-\d\d at \d\d\.\d\d\.\d\d\.mp4$)")));
    controller_->stop();
    ASSERT_TRUE(settle([&] { return !controller_->isFinishing(); }));
  }
}

TEST_F(AppControllerTest, TheClockLeavesPausesOut) {
  record();
  advance(10040ms);
  EXPECT_DOUBLE_EQ(controller_->elapsed(), 10.0);  // the last tick, at most 0.1 s behind
  controller_->togglePause();
  advance(5s);
  EXPECT_DOUBLE_EQ(controller_->elapsed(), 10.0);  // stands still while paused
  controller_->togglePause();
  advance(60ms);  // the next tick of the 0.1 s ticker
  EXPECT_NEAR(controller_->elapsed(), 10.04 + 0.06, 1e-9);
  advance(1s);
  EXPECT_NEAR(controller_->elapsed(), 11.10, 1e-9);
  controller_->togglePause();
  advance(1s);
  controller_->togglePause();  // the second resume still counts the time before the first pause
  advance(100ms);
  EXPECT_NEAR(controller_->elapsed(), 11.20, 1e-9);

  // Stopping while paused finishes the file the same way and leaves the shown time alone.
  controller_->togglePause();
  advance(1s);
  controller_->stop();
  EXPECT_EQ(state(), RecordingState::idle());
  ASSERT_TRUE(settle([&] { return !controller_->lastSaved().isNull(); }));
  EXPECT_EQ(engine().stops, 1);
  EXPECT_NEAR(controller_->elapsed(), 11.20, 1e-9);
  advance(1s);
  EXPECT_NEAR(controller_->elapsed(), 11.20, 1e-9);
  EXPECT_EQ(clock_->pendingJobs(), 0u) << "the ticker outlived the recording";
}

TEST_F(AppControllerTest, AFailedStartStopsTheEngineOnceThenShowsTheMessage) {
  script_.startError = "Could not start writing.";
  int stopsWhenShown = -1;
  QObject::connect(controller_.get(), &AppController::messageChanged,
                   [&] { stopsWhenShown = engine().stops; });
  controller_->begin();
  views_.take();
  advance(3s);
  ASSERT_TRUE(settle([&] { return state() == RecordingState::idle(); }));
  EXPECT_EQ(controller_->message(), "Could not start writing.");
  EXPECT_EQ(stopsWhenShown, 1);
  EXPECT_EQ(views_.take(), (QStringList{"remove countdown", "remove toolbar", "remove countdown",
                                        "restore main"}));
  EXPECT_TRUE(controller_->lastSaved().isNull());
  // No recorder was kept: pausing reaches no engine.
  controller_->togglePause();
  EXPECT_TRUE(engine().pauses.empty());

  // The next begin clears the message.
  controller_->begin();
  EXPECT_TRUE(controller_->message().isNull());
}

TEST_F(AppControllerTest, TheStartStopRuleCancelsACountdownBeforeAnyEngineExists) {
  controller_->startOrStop();
  EXPECT_EQ(state(), RecordingState::countdown(3));
  advance(1500ms);
  views_.take();
  controller_->startOrStop();
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_EQ(views_.take(), (QStringList{"remove countdown", "restore main"}));
  advance(5s);
  EXPECT_TRUE(engines_.empty());
  EXPECT_EQ(state(), RecordingState::idle());

  // The rule then starts and stops a recording.
  controller_->startOrStop();
  advance(3s);
  ASSERT_TRUE(settle([&] { return state() == RecordingState::recording(); }));
  controller_->startOrStop();
  EXPECT_EQ(state(), RecordingState::idle());
}

TEST_F(AppControllerTest, CancellingDuringASlowStartStopsTheEngineAndRemovesItsFile) {
  script_.blockStart = true;
  controller_->begin();
  advance(3s);
  ASSERT_EQ(engines_.size(), 1u);
  ASSERT_TRUE(settle([&] { return engine().startGate.hasWaiter(); }));
  views_.take();

  controller_->cancelCountdown();
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_EQ(views_.take(), (QStringList{"remove countdown", "restore main"}));
  EXPECT_TRUE(controller_->isFinishing());

  // No new recording while the old engine winds down, and the window says why.
  controller_->begin();
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_TRUE(controller_->isSaving());
  views_.take();

  engine().startGate.open();
  ASSERT_TRUE(settle([&] { return !controller_->isFinishing(); }));
  EXPECT_EQ(engine().stops, 1);
  EXPECT_FALSE(std::filesystem::exists(engine().config.url));
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_TRUE(views_.take().isEmpty()) << "no toolbar, nothing restored twice";
  EXPECT_TRUE(controller_->lastSaved().isNull());
  EXPECT_TRUE(controller_->message().isNull());

  controller_->begin();
  EXPECT_EQ(state(), RecordingState::countdown(3));
}

TEST_F(AppControllerTest, BeginWaitsUntilTheLastFileIsFinishedAndSaysSo) {
  script_.blockStop = true;
  record();
  controller_->stop();
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_TRUE(controller_->isFinishing());
  EXPECT_FALSE(controller_->isSaving());
  views_.take();

  controller_->begin();
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_EQ(engines_.size(), 1u);
  EXPECT_TRUE(controller_->isSaving()) << "the start says why it waits";
  EXPECT_EQ(views_.take(), QStringList{"restore main"});

  engine().stopGate.open();
  ASSERT_TRUE(settle([&] { return !controller_->isFinishing(); }));
  EXPECT_FALSE(controller_->isSaving());
  EXPECT_FALSE(controller_->lastSaved().isNull());
  controller_->begin();
  EXPECT_EQ(state(), RecordingState::countdown(3));
  EXPECT_TRUE(controller_->lastSaved().isNull());
}

TEST_F(AppControllerTest, ASlowFinishBringsTheWindowBackSayingSaving) {
  script_.blockStop = true;
  record();
  controller_->stop();
  EXPECT_EQ(views_.take(), QStringList{"remove toolbar"});
  advance(299ms);
  EXPECT_FALSE(controller_->isSaving());
  EXPECT_TRUE(views_.take().isEmpty()) << "a quick finish shows nothing in between";
  advance(1ms);
  EXPECT_TRUE(controller_->isSaving());
  EXPECT_EQ(views_.take(), QStringList{"restore main"});

  engine().stopGate.open();
  ASSERT_TRUE(settle([&] { return !controller_->isFinishing(); }));
  EXPECT_FALSE(controller_->isSaving());
  EXPECT_FALSE(controller_->lastSaved().isNull());
}

TEST_F(AppControllerTest, AFailureWhileRecordingKeepsTheFootage) {
  record();
  advance(2s);
  engine().failFromAnotherThread("The display went away.");
  ASSERT_TRUE(settle([&] { return !controller_->message().isNull(); }));
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_EQ(engine().stops, 1);
  EXPECT_EQ(controller_->message(), "The display went away.");
  EXPECT_EQ(controller_->lastSaved(), QString::fromStdString(engine().config.url.string()));
  EXPECT_TRUE(std::filesystem::exists(engine().config.url));
  EXPECT_EQ(services_->sounds, 0);
  EXPECT_EQ(views_.take(), (QStringList{"remove toolbar", "remove countdown", "restore main"}));
  EXPECT_FALSE(controller_->isFinishing());
}

TEST_F(AppControllerTest, AFailureDuringTheStartIsHandledOnceTheStartAnswers) {
  script_.blockStart = true;
  controller_->begin();
  advance(3s);
  ASSERT_TRUE(settle([&] { return engine().startGate.hasWaiter(); }));
  engine().failFromAnotherThread("Capture stopped.");
  QCoreApplication::processEvents();
  EXPECT_EQ(state(), RecordingState::countdown(1));
  engine().startGate.open();
  ASSERT_TRUE(settle([&] { return !controller_->message().isNull(); }));
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_EQ(controller_->message(), "Capture stopped.");
  EXPECT_EQ(engine().stops, 1);
  EXPECT_FALSE(controller_->lastSaved().isNull());
}

TEST_F(AppControllerTest, AFailedFinishShowsItsMessageWithoutSoundOrFile) {
  script_.stopError = "Could not save the video.";
  record();
  controller_->stop();
  ASSERT_TRUE(settle([&] { return !controller_->message().isNull(); }));
  EXPECT_EQ(controller_->message(), "Could not save the video.");
  EXPECT_TRUE(controller_->lastSaved().isNull());
  EXPECT_EQ(services_->sounds, 0);
  EXPECT_EQ(views_.take(), (QStringList{"remove toolbar", "restore main"}));
}

// The display list decides which display is recorded and where the panels go; a display the list
// cannot give is a message, and nothing starts.
TEST_F(AppControllerTest, TheDisplayComesFromTheDisplayList) {
  displays_->list = {{7, "DP-1", Rect{{0, 0}, {1920, 1080}}, 1},
                     {0x80000123u, "SIDE", Rect{{1920, 56}, {1280, 1024}}, 1}};
  Prefs::set(Prefs::kDisplayID, qint64{0x80000123});
  controller_->begin();
  EXPECT_EQ(views_.lastArea, QRect(1920, 0, 1280, 1024)) << "the countdown on SIDE";
  advance(3s);
  ASSERT_TRUE(settle([&] { return state() == RecordingState::recording(); }));
  EXPECT_EQ(engine().config.displayID, 0x80000123u);
  EXPECT_EQ(engine().config.screenFrame, (Rect{{1920, 56}, {1280, 1024}}));
  controller_->stop();
  ASSERT_TRUE(settle([&] { return !controller_->isFinishing(); }));

  for (const bool listFails : {false, true}) {
    SCOPED_TRACE(listFails);
    displays_->list.clear();
    if (listFails)
      displays_->failure = "The X server did not answer the question for its displays.";
    controller_->begin();
    EXPECT_EQ(state(), RecordingState::idle());
    EXPECT_EQ(controller_->message(), listFails ? QString::fromStdString(*displays_->failure)
                                                : "The selected display is no longer available.");
  }
  EXPECT_EQ(engines_.size(), 1u);
}

TEST_F(AppControllerTest, WithNoWritableFolderTheRecordingDoesNotStart) {
  // A file stands where the default folder would go, and the chosen folder is gone.
  const QString videos = Prefs::defaultFolder();
  QDir(videos).removeRecursively();
  QFile blocker(videos);
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  Prefs::set(Prefs::kOutputPath, settingsDir_.path() + "/deleted");

  controller_->begin();
  advance(3s);
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_TRUE(engines_.empty());
  EXPECT_TRUE(controller_->message().contains(settingsDir_.path() + "/deleted"));
  EXPECT_TRUE(controller_->message().contains(videos));
  EXPECT_EQ(Prefs::string(Prefs::kOutputPath), settingsDir_.path() + "/deleted");
  QFile::remove(videos);
}

TEST_F(AppControllerTest, ThePermissionIsAskedForOnceARunThenTheSettingsOpen) {
  services_->granted = false;
  controller_->begin();
  EXPECT_EQ(services_->requests, 1);
  EXPECT_EQ(services_->settingsOpened, 1);
  EXPECT_FALSE(controller_->hasPermission());
  EXPECT_EQ(state(), RecordingState::idle());

  controller_->begin();
  EXPECT_EQ(services_->requests, 1);
  EXPECT_EQ(services_->settingsOpened, 2);
  EXPECT_EQ(state(), RecordingState::idle());
}

TEST_F(AppControllerTest, APromptThatGrantsAccessStartsNothingUntilTheNextBegin) {
  services_->granted = false;
  services_->requestGrants = true;
  controller_->begin();
  EXPECT_EQ(services_->requests, 1);
  EXPECT_EQ(services_->settingsOpened, 0);
  EXPECT_TRUE(controller_->hasPermission());
  EXPECT_EQ(state(), RecordingState::idle());

  controller_->begin();
  EXPECT_EQ(state(), RecordingState::countdown(3));
}

TEST_F(AppControllerTest, WhereTheDesktopAsksInADialogEveryRequestAsksAndAProblemIsShown) {
  build(DesktopServices::CaptureGrant::portal);
  services_->granted = false;
  services_->problem = "This desktop's screen sharing does not report the pointer.";
  controller_->begin();
  controller_->requestPermission();
  EXPECT_EQ(services_->requests, 2);
  EXPECT_EQ(services_->settingsOpened, 0);
  EXPECT_EQ(controller_->message(), services_->problem);

  services_->problem.clear();  // a declined dialog says nothing
  services_->requestGrants = true;
  controller_->requestPermission();
  EXPECT_TRUE(controller_->hasPermission());

  // "Change…" forgets the chosen screen and asks again.
  services_->requestGrants = false;
  controller_->changeScreen();
  EXPECT_EQ(services_->forgets, 1);
  EXPECT_EQ(services_->requests, 4);
  EXPECT_FALSE(controller_->hasPermission());
  EXPECT_TRUE(controller_->message().isNull());
}

TEST_F(AppControllerTest, ADeclinedShareAtTheStartRecordsNothingAndSaysNothing) {
  script_.startDeclined = true;
  controller_->begin();
  services_->granted = false;  // the declined dialog dropped the chosen screen
  advance(3s);
  ASSERT_TRUE(settle([&] { return state() == RecordingState::idle(); }));
  EXPECT_TRUE(controller_->message().isNull());
  EXPECT_TRUE(controller_->lastSaved().isNull());
  EXPECT_EQ(engine().stops, 1);
  EXPECT_FALSE(controller_->hasPermission());
}

TEST_F(AppControllerTest, TheDesktopEndingTheShareStopsTheRecordingAsTheUserWould) {
  record();
  engine().failFromAnotherThread(PlatformError::sharingEnded());
  ASSERT_TRUE(settle([&] { return !controller_->lastSaved().isNull(); }));
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_TRUE(controller_->message().isNull());
  EXPECT_EQ(services_->sounds, 1);
  EXPECT_EQ(engine().stops, 1);
}

TEST_F(AppControllerTest, RevealAndChooseFolderGoThroughTheDesktop) {
  controller_->reveal();
  EXPECT_TRUE(services_->revealed.empty());
  record();
  controller_->stop();
  ASSERT_TRUE(settle([&] { return !controller_->lastSaved().isNull(); }));
  controller_->reveal();
  EXPECT_EQ(services_->revealed, std::vector{engine().config.url});

  controller_->chooseFolder();  // cancelled
  EXPECT_EQ(Prefs::string(Prefs::kOutputPath), Prefs::defaultFolder());
  services_->chosenFolder = "/srv/recordings";
  controller_->chooseFolder();
  EXPECT_EQ(Prefs::string(Prefs::kOutputPath), "/srv/recordings");
}

TEST_F(AppControllerTest, GoingAwayWhileRecordingFinishesTheFile) {
  record();
  const std::shared_ptr<FakeEngine> recording = engines_.back();
  controller_.reset();
  EXPECT_EQ(recording->stops, 1);
  EXPECT_TRUE(std::filesystem::exists(recording->config.url));
}

}  // namespace
}  // namespace kestrova
