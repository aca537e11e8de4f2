// The recorder on a real headless GNOME session: mutter casts its screen through PipeWire with the
// pointer as metadata, a Wayland client animates a coded pattern, mutter's remote-desktop API
// drives the pointer, and the file is decoded again to see what a viewer would see.
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CursorOverlay.h"
#include "EvdevClickMonitor.h"
#include "LinuxRecorderPlatform.h"
#include "Mp4Probe.h"
#include "MutterCast.h"
#include "Recorder.h"
#include "RecorderError.h"
#include "ViewportTracker.h"
#include "WaylandSession.h"
#include "e2e/PatternRecording.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::DecodedFrame;
using testing::MutterCast;
using testing::WaylandSession;

// The size CI's software-rendered compositor keeps up with; the output is a quarter of it, so the
// viewport has room to follow and maps one to one onto the output.
constexpr int kScreenW = 1280, kScreenH = 720;
constexpr int kOutW = 640, kOutH = 360;
constexpr int kFps = 30;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kAtSpeed = false;
#else
constexpr bool kAtSpeed = true;
#endif

std::unique_ptr<WaylandSession>& session() {
  static std::unique_ptr<WaylandSession> s;
  return s;
}
std::string& unavailable() {
  static std::string why;
  return why;
}

std::filesystem::path scratchDir() {
  const auto dir =
      std::filesystem::temp_directory_path() / ("kestrova-wl-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  return dir;
}

// The pattern client, on screen while this lives.
class Pattern {
 public:
  explicit Pattern(int fps) : pid_(show(fps)) {}
  ~Pattern() { session()->end(pid_); }

 private:
  static pid_t show(int fps) {
    const std::string log = session()->folder() + "/pattern.log";
    std::filesystem::remove(log);
    const pid_t pid = session()->spawn("pattern", {KESTROVA_PATTERN_WINDOW, std::to_string(fps)});
    waitUntilShown(log);
    return pid;
  }
  static void waitUntilShown(const std::string& log);
  pid_t pid_;
};

void Pattern::waitUntilShown(const std::string& log) {
  const auto deadline = Clock::now() + 20s;
  while (Clock::now() < deadline) {
    std::ifstream in(log);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("shown", 0) == 0) {
        ASSERT_EQ(line, "shown " + std::to_string(kScreenW) + "x" + std::to_string(kScreenH))
            << "the pattern does not cover the monitor";
        return;
      }
    }
    std::this_thread::sleep_for(50ms);
  }
  FAIL() << "the pattern window did not show (see " << log << ")";
}

struct Rgb {
  double r, g, b;
};
Rgb rgbAt(const DecodedFrame& f, int x, int y) {
  const double Y = 1.164 * (f.y(x, y) - 16), U = f.u(x, y) - 128.0, V = f.v(x, y) - 128.0;
  return {Y + 1.596 * V, Y - 0.392 * U - 0.813 * V, Y + 2.017 * U};
}

double median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

// Where on the screen a decoded frame was cut from, read back from the pattern's coding.
Point decodedOrigin(const DecodedFrame& f) {
  std::vector<double> xs, ys;
  for (int y = 4; y < f.height - 4; y += 8) {
    for (int x = 4; x < f.width - 4; x += 8) {
      const Rgb c = rgbAt(f, x, y);
      xs.push_back(c.r * (kScreenW - 1) / 255.0 - x);
      ys.push_back(c.g * (kScreenH - 1) / 255.0 - y);
    }
  }
  return {median(xs), median(ys)};
}

// How far a decoded pixel of a frame cut at `viewport` is from the pattern's colour there.
double offPattern(const DecodedFrame& f, const Rect& viewport, int x, int y) {
  const Rgb c = rgbAt(f, x, y);
  const double r = (viewport.minX() + x) * 255 / (kScreenW - 1);
  const double g = (viewport.minY() + y) * 255 / (kScreenH - 1);
  return std::abs(c.r - r) + std::abs(c.g - g) + std::max(0.0, c.b - 56);  // blue steps to 56
}

