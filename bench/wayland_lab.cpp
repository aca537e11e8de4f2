// wayland_lab: runs one command in a headless GNOME session of its own, on a busy scene, and says
// what the command cost. For benchmarks of the Wayland back end (bench/wayland-record.sh).
//
//   wayland_lab [--cursor embedded|metadata] -- COMMAND ARGS...
//
// The scene: the pattern client animating at 30 Hz over the whole 1280×720 monitor, the pointer
// sweeping across it at 30 Hz. The command gets the session's environment, with KESTROVA_WL_NODE a
// fresh mutter cast of the monitor (the pointer embedded or as metadata), and a preference file
// holding a restore token the portal accepts. Prints "cpu_s=… maxrss_kb=… wall_s=… mutter_cpu_s=…":
// the command's CPU (its waited-for children included) and mutter's over the same time.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "MutterCast.h"
#include "WaylandSession.h"

namespace {

using namespace kestrova::testing;
using Clock = std::chrono::steady_clock;

// CPU seconds a process has used so far, from /proc.
double cpuOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state … cmajflt
  double utime = 0, stime = 0;
  fields >> utime >> stime;
  return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  MutterCast::Cursor cursor = MutterCast::Cursor::metadata;
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--cursor") == 0 && i + 1 < argc) {
      cursor = std::strcmp(argv[++i], "embedded") == 0 ? MutterCast::Cursor::embedded
                                                       : MutterCast::Cursor::metadata;
    }
  }
  if (i + 1 >= argc) {
    std::fprintf(stderr, "usage: wayland_lab [--cursor embedded|metadata] -- COMMAND ARGS...\n");
    return 2;
  }
  std::vector<std::string> command(argv + i + 1, argv + argc);
  try {
    WaylandSession session(1280, 720);
    session.writePreferences();
    session.spawn("pattern", {KESTROVA_PATTERN_WINDOW, "30"});
    std::this_thread::sleep_for(std::chrono::seconds(1));
    MutterCast cast(session.bus(), cursor);
    const double mutterBefore = cpuOf(session.compositor());

    // The command is started by hand (not spawn()) to wait for it with its resource usage.
    const auto began = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
      for (const auto& [k, v] : session.environment()) setenv(k.c_str(), v.c_str(), 1);
      setenv("KESTROVA_WL_NODE", std::to_string(cast.node()).c_str(), 1);
      std::vector<char*> args;
      for (auto& a : command) args.push_back(a.data());
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    rusage usage{};
    int status = 0;
    for (int step = 0;; ++step) {
      const pid_t done = wait4(child, &status, WNOHANG, &usage);
      if (done == child) break;
      const double phase = step / 90.0 * 2 * M_PI;  // a loop every 3 s
      cast.moveTo(640 + 560 * std::cos(phase), 360 + 300 * std::sin(2 * phase));
      std::this_thread::sleep_for(std::chrono::milliseconds(33));
    }
    const double wall = std::chrono::duration<double>(Clock::now() - began).count();
    const double mutterCpu = cpuOf(session.compositor()) - mutterBefore;
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("cpu_s=%.3f maxrss_kb=%ld wall_s=%.3f mutter_cpu_s=%.3f status=%d\n", cpu,
                usage.ru_maxrss, wall, mutterCpu, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wayland_lab: %s\n", e.what());
    return 1;
  }
}
