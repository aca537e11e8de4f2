// The capture source against a real X server: what it delivers, when, and what the pixels hold.
#include "X11CaptureSource.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcbext.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "FramePipeline.h"
#include "SerialQueue.h"
#include "X11Desktop.h"
#include "X11Displays.h"
#include "X11Grabber.h"
#include "engine/fakes/FakeWriterInput.h"
#include "platform/x11/X11Scene.h"
#include "support/XvfbServer.h"

namespace kestrova::x11 {
namespace {

using namespace std::chrono_literals;
using testing::otherPatternAt;
using testing::patternAt;
using testing::X11Scene;
using testing::XvfbServer;

// Collects what a capture source hands out, as the recorder's sample queue would.
class Collector {
 public:
  CaptureSource::SampleSink sink() {
    return [this](std::shared_ptr<CapturedSample> sample) {
      std::lock_guard lock(mutex_);
      samples_.push_back(std::move(sample));
      ++received_;
      changed_.notify_all();
    };
  }
  CaptureSource::FailureHandler failureHandler() {
    return [this](const PlatformError& e) {
      std::lock_guard lock(mutex_);
      failures_.push_back(e.what());
      changed_.notify_all();
    };
  }

  // Waits until `n` samples arrived in all; false on timeout.
  bool waitForReceived(int n, std::chrono::milliseconds timeout = 3s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return received_ >= n; });
  }
  bool waitForFailure(std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return !failures_.empty(); });
  }
  int received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::vector<std::string> failures() {
    std::lock_guard lock(mutex_);
    return failures_;
  }
  // The newest sample held; the others are let go.
  std::shared_ptr<CapturedSample> latest() {
    std::lock_guard lock(mutex_);
    auto s = samples_.empty() ? nullptr : samples_.back();
    samples_.clear();
    return s;
  }
  void releaseAll() {
    std::lock_guard lock(mutex_);
    samples_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::shared_ptr<CapturedSample>> samples_;
  int received_ = 0;
  std::vector<std::string> failures_;
};

DisplayInfo onlyDisplay(const std::string& display) {
  auto displays = X11DisplayList(display).displays();
  EXPECT_EQ(displays.size(), 1u);
  return displays.at(0);
}

std::uint32_t rgbAt(const BgraView& view, int x, int y) {
  const std::uint8_t* p = view.data + static_cast<std::ptrdiff_t>(y) * view.stride + x * 4;
  return static_cast<std::uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
}

// The first place where the region (x, y, w, h) of `view` differs from `expected`, or "".
std::string firstMismatch(const BgraView& view, int x, int y, int w, int h,
                          const std::function<std::uint32_t(int, int)>& expected) {
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      const std::uint32_t got = rgbAt(view, i, j);
      const std::uint32_t want = expected(x + i, y + j);
      if (got != want) {
        char text[96];
        std::snprintf(text, sizeof text, "at (%d, %d): got %06x, expected %06x", x + i, y + j, got,
                      want);
        return text;
      }
    }
  }
  return "";
}

// One server for the tests that leave it as they found it.
class X11CaptureSourceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    signal(SIGPIPE, SIG_IGN);  // the test's own connections to servers it kills
    server_ = new XvfbServer(1024, 768);
    scene_ = new X11Scene(server_->display());
    scene_->setRootBackground(patternAt);
    scene_->hideCursor();
  }
  static void TearDownTestSuite() {
    delete scene_;
    delete server_;
  }

  void start(int fps = 60) {
    CaptureConfig config;
    config.display = onlyDisplay(server_->display());
    config.fps = fps;
    source_.start(config, collector_.sink(), collector_.failureHandler());
  }

  static XvfbServer* server_;
  static X11Scene* scene_;
  Collector collector_;
  X11CaptureSource source_{server_->display()};
};
XvfbServer* X11CaptureSourceTest::server_ = nullptr;
X11Scene* X11CaptureSourceTest::scene_ = nullptr;

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
  } regions[] = {{0, 0, 1024, 768},
                 {0, 0, 64, 48},
                 {333, 257, 300, 201},
                 {974, 718, 50, 50},
                 {1023, 0, 1, 768}};
  for (const auto& r : regions) {
    SCOPED_TRACE(::testing::Message() << r.x << "," << r.y << " " << r.w << "x" << r.h);
    const auto view = image->pixels(r.x, r.y, r.w, r.h);
    ASSERT_TRUE(view);
    EXPECT_EQ(firstMismatch(*view, r.x, r.y, r.w, r.h, patternAt), "");
  }
  EXPECT_FALSE(image->pixels(1000, 0, 100, 10)) << "a region past the edge";
}

