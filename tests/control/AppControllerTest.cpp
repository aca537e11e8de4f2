#include "AppController.h"

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>

#include <filesystem>

#include "ControllerFixture.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using testing::FakeEngineScript;

class AppControllerTest : public testing::ControllerFixture {
 protected:
  // From idle to recording, with the views' log started afresh.
  void record() {
    startRecording();
    views_.take();
  }
  QString recordedFile() { return QString::fromStdString(engine().config.url.string()); }
};

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
  controller().reveal();
  controller().chooseFolder();  // cancelled
  EXPECT_TRUE(services_->revealed.empty()) << "nothing saved yet";
  EXPECT_EQ(Prefs::string(Prefs::kOutputPath), Prefs::defaultFolder());
  QSignalSpy states(&controller(), &AppController::stateChanged);
  Prefs::set(Prefs::kPreset, "720p");
  controller().begin();
  EXPECT_EQ(views_.take(), (QStringList{"hide main", "show countdown"}));
  EXPECT_EQ(views_.lastArea, QRect(0, 0, 1920, 1080));
  Prefs::set(Prefs::kSmoothing, 0.8);  // changes during the countdown count
  advance(999ms);
  EXPECT_EQ(state(), RecordingState::countdown(3));
  advance(1ms);
  EXPECT_EQ(state(), RecordingState::countdown(2));
  advance(1s);
  EXPECT_TRUE(engines_.empty());

  // The third second: the panel goes, the engine starts, the state stays at 1 until it answers.
  script_.blockStart = true;
  advance(1s);
  ASSERT_EQ(engines_.size(), 1u);
  EXPECT_EQ(state(), RecordingState::countdown(1));
  EXPECT_EQ(views_.take(), QStringList{"remove countdown"});
  const RecorderConfig& config = engine().config;
  EXPECT_EQ(config.width, 1280);
  EXPECT_EQ(config.smoothing, 0.8);
  EXPECT_EQ(config.displayID, 7u) << "the main display, as the display list has it";
  EXPECT_EQ(config.screenFrame, (Rect{{0, 0}, {1920, 1080}}));
  // The default folder did not exist yet; it was made for the recording.
  EXPECT_EQ(QString::fromStdString(config.url.parent_path().string()), Prefs::defaultFolder());
  EXPECT_TRUE(
      QString::fromStdString(config.url.filename().string())
          .contains(QRegularExpression(R"(^Kestrova \d{4}-\d\d-\d\d at \d\d\.\d\d\.\d\d\.mp4$)")));
  engine().startGate.open();
  ASSERT_TRUE(settle([&] { return state() == RecordingState::recording(); }));
  EXPECT_EQ(views_.take(), QStringList{"show toolbar"});

  // The time, as of the last 0.1 s tick, leaves the pause out.
  advance(10040ms);
  EXPECT_DOUBLE_EQ(controller().elapsed(), 10.0);
  controller().togglePause();
  advance(5s);
  EXPECT_DOUBLE_EQ(controller().elapsed(), 10.0);
  controller().togglePause();
  advance(60ms);
  EXPECT_NEAR(controller().elapsed(), 10.10, 1e-9);
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
  EXPECT_EQ(controller().lastSaved(), recordedFile());
  EXPECT_TRUE(controller().message().isNull());
  EXPECT_EQ(services_->sounds, 1);
  EXPECT_EQ(views_.take(), QStringList{"restore main"});
  controller().reveal();
  EXPECT_EQ(services_->revealed, std::vector{config.url});
  EXPECT_EQ(engine().stops, 1);
  advance(1s);
  EXPECT_NEAR(controller().elapsed(), 10.20, 1e-9) << "the shown time stays";
  EXPECT_EQ(clock_->pendingJobs(), 0u) << "the ticker outlived the recording";

  std::vector<RecordingState> seen;
  for (const auto& args : states) seen.push_back(args[0].value<RecordingState>());
  EXPECT_EQ(seen, (std::vector{RecordingState::countdown(3), RecordingState::countdown(2),
                               RecordingState::countdown(1), RecordingState::recording(),
                               RecordingState::paused(), RecordingState::recording(),
                               RecordingState::paused(), RecordingState::recording(),
                               RecordingState::paused(), RecordingState::idle()}));
  controller().begin();
  EXPECT_TRUE(controller().lastSaved().isNull()) << "a new countdown forgets the last file";
}

