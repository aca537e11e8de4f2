// The recorder on a real headless GNOME session with two monitors: mutter casts the first through
// PipeWire with the pointer as metadata, a Wayland client animates a coded pattern on it, mutter's
// remote-desktop API drives the pointer, and the files are decoded again to see what a viewer
// would see.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LinuxRecorderPlatform.h"
#include "MutterCast.h"
#include "PatternRecording.h"
#include "RecorderError.h"
#include "ViewportTracker.h"
#include "WaylandSession.h"
#include "support/Inbox.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::DecodedFrame;
using testing::MutterCast;
namespace fs = std::filesystem;

// The size CI's software-rendered compositor keeps up with; the output is a quarter of it, so the
// viewport has room to follow and maps one to one onto the output. The second monitor, right of
// the first and not recorded, is where the program's toolbar may go.
constexpr int kScreenW = 1280, kScreenH = 720, kOtherW = 800, kOtherH = 600;
constexpr int kOutW = 640, kOutH = 360;
constexpr int kFps = 30;
constexpr testing::CodedPattern kPattern{kScreenW, kScreenH};
// How far a decoded origin may be from the viewport's: the pattern's colour steps and the codec.
constexpr double kTolX = 6 + 1.5 * kScreenW / 255.0, kTolY = 6 + 1.5 * kScreenH / 255.0;

// One session for the whole binary, or why there is none.
std::unique_ptr<testing::WaylandSession> session;
std::string unavailable;

fs::path scratch() {
  return fs::temp_directory_path() / ("kestrova-wl-test-" + std::to_string(getpid()));
}

class WaylandRecording : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::signal(SIGPIPE, SIG_IGN);
    try {
      session = std::make_unique<testing::WaylandSession>(kScreenW, kScreenH, kOtherW, kOtherH);
      session->exportEnvironment();
      fs::create_directories(scratch());
    } catch (const testing::SessionUnavailable& e) {
      unavailable = e.what();
    }
  }
  static void TearDownTestSuite() {
    session.reset();
    fs::remove_all(scratch());
  }
  void SetUp() override {
    if (!session) GTEST_SKIP() << unavailable;
  }
};

// Polls `ready` until it holds; false on timeout, a guard against hanging.
bool waitUntil(const std::function<bool()>& ready, Clock::duration timeout) {
  for (const auto deadline = Clock::now() + timeout; !ready();) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// The first line starting with `prefix` in the log of the session's process `name`, waited for.
std::string logLine(const std::string& name, const std::string& prefix, Clock::duration timeout) {
  std::string found;
  waitUntil(
      [&] {
        std::ifstream in(session->folder() + "/" + name + ".log");
        while (std::getline(in, found))
          if (found.rfind(prefix, 0) == 0) return true;
        return false;
      },
      timeout);
  return found;
}

// `kestrova VERB` against the program running in the session: the line it printed.
std::string ask(const std::string& verb) {
  fs::remove(session->folder() + "/verb.log");
  int status = -1;
  waitpid(session->spawn("verb", {KESTROVA_APP, verb}), &status, 0);
  return logLine("verb", "", 0s);
}

// The pattern client over the first monitor while this lives; `fps` 0 paints one still picture.
struct Pattern {
  explicit Pattern(int fps) {
    fs::remove(session->folder() + "/pattern.log");
    pid = session->spawn("pattern", {KESTROVA_PATTERN_WINDOW, std::to_string(fps)});
    EXPECT_EQ(logLine("pattern", "shown", 20s),
              "shown " + std::to_string(kScreenW) + "x" + std::to_string(kScreenH))
        << "the pattern does not cover the first monitor";
  }
  ~Pattern() { session->end(pid); }
  pid_t pid;
};

fs::path mp4In(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().extension() == ".mp4") return entry.path();
  return {};
}

// How far a decoded pixel of a frame cut at `viewport` is from the pattern's colour there.
double offPattern(const DecodedFrame& f, const Rect& viewport, int x, int y) {
  const double Y = 1.164 * (f.y(x, y) - 16), U = f.u(x, y) - 128.0, V = f.v(x, y) - 128.0;
  const double r = (viewport.minX() + x) * 255 / (kScreenW - 1);
  const double g = (viewport.minY() + y) * 255 / (kScreenH - 1);
  return std::abs(Y + 1.596 * V - r) + std::abs(Y - 0.392 * U - 0.813 * V - g) +
         std::max(0.0, Y + 2.017 * U - 56);  // the pattern's blue steps up to 56
}

bool near(Point origin, const Rect& viewport) {
  return std::abs(origin.x - viewport.minX()) <= kTolX &&
         std::abs(origin.y - viewport.minY()) <= kTolY;
}

// The viewport the tracker settles on with the pointer at rest at `p`.
Rect settledViewport(Point p) {
  ViewportTracker tracker{{kScreenW, kScreenH}, {kOutW, kOutH}, 0, 0, 0, 0, false};
  return tracker.update(p, 0);
}

