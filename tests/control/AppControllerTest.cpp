#include "AppController.h"

#include <QDir>

#include <filesystem>

#include "ControllerFixture.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using testing::FakeEngineScript;

using AppControllerTest = testing::ControllerFixture;

TEST_F(AppControllerTest, EachOperationActsOnlyWhereTheStateTableAllowsIt) {
  const RecordingState idle = RecordingState::idle(), three = RecordingState::countdown(3),
                       recording = RecordingState::recording(), paused = RecordingState::paused();
  using Op = void (AppController::*)();
  const std::pair<const char*, Op> ops[] = {{"begin", &AppController::begin},
                                            {"togglePause", &AppController::togglePause},
                                            {"stop", &AppController::stop},
                                            {"cancelCountdown", &AppController::cancelCountdown},
                                            {"startOrStop", &AppController::startOrStop}};
  const struct {
    RecordingState from;
    RecordingState to[std::size(ops)];  // after each operation
  } table[] = {
      {idle, {three, idle, idle, idle, three}},
      {three, {three, three, three, idle, idle}},
      {recording, {recording, paused, idle, recording, idle}},
      {paused, {paused, recording, idle, paused, idle}},
  };
  for (const auto& row : table) {
    for (std::size_t i = 0; i < std::size(ops); ++i) {
      SCOPED_TRACE(::testing::PrintToString(row.from) + ", " + ops[i].first);
      build();
      if (!row.from.isIdle()) controller().begin();
      if (row.from.isActive()) {
        advance(3s);
        ASSERT_TRUE(settle([&] { return state() == recording; }));
      }
      if (row.from == paused) controller().togglePause();
      (controller().*ops[i].second)();
      EXPECT_EQ(state(), row.to[i]);
      advance(5s);  // a cancelled countdown makes no engine later
      EXPECT_EQ(engines_.size(), row.from.isActive() || row.to[i].isCountdown() ? 1u : 0u);
    }
  }
}

TEST_F(AppControllerTest, ARecordingFromBeginToTheSavedFile) {
  Prefs::set(Prefs::kPreset, "720p");
  controller().begin();
  EXPECT_EQ(views_.take(), (QStringList{"hide main", "show countdown"}));
  Prefs::set(Prefs::kSmoothing, 0.8);  // changes during the countdown count
  advance(999ms);
  EXPECT_EQ(state(), RecordingState::countdown(3));
  advance(1001ms);
  EXPECT_EQ(state(), RecordingState::countdown(1));
  EXPECT_TRUE(engines_.empty());

  // The third second: the panel goes, the engine starts, the state stays at 1 until it answers.
  script_.blockStart = true;
  advance(1s);
  ASSERT_EQ(engines_.size(), 1u);
  EXPECT_EQ(state(), RecordingState::countdown(1));
  EXPECT_EQ(views_.take(), QStringList{"remove countdown"});
  EXPECT_EQ(engine().config.width, 1280);
  EXPECT_EQ(engine().config.smoothing, 0.8);
  // The default folder did not exist yet; it was made for the recording.
  EXPECT_EQ(QString::fromStdString(engine().config.url.parent_path().string()),
            Prefs::defaultFolder());
  engine().startGate.open();
  ASSERT_TRUE(settle([&] { return state() == RecordingState::recording(); }));
  EXPECT_EQ(views_.take(), QStringList{"show toolbar"});

  // The time, as of the last 0.1 s tick, leaves the pauses out.
  advance(10040ms);
  controller().togglePause();
  advance(5s);
  EXPECT_DOUBLE_EQ(controller().elapsed(), 10.0);
  controller().togglePause();
  advance(60ms);
  controller().togglePause();  // a second pause keeps the time before the first
  advance(2s);
  controller().togglePause();
  advance(100ms);
  EXPECT_NEAR(controller().elapsed(), 10.20, 1e-9);
  EXPECT_EQ(engine().pauses, (std::vector<bool>{true, false, true, false}));

  // Stopped while paused: the toolbar goes at once, the main window comes back with the file.
  controller().togglePause();
  controller().stop();
  EXPECT_EQ(views_.take(), QStringList{"remove toolbar"});
  ASSERT_TRUE(settle([&] { return !controller().lastSaved().isNull(); }));
  EXPECT_EQ(controller().lastSaved(), QString::fromStdString(engine().config.url.string()));
  EXPECT_EQ(services_->sounds, 1);
  EXPECT_EQ(views_.take(), QStringList{"restore main"});
  advance(1s);
  EXPECT_NEAR(controller().elapsed(), 10.20, 1e-9) << "the shown time stays";
  EXPECT_EQ(clock_->pendingJobs(), 0u) << "the ticker outlived the recording";
}

