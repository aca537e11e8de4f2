// The global click monitor against a real X server, with presses sent through XTEST.
#include "X11ClickMonitor.h"

#include <gtest/gtest.h>

#include <mutex>

#include "ClickHandler.h"
#include "FramePipeline.h"
#include "RecorderError.h"
#include "SerialQueue.h"
#include "X11Desktop.h"
#include "Xcb.h"
#include "platform/x11/X11Scene.h"
#include "support/Inbox.h"
#include "support/XvfbServer.h"

namespace kestrova::x11 {
namespace {

constexpr int kRootW = 640, kRootH = 480;

using Calls = testing::Inbox<bool>;

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
  testing::XvfbServer server_{kRootW, kRootH};
  testing::X11Scene user_{server_.display()};
  X11ClickMonitor monitor_{server_.display()};
};

// The handler reads the real pointer, so the clicks also show that it is read in desktop points.
TEST_F(X11ClickMonitorTest, LeftAndRightPressesArriveInCapturePixelsAndOthersDoNot) {
  RecorderConfig cfg;
  cfg.screenFrame = desktopFrameFromX11(0, 0, kRootW, kRootH, kRootH);
  cfg.scale = 2;  // as if the display had 2 pixels per point
  cfg.clickIndicator = true;
  auto recording = std::make_shared<Recording>(server_.display().c_str(), cfg);
  Calls calls;
  const ClickHandler recorderHandler =
      makeClickHandler(recording, {&recording->queue, &recording->pipeline, &recording->pointer,
                                   &recording->clock, cfg.screenFrame, cfg.scale});
  auto token = monitor_.install([&] {
    recorderHandler();
    calls.add(true);
  });
  ASSERT_TRUE(token);

  const double before = SteadyHostClock().now();
  user_.click(10, 20, 2);  // middle: ignored
  user_.click(100, 30, 1);
  ASSERT_TRUE(calls.waitFor(1));  // the handler reads the pointer: let it before moving on
  user_.click(200, 300, 3);
  ASSERT_TRUE(calls.waitFor(2));
  user_.click(50, 60, 4);  // wheel: ignored
  user_.click(5, 6, 1);
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
  auto second = monitor_.install([&] { later.add(true); });
  ASSERT_TRUE(second);
  user_.click(70, 80, 1);
  ASSERT_TRUE(later.waitFor(1));
  EXPECT_EQ(calls.count(), 3);
}

TEST_F(X11ClickMonitorTest, HandlerMayRemoveItsOwnMonitor) {
  // The recorder can die on the monitor's thread when the handler held its last reference.
  Calls calls;
  std::unique_ptr<ClickMonitorToken> token;
  std::mutex tokenMutex;
  {
    std::lock_guard lock(tokenMutex);
    token = monitor_.install([&] {
      {
        std::lock_guard lock(tokenMutex);
        token.reset();
      }
      calls.add(true);
    });
    ASSERT_TRUE(token);
  }
  user_.click(1, 1, 1);
  ASSERT_TRUE(calls.waitFor(1));
  std::lock_guard lock(tokenMutex);
  EXPECT_FALSE(token);
}

TEST(X11ClickMonitor, ADisplayThatCannotDeliverPressesGivesNoMonitor) {
  EXPECT_EQ(X11ClickMonitor(":4097").install([] {}), nullptr) << "no server at all";
  try {
    XcbConnection c(":4097");
    FAIL() << "connected to a display that does not exist";
  } catch (const PlatformError& e) {
    EXPECT_STREQ(e.what(), "Could not connect to the X server :4097.");
  }
  // XInput 2 events are generic events; this server cannot send any.
  testing::XvfbServer server(64, 64, {"-extension", "Generic Event Extension"});
  EXPECT_EQ(X11ClickMonitor(server.display()).install([] {}), nullptr);
}

}  // namespace
}  // namespace kestrova::x11
