// The X11 hot keys through Qt on a real X server (the test main's), typed with XTEST.
#include "X11HotKeys.h"

#include <gtest/gtest.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>
#include <QtTest/QTest>

#include <memory>

#include "Xcb.h"

namespace kestrova {
namespace {

constexpr std::uint32_t kControlL = 0xffe3, kAltL = 0xffe9, kNumLock = 0xff7f, kCapsLock = 0xffe5,
                        kR = 0x72;

// Another client of Qt's X server, which types on it with XTEST as a user would.
class X11HotKeysTest : public ::testing::Test {
 protected:
  std::uint8_t keycode(std::uint32_t keysym) const {
    const x11::XcbReply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols_.get(), keysym));
    return codes ? codes.get()[0] : 0;
  }
  // Presses the keys in order and releases them in reverse, as fingers do.
  void type(std::initializer_list<std::uint32_t> keysyms) const {
    xcb_connection_t* c = typist_.get();
    for (std::uint32_t k : keysyms)
      xcb_test_fake_input(c, XCB_KEY_PRESS, keycode(k), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    for (auto it = std::rbegin(keysyms); it != std::rend(keysyms); ++it)
      xcb_test_fake_input(c, XCB_KEY_RELEASE, keycode(*it), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // all sent
  }

  x11::XcbConnection typist_;
  std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols_{
      xcb_key_symbols_alloc(typist_.get()), xcb_key_symbols_free};
};

TEST_F(X11HotKeysTest, RunOnceAPressWithTheLocksOnOrOffAndOnlyForTheirOwnModifiers) {
  x11::X11HotKeys keys;
  int runs = 0;
  keys.registerKey(HotKeys::kStartStopId, HotKeys::kStartStopKey, [&] { ++runs; });
  // A plain R or Ctrl+R is not ours; Ctrl+Alt+R is, with Num Lock or Caps Lock on too.
  type({kR});
  type({kControlL, kR});
  type({kControlL, kAltL, kR});
  for (const std::uint32_t lock : {kNumLock, kCapsLock}) {
    type({lock});  // on
    x11::XcbReply<xcb_query_pointer_reply_t> state(xcb_query_pointer_reply(
        typist_.get(), xcb_query_pointer(typist_.get(), typist_.root()), nullptr));
    ASSERT_TRUE(state && (state->mask & (XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2)));
    type({kControlL, kAltL, kR});
    type({lock});  // off again
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return runs == 3; }, 5000));

  // Held down, the key repeats as presses without releases (Qt asks the server for that); the
  // action runs once. XTEST cannot repeat a key, so these events are handed over as Qt would.
  const auto deliver = [&](std::uint8_t kind) {
    xcb_key_press_event_t event{};
    event.response_type = kind;
    event.detail = keycode(kR);
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