// Whatever ends a recording but the user, the engine is stopped once before anything is told, the
// footage so far is kept where there is any, and no panel stays while the main window comes back.
TEST_F(AppControllerTest, EveryOtherEndStopsTheEngineOnceAndKeepsWhatWasRecorded) {
  const auto recording = [this] {
    ASSERT_TRUE(settle([this] { return state() == RecordingState::recording(); }));
  };
  const auto fail = [this, recording](const PlatformError& error) {
    return std::function<void()>([=, this] {
      recording();
      engine().failFromAnotherThread(error);
    });
  };
  const auto failDuringStart = [this] {
    ASSERT_TRUE(settle([this] { return engine().startGate.hasWaiter(); }));
    engine().failFromAnotherThread("Stopped.");
    QCoreApplication::processEvents();
    EXPECT_EQ(state(), RecordingState::countdown(1)) << "handled once the start answers";
    engine().startGate.open();
  };
  // The start waits until the desktop has taken the grant back, as a declined dialog does.
  const std::function<void()> decline = [this] {
    services_->granted = false;
    engine().startGate.open();
  };
  const std::function<void()> stop = [=, this] {
    recording();
    controller().stop();
  };
  const struct {
    const char* name;
    FakeEngineScript script;
    std::function<void()> then;  // after the countdown
    const char* message;         // nullptr: none
    bool kept;
    int sounds;
  } cases[] = {
      {"a failed start", {.startError = "No start."}, {}, "No start.", false, 0},
      {"a declined share", {.startDeclined = true, .blockStart = true}, decline, nullptr, false, 0},
      {"a failure in the start", {.blockStart = true}, failDuringStart, "Stopped.", true, 0},
      {"a failure while recording", {}, fail(PlatformError("Gone.")), "Gone.", true, 0},
      {"the desktop ending the share", {}, fail(PlatformError::sharingEnded()), nullptr, true, 1},
      {"a failed finish", {.stopError = "Not saved."}, stop, "Not saved.", false, 0},
  };
  int stopsWhenTold = -1;  // outlives each controller's connection
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    script_ = c.script;
    build();
    stopsWhenTold = -1;
    QObject::connect(&controller(), &AppController::messageChanged, [&](const QString& message) {
      if (!message.isNull()) stopsWhenTold = engine().stops;
    });
    controller().begin();
    advance(3s);
    if (c.then) c.then();
    ASSERT_TRUE(settle([&] { return views_.log.last() == "restore main"; }));
    EXPECT_GT(views_.log.lastIndexOf("remove toolbar"), views_.log.lastIndexOf("show toolbar"));
    EXPECT_GT(views_.log.lastIndexOf("remove countdown"), views_.log.lastIndexOf("show countdown"));
    EXPECT_EQ(state(), RecordingState::idle());
    EXPECT_EQ(engine().stops, 1);
    EXPECT_EQ(stopsWhenTold, c.message ? 1 : -1);
    EXPECT_EQ(controller().message(), QString(c.message));
    EXPECT_EQ(controller().lastSaved(),
              c.kept ? QString::fromStdString(engine().config.url.string()) : QString());
    EXPECT_EQ(std::filesystem::exists(engine().config.url), c.kept || !c.script.stopError);
    EXPECT_EQ(services_->sounds, c.sounds);
    EXPECT_EQ(controller().hasPermission(), services_->granted);
    controller().begin();
    EXPECT_TRUE(controller().message().isNull()) << "a new countdown clears the message";
  }
}

