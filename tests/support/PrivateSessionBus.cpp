#include "PrivateSessionBus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace kestrova::testing {

PrivateSessionBus::PrivateSessionBus() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  const std::string config = std::string("--config-file=") + KESTROVA_TEST_BUS_CONFIG;
  const char* argv[] = {"dbus-daemon", config.c_str(), "--nofork", "--print-address=3", nullptr};
  pid_ = fork();
  if (pid_ < 0) return;
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // a crashed test leaves no daemon behind
    dup2(fds[1], 3);
    const int devnull = open("/dev/null", O_WRONLY);  // it complains of fd limits it may not raise
    if (devnull >= 0) dup2(devnull, 2);
    execvp("dbus-daemon", const_cast<char* const*>(argv));
    _exit(127);
  }
  close(fds[1]);
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 10000) > 0) {
    char buf[256];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    address_.append(buf, static_cast<std::size_t>(n));
    if (address_.find('\n') != std::string::npos) break;
  }
  close(fds[0]);
  while (!address_.empty() && address_.back() == '\n') address_.pop_back();
}

PrivateSessionBus::~PrivateSessionBus() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
}

void PrivateSessionBus::exportAddress() const {
  setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

}  // namespace kestrova::testing
