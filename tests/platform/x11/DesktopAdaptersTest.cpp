// The desktop adapters that work through Qt on a real X server: hot keys and the permission.
#include "X11HotKeys.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>
#include <QGuiApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest/QTest>

#include <memory>

#include "LinuxDesktopServices.h"
#include "Prefs.h"
#include "Xcb.h"
#include "support/XvfbServer.h"

namespace kestrova {
namespace {

constexpr std::uint32_t kControlL = 0xffe3, kAltL = 0xffe9, kNumLock = 0xff7f, kCapsLock = 0xffe5,
                        kR = 0x72, kP = 0x70;
constexpr std::uint16_t kCtrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

// Qt on a private X server, and a second client that types on it with XTEST.
class OnXvfb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    xvfb_ = new testing::XvfbServer(1024, 768);
    xvfb_->exportDisplay();
    qputenv("QT_QPA_PLATFORM", "xcb");
    static int argc = 1;
    static char name[] = "control_x11_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QGuiApplication(argc, argv);
    typist_ = new x11::XcbConnection(xvfb_->display().c_str());
  }
  static void TearDownTestSuite() {
    delete typist_;
    delete app_;
    delete xvfb_;
  }

  static std::uint8_t keycode(std::uint32_t keysym) {
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(typist_->get());
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
    const std::uint8_t code = codes ? codes[0] : 0;
    free(codes);
    xcb_key_symbols_free(symbols);
    return code;
  }

  // Presses the keys in order and releases them in reverse, as fingers do.
  static void type(std::initializer_list<std::uint32_t> keysyms) {
    xcb_connection_t* c = typist_->get();
    for (std::uint32_t k : keysyms)
      xcb_test_fake_input(c, XCB_KEY_PRESS, keycode(k), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    for (auto it = std::rbegin(keysyms); it != std::rend(keysyms); ++it)
      xcb_test_fake_input(c, XCB_KEY_RELEASE, keycode(*it), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // all sent
  }

  static std::uint16_t modifierState() {
    xcb_connection_t* c = typist_->get();
    x11::XcbReply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, typist_->root()), nullptr));
    return reply ? reply->mask : 0;
  }

  static inline testing::XvfbServer* xvfb_ = nullptr;
  static inline QGuiApplication* app_ = nullptr;
  static inline x11::XcbConnection* typist_ = nullptr;
};

// Another program holds Ctrl+Alt+P at first: that key is silently unavailable until it is let go
// and asked for again.
TEST_F(OnXvfb, HotKeysRunOnTheMainThreadWithTheLocksOnOrOffAndYieldToAnotherProgram) {
  xcb_connection_t* other = typist_->get();
  const std::uint8_t p = keycode(kP);
  ASSERT_EQ(
      xcb_request_check(other, xcb_grab_key_checked(other, 1, typist_->root(), kCtrlAlt, p,
                                                    XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)),
      nullptr);
  x11::X11HotKeys keys;
  int runs = 0;
  int pauses = 0;
  bool onMainThread = true;
  keys.registerKey(HotKeys::kStartStopId, HotKeys::kStartStopKey, [&] {
    ++runs;
    onMainThread = onMainThread && QThread::currentThread() == app_->thread();
  });
  keys.registerKey(HotKeys::kPauseId, HotKeys::kPauseKey, [&] { ++pauses; });

  type({kControlL, kAltL, kR});
  ASSERT_TRUE(QTest::qWaitFor([&] { return runs == 1; }, 5000));

  // A plain R, Ctrl+R, or the key another program holds is not ours; the next Ctrl+Alt+R shows
  // they were seen and passed.
  type({kR});
  type({kControlL, kR});
  type({kControlL, kAltL, kP});
  type({kControlL, kAltL, kR});
  ASSERT_TRUE(QTest::qWaitFor([&] { return runs == 2; }, 5000));
  EXPECT_EQ(pauses, 0);

  struct Lock {
    const char* name;
    std::uint32_t keysym;
  };
  for (const Lock lock : {Lock{"Num Lock", kNumLock}, Lock{"Caps Lock", kCapsLock}}) {
    SCOPED_TRACE(lock.name);
    const int before = runs;
    type({lock.keysym});  // on
    ASSERT_NE(modifierState() & (XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2), 0);
    type({kControlL, kAltL, kR});
    EXPECT_TRUE(QTest::qWaitFor([&] { return runs == before + 1; }, 5000));
    type({lock.keysym});  // off again
  }
  EXPECT_EQ(modifierState() & (XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2), 0);

  // Held down, the key repeats as presses without releases (Qt asks the server for that); the
  // action runs once. XTEST cannot repeat a key, so these events are handed over as Qt would.
  const auto deliver = [&](std::uint8_t type) {
    xcb_key_press_event_t event{};
    event.response_type = type;
    event.detail = keycode(kR);
    event.state = kCtrlAlt | XCB_MOD_MASK_2;
    return keys.nativeEventFilter("xcb_generic_event_t", &event, nullptr);
  };
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(deliver(XCB_KEY_PRESS));
  EXPECT_TRUE(deliver(XCB_KEY_RELEASE));
  EXPECT_FALSE(deliver(XCB_KEY_RELEASE)) << "a release of nothing held is not ours";

  xcb_ungrab_key(other, p, typist_->root(), kCtrlAlt);
  xcb_flush(other);
  keys.registerKey(HotKeys::kPauseId, HotKeys::kPauseKey, [&] { ++pauses; });
  type({kControlL, kAltL, kP});
  ASSERT_TRUE(QTest::qWaitFor([&] { return pauses == 1; }, 5000));
  EXPECT_EQ(runs, 5);
  EXPECT_TRUE(onMainThread);
}

TEST_F(OnXvfb, AnX11DisplayWithSharedMemoryMayBeCapturedAndAWaylandSessionNeedsAChosenScreen) {
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  qunsetenv("WAYLAND_DISPLAY");
  qputenv("XDG_SESSION_TYPE", "x11");
  LinuxDesktopServices x11;
  EXPECT_EQ(x11.captureGrant(), DesktopServices::CaptureGrant::display);
  EXPECT_TRUE(x11.preflightScreenCapture());
  EXPECT_TRUE(x11.requestScreenCapture().granted);

  qputenv("XDG_SESSION_TYPE", "wayland");
  LinuxDesktopServices wayland;
  EXPECT_EQ(wayland.captureGrant(), DesktopServices::CaptureGrant::portal);
  EXPECT_FALSE(wayland.preflightScreenCapture());
  Prefs::set(Prefs::kRestoreToken, QStringLiteral("5d0c8a8e-3b1f-4f43-9a51-2f7c3c0e9b1d"));
  EXPECT_TRUE(wayland.preflightScreenCapture());
  wayland.forgetScreenCapture();
  EXPECT_FALSE(wayland.preflightScreenCapture());
  EXPECT_TRUE(x11.preflightScreenCapture()) << "the session was decided at launch";
  qunsetenv("XDG_SESSION_TYPE");
}

}  // namespace
}  // namespace kestrova
