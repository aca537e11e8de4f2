// The X11 hot keys through Qt on a real X server (the test main's), typed with XTEST.
#include "X11HotKeys.h"

#include <gtest/gtest.h>
#include <QtTest/QTest>

#include "Xcb.h"
#include "platform/x11/X11Scene.h"

namespace kestrova {
namespace {

constexpr std::uint32_t kControlL = 0xffe3, kAltL = 0xffe9, kNumLock = 0xff7f, kCapsLock = 0xffe5,
                        kR = 0x72;

// Another client of Qt's X server, which types on it with XTEST as a user would.
class X11HotKeysTest : public ::testing::Test {
 protected:
  testing::X11Scene user_{qEnvironmentVariable("DISPLAY").toStdString()};
};

TEST_F(X11HotKeysTest, RunOnceAPressWithTheLocksOnOrOffAndOnlyForTheirOwnModifiers) {
  x11::X11HotKeys keys;
  int runs = 0;
  keys.registerKey(HotKeys::kStartStopId, HotKeys::kStartStopKey, [&] { ++runs; });
  // A plain R or Ctrl+R is not ours; Ctrl+Alt+R is, with Num Lock or Caps Lock on too.
  user_.type({kR});
  user_.type({kControlL, kR});
  user_.type({kControlL, kAltL, kR});
  for (const std::uint32_t lock : {kNumLock, kCapsLock}) {
    user_.type({lock});  // on
    x11::XcbReply<xcb_query_pointer_reply_t> state(
        xcb_query_pointer_reply(user_.c(), xcb_query_pointer(user_.c(), user_.root()), nullptr));
    ASSERT_TRUE(state && (state->mask & (XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2)));
    user_.type({kControlL, kAltL, kR});
    user_.type({lock});  // off again
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return runs == 3; }, 5000));

  // Held down, the key repeats as presses without releases (Qt asks the server for that); the
  // action runs once. XTEST cannot repeat a key, so these events are handed over as Qt would.
  const auto deliver = [&](std::uint8_t kind) {
    xcb_key_press_event_t event{};
    event.response_type = kind;
    event.detail = user_.keycode(kR);
    event.state = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_2;
    return keys.nativeEventFilter("xcb_generic_event_t", &event, nullptr);
  };
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(deliver(XCB_KEY_PRESS));
  EXPECT_TRUE(deliver(XCB_KEY_RELEASE));
  EXPECT_FALSE(deliver(XCB_KEY_RELEASE)) << "a release of nothing held is not ours";
  ASSERT_TRUE(QTest::qWaitFor([&] { return runs >= 4; }, 5000));
  EXPECT_EQ(runs, 4) << "each repeat ran the action";
}

}  // namespace
}  // namespace kestrova
