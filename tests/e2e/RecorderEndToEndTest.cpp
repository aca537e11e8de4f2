// The whole recorder on a real X server: a still coded pattern, the pointer and a click driven with
// XTEST, real encoding, and the file decoded again to see what a viewer would see.
#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "LinuxRecorderPlatform.h"
#include "PatternRecording.h"
#include "ViewportTracker.h"
#include "platform/x11/X11Scene.h"
#include "support/XvfbServer.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::DecodedFrame;
using testing::kAtSpeed;

// The display is twice the output each way, so the viewport has room to follow the pointer and
// maps one to one onto the output.
constexpr int kScreenW = 640, kScreenH = 400, kOutW = 320, kOutH = 200, kFps = 30;

double seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// One recording on a still screen: the camera glides after each jump of the pointer at the frame
// rate and comes to rest on it, a pause is cut out, a click without a move shows its ring, nothing
// else makes frames, the file lasts until the stop, and our own window never shows.
TEST(RecorderEndToEnd, FollowsThePointerCutsPausesShowsClicksAndHidesOwnWindows) {
  std::signal(SIGPIPE, SIG_IGN);
  testing::XvfbServer xvfb(kScreenW, kScreenH);
  // Red grows with x and green with y, over the whole display, in a window of another client.
  testing::X11Scene input(xvfb.display());
  input.hideCursor();
  input.window({0, 0, kScreenW, kScreenH}, 0, [](int x, int y) {
    return static_cast<std::uint32_t>(x * 255 / (kScreenW - 1) << 16 | y * 255 / (kScreenH - 1)
                                                                           << 8);
  });
  // A window of ours in blue, inside the viewport of the second rest.
  testing::X11Scene ours(xvfb.display());
  ours.window({400, 40, 200, 120}, static_cast<std::uint32_t>(getpid()),
              [](int, int) { return 0x0000ffu; });
  const auto url = std::filesystem::temp_directory_path() /
                   ("kestrova-e2e-" + std::to_string(getpid()) + ".mp4");

  RecorderPlatform platform = linux_desktop::makeRecorderPlatform(xvfb.display());
  const auto firstSample = testing::watchFirstSample(platform);
  const auto displays = platform.displays->displays();
  const DisplayInfo& display = chooseDisplay(displays, 0);
  RecorderConfig cfg;
  cfg.displayID = display.id;
  cfg.screenFrame = display.frame;
  cfg.scale = display.scale;
  cfg.width = kOutW;
  cfg.height = kOutH;
  cfg.fps = kFps;
  cfg.smoothing = 0.4;  // about a second of glide
  cfg.deadZone = 0.1;
  cfg.url = url;
  auto recorder = Recorder::create(cfg, std::move(platform));
  std::atomic<int> failures{0};
  recorder->setOnFailure([&](std::exception_ptr) { ++failures; });

  // Where the camera comes to rest after each jump, as the tracker has it.
  ViewportTracker tracker{{kScreenW, kScreenH}, {kOutW, kOutH}, 0.4, 0.1, 0, 0, false};
  const Point a{100, 100}, b{500, 300}, c{452, 120};
  tracker.update(a, 0);
  const Rect restB = tracker.update(b, 1000), restC = tracker.update(c, 1000);

  input.movePointer(int(a.x), int(a.y));
  recorder->start();
  ASSERT_EQ(firstSample.wait_for(10s), std::future_status::ready) << "no frame came";
  const Clock::time_point t0(std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(firstSample.get())));
  double paused = 0;
  const auto now = [&] { return seconds(Clock::now() - t0) - paused; };  // output time
  std::this_thread::sleep_for(600ms);
  const double jumpB = now();
  input.movePointer(int(b.x), int(b.y));
  std::this_thread::sleep_for(1800ms);
  const double pausedAt = now();
  recorder->setPaused(true);
  const Clock::time_point pauseStart = Clock::now();
  input.movePointer(int(c.x) - 2, int(c.y));
  std::this_thread::sleep_for(800ms);
  recorder->setPaused(false);
  paused = seconds(Clock::now() - pauseStart);
  input.movePointer(int(c.x), int(c.y));  // a frame comes only on a change
  const double jumpC = now();
  std::this_thread::sleep_for(1800ms);
  const double clickAt = now();
  xcb_test_fake_input(input.c(), XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  xcb_test_fake_input(input.c(), XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  input.sync();
  std::this_thread::sleep_for(1s);
  const double recorded = now();
  ASSERT_EQ(recorder->stop(), url);
  EXPECT_EQ(failures, 0);

  const testing::Mp4Probe probe = testing::probeMp4(url);
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_EQ(probe.width, kOutW);
  EXPECT_EQ(probe.height, kOutH);
  EXPECT_EQ(probe.decodedFrames, static_cast<int>(probe.pts.size()));
  struct Frame {
    double t;
    Point origin;
    double ringLuma;  // around the click's place in the frame
  };
  std::vector<Frame> frames;
  double maxU = 0;
  const Point ring{c.x - restC.minX() - 2, c.y - restC.minY() - 2};
  ASSERT_TRUE(testing::decodeFrames(url, [&](const DecodedFrame& f) {
    for (int y = 0; y < f.height; y += 2)
      for (int x = 0; x < f.width; x += 2) maxU = std::max<double>(maxU, f.u(x, y));
    frames.push_back({f.pts / 6000.0, testing::CodedPattern{kScreenW, kScreenH}.origin(f),
                      testing::meanLuma(f, ring, 3)});
  }));
  std::filesystem::remove(url);
  // Blue would put U near 240; the pattern stays below about 155.
  EXPECT_LT(maxU, 185) << "our own window shows in the video";
  ASSERT_GE(frames.size(), 4u);
  EXPECT_EQ(frames[0].t, 0);
  EXPECT_GT(frames[1].t, jumpB - 0.1) << "a frame of a still screen";
  if (!kAtSpeed) return;
  EXPECT_NEAR(probe.durationUnits / 6000.0, recorded, 0.1) << "the pause is cut out";

  // Each glide: frames at the frame rate from the jump until the camera rests where the tracker
  // says, then none until the next event. Returns the index of the frame it rests in.
  const auto glide = [&](double from, double until, const Rect& rest) {
    std::size_t first = frames.size(), last = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      if (frames[i].t > from - 0.1 && frames[i].t < until - 0.1) {
        first = std::min(first, i);
        last = i;
      }
    }
    SCOPED_TRACE(::testing::Message() << "glide from " << from << " s");
    EXPECT_GT(last, first + 10) << "no glide";
    EXPECT_LT(frames[last].t, until - 0.3) << "frames while all was still";
    EXPECT_NEAR((last - first) / (frames[last].t - frames[first].t), kFps, kFps * 0.1);
    EXPECT_NEAR(frames[last].origin.x, rest.minX(), 6);
    EXPECT_NEAR(frames[last].origin.y, rest.minY(), 6);
    return last;
  };
  glide(jumpB, pausedAt, restB);
  const std::size_t rest = glide(jumpC, clickAt, restC);

  // Then only the ring's frames, and the last image once more at the end.
  double brightest = 0;
  for (std::size_t i = rest + 1; i + 1 < frames.size(); ++i) {
    EXPECT_LT(frames[i].t, clickAt + kRingFadeSeconds + 0.2) << "a frame after the ring faded";
    brightest = std::max(brightest, frames[i].ringLuma);
  }
  EXPECT_GT(brightest, frames[rest].ringLuma + 8) << "no ring where the click was";
  EXPECT_NEAR(static_cast<double>(frames.size() - rest - 2), kRingFadeSeconds * kFps, 3);
  EXPECT_NEAR(frames.back().ringLuma, frames[rest].ringLuma, 2) << "the ring is gone";
  EXPECT_NEAR(frames.back().t, recorded - 1.0 / kFps, 1.0 / kFps);
}

}  // namespace
}  // namespace kestrova