// Whatever ends a recording but the user, the engine is stopped once before anything is told, the
// footage so far is kept where there is any, and the main window comes back.
TEST_F(AppControllerTest, EveryOtherEndStopsTheEngineOnceAndKeepsWhatWasRecorded) {
  using Then = std::function<void(AppControllerTest&)>;  // after the countdown
  const auto recording = [](AppControllerTest& t) {
    ASSERT_TRUE(t.settle([&] { return t.state() == RecordingState::recording(); }));
  };
  const auto fail = [recording](const PlatformError& error) -> Then {
    return [=](AppControllerTest& t) {
      recording(t);
      t.engine().failFromAnotherThread(error);
    };
  };
  const Then decline = [](AppControllerTest& t) { t.services_->granted = false; };
  const Then failDuringStart = [](AppControllerTest& t) {
    ASSERT_TRUE(t.settle([&] { return t.engine().startGate.hasWaiter(); }));
    t.engine().failFromAnotherThread("Capture stopped.");
    QCoreApplication::processEvents();
    EXPECT_EQ(t.state(), RecordingState::countdown(1)) << "handled once the start answers";
    t.engine().startGate.open();
  };
  const Then stop = [recording](AppControllerTest& t) {
    recording(t);
    t.controller().stop();
  };
  FakeEngineScript plain, startFails, declines, blocksStart, stopFails;
  startFails.startError = "No start.";
  declines.startDeclined = true;
  blocksStart.blockStart = true;
  stopFails.stopError = "Not saved.";
  const QStringList failedStart{"remove countdown", "remove toolbar", "remove countdown",
                                "restore main"};
  const QStringList failedRecording{"remove countdown", "show toolbar", "remove toolbar",
                                    "remove countdown", "restore main"};
  const QStringList stopped{"remove countdown", "show toolbar", "remove toolbar", "restore main"};
  const struct {
    const char* name;
    FakeEngineScript script;
    Then then;
    const char* message;  // nullptr: none
    bool kept;
    int sounds;
    QStringList views;
  } cases[] = {
      {"a failed start", startFails, {}, "No start.", false, 0, failedStart},
      {"a declined share", declines, decline, nullptr, false, 0, failedStart},
      {"a failure during the start", blocksStart, failDuringStart, "Capture stopped.", true, 0,
       failedRecording},
      {"a failure while recording", plain, fail(PlatformError("Gone.")), "Gone.", true, 0,
       failedRecording},
      {"the desktop ending the share", plain, fail(PlatformError::sharingEnded()), nullptr, true, 1,
       stopped},
      {"a failed finish", stopFails, stop, "Not saved.", false, 0, stopped},
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
    views_.take();
    advance(3s);
    if (c.then) c.then(*this);
    ASSERT_TRUE(
        settle([&] { return views_.log.size() > 1 && views_.log.last() == "restore main"; }));
    EXPECT_EQ(views_.take(), c.views);
    EXPECT_EQ(state(), RecordingState::idle());
    EXPECT_FALSE(controller().isFinishing());
    EXPECT_EQ(engine().stops, 1);
    EXPECT_EQ(stopsWhenTold, c.message ? 1 : -1);
    EXPECT_EQ(controller().message().isNull(), !c.message);
    EXPECT_EQ(controller().message(), c.message ? c.message : "");
    EXPECT_EQ(controller().lastSaved(), c.kept ? recordedFile() : QString());
    EXPECT_EQ(std::filesystem::exists(engine().config.url), c.kept || !c.script.stopError);
    EXPECT_EQ(services_->sounds, c.sounds);
    EXPECT_EQ(controller().hasPermission(), services_->granted);
    controller().begin();
    EXPECT_TRUE(controller().message().isNull()) << "a new countdown clears the message";
  }
}

TEST_F(AppControllerTest, CancellingDuringASlowStartStopsTheEngineAndRemovesItsFile) {
  script_.blockStart = true;
  controller().begin();
  advance(3s);
  ASSERT_TRUE(settle([&] { return engine().startGate.hasWaiter(); }));
  views_.take();
  controller().cancelCountdown();
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_EQ(views_.take(), (QStringList{"remove countdown", "restore main"}));
  EXPECT_TRUE(controller().isFinishing());

  // No new recording while the old engine winds down, and the window says why.
  controller().begin();
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_TRUE(controller().isSaving());
  EXPECT_EQ(views_.take(), QStringList{"restore main"});

  engine().startGate.open();
  ASSERT_TRUE(settle([&] { return !controller().isFinishing(); }));
  EXPECT_EQ(engine().stops, 1);
  EXPECT_FALSE(std::filesystem::exists(engine().config.url));
  EXPECT_TRUE(views_.take().isEmpty()) << "no toolbar, nothing restored twice";
  EXPECT_TRUE(controller().lastSaved().isNull());
  EXPECT_TRUE(controller().message().isNull());
  controller().begin();
  EXPECT_EQ(state(), RecordingState::countdown(3));
}

