#include <QAction>
#include <QLabel>
#include <QTest>

#include "ControllerFixture.h"
#include "CountdownView.h"
#include "FloatingPanel.h"
#include "FormControls.h"
#include "MainView.h"
#include "MainWindow.h"
#include "PanelViews.h"
#include "RecordingToolbar.h"
#include "SettingsForm.h"
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
    panels_ = std::make_unique<PanelViews>(controller(), *window_);
    controller().setViews(panels_.get());
    window_->show();
  }
  void TearDown() override {
    controller().setViews(nullptr);
    panels_.reset();
    window_.reset();
    ControllerFixture::TearDown();
  }

  // Runs deferred deletions (panels go with deleteLater).
  static void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
  }

  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<PanelViews> panels_;
};

TEST_F(ShellTest, TheMenuTheStartButtonAndClosingFollowTheState) {
  QAction* first = window_->startStopAction();
  QAction* second = window_->pauseAction();
  EXPECT_EQ(first->shortcut().toString(QKeySequence::NativeText), "Ctrl+Alt+R");
  EXPECT_EQ(second->shortcut().toString(QKeySequence::NativeText), "Ctrl+Alt+P");
  EXPECT_EQ(window_->minimumSize(), window_->maximumSize()) << "not resizable";
  const auto recording = [&] {
    advance(3s);
    ASSERT_TRUE(settle([this] { return state() == RecordingState::recording(); }));
  };
  const auto trigger = [](QAction* action) { return [action] { action->trigger(); }; };
  const struct {
    const char* state;
    std::function<void()> step;
    const char *first, *second;
    bool secondEnabled;
    bool idle;  // the start button is enabled, and closing the window quits
  } cases[] = {
      {"idle", [] {}, "Start Recording", "Pause", false, true},
      {"countdown", trigger(first), "Stop Recording", "Pause", false, false},
      {"recording", recording, "Stop Recording", "Pause", true, false},
      {"paused", trigger(second), "Stop Recording", "Resume", true, false},
      {"resumed", trigger(second), "Stop Recording", "Pause", true, false},
      {"paused again", trigger(second), "Stop Recording", "Resume", true, false},
      {"stopped from paused", trigger(first), "Start Recording", "Pause", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    c.step();
    EXPECT_EQ(first->text(), c.first);
    EXPECT_TRUE(first->isEnabled());
    EXPECT_EQ(second->text(), c.second);
    EXPECT_EQ(second->isEnabled(), c.secondEnabled);
    EXPECT_EQ(window_->view()->form()->startButton()->isEnabled(), c.idle);
    EXPECT_EQ(window_->closingQuits(), c.idle);
  }
  ASSERT_TRUE(settle([this] { return !controller().isFinishing(); }));
  EXPECT_EQ(engine().pauses, (std::vector<bool>{true, false, true}));
}

TEST_F(ShellTest, ThePanelsFollowTheRecordingAndTheToolbarDrivesIt) {
  controller().begin();
  FloatingPanel* countdown = panels_->countdownPanel();
  ASSERT_NE(countdown, nullptr);
  EXPECT_TRUE(countdown->isVisible());
  EXPECT_FALSE(countdown->isInteractive());
  const QRect available = displays_->panelArea(0).available;
  EXPECT_EQ(countdown->contentGeometry().center(), available.center());
  auto* view = static_cast<CountdownView*>(countdown->content());
  EXPECT_EQ(view->number(), 3);
  EXPECT_FALSE(view->isAnimating()) << "the first number is on screen at once";
  EXPECT_EQ(window_->windowOpacity(), 0.0) << "the main window is invisible meanwhile";
  advance(1s);
  EXPECT_EQ(view->number(), 2);
  EXPECT_TRUE(view->isAnimating());
  advance(1s);
  EXPECT_EQ(view->number(), 1);
  advance(1s);
  flushDeletes();
  EXPECT_EQ(panels_->countdownPanel(), nullptr);
  ASSERT_TRUE(settle([this] { return state() == RecordingState::recording(); }));

  FloatingPanel* panel = panels_->toolbarPanel();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->isInteractive());
  EXPECT_EQ(panel->contentGeometry(),
            QRect(FloatingPanel::origin(available, {232, 48}, FloatingPanel::Position::bottom),
                  QSize(232, 48)));
  auto* toolbar = static_cast<RecordingToolbar*>(panel->content());
  EXPECT_EQ(toolbar->timeLabel()->text(), "00:00");
  advance(1500ms);
  EXPECT_EQ(toolbar->timeLabel()->text(), "00:01");
  QTest::mouseClick(toolbar->pauseButton(), Qt::LeftButton);
  EXPECT_EQ(state(), RecordingState::paused());
  EXPECT_EQ(toolbar->look(), RecordingToolbar::Look::paused);
  advance(5s);
  EXPECT_EQ(toolbar->timeLabel()->text(), "00:01") << "the clock stands while paused";
  QTest::mouseClick(toolbar->pauseButton(), Qt::LeftButton);
  EXPECT_EQ(toolbar->look(), RecordingToolbar::Look::recording);
  advance(1s);
  EXPECT_EQ(toolbar->timeLabel()->text(), "00:02");

  // Closed during the recording, the window goes and the recording goes on until the toolbar
  // stops it; then the window comes back with the result.
  window_->close();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(state(), RecordingState::recording());
  QTest::mouseClick(toolbar->stopButton(), Qt::LeftButton);
  EXPECT_TRUE(state().isIdle());
  flushDeletes();
  EXPECT_EQ(panels_->toolbarPanel(), nullptr);
  ASSERT_TRUE(settle([this] { return !controller().isFinishing(); }));
  EXPECT_EQ(window_->windowOpacity(), 1.0);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(controller().lastSaved().isEmpty());
}

}  // namespace
}  // namespace kestrova