// The pointer rests at each stop in turn, walking between them. The last stop is held longest: a
// busy compositor may lag a second behind the pointer.
const std::vector<Point> kStops = {{200, 150}, {900, 500}, {1150, 130}};

// The program as a user drives it from a shortcut: `kestrova --toggle` starts it, countdown and
// all, and a second one, through the running copy, stops. The camera settles on each stop in turn,
// as the tracker would, and the pointer (which the compositor leaves out of the pixels) is drawn
// back in at its hot spot. No window of the program reaches the video: the countdown is gone
// before the first frame, and the toolbar goes to the monitor not recorded.
TEST_F(WaylandRecording, TheProgramFollowsThePointerAndKeepsItsWindowsOutOfTheVideo) {
  Pattern pattern(kFps);
  MutterCast pointer(session->bus());  // its own stream stays unused: it drives the pointer
  const fs::path folder = scratch() / "program";
  fs::create_directories(folder);
  session->writePreferences("outputPath=" + folder.string() +
                            "\npreset=custom\ncustomW=" + std::to_string(kOutW) +
                            "\ncustomH=" + std::to_string(kOutH) + "\nfps=" + std::to_string(kFps) +
                            "\nsmoothing=0\ndeadZone=0\nclicks=false\n");
  pointer.moveTo(kStops[0].x, kStops[0].y);
  const pid_t app = session->spawn("kestrova", {KESTROVA_APP, "--toggle"});
  ASSERT_TRUE(waitUntil([&] { return !mp4In(folder).empty(); }, 20s))
      << "the program did not record (see " << session->folder() << "/kestrova.log)";
  for (std::size_t i = 1; i < kStops.size(); ++i) {
    std::this_thread::sleep_for(1500ms);
    const Point from = kStops[i - 1], to = kStops[i];
    for (int step = 1; step <= 10; ++step) {
      pointer.moveTo(from.x + (to.x - from.x) * step / 10, from.y + (to.y - from.y) * step / 10);
      std::this_thread::sleep_for(16ms);
    }
  }
  std::this_thread::sleep_for(3s);
  ask("--toggle");
  const bool finished = waitUntil(
      [] {
        std::this_thread::sleep_for(100ms);
        return ask("--status") == "idle 00:00";
      },
      15s);
  session->end(app);
  ASSERT_TRUE(finished) << "the recording did not finish";

  // Per frame: the stop the camera rests at, if any, whether the pointer is drawn there, and
  // whether anything but the pattern and the pointer shows.
  std::vector<int> atStop(kStops.size(), 0), drawn(kStops.size(), 0);
  int frames = 0, reached = 0, framesWithOurs = 0;
  ASSERT_TRUE(testing::decodeFrames(mp4In(folder), [&](const DecodedFrame& f) {
    ++frames;
    const Point got = kPattern.origin(f, 8);
    const auto stop = std::find_if(kStops.begin(), kStops.end(),
                                   [&](Point p) { return near(got, settledViewport(p)); });
    if (stop == kStops.end()) return;  // on its way between two
    const auto i = static_cast<std::size_t>(stop - kStops.begin());
    EXPECT_GE(int(i), reached) << "the camera went back to stop " << i << " at " << f.pts / 6000.0;
    reached = std::max(reached, int(i));
    ++atStop[i];
    const Rect want = settledViewport(*stop);
    const int hx = static_cast<int>(stop->x - want.minX());
    const int hy = static_cast<int>(stop->y - want.minY());
    // Something else than the pattern inside the pointer, right of and below its hot spot, and
    // the pattern well aside of it. Which image mutter sends depends on when the shape last
    // changed (the client's magenta square, the theme's arrow, or our own stand-in arrow).
    const bool pointerHere =
        offPattern(f, want, hx + 3, hy + 8) > 60 && offPattern(f, want, hx + 40, hy + 8) < 40;
    drawn[i] += pointerHere;
    int foreign = 0;
    for (int y = 4; y < f.height - 4; y += 8) {
      for (int x = 4; x < f.width - 4; x += 8) {
        const bool byThePointer = std::abs(x - hx) < 48 && std::abs(y - hy) < 48;
        foreign += !byThePointer && offPattern(f, want, x, y) > 80;
      }
    }
    // Where a camera that trails the pointer has it, it is not known: such frames are not judged.
    framesWithOurs += pointerHere && foreign > 2;
  }));
  EXPECT_EQ(framesWithOurs, 0) << "something else than the screen in the video";
  for (std::size_t i = 0; i < kStops.size(); ++i) {
    SCOPED_TRACE(::testing::Message() << "stop " << i);
    // A busy machine may make few frames; a few at each stop pin the camera down.
    EXPECT_GE(atStop[i], 3) << "the camera did not settle there";
    // On the first and last frame there, the camera may still trail a pointer that moved on.
    EXPECT_GE(drawn[i], (atStop[i] - 2) * 3 / 4) << "the pointer is not drawn at its hot spot";
  }
  // Most frames: the ways between the stops are short.
  EXPECT_GE(atStop[0] + atStop[1] + atStop[2], frames * 2 / 5);
}

