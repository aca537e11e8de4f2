// The whole recorder on a real X server: an animated pattern, the pointer and clicks driven with
// XTEST, real encoding, and the file decoded again to see what a viewer would see.
#include <gtest/gtest.h>
#include <sys/types.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "LinuxRecorderPlatform.h"
#include "Mp4Probe.h"
#include "Recorder.h"
#include "RecorderError.h"
#include "ViewportTracker.h"
#include "platform/x11/X11Scene.h"
#include "support/XvfbServer.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::DecodedFrame;
using testing::X11Scene;
using testing::XvfbServer;

// The display is twice the output each way, so the viewport has room to follow the pointer and
// maps one to one onto the output.
constexpr int kScreenW = 640, kScreenH = 400;
constexpr int kOutW = 320, kOutH = 200;
constexpr int kFps = 30;

// Under the sanitizers on two cores the recorder keeps up with a fraction of the rate, so what
// depends on frames arriving on time (durations, counts, the frames around a click) is checked
// only in builds that run at speed; memory and races are what those builds are for.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kAtSpeed = false;
#else
constexpr bool kAtSpeed = true;
#endif

// Red grows with x and green with y across the display; blue steps every frame, within a range
// low enough to leave the chroma of a blue window unmistakable.
std::uint32_t codedAt(int x, int y, int frame) {
  const auto r = static_cast<std::uint32_t>(x * 255 / (kScreenW - 1));
  const auto g = static_cast<std::uint32_t>(y * 255 / (kScreenH - 1));
  const auto b = static_cast<std::uint32_t>(frame * 8 % 64);
  return r << 16 | g << 8 | b;
}

double seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

XvfbServer& server() {
  static XvfbServer xvfb(kScreenW, kScreenH);
  return xvfb;
}

// A window of another client over the whole display, repainted with the next frame of the pattern
// at the recording's rate until it goes.
class AnimatedPattern {
 public:
  explicit AnimatedPattern(const std::string& display) : scene_(display) {
    scene_.hideCursor();
    window_ = scene_.window({0, 0, kScreenW, kScreenH}, 0, {});
    paint(0);
    thread_ = std::thread([this] {
      for (int frame = 1; !stop_; ++frame) {
        paint(frame);
        std::this_thread::sleep_for(std::chrono::milliseconds(1000 / kFps));
      }
    });
  }
  ~AnimatedPattern() {
    stop_ = true;
    thread_.join();
  }

 private:
  void paint(int frame) {
    std::lock_guard lock(mutex_);
    scene_.paint(window_, {0, 0, kScreenW, kScreenH},
                 [frame](int x, int y) { return codedAt(x, y, frame); });
  }

  X11Scene scene_;
  xcb_window_t window_ = XCB_NONE;
  std::mutex mutex_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

RecorderConfig configFor(RecorderPlatform& platform, const std::filesystem::path& url) {
  const auto displays = platform.displays->displays();
  const DisplayInfo& display = chooseDisplay(displays, 0);
  RecorderConfig cfg;
  cfg.displayID = display.id;
  cfg.screenFrame = display.frame;
  cfg.scale = display.scale;
  cfg.width = kOutW;
  cfg.height = kOutH;
  cfg.fps = kFps;
  // A camera that settles within a few frames, so each pointer position pins down one viewport.
  cfg.smoothing = 0;
  cfg.deadZone = 0;
  cfg.url = url;
  return cfg;
}

// The viewport the tracker settles on with the pointer at rest at `p`.
Rect settledViewport(Point p) {
  ViewportTracker tracker{{kScreenW, kScreenH}, {kOutW, kOutH}, 0, 0, 0, 0, false};
  return tracker.update(p, 0);
}

struct Rgb {
  double r, g, b;
};
Rgb rgbAt(const DecodedFrame& f, int x, int y) {
  const double Y = 1.164 * (f.y(x, y) - 16), U = f.u(x, y) - 128.0, V = f.v(x, y) - 128.0;
  return {Y + 1.596 * V, Y - 0.392 * U - 0.813 * V, Y + 2.017 * U};
}

// When output time zero was captured: the first frame's capture time (host clock, steady), waited
// for, since under a slow build the first frame may come well after start() returns.
Clock::time_point outputZero(Recorder& recorder) {
  const Clock::time_point deadline = Clock::now() + 10s;
  while (Clock::now() < deadline) {
    if (const auto start = recorder.timeline().startPTS) {
      return Clock::time_point(
          std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*start)));
    }
    std::this_thread::sleep_for(5ms);
  }
  ADD_FAILURE() << "no frame came";
  return Clock::now();
}

