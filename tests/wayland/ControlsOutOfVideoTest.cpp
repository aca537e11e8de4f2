// The program's own windows on a Wayland desktop with two monitors, where no window can be left
// out of a screen cast: the countdown is gone before the first frame, the toolbar goes to the
// monitor that is not recorded, and no pixel of ours reaches the video.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "LinuxRecorderPlatform.h"
#include "Mp4Probe.h"
#include "MutterCast.h"
#include "Recorder.h"
#include "WaylandSession.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::DecodedFrame;
using testing::MutterCast;
using testing::WaylandSession;

// The recorded monitor whole, so any window of ours on it would be in the video; a second,
// smaller one beside it.
constexpr int kScreenW = 1280, kScreenH = 720;
constexpr int kOtherW = 800, kOtherH = 600;
constexpr int kPointerX = 1000, kPointerY = 150;  // away from the middle and the bottom

class TwoMonitors : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::signal(SIGPIPE, SIG_IGN);
    try {
      session_ = std::make_unique<WaylandSession>(kScreenW, kScreenH, kOtherW, kOtherH);
      session_->exportEnvironment();
      dir_ = std::filesystem::temp_directory_path() /
             ("kestrova-wl-monitors-" + std::to_string(getpid()));
      std::filesystem::create_directories(dir_ / "recordings");
    } catch (const testing::SessionUnavailable& e) {
      unavailable_ = e.what();
    }
  }
  static void TearDownTestSuite() {
    session_.reset();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  void SetUp() override {
    if (!session_) GTEST_SKIP() << unavailable_;
  }

  // Waits for `line` at the start of a line of the log `name` in the session's folder.
  static bool logSays(const std::string& name, const std::string& line, std::chrono::seconds wait) {
    const auto deadline = Clock::now() + wait;
    while (Clock::now() < deadline) {
      std::ifstream in(session_->folder() + "/" + name + ".log");
      for (std::string l; std::getline(in, l);)
        if (l.rfind(line, 0) == 0) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  // `kestrova VERB` against the running program; the line it printed.
  static std::string ask(const std::string& verb) {
    std::filesystem::remove(session_->folder() + "/verb.log");
    int status = -1;
    waitpid(session_->spawn("verb", {KESTROVA_APP, verb}), &status, 0);
    std::ifstream in(session_->folder() + "/verb.log");
    std::string line;
    std::getline(in, line);
    return line;
  }

  static std::filesystem::path recording() {
    for (const auto& entry : std::filesystem::directory_iterator(dir_ / "recordings"))
      if (entry.path().extension() == ".mp4") return entry.path();
    return {};
  }

  static inline std::unique_ptr<WaylandSession> session_;
  static inline std::string unavailable_;
  static inline std::filesystem::path dir_;
};

// How far a decoded pixel is from the pattern client's colour there (red and green code x and y).
double offPattern(const DecodedFrame& f, int x, int y) {
  const double Y = 1.164 * (f.y(x, y) - 16), U = f.u(x, y) - 128.0, V = f.v(x, y) - 128.0;
  const double r = Y + 1.596 * V, g = Y - 0.392 * U - 0.813 * V, b = Y + 2.017 * U;
  return std::abs(r - x * 255.0 / (kScreenW - 1)) + std::abs(g - y * 255.0 / (kScreenH - 1)) +
         std::max(0.0, b - 56);
}

// A few seconds of the second monitor, as mutter shows it.
std::filesystem::path recordOtherMonitor(QDBusConnection bus, const std::filesystem::path& url) {
  MutterCast cast(std::move(bus), MutterCast::Cursor::metadata, QStringLiteral("Meta-1"));
  RecorderPlatform platform = linux_desktop::makeScreenCastPlatform(UniqueFd(), cast.node());
  const DisplayInfo display = platform.displays->displays().at(0);
  RecorderConfig cfg;
  cfg.displayID = display.id;
  cfg.screenFrame = display.frame;
  cfg.scale = display.scale;
  cfg.width = kOtherW;
  cfg.height = kOtherH;
  cfg.fps = 10;
  cfg.smoothing = 0;
  cfg.deadZone = 0;
  cfg.url = url;
  auto recorder = Recorder::create(cfg, std::move(platform));
  recorder->start();
  std::this_thread::sleep_for(1500ms);
  return recorder->stop();
}

TEST_F(TwoMonitors, TheToolbarGoesToTheOtherMonitorAndNoWindowOfOursIsRecorded) {
  const pid_t pattern = session_->spawn("pattern", {KESTROVA_PATTERN_WINDOW, "30"});
  ASSERT_TRUE(
      logSays("pattern", "shown " + std::to_string(kScreenW) + "x" + std::to_string(kScreenH), 20s))
      << "the pattern does not cover the first monitor";
  MutterCast pointer(session_->bus());
  pointer.moveTo(kPointerX, kPointerY);

  const std::string config = session_->folder() + "/home/config/Kestrova";
  std::filesystem::create_directories(config);
  std::ofstream(config + "/Kestrova.conf")
      << "[General]\nrestoreToken=" << WaylandSession::restoreToken()
      << "\noutputPath=" << (dir_ / "recordings").string()
      << "\npreset=custom\ncustomW=" << kScreenW << "\ncustomH=" << kScreenH
      << "\nfps=30\nsmoothing=0\ndeadZone=0\nclicks=false\n";
  const pid_t app = session_->spawn("kestrova", {KESTROVA_APP, "--toggle"});
  const auto deadline = Clock::now() + 20s;
  while (recording().empty() && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
  ASSERT_FALSE(recording().empty())
      << "the program did not record (see " << session_->folder() << "/kestrova.log)";
  std::this_thread::sleep_for(1s);

  const auto other = recordOtherMonitor(session_->bus(), dir_ / "other.mp4");
  std::this_thread::sleep_for(1s);
  ask("--toggle");
  std::string state;
  for (auto until = Clock::now() + 15s; (state = ask("--status")) != "idle 00:00";) {
    if (Clock::now() > until) break;
    std::this_thread::sleep_for(100ms);
  }
  session_->end(app);
  session_->end(pattern);
  ASSERT_EQ(state, "idle 00:00") << "the recording did not finish";

  // On the other monitor (the compositor's plain background but for our windows): the toolbar
  // near its bottom.
  int toolbarPixels = 0;
  ASSERT_TRUE(testing::decodeFrames(other, [&](const DecodedFrame& f) {
    toolbarPixels = 0;
    const int background = f.y(10, 10);
    for (int y = f.height - 100; y < f.height - 20; y += 2)
      for (int x = f.width / 2 - 130; x < f.width / 2 + 130; x += 2)
        toolbarPixels += std::abs(f.y(x, y) - background) > 40;
  }));
  EXPECT_GT(toolbarPixels, 20) << "no toolbar at the bottom of the other monitor";

  // On the recorded monitor: the pattern everywhere, in every frame from the first, but where
  // the pointer is drawn.
  int frames = 0, framesWithOurs = 0;
  std::string firstSeen;
  ASSERT_TRUE(testing::decodeFrames(recording(), [&](const DecodedFrame& f) {
    ++frames;
    int foreign = 0, atX = 0, atY = 0;
    for (int y = 4; y < f.height - 4; y += 8) {
      for (int x = 4; x < f.width - 4; x += 8) {
        if (std::abs(x - kPointerX) < 48 && std::abs(y - kPointerY) < 48) continue;
        if (offPattern(f, x, y) > 80 && foreign++ == 0) atX = x, atY = y;
      }
    }
    if (foreign > 2 && framesWithOurs++ == 0) {
      firstSeen = "frame " + std::to_string(frames) + " at " + std::to_string(f.pts / 6000.0) +
                  " s, from " + std::to_string(atX) + "," + std::to_string(atY);
    }
  }));
  EXPECT_GT(frames, 10);
  EXPECT_EQ(framesWithOurs, 0) << "something else than the screen in the video: " << firstSeen;
}

}  // namespace
}  // namespace kestrova

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
