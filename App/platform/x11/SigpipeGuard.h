#pragma once

#include <csignal>

#include <ctime>

namespace kestrova::x11 {

// XCB writes to its socket without MSG_NOSIGNAL, so a request sent to an X server that has just
// died raises SIGPIPE, which would end the process. While a guard lives, SIGPIPE is blocked on
// this thread; one raised meanwhile is taken away before the old mask comes back.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old_);
  }
  ~SigpipeGuard() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE) && !sigismember(&old_, SIGPIPE)) {
      const timespec now{0, 0};
      sigtimedwait(&pipe, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }

  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t old_;
};

}  // namespace kestrova::x11
