// kestrova-record: records one display without the window, for tests and benchmarks. Takes the
// settings from the user's preferences, or from flags, records for the given time and prints the
// path of the finished file.
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "EngineSession.h"
#include "LinuxDesktopServices.h"
#include "LinuxRecorderPlatform.h"
#include "OutputFiles.h"
#include "Prefs.h"
#include "Recorder.h"
#include "ScreenCastRecordingEngine.h"
#include "WaylandSession.h"

namespace {

using namespace kestrova;

const char* kUsage =
    "usage: kestrova-record [options]\n"
    "  --seconds S        how long to record (default 10)\n"
    "  --output PATH      the MP4 to write (default: a time-stamped name in the preferred folder)\n"
    "  --display ID       RandR output id of the display (default: preference, 0 = main); on\n"
    "                     Wayland, the screen chosen in the desktop's dialog is recorded\n"
    "  --size WxH         output size (default: preference)\n"
    "  --fps N            frames per second (default: preference)\n"
    "  --smoothing S      follow smoothing (default: preference)\n"
    "  --dead-zone D      dead zone, fraction of the half-size (default: preference)\n"
    "  --clicks on|off    click rings (default: preference)\n"
    "  --pause AT:FOR     pause AT seconds into the recording for FOR seconds (repeatable)\n";

struct Pause {
  double at;
  double duration;
};

[[noreturn]] void usageError(const std::string& what) {
  std::fprintf(stderr, "kestrova-record: %s\n%s", what.c_str(), kUsage);
  std::exit(2);
}

double number(const char* flag, const char* text) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (!end || *end || !std::isfinite(v)) usageError(std::string("bad value for ") + flag);
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  Prefs::registerDefaults();

  RecorderConfig cfg = Prefs::recordingSettings();
  cfg.displayID = Prefs::displayID();
  double seconds = 10;
  std::string output;
  std::vector<Pause> pauses;

  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--help" || flag == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) usageError("missing value for " + flag);
    const char* value = argv[++i];
    if (flag == "--seconds") {
      seconds = number("--seconds", value);
    } else if (flag == "--output") {
      output = value;
    } else if (flag == "--display") {
      cfg.displayID = static_cast<std::uint32_t>(number("--display", value));
    } else if (flag == "--size") {
      int w = 0, h = 0;
      if (std::sscanf(value, "%dx%d", &w, &h) != 2 || w < 2 || h < 2 || w % 2 || h % 2)
        usageError("--size takes even WxH, e.g. 1920x1080");
      cfg.width = w;
      cfg.height = h;
    } else if (flag == "--fps") {
      cfg.fps = static_cast<std::int64_t>(number("--fps", value));
      if (cfg.fps < 1 || cfg.fps > 240) usageError("--fps takes 1 to 240");
    } else if (flag == "--smoothing") {
      cfg.smoothing = number("--smoothing", value);
    } else if (flag == "--dead-zone") {
      cfg.deadZone = number("--dead-zone", value);
    } else if (flag == "--clicks") {
      cfg.clickIndicator = std::string(value) == "on";
    } else if (flag == "--pause") {
      Pause p{};
      if (std::sscanf(value, "%lf:%lf", &p.at, &p.duration) != 2)
        usageError("--pause takes AT:FOR");
      pauses.push_back(p);
    } else {
      usageError("unknown option " + flag);
    }
  }

  // A dead X server must not kill us with SIGPIPE before the file is finished.
  std::signal(SIGPIPE, SIG_IGN);

  try {
    // On Wayland the screen is the one the user chose in the desktop's dialog, granted again
    // with the stored restore token; on X11 the configured display.
    std::shared_ptr<RecordingEngine> recorder;
    const bool wayland = isWaylandSession();
    RecorderPlatform platform;
    if (!wayland) {
      platform = linux_desktop::makeRecorderPlatform();
      const auto displays = platform.displays->displays();
      const DisplayInfo& display = chooseDisplay(displays, cfg.displayID);
      cfg.displayID = display.id;
      cfg.screenFrame = display.frame;
      cfg.scale = display.scale;
    }

    if (output.empty()) {
      const OutputFolder file = recordingFile(QDateTime::currentDateTime());
      if (file.path.isEmpty()) throw PlatformError(file.error.toStdString());
      output = QFile::encodeName(file.path).toStdString();
    }
    cfg.url = output;

    if (wayland) {
      recorder =
          std::make_shared<linux_desktop::ScreenCastRecordingEngine>(cfg, restoreTokenPreference());
    } else {
      recorder = Recorder::create(cfg, std::move(platform));
    }
    // A failure ends the recording early; the file is still finished.
    std::mutex mutex;
    std::condition_variable failed;
    std::exception_ptr failure;
    recorder->setOnFailure([&](std::exception_ptr e) {
      std::lock_guard lock(mutex);
      failure = e;
      failed.notify_all();
    });
    const auto sleepUntil = [&](std::chrono::steady_clock::time_point t) {
      std::unique_lock lock(mutex);
      return !failed.wait_until(lock, t, [&] { return failure != nullptr; });
    };
    try {
      recorder->start();
    } catch (...) {
      stopQuietly(*recorder, FileFate::keep);
      throw;
    }

    const auto began = std::chrono::steady_clock::now();
    const auto at = [&](double s) {
      return began + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(s));
    };
    bool running = true;
    for (const Pause& p : pauses) {
      if (!(running = running && sleepUntil(at(p.at)))) break;
      recorder->setPaused(true);
      if (!(running = sleepUntil(at(p.at + p.duration)))) break;
      recorder->setPaused(false);
    }
    if (running) sleepUntil(at(seconds));

    const auto path = recorder->stop();
    std::printf("%s\n", path.c_str());
    std::lock_guard lock(mutex);
    try {
      if (failure) std::rethrow_exception(failure);  // the file is saved, but say what went wrong
    } catch (const PlatformError& e) {
      if (!e.isSharingEnded()) throw;  // the desktop's "stop sharing" is a stop
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestrova-record: %s\n", e.what());
    return 1;
  }
}
