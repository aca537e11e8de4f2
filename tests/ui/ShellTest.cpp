#include <QAction>
#include <QFile>
#include <QLabel>
#include <QSysInfo>
#include <QTest>

#include <future>
#include <optional>

#include "ControllerFixture.h"
#include "CountdownView.h"
#include "FloatingPanel.h"
#include "MainView.h"
#include "MainWindow.h"
#include "PanelViews.h"
#include "RecordingToolbar.h"
#include "RemoteCommands.h"
#include "SingleInstance.h"
#include "ToolbarButtonStyle.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;

// The main window and the panels around a real controller, as the program wires them.
class ShellTest : public testing::ControllerFixture {
 protected:
  void SetUp() override {
    ControllerFixture::SetUp();
    window_ = std::make_unique<MainWindow>(controller());
    views_ = std::make_unique<PanelViews>(controller(), *window_);
    controller().setViews(views_.get());
    window_->show();
  }
  void TearDown() override {
    controller().setViews(nullptr);
    views_.reset();
    window_.reset();
    ControllerFixture::TearDown();
  }

  // Runs deferred deletions (panels go with deleteLater).
  static void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
  }

  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<PanelViews> views_;
};

TEST_F(ShellTest, WindowIsTitledAndSizedByItsContent) {
  EXPECT_EQ(window_->windowTitle(), "Kestrova");
  EXPECT_EQ(window_->view()->width(), 360);
  EXPECT_EQ(window_->width(), 360);
  EXPECT_EQ(window_->minimumSize(), window_->maximumSize()) << "not resizable";
}

TEST_F(ShellTest, RecordMenuFollowsTheStateInEveryState) {
  QAction* first = window_->startStopAction();
  QAction* second = window_->pauseAction();
  EXPECT_EQ(first->shortcut().toString(QKeySequence::NativeText), "Ctrl+Alt+R");
  EXPECT_EQ(second->shortcut().toString(QKeySequence::NativeText), "Ctrl+Alt+P");

  struct Expect {
    const char* state;
    QString first;
    QString second;
    bool secondEnabled;
  };
  const auto check = [&](const Expect& e) {
    SCOPED_TRACE(e.state);
    EXPECT_EQ(first->text(), e.first);
    EXPECT_TRUE(first->isEnabled());
    EXPECT_EQ(second->text(), e.second);
    EXPECT_EQ(second->isEnabled(), e.secondEnabled);
  };
  check({"idle", "Start Recording", "Pause", false});
  first->trigger();
  check({"countdown", "Stop Recording", "Pause", false});
  advance(3s);
  ASSERT_TRUE(settle([this] { return state() == RecordingState::recording(); }));
  check({"recording", "Stop Recording", "Pause", true});
  second->trigger();
  check({"paused", "Stop Recording", "Resume", true});
  second->trigger();
  EXPECT_EQ(state(), RecordingState::recording());
  second->trigger();
  first->trigger();  // stops straight from paused
  EXPECT_TRUE(state().isIdle());
  check({"idle again", "Start Recording", "Pause", false});
  ASSERT_TRUE(settle([this] { return !controller().isFinishing(); }));
  EXPECT_EQ(engines_.size(), 1u);
  EXPECT_EQ(engines_[0]->pauses, (std::vector<bool>{true, false, true}));
}

