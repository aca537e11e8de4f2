// The capture source against a real X server: what it delivers, when, and what the pixels hold.
#include "X11CaptureSource.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "X11Displays.h"
#include "X11Grabber.h"
#include "platform/x11/X11Scene.h"
#include "support/Inbox.h"
#include "support/XvfbServer.h"

namespace kestrova::x11 {
namespace {

using namespace std::chrono_literals;
using testing::otherPatternAt;
using testing::patternAt;
using testing::solid;
using testing::X11Scene;

// What a capture source hands out, held as the recorder's sample queue would hold it.
struct Collector {
  CaptureSource::SampleSink sink() {
    return [this](std::shared_ptr<CapturedSample> sample) { samples.add(std::move(sample)); };
  }
  CaptureSource::FailureHandler failureHandler() {
    return [this](const PlatformError& e) { failures.add(e.what()); };
  }
  bool waitForReceived(int n) { return samples.waitFor(n); }
  int received() { return samples.count(); }
  // Every failure told, once the first came and a while passed for any other.
  std::vector<std::string> failuresTold() {
    failures.waitFor(1);
    std::this_thread::sleep_for(200ms);
    return failures.take();
  }
  // The newest sample held; the others are let go.
  std::shared_ptr<CapturedSample> latest() {
    auto all = samples.take();
    return all.empty() ? nullptr : all.back();
  }

  testing::Inbox<std::shared_ptr<CapturedSample>> samples;
  testing::Inbox<std::string> failures;
};

// The first place where the region (x, y, w, h) of `view` differs from `expected`, or "".
std::string firstMismatch(const BgraView& view, int x, int y, int w, int h,
                          const std::function<std::uint32_t(int, int)>& expected) {
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      const std::uint8_t* p = view.data + static_cast<std::ptrdiff_t>(j) * view.stride + i * 4;
      const std::uint32_t got = static_cast<std::uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
      if (got != expected(x + i, y + j)) {
        char text[96];
        std::snprintf(text, sizeof text, "at (%d, %d): got %06x, expected %06x", x + i, y + j, got,
                      expected(x + i, y + j));
        return text;
      }
    }
  }
  return "";
}

// A 1024×768 server showing the pattern with an invisible pointer, and a capture source on it.
class X11CaptureSourceTest : public ::testing::Test {
 protected:
  X11CaptureSourceTest() {
    signal(SIGPIPE, SIG_IGN);  // the test's own connections to a server it kills
    scene_.setRootBackground(patternAt);
    scene_.hideCursor();
  }

  // On the display given, or else the one there is.
  void start(int fps = 60, DisplayInfo on = {}) {
    if (!on.id) {
      const auto displays = X11DisplayList(server_.display()).displays();
      EXPECT_EQ(displays.size(), 1u);
      on = displays.at(0);
    }
    CaptureConfig config;
    config.display = on;
    config.fps = fps;
    source_.start(config, collector_.sink(), collector_.failureHandler());
  }
  // The whole screen of the next frame, after the pointer moved to (x, 700).
  std::pair<std::shared_ptr<CapturedSample>, std::optional<BgraView>> nextFrame(int x) {
    const int before = collector_.received();
    scene_.movePointer(x, 700);
    EXPECT_TRUE(collector_.waitForReceived(before + 1));
    auto sample = collector_.latest();
    return {sample, sample->imageBuffer()->pixels(0, 0, 1024, 768)};
  }

  testing::XvfbServer server_{1024, 768};
  X11Scene scene_{server_.display()};
  Collector collector_;
  X11CaptureSource source_{server_.display()};
};