// The viewport the tracker settles on with the pointer at rest at `p`.
Rect settledViewport(Point p) {
  ViewportTracker tracker{{kScreenW, kScreenH}, {kOutW, kOutH}, 0, 0, 0, 0, false};
  return tracker.update(p, 0);
}

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
  cfg.smoothing = 0;  // a camera that settles at once, so each pointer position pins one viewport
  cfg.deadZone = 0;
  cfg.url = url;
  return cfg;
}

// When output time zero was captured (see testing::watchFirstSample), waited for.
Clock::time_point outputZero(const std::shared_future<double>& firstSample) {
  if (firstSample.wait_for(10s) != std::future_status::ready) {
    ADD_FAILURE() << "no frame came";
    return Clock::now();
  }
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(firstSample.get())));
}

class WaylandRecording : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::signal(SIGPIPE, SIG_IGN);
    if (session() || !unavailable().empty()) return;
    try {
      session() = std::make_unique<WaylandSession>(kScreenW, kScreenH);
      session()->exportEnvironment();
    } catch (const testing::SessionUnavailable& e) {
      unavailable() = e.what();
    }
  }
  static void TearDownTestSuite() {
    session().reset();
    std::filesystem::remove_all(scratchDir());
  }
  void SetUp() override {
    if (!session()) GTEST_SKIP() << unavailable();
  }
};

// The pointer rests at each stop in turn, walking between them. The last stop is held longest: a
// busy compositor may lag a second behind the pointer.
const std::vector<Point> kStops = {{200, 150}, {900, 500}, {1150, 130}};

void walkTheStops(MutterCast& pointer) {
  Point at = kStops[0];
  for (std::size_t i = 1; i < kStops.size(); ++i) {
    std::this_thread::sleep_for(1500ms);
    for (int step = 1; step <= 10; ++step) {
      pointer.moveTo(at.x + (kStops[i].x - at.x) * step / 10,
                     at.y + (kStops[i].y - at.y) * step / 10);
      std::this_thread::sleep_for(16ms);
    }
    at = kStops[i];
  }
}

// The camera settles on each stop in turn, as the tracker would, and the pointer (which the
// compositor leaves out of the pixels) is drawn back in at its hot spot.
void expectFollowedTheStops(const std::filesystem::path& url) {
  const testing::Mp4Probe probe = testing::probeMp4(url);
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_EQ(probe.width, kOutW);
  EXPECT_EQ(probe.height, kOutH);
  EXPECT_EQ(probe.decodedFrames, static_cast<int>(probe.pts.size()));

  // Each frame shows the camera at rest at one of the stops, or on its way between two.
  const double tolX = 6 + 1.5 * kScreenW / 255.0, tolY = 6 + 1.5 * kScreenH / 255.0;
  struct Seen {
    int stop = -1;       // where the camera rests, or -1 on its way
    bool drawn = false;  // the pointer drawn at that stop's hot spot
  };
  std::vector<Seen> seen;
  std::vector<int> atStop(kStops.size(), 0);
  std::size_t reached = 0;
  ASSERT_TRUE(testing::decodeFrames(url, [&](const DecodedFrame& f) {
    const Point got = decodedOrigin(f);
    Seen s;
    for (std::size_t i = 0; i < kStops.size(); ++i) {
      const Rect want = settledViewport(kStops[i]);
      if (std::abs(got.x - want.minX()) > tolX || std::abs(got.y - want.minY()) > tolY) continue;
      EXPECT_GE(i, reached) << "the camera went back to stop " << i << " at " << f.pts / 6000.0;
      reached = std::max(reached, i);
      ++atStop[i];
      s.stop = static_cast<int>(i);
      // Something else than the pattern inside the pointer, right of and below its hot spot, and
      // the pattern well aside of it. Which image mutter sends depends on when the shape last
      // changed (the client's magenta square, the theme's arrow, or our own stand-in arrow).
      const int hx = static_cast<int>(kStops[i].x - want.minX());
      const int hy = static_cast<int>(kStops[i].y - want.minY());
      s.drawn =
          offPattern(f, want, hx + 3, hy + 8) > 60 && offPattern(f, want, hx + 40, hy + 8) < 40;
    }
    seen.push_back(s);
  }));
  // The pointer, judged on frames amid others at the same stop: on the first and last, the
  // camera may still trail a pointer that has moved on.
  std::vector<int> settled(kStops.size(), 0), drawn(kStops.size(), 0);
  for (std::size_t k = 1; k + 1 < seen.size(); ++k) {
    const int i = seen[k].stop;
    if (i < 0 || seen[k - 1].stop != i || seen[k + 1].stop != i) continue;
    ++settled[static_cast<std::size_t>(i)];
    drawn[static_cast<std::size_t>(i)] += seen[k].drawn;
  }
  const int frames = static_cast<int>(seen.size());
  for (std::size_t i = 0; i < kStops.size(); ++i) {
    SCOPED_TRACE(::testing::Message() << "stop " << i);
    // A busy machine may make few frames; a few at each stop pin the camera down.
    EXPECT_GE(atStop[i], 3) << "the camera did not settle there";
    EXPECT_GE(drawn[i], settled[i] * 3 / 4) << "the pointer is not drawn at its hot spot";
  }
  // Most frames: the ways between the stops are short.
  EXPECT_GE(atStop[0] + atStop[1] + atStop[2], frames * 2 / 5);
}

