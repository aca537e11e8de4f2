// The global click monitor against a real X server, with presses sent through XTEST.
#include "X11ClickMonitor.h"

#include <gtest/gtest.h>

#include <mutex>

#include "platform/x11/X11Scene.h"
#include "support/Inbox.h"
#include "support/XvfbServer.h"

namespace kestrova::x11 {
namespace {

class X11ClickMonitorTest : public ::testing::Test {
 protected:
  testing::XvfbServer server_{640, 480};
  testing::X11Scene user_{server_.display()};
  X11ClickMonitor monitor_{server_.display()};
  testing::Inbox<bool> calls_;
};

TEST_F(X11ClickMonitorTest, LeftAndRightPressesArriveUntilTheMonitorIsRemoved) {
  auto token = monitor_.install([&] { calls_.add(true); });
  ASSERT_TRUE(token);
  for (const std::uint8_t button : {2, 1, 4, 3}) user_.click(100, 30, button);
  ASSERT_TRUE(calls_.waitFor(2));

  // Removal ends delivery: the next press reaches only a monitor installed afterwards.
  token.reset();
  testing::Inbox<bool> later;
  auto second = monitor_.install([&] { later.add(true); });
  ASSERT_TRUE(second);
  user_.click(70, 80, 1);
  ASSERT_TRUE(later.waitFor(1));
  EXPECT_EQ(calls_.count(), 2) << "the middle button, the wheel, or a press after removal";
}

// The recorder can die on the monitor's thread when the handler held its last reference.
TEST_F(X11ClickMonitorTest, HandlerMayRemoveItsOwnMonitor) {
  std::unique_ptr<ClickMonitorToken> token;
  std::mutex tokenMutex;
  std::unique_lock lock(tokenMutex);
  token = monitor_.install([&] {
    std::lock_guard handlerLock(tokenMutex);
    token.reset();
    calls_.add(true);
  });
  ASSERT_TRUE(token);
  lock.unlock();
  user_.click(1, 1, 1);
  ASSERT_TRUE(calls_.waitFor(1));
  lock.lock();
  EXPECT_FALSE(token);
}

TEST(X11ClickMonitor, ADisplayThatCannotDeliverPressesGivesNoMonitor) {
  EXPECT_EQ(X11ClickMonitor(":4097").install([] {}), nullptr) << "no server at all";
  // XInput 2 events are generic events; this server cannot send any.
  testing::XvfbServer server(64, 64, {"-extension", "Generic Event Extension"});
  EXPECT_EQ(X11ClickMonitor(server.display()).install([] {}), nullptr);
}

}  // namespace
}  // namespace kestrova::x11
