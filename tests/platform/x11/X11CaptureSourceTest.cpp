// The capture source against a real X server: what it delivers, when, and what the pixels hold.
#include "X11CaptureSource.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "X11Displays.h"
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

// The first place where the region (x, y, w, h) of `view` differs from `expected`, or "".
std::string firstMismatch(const BgraView& view, int x, int y, int w, int h,
                          const X11Scene::Painter& expected) {
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      const std::uint8_t* p = view.data + static_cast<std::ptrdiff_t>(j) * view.stride + i * 4;
      const std::uint32_t got = static_cast<std::uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
      if (got != expected(x + i, y + j)) {
        return (::testing::Message() << "at (" << x + i << ", " << y + j << "): got " << std::hex
                                     << got << ", expected " << expected(x + i, y + j))
            .GetString();
      }
    }
  }
  return "";
}

// A 1024×768 server showing the pattern with an invisible pointer, and a capture source on it
// whose samples are held as the recorder's sample queue would hold them.
class X11CaptureSourceTest : public ::testing::Test {
 protected:
  X11CaptureSourceTest() {
    scene_.setRootBackground(patternAt);
    scene_.hideCursor();
  }

  // On the display given, or else the first one there is.
  void start(int fps = 60, DisplayInfo on = {}) {
    CaptureConfig config;
    config.display = on.id ? on : X11DisplayList(server_.display()).displays().at(0);
    config.fps = fps;
    source_.start(
        config, [this](std::shared_ptr<CapturedSample> s) { samples_.add(std::move(s)); },
        [this](const PlatformError& e) { failures_.add(e.what()); });
  }
  // The newest sample held; the others are let go.
  std::shared_ptr<CapturedSample> latest() {
    auto all = samples_.take();
    return all.empty() ? nullptr : all.back();
  }

  testing::XvfbServer server_{1024, 768};
  X11Scene scene_{server_.display()};
  testing::Inbox<std::shared_ptr<CapturedSample>> samples_;
  testing::Inbox<std::string> failures_;
  X11CaptureSource source_{server_.display()};
};

TEST_F(X11CaptureSourceTest, DeliversOnChangeMotionAndRequestOnlyAndReadsBackTheScreen) {
  const xcb_window_t changer = scene_.window({900, 10, 40, 40}, 0, patternAt);
  start();
  ASSERT_TRUE(samples_.waitFor(1));  // the screen as it was
  const auto first = latest();
  EXPECT_FALSE(first->imageUnchanged());
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(samples_.count(), 1) << "a still screen delivers nothing";

  source_.requestFrame();
  EXPECT_TRUE(samples_.waitFor(2)) << "a frame asked for comes on a still screen";
  EXPECT_TRUE(latest()->imageUnchanged());

  scene_.fill(changer, {0, 0, 40, 40}, 0x00ff00);
  EXPECT_TRUE(samples_.waitFor(3)) << "a change delivers a frame";
  EXPECT_FALSE(latest()->imageUnchanged());
  std::this_thread::sleep_for(100ms);
  const int afterChange = samples_.count();
  scene_.movePointer(600, 300);
  EXPECT_TRUE(samples_.waitFor(afterChange + 1)) << "pointer motion delivers a frame";

  source_.stop();  // a frame still held when capture stops gets its pixels all the same
  CapturedImage* image = first->imageBuffer();
  EXPECT_EQ(image->width(), 1024);
  // Below the window that changed since; other parts are read in the other cases.
  const auto view = image->pixels(0, 100, 1024, 668);
  ASSERT_TRUE(view);
  EXPECT_EQ(firstMismatch(*view, 0, 100, 1024, 668, patternAt), "");
  EXPECT_FALSE(image->pixels(1000, 0, 100, 10)) << "a region past the edge";
}