// The preferences the programs read, in the session's private configuration folder.
void writePreferences(const std::string& extra = {}) {
  const std::string config = session()->folder() + "/home/config/Kestrova";
  std::filesystem::create_directories(config);
  std::ofstream(config + "/Kestrova.conf")
      << "[General]\nrestoreToken=" << WaylandSession::restoreToken() << "\n"
      << extra;
}

// kestrova-record on the session, as a user runs it: the portal grants the screen with the stored
// token (no dialog), the pointer walks a path over an animated screen and rests at a few places on
// the way.
TEST_F(WaylandRecording, RecordToolFollowsThePointerAndDrawsItWhereItIs) {
  Pattern pattern(kFps);
  MutterCast pointer(session()->bus());  // its own stream stays unused: it drives the pointer
  writePreferences();
  pointer.moveTo(kStops[0].x, kStops[0].y);
  const auto url = scratchDir() / "follow.mp4";
  const pid_t tool = session()->spawn(
      "record", {KESTROVA_RECORD_TOOL, "--seconds", "7", "--output", url.string(), "--size",
                 std::to_string(kOutW) + "x" + std::to_string(kOutH), "--fps", std::to_string(kFps),
                 "--smoothing", "0", "--dead-zone", "0", "--clicks", "off"});
  // The writer makes the file when the recording starts.
  const auto deadline = Clock::now() + 15s;
  while (!std::filesystem::exists(url) && Clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(std::filesystem::exists(url))
      << "kestrova-record did not start (see " << session()->folder() << "/record.log)";
  walkTheStops(pointer);
  int status = -1;
  waitpid(tool, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "kestrova-record failed (see " << session()->folder() << "/record.log)";
  expectFollowedTheStops(url);
}

// `kestrova VERB` against the program already running in the session: its exit code and the line
// it printed.
struct Answer {
  int exitCode = -1;
  std::string line;
};
Answer askTheProgram(const std::string& verb) {
  const std::string log = session()->folder() + "/verb.log";
  std::filesystem::remove(log);
  int status = -1;
  waitpid(session()->spawn("verb", {KESTROVA_APP, verb}), &status, 0);
  Answer answer;
  if (WIFEXITED(status)) answer.exitCode = WEXITSTATUS(status);
  std::ifstream in(log);
  std::getline(in, answer.line);
  return answer;
}

// The program itself, as a user drives it from a shortcut: `kestrova --toggle` starts it and the
// countdown, the second one, through the running copy, stops; the file lands in the chosen folder
// and follows the pointer as kestrova-record's does, with none of the program's windows over it.
TEST_F(WaylandRecording, TheProgramRecordsWithTogglesAndFollowsThePointer) {
  Pattern pattern(kFps);
  MutterCast pointer(session()->bus());
  const auto folder = scratchDir() / "recordings";
  std::filesystem::create_directories(folder);
  writePreferences("outputPath=" + folder.string() + "\npreset=custom\ncustomW=" +
                   std::to_string(kOutW) + "\ncustomH=" + std::to_string(kOutH) +
                   "\nfps=" + std::to_string(kFps) + "\nsmoothing=0\ndeadZone=0\nclicks=false\n");
  pointer.moveTo(kStops[0].x, kStops[0].y);
  const struct Running {
    pid_t pid;
    ~Running() { session()->end(pid); }
  } app{session()->spawn("kestrova", {KESTROVA_APP, "--toggle"})};
  const auto recordings = [&] {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      if (entry.path().extension() == ".mp4") found.push_back(entry.path());
    return found;
  };
  // After the countdown, the writer makes the file when the recording starts.
  auto deadline = Clock::now() + 20s;
  while (recordings().empty() && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(recordings().size(), 1u)
      << "the program did not record (see " << session()->folder() << "/kestrova.log)";
  walkTheStops(pointer);
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(askTheProgram("--toggle").exitCode, 0) << "the running copy did not take the stop";
  deadline = Clock::now() + 15s;
  std::string state;
  while ((state = askTheProgram("--status").line) != "idle 00:00" && Clock::now() < deadline)
    std::this_thread::sleep_for(100ms);
  ASSERT_EQ(state, "idle 00:00") << "the recording did not finish";
  ASSERT_EQ(recordings().size(), 1u);
  expectFollowedTheStops(recordings().front());
}

// A still screen, and the pointer jumps across it: PipeWire sends nothing while the screen stands
// still, yet the camera's glide after the jump shows at the frame rate, as the tracker eases.
TEST_F(WaylandRecording, AJumpOnAStillScreenShowsTheGlide) {
  Pattern pattern(0);
  MutterCast cast(session()->bus());
  const Point from{200, 150}, to{1100, 600};
  cast.moveTo(from.x, from.y);
  std::this_thread::sleep_for(500ms);  // the window's arrival animates; let it finish
  const auto url = scratchDir() / "glide.mp4";
  RecorderPlatform platform = linux_desktop::makeScreenCastPlatform(UniqueFd(), cast.node());
  RecorderConfig cfg = configFor(platform, url);
  cfg.smoothing = 0.45;  // eases for about 1.5 s after the jump
  const auto firstSample = testing::watchFirstSample(platform);
  auto recorder = Recorder::create(cfg, std::move(platform));
  recorder->start();
  const Clock::time_point t0 = outputZero(firstSample);
  std::this_thread::sleep_for(600ms);
  const double jumpedAt = std::chrono::duration<double>(Clock::now() - t0).count();
  cast.moveTo(to.x, to.y);
  std::this_thread::sleep_for(2200ms);
  ASSERT_EQ(recorder->stop(), url);

  struct Seen {
    double t;
    Point origin;
  };
  std::vector<Seen> frames;
  ASSERT_TRUE(testing::decodeFrames(url, [&](const DecodedFrame& f) {
    frames.push_back({f.pts / 6000.0, decodedOrigin(f)});
  }));
  const Rect start = settledViewport(from), end = settledViewport(to);
  const double tolX = 6 + 1.5 * kScreenW / 255.0, tolY = 6 + 1.5 * kScreenH / 255.0;
  // The first frame that left the start: the camera's first step after the jump.
  const auto moved = std::find_if(frames.begin(), frames.end(), [&](const Seen& s) {
    return std::abs(s.origin.x - start.minX()) > tolX || std::abs(s.origin.y - start.minY()) > tolY;
  });
  ASSERT_NE(moved, frames.end()) << "the camera never moved";
  ASSERT_NE(moved, frames.begin());
  // mutter, rendering in software on a busy machine, may take a while to show the move.
  EXPECT_NEAR(moved->t, jumpedAt, 1.0);

  // Replayed over the same frame times, the tracker goes where the video went.
  ViewportTracker tracker{{kScreenW, kScreenH}, {kOutW, kOutH}, cfg.smoothing, 0, 0, 0, false};
  tracker.update(from, 0);
  double longestStep = 0;
  int gliding = 0;
  for (auto it = moved; it != frames.end(); ++it) {
    // As the pipeline does, a step eases over at most 0.1 s.
    const double dt = it->t - std::prev(it)->t;
    const Rect want = tracker.update(to, std::min(dt, 0.1));
    SCOPED_TRACE(::testing::Message() << "frame at " << it->t << " s");
    EXPECT_NEAR(it->origin.x, want.minX(), tolX);
    EXPECT_NEAR(it->origin.y, want.minY(), tolY);
    if (std::abs(want.minX() - end.minX()) > 1 || std::abs(want.minY() - end.minY()) > 1) {
      ++gliding;
      if (it != moved) longestStep = std::max(longestStep, dt);
    }
  }
  // The glide at the frame rate: a frame every 1/fps s until the camera has arrived.
  EXPECT_GE(gliding, 5);
  if (kAtSpeed) {
    EXPECT_LT(longestStep, 2.0 / kFps) << "the glide is not at the frame rate";
  }
}

// The desktop ends the cast mid-recording (its "stop sharing" control): the recorder hears of it
// once, as the end of sharing rather than a failure, and stopping keeps what was recorded.
TEST_F(WaylandRecording, AStreamTheCompositorClosesEndsTheRecordingAndKeepsTheFile) {
  Pattern pattern(kFps);
  MutterCast cast(session()->bus());
  const auto url = scratchDir() / "closed.mp4";
  RecorderPlatform platform = linux_desktop::makeScreenCastPlatform(UniqueFd(), cast.node());
  const RecorderConfig cfg = configFor(platform, url);
  const auto firstSample = testing::watchFirstSample(platform);
  auto recorder = Recorder::create(cfg, std::move(platform));
  std::mutex mutex;
  std::vector<std::exception_ptr> errors;
  recorder->setOnFailure([&](std::exception_ptr e) {
    std::lock_guard lock(mutex);
    errors.push_back(e);
  });
  recorder->start();
  outputZero(firstSample);
  std::this_thread::sleep_for(700ms);
  cast.stop();
  const auto deadline = Clock::now() + 5s;
  while (Clock::now() < deadline) {
    {
      std::lock_guard lock(mutex);
      if (!errors.empty()) break;
    }
    std::this_thread::sleep_for(10ms);
  }
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(recorder->stop(), url);

  std::lock_guard lock(mutex);
  ASSERT_EQ(errors.size(), 1u) << "the end of the cast was not reported exactly once";
  try {
    std::rethrow_exception(errors[0]);
  } catch (const PlatformError& e) {
    EXPECT_TRUE(e.isSharingEnded()) << "reported as a failure: " << e.what();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "reported as a failure: " << e.what();
  }
  const testing::Mp4Probe probe = testing::probeMp4(url);
  ASSERT_TRUE(probe.opened) << probe.error;
  // A busy machine may have made few frames; what matters is a finished, playable file.
  EXPECT_GT(probe.decodedFrames, 1);
  EXPECT_EQ(probe.decodedFrames, static_cast<int>(probe.pts.size()));
}

// A mouse press read from a pointer device (here a pipe of recorded input events) during a
// recording: the ring grows around the pointer where the cast's metadata has it at that moment.
TEST_F(WaylandRecording, APressDrawsTheRingWhereTheCastHasThePointer) {
  Pattern pattern(kFps);
  MutterCast cast(session()->bus());
  const Point at{640, 360};
  cast.moveTo(at.x, at.y);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  auto mouse = std::make_shared<UniqueFd>(ends[0]);
  const UniqueFd hand(ends[1]);
  const auto url = scratchDir() / "click.mp4";
  RecorderPlatform platform =
      linux_desktop::makeScreenCastPlatform(UniqueFd(), cast.node(), {}, kFps);
  platform.clickMonitor = std::make_shared<evdev::EvdevClickMonitor>([mouse] {
    std::vector<UniqueFd> devices;
    devices.push_back(std::move(*mouse));
    return devices;
  });
  RecorderConfig cfg = configFor(platform, url);
  cfg.clickIndicator = true;
  const auto firstSample = testing::watchFirstSample(platform);
  auto recorder = Recorder::create(cfg, std::move(platform));
  recorder->start();
  const Clock::time_point t0 = outputZero(firstSample);
  std::this_thread::sleep_for(600ms);
  const double pressedAt = std::chrono::duration<double>(Clock::now() - t0).count();
  input_event press{};
  press.type = EV_KEY;
  press.code = BTN_LEFT;
  press.value = 1;
  ASSERT_EQ(write(hand.get(), &press, sizeof press), static_cast<ssize_t>(sizeof press));
  std::this_thread::sleep_for(800ms);
  ASSERT_EQ(recorder->stop(), url);

  // The ring's rim, white, crossed by a row and a column 8 pixels above and left of the centre,
  // clear of any pointer image: the crossings lie symmetric about the centre.
  const Rect viewport = settledViewport(at);
  const int cx = static_cast<int>(at.x - viewport.minX()),
            cy = static_cast<int>(at.y - viewport.minY());
  const auto white = [](const DecodedFrame& f, int x, int y) {
    const Rgb c = rgbAt(f, x, y);
    return std::min({c.r, c.g, c.b}) > 120;  // the pattern's blue stays under 60
  };
  const auto middleOfRim = [](auto&& isRim) -> std::optional<double> {
    int first = 0, last = -1;
    for (int d = -45; d <= 45; ++d) {
      if (!isRim(d)) continue;
      if (last < first) first = d;
      last = d;
    }
    if (last < first) return std::nullopt;
    return (first + last) / 2.0;
  };
  int ringed = 0;
  ASSERT_TRUE(testing::decodeFrames(url, [&](const DecodedFrame& f) {
    const auto dx = middleOfRim([&](int d) { return white(f, cx + d, cy - 8); });
    const auto dy = middleOfRim([&](int d) { return white(f, cx - 8, cy + d); });
    if (!dx && !dy) return;
    const double t = f.pts / 6000.0;
    SCOPED_TRACE(::testing::Message() << "frame at " << t << " s, pressed at " << pressedAt);
    EXPECT_GT(t, pressedAt - 0.05) << "a ring before the press";
    ASSERT_TRUE(dx && dy) << "a ring cut on one side";
    EXPECT_NEAR(*dx, 0, 3) << "the ring is off the pointer across";
    EXPECT_NEAR(*dy, 0, 3) << "the ring is off the pointer down";
    ++ringed;
  }));
  EXPECT_GE(ringed, 2) << "no ring in the video";
}

// Samples that repeat one frame draw the pointer each where it was: none may leave a trail of an
// earlier one, wherever it was clipped.
TEST(CursorOverlay, EachPlacementTakesTheLastOneAwayFirst) {
  constexpr int w = 40, h = 30, stride = w * 4;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride * h));
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 7);
  const std::vector<std::uint8_t> original = pixels;
  const auto arrow = wayland::CursorBitmap::fallbackArrow();
  wayland::CursorOverlay overlay;
  struct Case {
    int x, y;
    bool visible;
  };
  for (const Case c : {Case{5, 5, true}, Case{-4, 20, true}, Case{35, -10, true},
                       Case{38, 28, true}, Case{100, 100, true}, Case{10, 10, false}}) {
    SCOPED_TRACE(::testing::Message() << "pointer at " << c.x << "," << c.y);
    overlay.place(pixels.data(), w, h, stride, {c.x, c.y, c.visible ? arrow : nullptr});
    int changed = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const std::size_t at = static_cast<std::size_t>(y * stride + x * 4);
        const bool differs = pixels[at] != original[at];
        const int ix = x - c.x, iy = y - c.y;  // within the arrow's image (hot spot at its tip)
        const bool inside =
            c.visible && ix >= 0 && iy >= 0 && ix < arrow->width && iy < arrow->height &&
            (arrow->argb[static_cast<std::size_t>(iy * arrow->width + ix)] >> 24) != 0;
        EXPECT_EQ(differs && !inside, false) << "a trail at " << x << "," << y;
        changed += differs;
      }
    }
    if (c.visible && c.x >= 0 && c.x < w && c.y >= 0 && c.y < h) {
      EXPECT_GT(changed, 0);
    }
  }
  EXPECT_EQ(pixels, original);
}

}  // namespace
}  // namespace kestrova

int main(int argc, char** argv) {
  // QtDBus needs an application object; the session's bus connection is one of its.
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
