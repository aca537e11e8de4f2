#pragma once

// Starting and ending the helper servers of tests (Xvfb, dbus-daemon).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace kestrova::testing {

// One helper server, ended (SIGTERM, then waited for) by end() or when this object goes.
class Daemon {
 public:
  Daemon() = default;
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;
  ~Daemon() { end(); }

  // Starts `argv` (null-terminated) with fd 3 a pipe to us and its complaints silenced; returns the
  // first line it writes there (a display number, a bus address), or "" when none comes in 10 s.
  std::string start(const std::vector<const char*>& argv) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return "";
    pid_ = fork();
    if (pid_ == 0) {
      // A test that crashes must not leave its servers behind, holding the output pipe of the run.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      dup2(fds[1], 3);  // not close-on-exec once duplicated
      const int devnull = open("/dev/null", O_WRONLY);
      if (devnull >= 0) dup2(devnull, 2);
      execvp(argv[0], const_cast<char* const*>(argv.data()));
      _exit(127);
    }
    close(fds[1]);
    FILE* out = fdopen(fds[0], "r");
    pollfd p{fds[0], POLLIN, 0};
    char line[512] = "";
    if (pid_ > 0 && poll(&p, 1, 10000) > 0 && !std::fgets(line, sizeof line, out)) line[0] = '\0';
    std::fclose(out);
    line[std::strcspn(line, "\n")] = '\0';
    return line;
  }

  void end() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

}  // namespace kestrova::testing