TEST_F(X11CaptureSourceTest, DeliversOnChangePointerMotionAndRequestButNothingWhileStill) {
  const xcb_window_t changer = scene_->window({900, 10, 40, 40}, 0, nullptr);
  start(60);
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

  scene_->fill(changer, {0, 0, 40, 40}, 0x00ff00);
  EXPECT_TRUE(collector_.waitForReceived(3)) << "a change delivers a frame";
  EXPECT_FALSE(collector_.latest()->imageUnchanged());
  std::this_thread::sleep_for(100ms);
  const int afterChange = collector_.received();

  scene_->movePointer(512, 384);
  scene_->movePointer(513, 390);
  EXPECT_TRUE(collector_.waitForReceived(afterChange + 1)) << "pointer motion delivers a frame";

  xcb_destroy_window(scene_->c(), changer);
  scene_->sync();
}

TEST_F(X11CaptureSourceTest, FramesComeAtMostAtTheFrameRate) {
  start(10);
  const auto begin = std::chrono::steady_clock::now();
  for (int i = 0; i < 40; ++i) {  // the pointer moves at about 100 Hz for 0.4 s
    scene_->movePointer(100 + i, 100);
    std::this_thread::sleep_for(10ms);
    collector_.releaseAll();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_LE(collector_.received(), static_cast<int>(seconds * 10) + 2);
  EXPECT_GE(collector_.received(), 2);
}

TEST_F(X11CaptureSourceTest, AtMostSixFramesAreInFlight) {
  start(60);
  // Nothing is released: after six the capture skips and counts.
  for (int i = 0; i < 30; ++i) {
    scene_->movePointer(200 + i, 300);
    std::this_thread::sleep_for(17ms);
  }
  EXPECT_EQ(collector_.received(), 6);
  EXPECT_GT(source_.stats().skipped, 0u);
  EXPECT_EQ(source_.stats().delivered, 6u);

  collector_.releaseAll();
  scene_->movePointer(10, 10);
  EXPECT_TRUE(collector_.waitForReceived(7)) << "delivery resumes once slots are free";
}

// The image is fetched again only when the pointer changes its shape, so a change during the
// capture must still show, with its own hot spot.
TEST_F(X11CaptureSourceTest, ThePointerIsDrawnAtItsHotSpotAndChangesShapeWhileCapturing) {
  struct Shape {
    int size, hotX, hotY, x, y;
  };
  const Shape shapes[] = {{8, 2, 3, 300, 200}, {5, 0, 4, 310, 190}, {12, 6, 6, 295, 205}};
  for (std::size_t i = 0; i < std::size(shapes); ++i) {
    const Shape& s = shapes[i];
    SCOPED_TRACE(i);
    const int before = collector_.received();
    scene_->setRedCursor(s.size, s.hotX, s.hotY);
    scene_->movePointer(s.x, s.y);
    if (i == 0) start();
    ASSERT_TRUE(collector_.waitForReceived(before + 1));
    std::this_thread::sleep_for(50ms);  // the frame after both changes
    auto sample = collector_.latest();
    const auto view = sample->imageBuffer()->pixels(280, 180, 40, 40);
    ASSERT_TRUE(view);
    EXPECT_EQ(firstMismatch(*view, 280, 180, 40, 40,
                            [&](int x, int y) {
                              const int left = s.x - s.hotX, top = s.y - s.hotY;
                              const bool cursor =
                                  x >= left && x < left + s.size && y >= top && y < top + s.size;
                              return cursor ? 0xff0000u : patternAt(x, y);
                            }),
              "");
  }
  scene_->hideCursor();
}

TEST_F(X11CaptureSourceTest, OurOwnWindowsAreRepairedAwayAndOthersStay) {
  const auto pid = static_cast<std::uint32_t>(getpid());
  X11Scene other(server_->display());  // another X client: another program
  X11Scene ours(server_->display());   // a client of this program
  std::vector<xcb_window_t> made;
  const auto solid = [](std::uint32_t rgb) { return [rgb](int, int) { return rgb; }; };

  // Another program's window with its own picture, and ours over it.
  made.push_back(other.window({0, 0, 400, 300}, 4242, otherPatternAt));
  made.push_back(ours.window({100, 100, 200, 150}, pid, solid(0xff00ff)));
  // Another program's window partly over ours stays.
  made.push_back(other.window({250, 200, 100, 80}, 4242, solid(0x00ff00)));
  // A popup of our client without a PID, and our window inside a frame that a window manager
  // made, over the background.
  made.push_back(ours.window({20, 250, 60, 40}, 0, solid(0xff00ff), true));
  const xcb_window_t frame = other.window({600, 100, 120, 90}, 0, solid(0x0000ff));
  made.push_back(frame);
  ours.window({605, 120, 110, 65}, pid, solid(0xff00ff), false, frame, 600, 100);
  // And one level further down, inside a wrapper window.
  const xcb_window_t frame2 = other.window({600, 300, 120, 90}, 0, solid(0x0000ff));
  made.push_back(frame2);
  const xcb_window_t wrapper =
      other.window({605, 305, 110, 80}, 0, solid(0x0000ff), false, frame2, 600, 300);
  ours.window({610, 310, 100, 70}, pid, solid(0xff00ff), false, wrapper, 605, 305);
  // Another program's PID-less window stays too.
  made.push_back(other.window({800, 500, 50, 50}, 0, solid(0xffff00)));

  start();
  ASSERT_TRUE(collector_.waitForReceived(1));
  auto sample = collector_.latest();
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

  for (xcb_window_t w : made) xcb_destroy_window(other.c(), w);
  other.sync();
}

// The windows' stacking is learnt at start and then kept from structure events: our window made,
// moved and raised during the capture, another one lowered, and our window put into a window
// manager's frame after the frame was first seen empty, must still be repaired right.
TEST_F(X11CaptureSourceTest, WindowsMadeMovedAndRestackedWhileCapturingAreFollowed) {
  const auto pid = static_cast<std::uint32_t>(getpid());
  X11Scene other(server_->display());
  X11Scene ours(server_->display());
  start();
  ASSERT_TRUE(collector_.waitForReceived(1));
  collector_.releaseAll();

  const auto solid = [](std::uint32_t rgb) { return [rgb](int, int) { return rgb; }; };
  const xcb_window_t below = other.window({0, 0, 400, 300}, 4242, otherPatternAt);
  const xcb_window_t lowered = other.window({300, 150, 150, 100}, 4242, solid(0x00ff00));
  const xcb_window_t own = ours.window({500, 400, 200, 150}, pid, solid(0xff00ff));
  const std::uint32_t moveAndRaise[] = {250, 120, XCB_STACK_MODE_ABOVE};
  xcb_configure_window(ours.c(), own,
                       XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_STACK_MODE,
                       moveAndRaise);
  ours.sync();
  const std::uint32_t lower[] = {XCB_STACK_MODE_BELOW};
  xcb_configure_window(other.c(), lowered, XCB_CONFIG_WINDOW_STACK_MODE, lower);
  other.sync();

  // A window manager's frame, seen empty in one frame, then given our window (seen at the root in
  // another) as its client.
  const xcb_window_t frame = other.window({600, 400, 120, 90}, 0, solid(0x0000ff));
  const auto nextFrame = [&](int x) {
    const int before = collector_.received();
    scene_->movePointer(x, 700);
    EXPECT_TRUE(collector_.waitForReceived(before + 1));
    auto sample = collector_.latest();
    return std::pair(sample, sample->imageBuffer()->pixels(0, 0, 1024, 768));
  };
  ASSERT_TRUE(nextFrame(10).second);
  const xcb_window_t framed = ours.window({900, 600, 110, 65}, pid, solid(0xff00ff));
  ASSERT_TRUE(nextFrame(15).second);
  xcb_reparent_window(ours.c(), framed, frame, 5, 20);
  ours.sync();

  const auto [sample, view] = nextFrame(20);
  ASSERT_TRUE(view);
  EXPECT_EQ(firstMismatch(*view, 0, 0, 1024, 768,
                          [](int x, int y) -> std::uint32_t {
                            if (x < 400 && y < 300) return otherPatternAt(x, y);
                            if (x >= 300 && x < 450 && y >= 150 && y < 250) return 0x00ff00;
                            return patternAt(x, y);
                          }),
            "");
  for (xcb_window_t w : {below, lowered, frame}) xcb_destroy_window(other.c(), w);
  xcb_destroy_window(ours.c(), own);
  other.sync();
  ours.sync();
}

// The lazy grab as the pipeline makes it: the viewport around the real pointer, cut out of the
// display on the sample queue and converted, lands in the encoder's frame.
TEST_F(X11CaptureSourceTest, TheViewportAroundThePointerReachesTheEncoder) {
  // A gray that changes from pixel to pixel, so a misplaced pixel shows in the luma.
  const auto grayAt = [](int x, int y) {
    std::uint32_t h =
        static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return static_cast<int>(h >> 24);
  };
  scene_->setRootBackground([&](int x, int y) {
    const auto g = static_cast<std::uint32_t>(grayAt(x, y));
    return g << 16 | g << 8 | g;
  });
  scene_->movePointer(700, 500);
  const DisplayInfo display = onlyDisplay(server_->display());
  RecorderConfig config;
  config.screenFrame = display.frame;
  config.width = 320;
  config.height = 180;
  config.clickIndicator = false;
  X11PointerSource pointer(server_->display().c_str());
  testing::FakeClock clock;
  testing::FakeWriterInput input(320, 180);
  FramePipeline pipeline(config, pointer, clock);
  SerialQueue queue("kestrova.samples");  // goes first, so no task outlives the pipeline
  queue.sync([&] {
    pipeline.installTracker(ViewportTracker{{1024, 768}, {320, 180}, 0.5, 0.25, 0, 0, false});
    pipeline.setWriterInput(&input);
  });

  std::atomic<int> handled{0};
  CaptureConfig capture;
  capture.display = display;
  source_.start(
      capture,
      [&](std::shared_ptr<CapturedSample> sample) {
        queue.post([&, sample] {
          pipeline.handle(sample);
          ++handled;
        });
      },
      nullptr);
  for (int i = 0; i < 300 && handled.load() == 0; ++i) std::this_thread::sleep_for(10ms);
  source_.stop();
  std::vector<std::uint8_t> luma;
  queue.sync([&] { luma = input.lastY; });
  ASSERT_EQ(luma.size(), 320u * 180u);

  // The first frame snaps the viewport onto the pointer: (700, 500) is its centre.
  double worst = 0;
  for (int y = 0; y < 180; ++y) {
    for (int x = 0; x < 320; ++x) {
      const double expected = 16 + 219.0 * grayAt(540 + x, 410 + y) / 255;
      worst = std::max(worst, std::abs(luma[static_cast<std::size_t>(y) * 320 + x] - expected));
    }
  }
  EXPECT_LE(worst, 1.5);
  scene_->setRootBackground(patternAt);
}

TEST(X11Grabber, FetchesThatKeepFailingAreToldOnce) {
  XvfbServer server(320, 240);
  int told = 0;
  // A monitor beyond the root: every grab is refused.
  X11Grabber grabber(server.display(), {4000, 0, 100, 100}, 2, [&] { ++told; });
  ShmSegment* segment = nullptr;
  for (int i = 0; i < X11Grabber::kMaxFailuresInARow * 2; ++i) {
    EXPECT_FALSE(grabber.fetch(segment, 0, 0, 10, 10));
    EXPECT_EQ(told, i + 1 >= X11Grabber::kMaxFailuresInARow ? 1 : 0);
  }
  grabber.release(segment);
}

TEST(X11CaptureSource, AServerThatDiesEndsTheCaptureWithOneFailure) {
  signal(SIGPIPE, SIG_IGN);
  XvfbServer server(320, 240);
  Collector collector;
  X11CaptureSource source(server.display());
  CaptureConfig config;
  config.display = onlyDisplay(server.display());
  source.start(config, collector.sink(), collector.failureHandler());
  ASSERT_TRUE(collector.waitForReceived(1));
  auto held = collector.latest();  // a sample that outlives its server

  server.kill();
  ASSERT_TRUE(collector.waitForFailure());
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(collector.failures(),
            std::vector<std::string>{"The connection to the X server was lost."});
  source.stop();
  EXPECT_FALSE(held->imageBuffer()->pixels(0, 0, 10, 10));
}

// Two monitors made on one screen the way `xrandr --setmonitor` makes them.
class TwoMonitors : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);
    x11::XcbConnection& conn = conn_;
    XcbReply<xcb_randr_get_screen_resources_current_reply_t> resources(
        xcb_randr_get_screen_resources_current_reply(
            conn.get(), xcb_randr_get_screen_resources_current(conn.get(), conn.root()), nullptr));
    ASSERT_TRUE(resources);
    ASSERT_GE(resources->num_outputs, 1);
    output_ = xcb_randr_get_screen_resources_current_outputs(resources.get())[0];
    leftAtom_ = scene_.intern("LEFT");
    rightAtom_ = scene_.intern("RIGHT");
    setMonitor(leftAtom_, {0, 0, 640, 720}, output_);
    setMonitor(rightAtom_, {640, 0, 640, 360}, XCB_NONE);
  }

  void setMonitor(xcb_atom_t name, RootRect r, xcb_randr_output_t output) {
    // After what this test's own connection asked before.
    std::free(xcb_get_input_focus_reply(conn_.get(), xcb_get_input_focus(conn_.get()), nullptr));
    ASSERT_TRUE(scene_.setMonitor(name, r, output));
  }

  XvfbServer server_{1280, 720};
  x11::XcbConnection conn_{server_.display().c_str()};
  X11Scene scene_{server_.display()};
  xcb_randr_output_t output_ = 0;
  xcb_atom_t leftAtom_ = 0;
  xcb_atom_t rightAtom_ = 0;
};