// A still screen, and the pointer jumps across it: PipeWire sends nothing while the screen stands
// still, yet the camera's glide after the jump shows at the frame rate, as the tracker eases. Then
// the desktop ends the cast (its "stop sharing" control): the recorder hears of it once, as the
// end of sharing rather than a failure, and stopping keeps what was recorded.
TEST_F(WaylandRecording, AJumpOnAStillScreenGlidesAndTheCastsEndKeepsTheFile) {
  Pattern pattern(0);
  MutterCast cast(session->bus());
  const Point from{200, 150}, to{1100, 600};
  cast.moveTo(from.x, from.y);
  std::this_thread::sleep_for(500ms);  // the window's arrival animates; let it finish
  const fs::path url = scratch() / "glide.mp4";
  RecorderPlatform platform =
      linux_desktop::makeScreenCastPlatform(UniqueFd(), cast.node(), {}, kFps);
  const std::shared_future<double> firstSample = testing::watchFirstSample(platform);
  const DisplayInfo display = platform.displays->displays().at(0);
  RecorderConfig cfg;
  cfg.displayID = display.id;
  cfg.screenFrame = display.frame;
  cfg.scale = display.scale;
  cfg.width = kOutW;
  cfg.height = kOutH;
  cfg.fps = kFps;
  cfg.smoothing = 0.45;  // eases for about 1.5 s after the jump
  cfg.deadZone = 0;
  cfg.clickIndicator = false;  // no reading of the machine's own mice
  cfg.url = url;
  testing::Inbox<std::exception_ptr> errors;
  const auto recorder = Recorder::create(cfg, std::move(platform));
  recorder->setOnFailure([&](std::exception_ptr e) { errors.add(e); });
  recorder->start();
  ASSERT_EQ(firstSample.wait_for(10s), std::future_status::ready) << "no frame came";
  std::this_thread::sleep_for(600ms);
  // Output time zero is on the host clock, which is the steady clock.
  const double jumpedAt =
      std::chrono::duration<double>(Clock::now().time_since_epoch()).count() - firstSample.get();
  cast.moveTo(to.x, to.y);
  std::this_thread::sleep_for(2200ms);
  cast.stop();
  errors.waitFor(1);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(recorder->stop(), url);
  const std::vector<std::exception_ptr> told = errors.take();
  ASSERT_EQ(told.size(), 1u) << "the end of the cast was not reported exactly once";
  try {
    std::rethrow_exception(told[0]);  // anything else than a PlatformError fails the test
  } catch (const PlatformError& e) {
    EXPECT_TRUE(e.isSharingEnded()) << "reported as a failure: " << e.what();
  }
  std::vector<std::pair<double, Point>> frames;  // time, origin
  ASSERT_TRUE(testing::decodeFrames(url, [&](const DecodedFrame& f) {
    frames.emplace_back(f.pts / 6000.0, kPattern.origin(f, 8));
  }));
  // The first frame that left the start: the camera's first step after the jump.
  const auto moved = std::find_if(frames.begin(), frames.end(), [&](const auto& s) {
    return !near(s.second, settledViewport(from));
  });
  ASSERT_NE(moved, frames.end()) << "the camera never moved";
  ASSERT_NE(moved, frames.begin());
  // mutter, rendering in software on a busy machine, may take a while to show the move.
  EXPECT_NEAR(moved->first, jumpedAt, 1.0);
  // Replayed over the same frame times, the tracker goes where the video went; the glide comes at
  // the frame rate until the camera has arrived.
  ViewportTracker tracker{{kScreenW, kScreenH}, {kOutW, kOutH}, cfg.smoothing, 0, 0, 0, false};
  tracker.update(from, 0);
  int gliding = 0;
  for (auto it = moved; it != frames.end(); ++it) {
    const double dt = it->first - std::prev(it)->first;
    const Rect want = tracker.update(to, std::min(dt, 0.1));  // as the pipeline eases a step
    SCOPED_TRACE(::testing::Message() << "frame at " << it->first << " s");
    EXPECT_NEAR(it->second.x, want.minX(), kTolX);
    EXPECT_NEAR(it->second.y, want.minY(), kTolY);
    if (near(it->second, settledViewport(to))) continue;
    ++gliding;
    EXPECT_TRUE(!testing::kAtSpeed || it == moved || dt < 2.0 / kFps) << "a gap in the glide";
  }
  EXPECT_GE(gliding, 5) << "a jump, not a glide";
}

}  // namespace
}  // namespace kestrova

int main(int argc, char** argv) {
  // QtDBus needs an application object; the session's bus connection is one of its.
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