double median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

// Where on the display a decoded frame was cut from, read back from the pattern's coding.
Point decodedOrigin(const DecodedFrame& f) {
  std::vector<double> xs, ys;
  for (int y = 4; y < f.height - 4; y += 6) {
    for (int x = 4; x < f.width - 4; x += 6) {
      const Rgb c = rgbAt(f, x, y);
      xs.push_back(c.r * (kScreenW - 1) / 255.0 - x);
      ys.push_back(c.g * (kScreenH - 1) / 255.0 - y);
    }
  }
  return {median(xs), median(ys)};
}

double meanLuma(const DecodedFrame& f, Point centre, int radius) {
  double sum = 0;
  int n = 0;
  for (int y = static_cast<int>(centre.y) - radius; y <= centre.y + radius; ++y) {
    for (int x = static_cast<int>(centre.x) - radius; x <= centre.x + radius; ++x) {
      if (x < 0 || y < 0 || x >= f.width || y >= f.height) continue;
      sum += f.y(x, y);
      ++n;
    }
  }
  return n ? sum / n : 0;
}

std::filesystem::path scratchDir() {
  const auto dir =
      std::filesystem::temp_directory_path() / ("kestrova-e2e-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  return dir;
}

class RecorderEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::signal(SIGPIPE, SIG_IGN);
    server();
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(scratchDir()); }
};