TEST_F(ShellTest, StopRecordingDuringTheCountdownCancelsIt) {
  window_->startStopAction()->trigger();
  advance(1s);
  EXPECT_EQ(state(), RecordingState::countdown(2));
  window_->startStopAction()->trigger();
  EXPECT_TRUE(state().isIdle());
  advance(5s);
  EXPECT_TRUE(engines_.empty()) << "no engine, no file";
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(ShellTest, ClosingTheWindowQuitsOnlyWhileIdle) {
  EXPECT_TRUE(window_->closingQuits());
  controller().begin();
  EXPECT_FALSE(window_->closingQuits());
  advance(3s);
  ASSERT_TRUE(settle([this] { return state() == RecordingState::recording(); }));
  EXPECT_FALSE(window_->closingQuits());
  controller().togglePause();
  EXPECT_FALSE(window_->closingQuits());
  controller().togglePause();

  // Closed during the recording, the window goes and the recording goes on...
  window_->close();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(state(), RecordingState::recording());
  ASSERT_NE(views_->toolbarPanel(), nullptr);
  // ...until the toolbar stops it; then the window comes back with the result.
  QTest::mouseClick(static_cast<RecordingToolbar*>(views_->toolbarPanel()->content())->stopButton(),
                    Qt::LeftButton);
  EXPECT_TRUE(state().isIdle());
  ASSERT_TRUE(settle([this] { return !controller().isFinishing(); }));
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(controller().lastSaved().isEmpty());
}

TEST_F(ShellTest, CountdownPanelShowsEachNumberCentredAndClickThrough) {
  controller().begin();
  FloatingPanel* panel = views_->countdownPanel();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_FALSE(panel->isInteractive());
  auto* view = static_cast<CountdownView*>(panel->content());
  EXPECT_EQ(view->number(), 3);
  EXPECT_FALSE(view->isAnimating()) << "the first number is on screen at once";
  const QRect available = displays_->panelArea(0).available;
  EXPECT_EQ(panel->contentGeometry().center(), available.center());
  EXPECT_EQ(window_->windowOpacity(), 0.0) << "the main window is invisible meanwhile";

  advance(1s);
  EXPECT_EQ(view->number(), 2);
  EXPECT_TRUE(view->isAnimating());
  advance(1s);
  EXPECT_EQ(view->number(), 1);
  advance(1s);
  flushDeletes();
  EXPECT_EQ(views_->countdownPanel(), nullptr);
  ASSERT_TRUE(settle([this] { return state() == RecordingState::recording(); }));
  EXPECT_EQ(window_->windowOpacity(), 0.0);
}

TEST_F(ShellTest, ToolbarFollowsTheRecordingAndDrivesTheController) {
  startRecording();
  FloatingPanel* panel = views_->toolbarPanel();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->isInteractive());
  const QRect available = displays_->panelArea(0).available;
  EXPECT_EQ(panel->contentGeometry(),
            QRect(FloatingPanel::origin(available, {232, 48}, FloatingPanel::Position::bottom),
                  QSize(232, 48)));
  auto* toolbar = static_cast<RecordingToolbar*>(panel->content());
  EXPECT_EQ(toolbar->timeLabel()->text(), "00:00");
  EXPECT_EQ(toolbar->look(), RecordingToolbar::Look::recording);

  advance(1500ms);
  EXPECT_EQ(toolbar->timeLabel()->text(), "00:01");
  QTest::mouseClick(toolbar->pauseButton(), Qt::LeftButton);
  EXPECT_EQ(state(), RecordingState::paused());
  EXPECT_EQ(toolbar->look(), RecordingToolbar::Look::paused);
  EXPECT_EQ(toolbar->pauseButton()->toolTip(), "Resume (Ctrl+Alt+P)");
  advance(5s);
  EXPECT_EQ(toolbar->timeLabel()->text(), "00:01") << "the clock stands while paused";
  QTest::mouseClick(toolbar->pauseButton(), Qt::LeftButton);
  EXPECT_EQ(toolbar->look(), RecordingToolbar::Look::recording);
  advance(1s);
  EXPECT_EQ(toolbar->timeLabel()->text(), "00:02");

  QTest::mouseClick(toolbar->stopButton(), Qt::LeftButton);
  EXPECT_TRUE(state().isIdle());
  flushDeletes();
  EXPECT_EQ(views_->toolbarPanel(), nullptr);
  ASSERT_TRUE(settle([this] { return !controller().isFinishing(); }));
  EXPECT_EQ(window_->windowOpacity(), 1.0);
  EXPECT_TRUE(window_->isVisible());
}

// What a later copy hears: send() blocks, so it runs on a thread of its own while the main thread
// serves the socket.
std::optional<QString> sendFromLaterCopy(const SingleInstance& later, const QString& command) {
  auto answer = std::async(std::launch::async, [&] { return later.send(command); });
  const bool answered =
      QTest::qWaitFor([&] { return answer.wait_for(0ms) == std::future_status::ready; }, 5000);
  return answered ? answer.get() : std::nullopt;
}

TEST(SingleInstance, ALaterCopyStandsDownAndItsCommandsAreAnswered) {
  QTemporaryDir dir;
  SingleInstance first(QStringLiteral("kestrova-test"), dir.path());
  QStringList heard;
  ASSERT_TRUE(first.claim([&](const QString& command) {
    heard << command;
    return QStringLiteral("0 heard ") + command;
  }));

  SingleInstance second(QStringLiteral("kestrova-test"), dir.path());
  EXPECT_FALSE(second.claim([](const QString&) { return QString(); }));
  EXPECT_EQ(sendFromLaterCopy(second, "activate"), "0 heard activate");
  EXPECT_EQ(heard, QStringList{"activate"});

  SingleInstance otherSession(QStringLiteral("kestrova-other"), dir.path());
  EXPECT_EQ(sendFromLaterCopy(otherSession, "status"), std::nullopt) << "nobody listens there";
  EXPECT_TRUE(otherSession.claim([](const QString&) { return QString(); }));
}

