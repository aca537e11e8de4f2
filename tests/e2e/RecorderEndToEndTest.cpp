// The whole recorder on a real X server: a still coded pattern, the pointer and a click driven with
// XTEST, real encoding, and the file decoded again to see what a viewer would see.
#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xtest.h>

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
using Seconds = std::chrono::duration<double>;

// The display is twice the output each way, so the viewport has room to follow the pointer and
// maps one to one onto the output.
constexpr int kScreenW = 640, kScreenH = 400, kOutW = 320, kOutH = 200, kFps = 30;

// One recording on a still screen: a pause is cut out, the camera glides after the pointer's jump
// at the frame rate and comes to rest on it, a click without a move shows its ring, nothing else
// makes frames, the file lasts until the stop, and the recorder says how many frames it wrote.
TEST(RecorderEndToEnd, FollowsThePointerCutsPausesAndShowsClicks) {
  std::signal(SIGPIPE, SIG_IGN);
  testing::XvfbServer xvfb(kScreenW, kScreenH);
  // Red grows with x and green with y, over the whole display, in a window of another client.
  testing::X11Scene input(xvfb.display());
  input.hideCursor();
  input.window({0, 0, kScreenW, kScreenH}, 0, [](int x, int y) {
    return static_cast<std::uint32_t>(x * 255 / (kScreenW - 1) << 16 | y * 255 / (kScreenH - 1)
                                                                           << 8);
  });
  const auto url = std::filesystem::temp_directory_path() /
                   ("kestrova-e2e-" + std::to_string(getpid()) + ".mp4");

  RecorderPlatform platform = linux_desktop::makeRecorderPlatform(xvfb.display());
  const auto firstSample = testing::watchFirstSample(platform);
  std::vector<std::string> logged;
  platform.log = [&](const std::string& line) { logged.push_back(line); };
  RecorderConfig cfg;  // of the main display
  cfg.width = kOutW;
  cfg.height = kOutH;
  cfg.fps = kFps;
  cfg.smoothing = 0.4;  // about a second of glide
  cfg.deadZone = 0.1;
  cfg.url = url;
  auto recorder = Recorder::create(cfg, std::move(platform));

  // Where the camera comes to rest after the jump, as the tracker has it.
  ViewportTracker tracker{{kScreenW, kScreenH}, {kOutW, kOutH}, 0.4, 0.1, 0, 0, false};
  const Point a{100, 100}, b{452, 120};
  tracker.update(a, 0);
  const Rect restB = tracker.update(b, 1000);

  input.movePointer(int(a.x), int(a.y));
  recorder->start();
  ASSERT_EQ(firstSample.wait_for(10s), std::future_status::ready) << "no frame came";
  const Clock::time_point t0(
      std::chrono::duration_cast<Clock::duration>(Seconds(firstSample.get())));
  double paused = 0;
  const auto now = [&] { return Seconds(Clock::now() - t0).count() - paused; };  // output time
  std::this_thread::sleep_for(600ms);
  recorder->setPaused(true);
  const Clock::time_point pauseStart = Clock::now();
  input.movePointer(int(b.x) - 2, int(b.y));
  std::this_thread::sleep_for(800ms);
  recorder->setPaused(false);
  paused = Seconds(Clock::now() - pauseStart).count();
  input.movePointer(int(b.x), int(b.y));  // a frame comes only on a change
  const double jumpB = now();
  std::this_thread::sleep_for(1800ms);
  const double clickAt = now();
  xcb_test_fake_input(input.c(), XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  xcb_test_fake_input(input.c(), XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  input.sync();
  std::this_thread::sleep_for(1s);
  const double recorded = now();
  ASSERT_EQ(recorder->stop(), url);
  ASSERT_EQ(logged.size(), 1u);

  const std::int64_t durationUnits = testing::probeMp4(url).durationUnits;
  struct Frame {
    double t;
    Point origin;
    double ringLuma;  // around the click's place in the frame
  };
  std::vector<Frame> frames;
  const Point ring{b.x - restB.minX() - 2, b.y - restB.minY() - 2};
  ASSERT_TRUE(testing::decodeFrames(url, [&](const testing::DecodedFrame& f) {
    frames.push_back({f.pts / 6000.0, testing::CodedPattern{kScreenW, kScreenH}.origin(f),
                      testing::meanLuma(f, ring, 3)});
  }));
  std::filesystem::remove(url);
  ASSERT_GE(frames.size(), 4u);
  EXPECT_GT(frames[1].t, jumpB - 0.1) << "a frame of a still screen";
  EXPECT_EQ(std::stoul(logged[0]), frames.size()) << logged[0];
  if (!testing::kAtSpeed) return;
  EXPECT_NEAR(durationUnits / 6000.0, recorded, 0.1) << "the pause is cut out";

  // The glide: frames at the frame rate from the jump until the camera rests where the tracker
  // says, then none until the click.
  std::size_t rest = 1;
  while (rest + 1 < frames.size() && frames[rest + 1].t < clickAt - 0.1) ++rest;
  EXPECT_GT(rest, 11u) << "no glide";
  EXPECT_LT(frames[rest].t, clickAt - 0.3) << "frames while all was still";
  EXPECT_NEAR((rest - 1) / (frames[rest].t - frames[1].t), kFps, kFps * 0.1);
  EXPECT_NEAR(frames[rest].origin.x, restB.minX(), 6);
  EXPECT_NEAR(frames[rest].origin.y, restB.minY(), 6);

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