// One recording exercises what a viewer sees: its size and rate, the camera, a pause cut out, a
// click ring, and our own window kept out.
TEST_F(RecorderEndToEnd, FollowsThePointerCutsPausesShowsClicksAndHidesOwnWindows) {
  AnimatedPattern pattern(server().display());
  X11Scene input(server().display());
  // A window of ours in blue over the pattern, where the second viewport overlaps it.
  X11Scene ours(server().display());
  const auto pid = static_cast<std::uint32_t>(getpid());
  ours.window({400, 40, 200, 120}, pid, [](int, int) { return 0x0000ffu; });
  {
    x11::XcbReply<xcb_get_image_reply_t> shot(xcb_get_image_reply(
        input.c(),
        xcb_get_image(input.c(), XCB_IMAGE_FORMAT_Z_PIXMAP, input.root(), 500, 100, 1, 1, ~0u),
        nullptr));
    ASSERT_TRUE(shot);
    std::uint32_t pixel = 0;
    std::memcpy(&pixel, xcb_get_image_data(shot.get()), 4);
    ASSERT_EQ(pixel & 0xffffff, 0x0000ffu) << "the window of ours is not on screen";
  }

  const auto url = scratchDir() / "follow.mp4";
  RecorderPlatform platform = linux_desktop::makeRecorderPlatform(server().display());
  const RecorderConfig cfg = configFor(platform, url);
  auto recorder = Recorder::create(cfg, std::move(platform));
  std::atomic<int> failures{0};
  recorder->setOnFailure([&](std::exception_ptr) { ++failures; });

  // Each hold: the pointer rests at `at` over [from, to) of output time.
  struct Hold {
    Point at;
    double from = 0, to = 0;
  };
  std::vector<Hold> holds;
  double pausedFor = 0;
  input.movePointer(100, 100);
  recorder->start();
  const Clock::time_point t0 = outputZero(*recorder);
  const auto outputNow = [&] { return seconds(Clock::now() - t0) - pausedFor; };
  const auto hold = [&](Point at, std::chrono::milliseconds d) {
    input.movePointer(static_cast<int>(at.x), static_cast<int>(at.y));
    Hold h{at, outputNow()};
    std::this_thread::sleep_for(d);
    h.to = outputNow();
    holds.push_back(h);
  };

  hold({100, 100}, 700ms);
  hold({320, 200}, 700ms);  // overlaps our window

  recorder->setPaused(true);
  const Clock::time_point pausedAt = Clock::now();
  input.movePointer(560, 330);
  std::this_thread::sleep_for(1s);
  recorder->setPaused(false);
  pausedFor += seconds(Clock::now() - pausedAt);

  hold({560, 330}, 700ms);
  input.movePointer(250, 150);
  std::this_thread::sleep_for(400ms);
  const double clickAt = outputNow();
  xcb_test_fake_input(input.c(), XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  xcb_test_fake_input(input.c(), XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  input.sync();
  std::this_thread::sleep_for(500ms);
  const double recorded = outputNow();

  ASSERT_EQ(recorder->stop(), url);
  EXPECT_EQ(failures, 0);

  const testing::Mp4Probe probe = testing::probeMp4(url);
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_EQ(probe.width, kOutW);
  EXPECT_EQ(probe.height, kOutH);
  EXPECT_EQ(probe.decodedFrames, static_cast<int>(probe.pts.size()));
  // The pause is cut out: the video is as long as the time recorded, with no hole in it.
  const double duration = probe.durationUnits / 6000.0;
  if (kAtSpeed) {
    EXPECT_NEAR(duration, recorded, 0.25);
  }
  std::vector<std::int64_t> pts = probe.pts;
  std::sort(pts.begin(), pts.end());
  // A pause left in would show as a hole of its full second; a busy machine stalls far less.
  for (std::size_t i = 1; kAtSpeed && i < pts.size(); ++i) {
    ASSERT_LT(pts[i] - pts[i - 1], 6000 * 8 / 10) << "a gap at " << pts[i - 1] / 6000.0 << " s";
  }
  // The pattern changes every frame, so nearly every frame slot is filled, and none twice.
  EXPECT_LE(static_cast<double>(pts.size()), duration * kFps + 2);
  if (kAtSpeed) {
    EXPECT_GE(static_cast<double>(pts.size()), duration * kFps * 0.6);
  }

  const Point click{250, 150};
  const Point clickInFrame{click.x - settledViewport(click).minX(),
                           click.y - settledViewport(click).minY()};
  int checkedOrigins = 0;
  std::vector<double> before, after, farBefore, farAfter;
  const Point aside{clickInFrame.x - 80, clickInFrame.y};
  double maxU = 0;
  const bool decoded = testing::decodeFrames(url, [&](const DecodedFrame& f) {
    const double t = f.pts / 6000.0;
    for (int y = 0; y < f.height; y += 2)
      for (int x = 0; x < f.width; x += 2) maxU = std::max<double>(maxU, f.u(x, y));
    for (const Hold& h : holds) {
      // Past the easing, and clear of the moves either side.
      if (t < h.from + 0.3 || t > h.to - 0.1) continue;
      const Rect want = settledViewport(h.at);
      const Point got = decodedOrigin(f);
      SCOPED_TRACE(::testing::Message()
                   << "frame at " << t << " s, pointer at " << h.at.x << "," << h.at.y);
      EXPECT_NEAR(got.x, want.minX(), 6);
      EXPECT_NEAR(got.y, want.minY(), 6);
      ++checkedOrigins;
    }
    if (t > clickAt - 0.3 && t < clickAt - 0.05) {
      before.push_back(meanLuma(f, clickInFrame, 3));
      farBefore.push_back(meanLuma(f, aside, 3));
    }
    // Wall time only estimates output time on a busy machine, so look over most of the ring's life.
    if (t > clickAt - 0.05 && t < clickAt + 0.45) {
      after.push_back(meanLuma(f, clickInFrame, 3));
      farAfter.push_back(meanLuma(f, aside, 3));
    }
  });
  ASSERT_TRUE(decoded);
  EXPECT_GE(checkedOrigins, kAtSpeed ? 3 * 5 : 1);
  // Blue would put U near 240; the pattern stays below about 155.
  EXPECT_LT(maxU, 185) << "our own window shows in the video";
  if (!kAtSpeed) return;
  ASSERT_FALSE(before.empty());
  ASSERT_FALSE(after.empty());
  const double dark = *std::max_element(before.begin(), before.end());
  const double lit = *std::max_element(after.begin(), after.end());
  EXPECT_GT(lit, dark + 8) << "no ring where the click was";
  // ... and only there.
  const auto mean = [](const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) sum += x;
    return sum / static_cast<double>(v.size());
  };
  EXPECT_NEAR(mean(farAfter), mean(farBefore), 4);
}

// The pattern of frame 0 over the whole display, painted once: a screen where nothing changes.
class StillPattern {
 public:
  explicit StillPattern(const std::string& display) : scene_(display) {
    scene_.hideCursor();
    scene_.window({0, 0, kScreenW, kScreenH}, 0, [](int x, int y) { return codedAt(x, y, 0); });
  }

 private:
  X11Scene scene_;
};

struct Frame {
  double t;  // output time, seconds
  Point origin;
  double ringLuma;  // at the click's place in the frame
};

// Every frame of the file in presentation order: where it was cut from, and how bright it is at
// `clickInFrame`.
std::vector<Frame> readFrames(const std::filesystem::path& url, Point clickInFrame) {
  std::vector<Frame> frames;
  EXPECT_TRUE(testing::decodeFrames(url, [&](const DecodedFrame& f) {
    frames.push_back({f.pts / 6000.0, decodedOrigin(f), meanLuma(f, clickInFrame, 3)});
  }));
  return frames;
}

// A still screen: the camera glides to the pointer at the frame rate and then rests, a click
// without a move shows its ring, nothing else makes frames, and the file lasts until the stop.
TEST_F(RecorderEndToEnd, OnAStillScreenTheGlideAndTheRingShowAndTheFileRunsUntilStop) {
  StillPattern still(server().display());
  X11Scene input(server().display());
  const auto url = scratchDir() / "still.mp4";
  RecorderPlatform platform = linux_desktop::makeRecorderPlatform(server().display());
  RecorderConfig cfg = configFor(platform, url);
  cfg.smoothing = 0.4;  // about a second of glide
  cfg.deadZone = 0.1;
  cfg.clickIndicator = true;
  auto recorder = Recorder::create(cfg, std::move(platform));

  const Point from{100, 100}, to{500, 300};
  input.movePointer(static_cast<int>(from.x), static_cast<int>(from.y));
  recorder->start();
  const Clock::time_point t0 = outputZero(*recorder);
  const auto outputNow = [&] { return seconds(Clock::now() - t0); };
  std::this_thread::sleep_for(600ms);
  const double jumpAt = outputNow();
  input.movePointer(static_cast<int>(to.x), static_cast<int>(to.y));
  std::this_thread::sleep_for(1800ms);
  const double clickAt = outputNow();
  xcb_test_fake_input(input.c(), XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  xcb_test_fake_input(input.c(), XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  input.sync();
  std::this_thread::sleep_for(1s);
  const double recorded = outputNow();
  ASSERT_EQ(recorder->stop(), url);

  const testing::Mp4Probe probe = testing::probeMp4(url, false);
  ASSERT_TRUE(probe.opened) << probe.error;
  ViewportTracker tracker{
      {kScreenW, kScreenH}, {kOutW, kOutH}, cfg.smoothing, cfg.deadZone, 0, 0, false};
  tracker.update(from, 0);
  const Rect settled = ViewportTracker(tracker).update(to, 1000);
  const std::vector<Frame> frames =
      readFrames(url, {to.x - settled.minX() - 2, to.y - settled.minY() - 2});
  ASSERT_GE(frames.size(), 4u);
  EXPECT_EQ(frames.front().t, 0);
  EXPECT_GT(frames[1].t, jumpAt - 0.1) << "a frame of a still screen";
  if (!kAtSpeed) return;
  EXPECT_NEAR(probe.durationUnits / 6000.0, recorded, 1.0 / kFps);

  // The camera as the tracker moves it, frame by frame: the glide ends where it comes to rest.
  std::vector<Point> glide;  // the tracker's origins from the jump on
  for (std::size_t i = 1; i + 1 < frames.size() && !tracker.isAtRest(to); ++i) {
    glide.push_back(tracker.update(to, std::min(frames[i].t - frames[i - 1].t, 0.1)).origin);
  }
  const std::size_t rest = glide.size();  // the frame the camera comes to rest in
  ASSERT_GT(rest, 10u) << "no glide";
  // The pattern reads back a few pixels short, by the same amount all over: measured at rest.
  const Point bias{frames[rest].origin.x - settled.minX(), frames[rest].origin.y - settled.minY()};
  for (std::size_t i = 1; i <= rest; ++i) {
    SCOPED_TRACE(::testing::Message() << "glide frame at " << frames[i].t << " s");
    EXPECT_NEAR(frames[i].origin.x - bias.x, glide[i - 1].x, 3);
    EXPECT_NEAR(frames[i].origin.y - bias.y, glide[i - 1].y, 3);
  }
  const double glideRate = static_cast<double>(rest - 1) / (frames[rest].t - frames[1].t);
  EXPECT_NEAR(glideRate, kFps, kFps * 0.1);

  // Then only the ring's frames, and the last image once more at the end.
  ASSERT_GE(frames.size(), rest + 3);
  const Frame& beforeClick = frames[rest];
  const Frame& last = frames.back();
  std::size_t ringFrames = 0;
  double brightest = 0;
  for (std::size_t i = rest + 1; i + 1 < frames.size(); ++i) {
    SCOPED_TRACE(::testing::Message() << "frame at " << frames[i].t << " s");
    EXPECT_GT(frames[i].t, clickAt - 0.1) << "a frame while all was still";
    EXPECT_LT(frames[i].t, clickAt + kRingFadeSeconds + 0.2);
    ++ringFrames;
    brightest = std::max(brightest, frames[i].ringLuma);
  }
  EXPECT_GT(brightest, beforeClick.ringLuma + 8) << "no ring where the click was";
  EXPECT_NEAR(static_cast<double>(ringFrames), kRingFadeSeconds * kFps, 3);
  EXPECT_NEAR(last.ringLuma, beforeClick.ringLuma, 2) << "the ring is gone";
  EXPECT_NEAR(last.t, recorded - 1.0 / kFps, 1.0 / kFps);
}

// A recording of a still screen ending in a pause: still time stays, paused time goes, and the
// file ends at the pause. Two frames in all, the first and the last.
TEST_F(RecorderEndToEnd, AStillRecordingEndingInAPauseLastsUntilThePause) {
  StillPattern still(server().display());
  const auto url = scratchDir() / "still-paused.mp4";
  RecorderPlatform platform = linux_desktop::makeRecorderPlatform(server().display());
  const RecorderConfig cfg = configFor(platform, url);
  auto recorder = Recorder::create(cfg, std::move(platform));
  recorder->start();
  const Clock::time_point t0 = outputZero(*recorder);
  std::this_thread::sleep_for(500ms);
  recorder->setPaused(true);
  double recorded = seconds(Clock::now() - t0);
  std::this_thread::sleep_for(400ms);
  recorder->setPaused(false);
  const Clock::time_point resumedAt = Clock::now();
  std::this_thread::sleep_for(500ms);
  recorder->setPaused(true);
  recorded += seconds(Clock::now() - resumedAt);
  std::this_thread::sleep_for(400ms);
  ASSERT_EQ(recorder->stop(), url);

  const testing::Mp4Probe probe = testing::probeMp4(url);
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_EQ(probe.decodedFrames, 2);
  if (kAtSpeed) {
    EXPECT_NEAR(probe.durationUnits / 6000.0, recorded, 1.0 / kFps);
  }
}

// Moves the pointer to and fro until it goes, so the capture has something to deliver.
class Wiggle {
 public:
  explicit Wiggle(const std::string& display) : scene_(display) {
    thread_ = std::thread([this] {
      for (int i = 0; !stop_; ++i) {
        xcb_test_fake_input(scene_.c(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, scene_.root(),
                            static_cast<std::int16_t>(100 + i % 2 * 300), 150, 0);
        xcb_flush(scene_.c());
        std::this_thread::sleep_for(std::chrono::milliseconds(1000 / kFps));
      }
    });
  }
  ~Wiggle() {
    stop_ = true;
    thread_.join();
  }

 private:
  X11Scene scene_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A display that went away since the settings were made: the first one is recorded instead. A
// resume without a pause changes nothing.
TEST_F(RecorderEndToEnd, AMissingDisplayRecordsTheFirstAndAResumeWithoutPauseIsHarmless) {
  Wiggle wiggle(server().display());
  const auto url = scratchDir() / "missing-display.mp4";
  RecorderPlatform platform = linux_desktop::makeRecorderPlatform(server().display());
  RecorderConfig cfg = configFor(platform, url);
  cfg.displayID = 0x7fff1234;
  cfg.screenFrame = {{5000, 5000}, {1280, 720}};
  cfg.scale = 2;
  auto recorder = Recorder::create(cfg, std::move(platform));
  recorder->start();
  const Clock::time_point t0 = outputZero(*recorder);
  std::this_thread::sleep_for(300ms);
  recorder->setPaused(false);
  std::this_thread::sleep_for(500ms);
  const double recorded = seconds(Clock::now() - t0);
  ASSERT_EQ(recorder->stop(), url);

  const testing::Mp4Probe probe = testing::probeMp4(url);
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_EQ(probe.width, kOutW);
  EXPECT_EQ(probe.height, kOutH);
  EXPECT_GT(probe.decodedFrames, 5);
  EXPECT_EQ(probe.decodedFrames, static_cast<int>(probe.pts.size()));
  if (kAtSpeed) {
    EXPECT_NEAR(probe.durationUnits / 6000.0, recorded, 0.25);
  }
}

// A start that fails leaves nothing behind, and the stop that cleans up after it returns.
TEST_F(RecorderEndToEnd, StopRightAfterAFailedStartCleansUp) {
  const auto folder = scratchDir() / "gone";
  const auto url = folder / "never.mp4";
  RecorderPlatform platform = linux_desktop::makeRecorderPlatform(server().display());
  const RecorderConfig cfg = configFor(platform, url);
  auto recorder = Recorder::create(cfg, std::move(platform));
  std::atomic<int> failures{0};
  recorder->setOnFailure([&](std::exception_ptr) { ++failures; });
  EXPECT_ANY_THROW(recorder->start());
  try {
    recorder->stop();
  } catch (const std::exception&) {
    // Its outcome is ignored after a failed start; it only has to return.
  }
  EXPECT_FALSE(std::filesystem::exists(url));
  EXPECT_EQ(failures, 0);
}

// The X server dies mid-recording: one failure, and the frames so far still make a playable file.
TEST(RecorderServerLoss, AServerThatDiesFailsOnceAndTheFileStillPlays) {
  std::signal(SIGPIPE, SIG_IGN);
  XvfbServer doomed(kScreenW, kScreenH);
  const auto url = scratchDir() / "server-lost.mp4";
  std::atomic<int> failures{0};
  std::string message;
  std::mutex mutex;
  std::filesystem::path written;
  {
    auto wiggle = std::make_unique<Wiggle>(doomed.display());
    RecorderPlatform platform = linux_desktop::makeRecorderPlatform(doomed.display());
    const RecorderConfig cfg = configFor(platform, url);
    auto recorder = Recorder::create(cfg, std::move(platform));
    recorder->setOnFailure([&](std::exception_ptr e) {
      std::lock_guard lock(mutex);
      ++failures;
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& x) {
        message = x.what();
      }
    });
    recorder->start();
    std::this_thread::sleep_for(700ms);
    doomed.kill();
    wiggle.reset();
    const Clock::time_point killedAt = Clock::now();
    while (failures == 0 && Clock::now() - killedAt < 5s) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(300ms);
    written = recorder->stop();
  }
  EXPECT_EQ(failures, 1);
  EXPECT_FALSE(message.empty());
  EXPECT_EQ(written, url);
  const testing::Mp4Probe probe = testing::probeMp4(url);
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_GT(probe.decodedFrames, 5);
  EXPECT_EQ(probe.decodedFrames, static_cast<int>(probe.pts.size()));
  EXPECT_TRUE(probe.seekWorked);
  std::filesystem::remove_all(scratchDir());
}

}  // namespace
}  // namespace kestrova