TEST_F(X11CaptureSourceTest, RegionsReadBackThePatternOnTheScreen) {
  start();
  ASSERT_TRUE(collector_.waitForReceived(1));
  auto sample = collector_.latest();
  source_.stop();  // a frame still queued when capture stops gets its pixels all the same
  CapturedImage* image = sample->imageBuffer();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->width(), 1024);
  EXPECT_EQ(image->height(), 768);
  EXPECT_EQ(sample->outputType(), SampleOutputType::screen);
  EXPECT_EQ(std::get<std::int64_t>(*sample->statusAttachment()), 0);

  const struct {
    int x, y, w, h;
  } regions[] = {{0, 0, 1024, 768}, {333, 257, 300, 201}, {974, 718, 50, 50}, {1023, 0, 1, 768}};
  for (const auto& r : regions) {
    SCOPED_TRACE(::testing::Message() << r.x << "," << r.y << " " << r.w << "x" << r.h);
    const auto view = image->pixels(r.x, r.y, r.w, r.h);
    ASSERT_TRUE(view);
    EXPECT_EQ(firstMismatch(*view, r.x, r.y, r.w, r.h, patternAt), "");
  }
  EXPECT_FALSE(image->pixels(1000, 0, 100, 10)) << "a region past the edge";
}

TEST_F(X11CaptureSourceTest, DeliversOnChangePointerMotionAndRequestButNothingWhileStill) {
  const xcb_window_t changer = scene_.window({900, 10, 40, 40}, 0, nullptr);
  start();
  ASSERT_TRUE(collector_.waitForReceived(1));  // the screen as it was
  EXPECT_FALSE(collector_.latest()->imageUnchanged());
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(collector_.received(), 1) << "a still screen delivers nothing";

  source_.requestFrame();
  source_.requestFrame();
  EXPECT_TRUE(collector_.waitForReceived(2)) << "a frame asked for comes on a still screen";
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(collector_.received(), 2) << "requests before a frame make one";
  EXPECT_TRUE(collector_.latest()->imageUnchanged());

  scene_.fill(changer, {0, 0, 40, 40}, 0x00ff00);
  EXPECT_TRUE(collector_.waitForReceived(3)) << "a change delivers a frame";
  EXPECT_FALSE(collector_.latest()->imageUnchanged());
  std::this_thread::sleep_for(100ms);
  const int afterChange = collector_.received();
  scene_.movePointer(512, 384);
  scene_.movePointer(513, 390);
  EXPECT_TRUE(collector_.waitForReceived(afterChange + 1)) << "pointer motion delivers a frame";
}

