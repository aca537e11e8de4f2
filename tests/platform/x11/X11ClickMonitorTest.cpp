// The global click monitor against a real X server, with presses sent through XTEST.
#include "X11ClickMonitor.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "ClickHandler.h"
#include "FramePipeline.h"
#include "SerialQueue.h"
#include "X11Desktop.h"
#include "Xcb.h"
#include "support/XvfbServer.h"

namespace kestrova::x11 {
namespace {

constexpr int kRootW = 640, kRootH = 480;

// Counts handler calls; lets the test wait for them. The wait is a guard against hanging, not a
// measure of speed.
class Calls {
 public:
  void add() {
    // Notified under the lock: a waiter that sees the count may destroy this at once.
    std::lock_guard lock(mutex_);
    ++count_;
    changed_.notify_all();
  }
  bool waitFor(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return count_ >= n; });
  }
  int count() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

// Moves the pointer and presses and releases `button`, as a user on any application would.
class FakeUser {
 public:
  explicit FakeUser(const std::string& display) : conn_(display.c_str()) {}
  void click(int x, int y, std::uint8_t button) {
    xcb_connection_t* c = conn_.get();
    xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, conn_.root(), x, y, 0);
    xcb_test_fake_input(c, XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(c, XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    // A round trip: the server has handled the presses when it answers.
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  }

 private:
  XcbConnection conn_;
};

// The recorder's side as it will be wired: pipeline before queue, so the queue drains first.
struct Recording {
  Recording(const char* display, const RecorderConfig& cfg)
      : pointer(display), pipeline(cfg, pointer, clock), queue("kestrova.samples") {}
  X11PointerSource pointer;
  SteadyHostClock clock;
  FramePipeline pipeline;
  SerialQueue queue;
};

class X11ClickMonitorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new testing::XvfbServer(kRootW, kRootH); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  static const std::string& display() { return server_->display(); }

  static testing::XvfbServer* server_;
};
testing::XvfbServer* X11ClickMonitorTest::server_ = nullptr;

TEST_F(X11ClickMonitorTest, LeftAndRightPressesArriveInCapturePixelsAndOthersDoNot) {
  RecorderConfig cfg;
  cfg.screenFrame = desktopFrameFromX11(0, 0, kRootW, kRootH, kRootH);
  cfg.scale = 2;  // as if the display had 2 pixels per point
  cfg.clickIndicator = true;
  auto recording = std::make_shared<Recording>(display().c_str(), cfg);
  Calls calls;
  const ClickHandler recorderHandler =
      makeClickHandler(recording, {&recording->queue, &recording->pipeline, &recording->pointer,
                                   &recording->clock, cfg.screenFrame, cfg.scale});
  X11ClickMonitor monitor(display());
  auto token = monitor.install([&] {
    recorderHandler();
    calls.add();
  });
  ASSERT_TRUE(token);

  FakeUser user(display());
  const double before = SteadyHostClock().now();
  user.click(10, 20, 2);  // middle: ignored
  user.click(100, 30, 1);
  ASSERT_TRUE(calls.waitFor(1));  // the handler reads the pointer: let it before moving on
  user.click(200, 300, 3);
  ASSERT_TRUE(calls.waitFor(2));
  user.click(50, 60, 4);  // wheel: ignored
  user.click(5, 6, 1);
  ASSERT_TRUE(calls.waitFor(3));

  std::vector<Click> clicks;
  recording->queue.sync([&] { clicks = recording->pipeline.clicks(); });
  const std::vector<Point> expected = {{200, 60}, {400, 600}, {10, 12}};
  ASSERT_EQ(clicks.size(), expected.size()) << "one click per left or right press, nothing else";
  for (std::size_t i = 0; i < clicks.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(clicks[i].p, expected[i]);
    EXPECT_GE(clicks[i].t, i == 0 ? before : clicks[i - 1].t);
  }

  // Removal ends delivery: the next press reaches only a monitor installed afterwards.
  token.reset();
  Calls later;
  auto second = monitor.install([&] { later.add(); });
  ASSERT_TRUE(second);
  user.click(70, 80, 1);
  ASSERT_TRUE(later.waitFor(1));
  EXPECT_EQ(calls.count(), 3);
}

TEST_F(X11ClickMonitorTest, HandlerMayRemoveItsOwnMonitor) {
  // The recorder can die on the monitor's thread when the handler held its last reference.
  X11ClickMonitor monitor(display());
  Calls calls;
  std::unique_ptr<ClickMonitorToken> token;
  std::mutex tokenMutex;
  {
    std::lock_guard lock(tokenMutex);
    token = monitor.install([&] {
      {
        std::lock_guard lock(tokenMutex);
        token.reset();
      }
      calls.add();
    });
    ASSERT_TRUE(token);
  }
  FakeUser(display()).click(1, 1, 1);
  ASSERT_TRUE(calls.waitFor(1));
  std::lock_guard lock(tokenMutex);
  EXPECT_FALSE(token);
}

TEST(X11ClickMonitor, DisplayThatCannotDeliverPressesGivesNoMonitor) {
  EXPECT_EQ(X11ClickMonitor(":4097").install([] {}), nullptr) << "no server at all";
  // XInput 2 events are generic events; this server cannot send any.
  testing::XvfbServer server(64, 64, {"-extension", "Generic Event Extension"});
  EXPECT_EQ(X11ClickMonitor(server.display()).install([] {}), nullptr);
}

}  // namespace
}  // namespace kestrova::x11
