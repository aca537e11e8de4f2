#include "XvfbServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace kestrova::testing {

XvfbServer::XvfbServer(int width, int height, const std::vector<std::string>& extraArgs) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  // Built before forking: the child of a threaded process must not allocate.
  std::vector<const char*> argv = {
      "Xvfb",         "-displayfd", "3",          "-screen",         "0",
      screen.c_str(), "-nolisten",  "tcp",        "-noreset",        "+extension",
      "COMPOSITE",    "+extension", "DAMAGE",     "+extension",      "XFIXES",
      "+extension",   "RANDR",      "+extension", "XInputExtension", "+extension",
      "XTEST"};
  for (const std::string& arg : extraArgs) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // A test that crashes must not leave its server behind, holding the output pipe of the run.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(fds[1], 3);  // not close-on-exec once duplicated
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, 2);
    execvp("Xvfb", const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  close(fds[1]);

  // Xvfb writes its display number once it accepts connections.
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 10000) > 0) {
    char buf[16];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    number.append(buf, static_cast<std::size_t>(n));
    if (number.find('\n') != std::string::npos) break;
  }
  close(fds[0]);
  while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
  if (number.empty()) {
    kill();
    throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)");
  }
  display_ = ":" + number;
}

XvfbServer::~XvfbServer() {
  kill();
}

void XvfbServer::exportDisplay() const {
  setenv("DISPLAY", display_.c_str(), 1);
}

void XvfbServer::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace kestrova::testing
