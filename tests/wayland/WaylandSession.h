#pragma once

#include <sys/types.h>

#include <QDBusConnection>
#include <QString>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::testing {

// Why a Wayland session could not be had on this machine; tests skip with its message.
class SessionUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A headless GNOME session of its own for tests of the Wayland back end, from Debian's packages:
// a private D-Bus bus (configured in lab-bus/), PipeWire and WirePlumber, mutter with one or two
// virtual monitors and no GPU, and the screen-cast portal (xdg-desktop-portal with its GNOME back
// end), which the bus starts on demand. A grant for the first monitor is written into the
// portal's permission store, so a request with restoreToken() shows no dialog.
//
// Every process it starts is ended by its PID when the object goes (and dies with the test process
// if that crashes first). One per test binary is plenty: each test takes fresh streams.
class WaylandSession {
 public:
  // Throws SessionUnavailable when a package is missing or a part does not come up. A second
  // monitor, when its size is given, lies right of the first; the grant is for the first.
  WaylandSession(int width, int height, int secondWidth = 0, int secondHeight = 0);
  ~WaylandSession();

  WaylandSession(const WaylandSession&) = delete;
  WaylandSession& operator=(const WaylandSession&) = delete;

  // NAME=value pairs a client of the session needs (runtime folder, bus, Wayland display, ...).
  const std::vector<std::pair<std::string, std::string>>& environment() const { return env_; }
  // Puts environment() into this process's environment. Call before any thread starts.
  void exportEnvironment() const;
  // A connection of this process to the session's bus.
  QDBusConnection bus() const;
  // A restore token the portal accepts for the virtual monitor.
  static constexpr const char* restoreToken() { return "4b657374-726f-4761-8000-00000000c0de"; }
  // Writes the program's preferences in the session's home: restoreToken() and `extraLines`.
  void writePreferences(const std::string& extraLines = {}) const;
  const std::string& folder() const { return dir_; }
  pid_t compositor() const { return compositor_; }  // mutter

  // Starts `argv` in the session's environment, output to a log file in folder(); the session
  // ends it when it goes if it still runs.
  pid_t spawn(const std::string& logName, std::vector<std::string> argv);
  // Ends a process that spawn() started, and waits for it.
  void end(pid_t pid);

 private:
  void teardown();
  void waitFor(const char* what, int seconds, const std::function<bool()>& ready);
  bool hasName(const QString& name) const;
  void seedGrant();
  void endActivatedServices();

  std::string dir_;
  std::vector<std::pair<std::string, std::string>> env_;
  std::vector<pid_t> pids_;  // in start order
  QString busName_;
  pid_t compositor_ = -1;
};

}  // namespace kestrova::testing