// A new recording waits until the last engine has wound down; the window says it is saving.
TEST_F(AppControllerTest, CancellingDuringASlowStartStopsTheEngineAndRemovesItsFile) {
  script_.blockStart = true;
  controller().begin();
  advance(3s);
  ASSERT_TRUE(settle([&] { return engine().startGate.hasWaiter(); }));
  views_.take();
  controller().cancelCountdown();
  EXPECT_EQ(views_.take(), (QStringList{"remove countdown", "restore main"}));
  controller().begin();
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_TRUE(controller().isSaving());
  engine().startGate.open();
  ASSERT_TRUE(settle([&] { return !controller().isFinishing(); }));
  EXPECT_EQ(engine().stops, 1);
  EXPECT_FALSE(std::filesystem::exists(engine().config.url));
  EXPECT_FALSE(views_.take().contains("show toolbar"));
}

// The display list decides which display is recorded and where the panels go; a display the list
// cannot give, or a folder that cannot be written, is a message, and nothing starts.
TEST_F(AppControllerTest, TheDisplayComesFromTheDisplayListAndTheFolderMustBeWritable) {
  displays_->list.push_back({0x80000123u, "SIDE", Rect{{1920, 56}, {1280, 1024}}, 2});
  Prefs::set(Prefs::kDisplayID, qint64{0x80000123});
  startRecording();
  EXPECT_EQ(views_.lastArea, QRect(1920, 0, 1280, 1024)) << "the panels on SIDE";
  EXPECT_EQ(engine().config.screenFrame, (Rect{{1920, 56}, {1280, 1024}}));
  EXPECT_EQ(engine().config.scale, 2);
  stopAndSettle();

  displays_->failure = "The X server did not answer the question for its displays.";
  controller().begin();
  EXPECT_EQ(controller().message(), QString::fromStdString(*displays_->failure));

  // A file stands where the default folder would go, and the chosen folder is gone.
  build();
  QDir(Prefs::defaultFolder()).removeRecursively();
  QFile blocker(Prefs::defaultFolder());
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  Prefs::set(Prefs::kOutputPath, settingsDir_.path() + "/deleted");
  controller().begin();
  advance(3s);
  EXPECT_TRUE(controller().message().contains(settingsDir_.path() + "/deleted"));
  EXPECT_TRUE(engines_.empty());
  blocker.remove();
}

// Without permission, begin asks the desktop and starts nothing yet. Where it answers at once
// (X11) it asks once a run and then opens the settings; where it asks in a dialog (Wayland) it asks
// every time. A problem the desktop tells is shown.
TEST_F(AppControllerTest, WithoutPermissionBeginAsksTheDesktopAsItsWayOfAskingAllows) {
  using enum DesktopServices::CaptureGrant;
  const struct {
    DesktopServices::CaptureGrant grant;
    bool grants;
    int requests, settingsOpened;
  } cases[] = {
      {display, false, 1, 2}, {display, true, 1, 0}, {portal, false, 2, 0}, {portal, true, 1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.grant == portal ? "dialog, " : "X11, ") << c.grants);
    build(c.grant, false);
    services_->requestGrants = c.grants;
    services_->problem = "No pointer.";
    controller().begin();
    EXPECT_EQ(state(), RecordingState::idle()) << "a prompt that grants starts nothing yet";
    controller().begin();
    EXPECT_EQ(services_->requests, c.requests);
    EXPECT_EQ(services_->settingsOpened, c.settingsOpened);
    EXPECT_EQ(state(), c.grants ? RecordingState::countdown(3) : RecordingState::idle());
    EXPECT_EQ(controller().message(), c.grants ? QString() : "No pointer.");
  }
  // "Change…" forgets the chosen screen and asks again.
  controller().cancelCountdown();
  services_->requestGrants = false;
  controller().changeScreen();
  EXPECT_EQ(services_->forgets, 1);
  EXPECT_EQ(services_->requests, 2);
  EXPECT_FALSE(controller().hasPermission());
}

TEST_F(AppControllerTest, GoingAwayWhileRecordingFinishesTheFile) {
  startRecording();
  const std::shared_ptr<testing::FakeEngine> recording = engines_.back();
  controller_.reset();
  EXPECT_EQ(recording->stops, 1);
  EXPECT_TRUE(std::filesystem::exists(recording->config.url));
}

}  // namespace
}  // namespace kestrova