// A new recording waits for the last file as for a cancelled start (above).
TEST_F(AppControllerTest, ASlowFinishBringsTheWindowBackSayingSaving) {
  script_.blockStop = true;
  record();
  controller().stop();
  EXPECT_EQ(views_.take(), QStringList{"remove toolbar"});
  advance(299ms);
  EXPECT_FALSE(controller().isSaving());
  EXPECT_TRUE(views_.take().isEmpty()) << "a quick finish shows nothing in between";
  advance(1ms);
  EXPECT_TRUE(controller().isSaving());
  EXPECT_EQ(views_.take(), QStringList{"restore main"});
  engine().stopGate.open();
  ASSERT_TRUE(settle([&] { return !controller().isFinishing(); }));
  EXPECT_FALSE(controller().isSaving());
  EXPECT_EQ(controller().lastSaved(), recordedFile());
}

// The display list decides which display is recorded and where the panels go; a display the list
// cannot give, or a folder that cannot be written, is a message, and nothing starts.
TEST_F(AppControllerTest, TheDisplayComesFromTheDisplayListAndTheFolderMustBeWritable) {
  displays_->list.push_back({0x80000123u, "SIDE", Rect{{1920, 56}, {1280, 1024}}, 2});
  Prefs::set(Prefs::kDisplayID, qint64{0x80000123});
  startRecording();
  EXPECT_EQ(views_.lastArea, QRect(1920, 0, 1280, 1024)) << "the panels on SIDE";
  EXPECT_EQ(engine().config.displayID, 0x80000123u);
  EXPECT_EQ(engine().config.screenFrame, (Rect{{1920, 56}, {1280, 1024}}));
  EXPECT_EQ(engine().config.scale, 2);
  stopAndSettle();

  displays_->list.clear();
  controller().begin();
  EXPECT_EQ(controller().message(), "The selected display is no longer available.");
  displays_->failure = "The X server did not answer the question for its displays.";
  controller().begin();
  EXPECT_EQ(controller().message(), QString::fromStdString(*displays_->failure));
  EXPECT_EQ(state(), RecordingState::idle());

  // A file stands where the default folder would go, and the chosen folder is gone.
  build();
  QDir(Prefs::defaultFolder()).removeRecursively();
  QFile blocker(Prefs::defaultFolder());
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  Prefs::set(Prefs::kOutputPath, settingsDir_.path() + "/deleted");
  controller().begin();
  advance(3s);
  EXPECT_EQ(state(), RecordingState::idle());
  EXPECT_TRUE(controller().message().contains(settingsDir_.path() + "/deleted"));
  EXPECT_EQ(Prefs::string(Prefs::kOutputPath), settingsDir_.path() + "/deleted");
  EXPECT_TRUE(engines_.empty());
  blocker.remove();
}

TEST_F(AppControllerTest, WithoutPermissionBeginAsksOnceARunThenOpensTheSettings) {
  for (const bool grants : {false, true}) {
    SCOPED_TRACE(grants);
    build(DesktopServices::CaptureGrant::display, false);
    services_->requestGrants = grants;
    controller().begin();
    EXPECT_EQ(services_->requests, 1);
    EXPECT_EQ(services_->settingsOpened, grants ? 0 : 1);
    EXPECT_EQ(controller().hasPermission(), grants);
    EXPECT_EQ(state(), RecordingState::idle()) << "a prompt that grants starts nothing yet";
    controller().begin();
    EXPECT_EQ(services_->requests, 1);
    EXPECT_EQ(services_->settingsOpened, grants ? 0 : 2);
    EXPECT_EQ(state(), grants ? RecordingState::countdown(3) : RecordingState::idle());
  }
}

TEST_F(AppControllerTest, WhereTheDesktopAsksInADialogEveryRequestAsksAndAProblemIsShown) {
  build(DesktopServices::CaptureGrant::portal, false);
  services_->problem = "This desktop's screen sharing does not report the pointer.";
  controller().begin();
  controller().requestPermission();
  EXPECT_EQ(services_->requests, 2);
  EXPECT_EQ(services_->settingsOpened, 0);
  EXPECT_EQ(controller().message(), services_->problem);

  services_->problem.clear();  // a declined dialog says nothing
  services_->requestGrants = true;
  controller().requestPermission();
  EXPECT_TRUE(controller().hasPermission());

  // "Change…" forgets the chosen screen and asks again.
  services_->requestGrants = false;
  controller().changeScreen();
  EXPECT_EQ(services_->forgets, 1);
  EXPECT_EQ(services_->requests, 4);
  EXPECT_FALSE(controller().hasPermission());
  EXPECT_TRUE(controller().message().isNull());
}

TEST_F(AppControllerTest, GoingAwayWhileRecordingFinishesTheFile) {
  record();
  const std::shared_ptr<testing::FakeEngine> recording = engines_.back();
  controller_.reset();
  EXPECT_EQ(recording->stops, 1);
  EXPECT_TRUE(std::filesystem::exists(recording->config.url));
}

}  // namespace
}  // namespace kestrova
