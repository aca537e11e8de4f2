#pragma once

// Starting and ending the helper servers of tests (Xvfb, dbus-daemon).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kestrova::testing {

// Starts `argv` (null-terminated) with fd 3 a pipe to us and its complaints silenced; returns the
// first line it writes there (a display number, a bus address), or "" when none comes in 10 s.
// `pid` is the daemon's, or -1.
inline std::string startDaemon(const std::vector<const char*>& argv, pid_t& pid) {
  int fds[2];
  pid = -1;
  if (pipe2(fds, O_CLOEXEC) != 0) return "";
  pid = fork();
  if (pid == 0) {
    // A test that crashes must not leave its servers behind, holding the output pipe of the run.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(fds[1], 3);  // not close-on-exec once duplicated
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, 2);
    execvp(argv[0], const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  close(fds[1]);
  std::string line;
  pollfd p{fds[0], POLLIN, 0};
  while (pid > 0 && line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
    char buf[256];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  return line;
}

// Ends a daemon that startDaemon() started, and waits for it; then sets `pid` to -1.
inline void endDaemon(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

}  // namespace kestrova::testing