// The pointer moves at about 100 Hz throughout.
TEST_F(X11CaptureSourceTest, FramesComeAtMostAtTheFrameRateAndAtMostSixAreInFlight) {
  start(10);
  const auto begin = std::chrono::steady_clock::now();
  for (int i = 0; i < 40; ++i) {  // every frame let go at once
    scene_.movePointer(100 + i, 100);
    std::this_thread::sleep_for(10ms);
    collector_.latest();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_LE(collector_.received(), static_cast<int>(seconds * 10) + 2);
  EXPECT_GE(collector_.received(), 2);

  // Nothing is let go for a second: after six the capture skips and counts.
  for (int i = 0; i < 100; ++i) {
    scene_.movePointer(200 + i, 300);
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(collector_.samples.held(), 6u);
  EXPECT_GT(source_.stats().skipped, 0u);
  EXPECT_EQ(source_.stats().delivered, static_cast<std::uint64_t>(collector_.received()));
  const int before = collector_.received();
  collector_.latest();
  scene_.movePointer(10, 10);
  EXPECT_TRUE(collector_.waitForReceived(before + 1)) << "delivery resumes once slots are free";
}

// The image is fetched again only when the pointer changes its shape, so a change during the
// capture must still show, with its own hot spot.
TEST_F(X11CaptureSourceTest, ThePointerIsDrawnAtItsHotSpotAndChangesShapeWhileCapturing) {
  const struct {
    int size, hotX, hotY, x, y;
  } shapes[] = {{8, 2, 3, 300, 200}, {5, 0, 4, 310, 190}, {12, 6, 6, 295, 205}};
  for (const auto& s : shapes) {
    SCOPED_TRACE(s.size);
    const int before = collector_.received();
    scene_.setRedCursor(s.size, s.hotX, s.hotY);
    scene_.movePointer(s.x, s.y);
    if (before == 0) start();
    ASSERT_TRUE(collector_.waitForReceived(before + 1));
    std::this_thread::sleep_for(50ms);  // the frame after both changes
    auto sample = collector_.latest();
    const auto view = sample->imageBuffer()->pixels(280, 180, 40, 40);
    ASSERT_TRUE(view);
    const int left = s.x - s.hotX, top = s.y - s.hotY;
    EXPECT_EQ(firstMismatch(*view, 280, 180, 40, 40,
                            [&](int x, int y) {
                              const bool cursor =
                                  x >= left && x < left + s.size && y >= top && y < top + s.size;
                              return cursor ? 0xff0000u : patternAt(x, y);
                            }),
              "");
  }
}

// The windows' stacking is learnt at start (the top half) and then kept from structure events (the
// bottom half): our windows are repaired away from what lies beneath them, others' stay.
TEST_F(X11CaptureSourceTest, OurOwnWindowsAreRepairedAwayAndOthersStayWhileTheyChange) {
  const auto pid = static_cast<std::uint32_t>(getpid());
  X11Scene other(server_.display());  // another X client: another program
  X11Scene ours(server_.display());   // a client of this program
  // Another program's window with its own picture, and ours over it.
  other.window({0, 0, 400, 300}, 4242, otherPatternAt);
  ours.window({100, 100, 200, 150}, pid, solid(0xff00ff));
  // Another program's window partly over ours stays.
  other.window({250, 200, 100, 80}, 4242, solid(0x00ff00));
  // A popup of our client without a PID, and our window inside a frame that a window manager
  // made, over the background.
  ours.window({20, 250, 60, 40}, 0, solid(0xff00ff), true);
  const xcb_window_t frame = other.window({600, 100, 120, 90}, 0, solid(0x0000ff));
  ours.window({605, 120, 110, 65}, pid, solid(0xff00ff), false, frame, 600, 100);
  // And one level further down, inside a wrapper window.
  const xcb_window_t frame2 = other.window({600, 300, 120, 90}, 0, solid(0x0000ff));
  const xcb_window_t wrapper =
      other.window({605, 305, 110, 80}, 0, solid(0x0000ff), false, frame2, 600, 300);
  ours.window({610, 310, 100, 70}, pid, solid(0xff00ff), false, wrapper, 605, 305);
  // Another program's PID-less window stays too.
  other.window({800, 500, 50, 50}, 0, solid(0xffff00));
  start();
  ASSERT_TRUE(collector_.waitForReceived(1));

  // Our window made, moved and raised during the capture, another one lowered.
  other.window({0, 450, 400, 300}, 4242, otherPatternAt);
  const xcb_window_t lowered = other.window({300, 600, 150, 100}, 4242, solid(0x00ff00));
  const xcb_window_t own = ours.window({500, 400, 200, 150}, pid, solid(0xff00ff));
  const std::uint32_t moveAndRaise[] = {250, 570, XCB_STACK_MODE_ABOVE};
  xcb_configure_window(ours.c(), own,
                       XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_STACK_MODE,
                       moveAndRaise);
  ours.sync();
  const std::uint32_t lower[] = {XCB_STACK_MODE_BELOW};
  xcb_configure_window(other.c(), lowered, XCB_CONFIG_WINDOW_STACK_MODE, lower);
  other.sync();
  // A window manager's frame, seen empty in one frame, then given our window (seen at the root in
  // another) as its client.
  const xcb_window_t frame3 = other.window({600, 400, 120, 90}, 0, solid(0x0000ff));
  ASSERT_TRUE(nextFrame(10).second);
  const xcb_window_t framed = ours.window({900, 600, 110, 65}, pid, solid(0xff00ff));
  ASSERT_TRUE(nextFrame(15).second);
  xcb_reparent_window(ours.c(), framed, frame3, 5, 20);
  ours.sync();

  const auto [sample, view] = nextFrame(20);
  ASSERT_TRUE(view);
  EXPECT_EQ(firstMismatch(*view, 0, 0, 1024, 768,
                          [](int x, int y) -> std::uint32_t {
                            if (x >= 250 && x < 350 && y >= 200 && y < 280) return 0x00ff00;
                            if (x >= 800 && x < 850 && y >= 500 && y < 550) return 0xffff00;
                            // The frames' own parts around our windows go with them.
                            if (x < 400 && (y < 300 || (y >= 450 && y < 750)))
                              return otherPatternAt(x, y);
                            if (x < 450 && y >= 600 && y < 700) return 0x00ff00;
                            return patternAt(x, y);
                          }),
            "");
}

TEST_F(X11CaptureSourceTest, GrabsThatKeepFailingAreToldOnce) {
  int told = 0;
  // A monitor beyond the root: every grab is refused.
  X11Grabber grabber(server_.display(), {4000, 0, 100, 100}, 2, [&] { ++told; });
  ShmSegment* segment = nullptr;
  for (int i = 0; i < X11Grabber::kMaxFailuresInARow * 2; ++i) {
    EXPECT_FALSE(grabber.fetch(segment, 0, 0, 10, 10));
    EXPECT_EQ(told, i + 1 >= X11Grabber::kMaxFailuresInARow ? 1 : 0);
  }
  grabber.release(segment);
}

TEST_F(X11CaptureSourceTest, AServerThatDiesEndsTheCaptureWithOneFailure) {
  start();
  ASSERT_TRUE(collector_.waitForReceived(1));
  auto held = collector_.latest();  // a sample that outlives its server
  server_.kill();
  EXPECT_EQ(collector_.failuresTold(),
            std::vector<std::string>{"The connection to the X server was lost."});
  source_.stop();
  EXPECT_FALSE(held->imageBuffer()->pixels(0, 0, 10, 10));
}

// Two monitors made on one screen the way `xrandr --setmonitor` makes them: one on the output, one
// on none. The second is listed, delivers only what changes on it, fails once when it goes, and
// refuses a start once it has moved.
TEST_F(X11CaptureSourceTest, AMonitorOfTwoIsListedCapturedAloneAndItsLossFailsOnce) {
  XcbReply<xcb_randr_get_screen_resources_current_reply_t> resources(
      xcb_randr_get_screen_resources_current_reply(
          scene_.c(), xcb_randr_get_screen_resources_current(scene_.c(), scene_.root()), nullptr));
  ASSERT_TRUE(resources && resources->num_outputs >= 1);
  const xcb_randr_output_t output =
      xcb_randr_get_screen_resources_current_outputs(resources.get())[0];
  const xcb_atom_t left = scene_.intern("LEFT"), right = scene_.intern("RIGHT");
  ASSERT_TRUE(scene_.setMonitor(left, {0, 0, 512, 768}, output));
  ASSERT_TRUE(scene_.setMonitor(right, {512, 0, 512, 384}, XCB_NONE));
  auto displays = X11DisplayList(server_.display()).displays();
  std::sort(displays.begin(), displays.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  const std::vector<DisplayInfo> expected = {
      {output, "LEFT", Rect{{0, 0}, {512, 768}}, 1},
      // No output: named by its atom, flagged; y up from the bottom of the 768-high root.
      {0x80000000u | right, "RIGHT", Rect{{512, 384}, {512, 384}}, 1},
  };
  ASSERT_EQ(displays, expected);

  const xcb_window_t onLeft = scene_.window({10, 10, 50, 50}, 0, nullptr);
  const xcb_window_t onRight = scene_.window({700, 10, 50, 50}, 0, nullptr);
  start(60, displays[1]);
  ASSERT_TRUE(collector_.waitForReceived(1));
  EXPECT_EQ(collector_.latest()->imageBuffer()->width(), 512);
  scene_.fill(onLeft, {0, 0, 50, 50}, 0xff0000);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(collector_.received(), 1) << "damage on the other monitor";
  scene_.fill(onRight, {0, 0, 50, 50}, 0xff0000);
  EXPECT_TRUE(collector_.waitForReceived(2)) << "damage on ours";

  xcb_randr_delete_monitor(scene_.c(), scene_.root(), right);
  scene_.sync();
  EXPECT_EQ(collector_.failuresTold(),
            std::vector<std::string>{"The recorded display was disconnected."});
  source_.stop();

  ASSERT_TRUE(scene_.setMonitor(right, {512, 100, 512, 384}, XCB_NONE));
  X11CaptureSource again(server_.display());
  CaptureConfig config;
  config.display = displays[1];
  try {
    again.start(config, collector_.sink(), collector_.failureHandler());
    FAIL() << "started on a display that is no longer where it was";
  } catch (const PlatformError& e) {
    EXPECT_STREQ(e.what(), "The recorded display changed its size or position.");
  }
}

}  // namespace
}  // namespace kestrova::x11