// Nothing is let go: after six the capture skips and counts, and goes on once a slot is free.
TEST_F(X11CaptureSourceTest, AtMostSixFramesAreInFlightAndTheRestAreSkipped) {
  start();
  for (int i = 0; i < 100; ++i) {
    scene_.movePointer(200 + i, 300);
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(samples_.count(), 6);
  EXPECT_GT(source_.stats().skipped, 0u);
  EXPECT_EQ(source_.stats().delivered, 6u);
  samples_.take();
  scene_.movePointer(10, 10);
  EXPECT_TRUE(samples_.waitFor(7)) << "delivery resumes once slots are free";
}

// The image is fetched again only when the pointer changes its shape, so a change during the
// capture must still show, with its own hot spot.
TEST_F(X11CaptureSourceTest, ThePointerIsDrawnAtItsHotSpotAndChangesShapeWhileCapturing) {
  const struct {
    int size, hotX, hotY, x, y;
  } shapes[] = {{8, 2, 3, 300, 200}, {12, 6, 6, 295, 205}};
  for (const auto& s : shapes) {
    SCOPED_TRACE(s.size);
    const int before = samples_.count();
    scene_.setRedCursor(s.size, s.hotX, s.hotY);
    scene_.movePointer(s.x, s.y);
    if (before == 0) start();
    ASSERT_TRUE(samples_.waitFor(before + 1));
    std::this_thread::sleep_for(50ms);  // the frame after both changes
    const auto sample = latest();
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

// The windows' stacking is learnt at start and then kept from structure events: our windows are
// repaired away from what lies beneath them, others' stay.
TEST_F(X11CaptureSourceTest, OurOwnWindowsAreRepairedAwayAndOthersStay) {
  const auto pid = static_cast<std::uint32_t>(getpid());
  X11Scene other(server_.display());  // another X client: another program
  X11Scene ours(server_.display());   // a client of this program
  // Another program's window with its own picture, ours over it, and another's over ours.
  other.window({0, 0, 400, 300}, 4242, otherPatternAt);
  ours.window({100, 100, 200, 150}, pid, solid(0xff00ff));
  other.window({250, 200, 100, 80}, 4242, solid(0x00ff00));
  // A popup of our client without a PID, and another program's PID-less window.
  ours.window({20, 250, 60, 40}, 0, solid(0xff00ff), true);
  other.window({800, 500, 50, 50}, 0, solid(0xffff00));
  // Our window two levels down in a window manager's frame (frame, wrapper, client).
  const xcb_window_t frame = other.window({600, 300, 120, 90}, 0, solid(0x0000ff));
  const xcb_window_t wrapper =
      other.window({605, 305, 110, 80}, 0, solid(0x0000ff), false, frame, 600, 300);
  ours.window({610, 310, 100, 70}, pid, solid(0xff00ff), false, wrapper, 605, 305);
  start();
  ASSERT_TRUE(samples_.waitFor(1));

  const auto nextFrame = [&](int x) {
    const int before = samples_.count();
    scene_.movePointer(x, 700);
    EXPECT_TRUE(samples_.waitFor(before + 1));
    auto sample = latest();
    EXPECT_TRUE(sample->imageBuffer()->pixels(0, 0, 1024, 768));
    return sample;
  };
  // During the capture, an empty frame and our window at the root, seen in one frame; then the
  // frame takes our window as its client, as a window manager does.
  const xcb_window_t laterFrame = other.window({600, 400, 120, 90}, 0, solid(0x0000ff));
  const xcb_window_t framed = ours.window({900, 600, 110, 65}, pid, solid(0xff00ff));
  nextFrame(10);
  xcb_reparent_window(ours.c(), framed, laterFrame, 5, 20);
  ours.sync();

  const auto sample = nextFrame(20);
  const auto view = sample->imageBuffer()->pixels(0, 0, 1024, 768);
  ASSERT_TRUE(view);
  EXPECT_EQ(firstMismatch(*view, 0, 0, 1024, 768,
                          [](int x, int y) -> std::uint32_t {
                            if (x >= 250 && x < 350 && y >= 200 && y < 280) return 0x00ff00;
                            if (x >= 800 && x < 850 && y >= 500 && y < 550) return 0xffff00;
                            // The frames' own parts around our windows go with them.
                            if (x < 400 && y < 300) return otherPatternAt(x, y);
                            return patternAt(x, y);
                          }),
            "");
}

// A monitor made on no output, the way `xrandr --setmonitor` makes it, beside the output's own: it
// is listed, and its loss while captured fails the capture once.
TEST_F(X11CaptureSourceTest, AMonitorOfTwoIsListedAndItsLossFailsOnce) {
  const xcb_atom_t right = scene_.intern("RIGHT");
  ASSERT_TRUE(scene_.setMonitor(right, {512, 0, 512, 384}, XCB_NONE));
  const auto displays = X11DisplayList(server_.display()).displays();
  const auto it = std::find_if(displays.begin(), displays.end(),
                               [](const DisplayInfo& d) { return d.name == "RIGHT"; });
  ASSERT_NE(it, displays.end());
  // Named by its atom, flagged; y up from the bottom of the 768-high root.
  EXPECT_EQ(*it, (DisplayInfo{0x80000000u | right, "RIGHT", Rect{{512, 384}, {512, 384}}, 1}));

  start(60, *it);
  ASSERT_TRUE(samples_.waitFor(1));
  xcb_randr_delete_monitor(scene_.c(), scene_.root(), right);
  scene_.sync();
  ASSERT_TRUE(failures_.waitFor(1));
  std::this_thread::sleep_for(200ms);  // for any other
  EXPECT_EQ(failures_.take(), std::vector<std::string>{"The recorded display was disconnected."});
}

}  // namespace
}  // namespace kestrova::x11