TEST_F(TwoMonitors, AreListedWithTheirIdsNamesAndFramesInDesktopPoints) {
  auto displays = X11DisplayList(server_.display()).displays();
  std::sort(displays.begin(), displays.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  const std::vector<DisplayInfo> expected = {
      {output_, "LEFT", Rect{{0, 0}, {640, 720}}, 1},
      // No output: named by its atom, flagged; y up from the bottom of the 720-high root.
      {0x80000000u | rightAtom_, "RIGHT", Rect{{640, 360}, {640, 360}}, 1},
  };
  EXPECT_EQ(displays, expected);
}

TEST_F(TwoMonitors, ChangesOnTheOtherMonitorDeliverNothingAndLosingOursFailsOnce) {
  scene_.hideCursor();
  const xcb_window_t onLeft = scene_.window({10, 10, 50, 50}, 0, nullptr);
  const xcb_window_t onRight = scene_.window({700, 10, 50, 50}, 0, nullptr);
  auto displays = X11DisplayList(server_.display()).displays();
  const auto right = std::find_if(displays.begin(), displays.end(),
                                  [](const auto& d) { return d.name == "RIGHT"; });
  ASSERT_NE(right, displays.end());

  Collector collector;
  X11CaptureSource source(server_.display());
  CaptureConfig config;
  config.display = *right;
  source.start(config, collector.sink(), collector.failureHandler());
  ASSERT_TRUE(collector.waitForReceived(1));
  EXPECT_EQ(collector.latest()->imageBuffer()->width(), 640);

  scene_.fill(onLeft, {0, 0, 50, 50}, 0xff0000);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(collector.received(), 1) << "damage on the other monitor";
  scene_.fill(onRight, {0, 0, 50, 50}, 0xff0000);
  EXPECT_TRUE(collector.waitForReceived(2)) << "damage on ours";

  xcb_randr_delete_monitor(conn_.get(), conn_.root(), rightAtom_);
  xcb_flush(conn_.get());
  ASSERT_TRUE(collector.waitForFailure());
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(collector.failures(),
            std::vector<std::string>{"The recorded display was disconnected."});
  source.stop();
}

TEST_F(TwoMonitors, StartingOnAMonitorThatMovedIsRefused) {
  auto displays = X11DisplayList(server_.display()).displays();
  const auto right = std::find_if(displays.begin(), displays.end(),
                                  [](const auto& d) { return d.name == "RIGHT"; });
  ASSERT_NE(right, displays.end());
  xcb_randr_delete_monitor(conn_.get(), conn_.root(), rightAtom_);
  setMonitor(rightAtom_, {640, 100, 640, 360}, XCB_NONE);
  X11CaptureSource source(server_.display());
  CaptureConfig config;
  config.display = *right;
  Collector collector;
  try {
    source.start(config, collector.sink(), collector.failureHandler());
    FAIL() << "started on a display that is no longer where it was";
  } catch (const PlatformError& e) {
    EXPECT_STREQ(e.what(), "The recorded display changed its size or position.");
  }
}

}  // namespace
}  // namespace kestrova::x11