TEST(SingleInstance, LeftoversOfACrashedCopyDoNotBlockTheNextStart) {
  QTemporaryDir dir;
  QFile lock(dir.filePath("kestrova-test.lock"));
  ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
  lock.write("2147483646\nkestrova\n" + QSysInfo::machineHostName().toUtf8() + "\n");
  lock.close();
  QFile socket(dir.filePath("kestrova-test.socket"));
  ASSERT_TRUE(socket.open(QIODevice::WriteOnly));
  socket.close();

  SingleInstance later(QStringLiteral("kestrova-test"), dir.path());
  EXPECT_EQ(sendFromLaterCopy(later, "status"), std::nullopt);
  SingleInstance instance(QStringLiteral("kestrova-test"), dir.path());
  ASSERT_TRUE(instance.claim([](const QString&) { return QStringLiteral("0 here"); }));
  EXPECT_EQ(sendFromLaterCopy(later, "status"), "0 here");
}

TEST(SingleInstance, ALineLongerThanAnyCommandIsCutOff) {
  QTemporaryDir dir;
  SingleInstance first(QStringLiteral("kestrova-test"), dir.path());
  int heard = 0;
  ASSERT_TRUE(first.claim([&](const QString&) {
    ++heard;
    return QString();
  }));
  SingleInstance later(QStringLiteral("kestrova-test"), dir.path());
  EXPECT_EQ(sendFromLaterCopy(later, QString(5000, u'x')), std::nullopt);
  EXPECT_EQ(heard, 0);
}

// The verbs of the command line, sent by a later copy through the socket to a controller with a
// fake engine, in every state they meet.
class RemoteCommandsTest : public testing::ControllerFixture {
 protected:
  void SetUp() override {
    ControllerFixture::SetUp();
    commands_ = std::make_unique<RemoteCommands>(controller(), [this] { ++broughtToFront_; });
    ASSERT_TRUE(first_.claim([this](const QString& c) { return commands_->answer(c); }));
  }

  QString send(const QString& command) { return sendFromLaterCopy(later_, command).value_or("-"); }

  QTemporaryDir dir_;
  SingleInstance first_{QStringLiteral("kestrova-test"), dir_.path()};
  SingleInstance later_{QStringLiteral("kestrova-test"), dir_.path()};
  std::unique_ptr<RemoteCommands> commands_;
  int broughtToFront_ = 0;
};

TEST_F(RemoteCommandsTest, EachVerbDrivesTheControllerAsTheHotKeysDo) {
  const auto expect = [&](const char* command, const char* answer, RecordingState after) {
    SCOPED_TRACE(command);
    EXPECT_EQ(send(command).toStdString(), answer);
    EXPECT_EQ(state(), after);
  };
  const RecordingState idle = RecordingState::idle();
  expect("status", "0 idle 00:00", idle);
  expect("pause", "1 Kestrova is not recording.", idle);
  expect("stop", "1 Kestrova is not recording.", idle);
  expect("toggle", "0", RecordingState::countdown(3));
  expect("status", "0 countdown 00:00", RecordingState::countdown(3));
  expect("stop", "0", idle);
  script_.blockStop = true;  // to see the file being saved
  expect("toggle", "0", RecordingState::countdown(3));

  advance(3s);
  ASSERT_TRUE(settle([this] { return state() == RecordingState::recording(); }));
  advance(2500ms);
  expect("status", "0 recording 00:02", RecordingState::recording());
  expect("pause", "0", RecordingState::paused());
  advance(4s);
  expect("status", "0 paused 00:02", RecordingState::paused());
  expect("pause", "0", RecordingState::recording());

  expect("toggle", "0", idle);
  expect("status", "0 saving 00:00", idle);
  expect("toggle", "1 The last recording is still being saved; try again in a moment.", idle);
  engines_.back()->stopGate.open();
  ASSERT_TRUE(settle([this] { return !controller().isFinishing(); }));
  EXPECT_EQ(engines_.size(), 1u);

  expect("activate", "0", idle);
  EXPECT_EQ(broughtToFront_, 1);
  expect("record-everything", "2 Unknown command \u201crecord-everything\u201d.", idle);
}

}  // namespace
}  // namespace kestrova
