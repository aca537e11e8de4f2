#include "WaylandSession.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QStandardPaths>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace kestrova::testing {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

void endProcess(pid_t pid, bool child) {
  if (pid <= 0 || ::kill(pid, SIGTERM) != 0) return;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (Clock::now() < deadline) {
    if (child ? waitpid(pid, nullptr, WNOHANG) == pid : ::kill(pid, 0) != 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  if (child) waitpid(pid, nullptr, 0);
}

}  // namespace

WaylandSession::WaylandSession(int width, int height, int secondWidth, int secondHeight) {
  for (const char* program :
       {"dbus-daemon", "pipewire", "wireplumber", "mutter", "gdbus",
        "/usr/libexec/xdg-desktop-portal", "/usr/libexec/xdg-desktop-portal-gnome",
        "/usr/libexec/xdg-permission-store"}) {
    if (QStandardPaths::findExecutable(program).isEmpty()) {
      throw SessionUnavailable(std::string("no headless GNOME session: ") + program +
                               " is not installed (scripts/setup.sh installs it)");
    }
  }
  char templ[] = "/tmp/kestrova-wl-XXXXXX";
  if (!mkdtemp(templ)) throw SessionUnavailable("no headless GNOME session: mkdtemp failed");
  dir_ = templ;
  for (const char* sub : {"run", "home/data", "home/config", "home/cache", "home/state"})
    fs::create_directories(fs::path(dir_) / sub);
  chmod((dir_ + "/run").c_str(), 0700);
  const std::string address = "unix:path=" + dir_ + "/run/bus";
  env_ = {{"PATH", "/usr/local/bin:/usr/bin:/bin"},
          {"HOME", dir_ + "/home"},
          {"LANG", "C.UTF-8"},
          {"XDG_RUNTIME_DIR", dir_ + "/run"},
          {"DBUS_SESSION_BUS_ADDRESS", address},
          {"WAYLAND_DISPLAY", "wayland-0"},
          {"XDG_SESSION_TYPE", "wayland"},
          {"XDG_CURRENT_DESKTOP", "GNOME"},
          {"XDG_DATA_HOME", dir_ + "/home/data"},
          {"XDG_CONFIG_HOME", dir_ + "/home/config"},
          {"XDG_CACHE_HOME", dir_ + "/home/cache"},
          {"XDG_STATE_HOME", dir_ + "/home/state"},
          // No dconf daemon, no accessibility bus: neither belongs to what is tested.
          {"GSETTINGS_BACKEND", "memory"},
          {"GTK_A11Y", "none"},
          {"NO_AT_BRIDGE", "1"},
          {"QT_QPA_PLATFORM", "wayland"}};

  try {
    spawn("dbus", {"dbus-daemon", "--nofork", "--config-file=" KESTROVA_LAB_BUS_CONFIG,
                   "--address=" + address});
    waitFor("D-Bus", 10, [&] { return fs::exists(dir_ + "/run/bus"); });
    busName_ = QString::fromStdString("kestrova-wl-" + dir_);
    spawn("pipewire", {"pipewire"});
    waitFor("PipeWire", 10, [&] { return fs::exists(dir_ + "/run/pipewire-0"); });
    spawn("wireplumber", {"wireplumber"});
    const auto size = [](int w, int h) { return std::to_string(w) + "x" + std::to_string(h); };
    std::vector<std::string> mutter = {"mutter",   "--headless",        "--wayland",
                                       "--no-x11", "--virtual-monitor", size(width, height)};
    if (secondWidth > 0)
      mutter.insert(mutter.end(), {"--virtual-monitor", size(secondWidth, secondHeight)});
    compositor_ = spawn("mutter", mutter);
    waitFor("mutter", 30, [&] {
      return fs::exists(dir_ + "/run/wayland-0") && hasName("org.gnome.Mutter.ScreenCast") &&
             hasName("org.gnome.Mutter.RemoteDesktop");
    });
    // Asking the portal for a property starts it, and it starts its GNOME back end.
    waitFor("the screen-cast portal", 30, [&] {
      QDBusMessage m = QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop",
                                                      "/org/freedesktop/portal/desktop",
                                                      "org.freedesktop.DBus.Properties", "Get");
      m << QStringLiteral("org.freedesktop.portal.ScreenCast") << QStringLiteral("version");
      return bus().call(m, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
    });
    waitFor("xdg-desktop-portal-gnome", 30,
            [&] { return hasName("org.freedesktop.impl.portal.desktop.gnome"); });
    seedGrant();
  } catch (...) {
    teardown();
    throw;
  }
}

WaylandSession::~WaylandSession() {
  teardown();
}

void WaylandSession::teardown() {
  if (dir_.empty()) return;
  if (!busName_.isEmpty()) endActivatedServices();
  // Clients first, then mutter, PipeWire, and the bus last.
  for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) endProcess(*it, true);
  pids_.clear();
  if (!busName_.isEmpty()) QDBusConnection::disconnectFromBus(busName_);
  std::error_code ignored;
  if (!std::getenv("KESTROVA_WL_KEEP")) fs::remove_all(dir_, ignored);
  dir_.clear();
}

void WaylandSession::exportEnvironment() const {
  for (const auto& [name, value] : env_)
    if (name != "PATH" && name != "HOME" && name != "LANG") setenv(name.c_str(), value.c_str(), 1);
}

void WaylandSession::writePreferences(const std::string& extraLines) const {
  fs::create_directories(dir_ + "/home/config/Kestrova");
  std::ofstream(dir_ + "/home/config/Kestrova/Kestrova.conf")
      << "[General]\nrestoreToken=" << restoreToken() << "\n"
      << extraLines;
}

QDBusConnection WaylandSession::bus() const {
  return QDBusConnection::connectToBus(QString::fromStdString("unix:path=" + dir_ + "/run/bus"),
                                       busName_);
}

bool WaylandSession::hasName(const QString& name) const {
  const QDBusConnection c = bus();
  return c.isConnected() && c.interface()->isServiceRegistered(name).value();
}

pid_t WaylandSession::spawn(const std::string& logName, std::vector<std::string> argv) {
  // Built before forking: the child of a threaded process must not allocate.
  std::vector<std::string> envStrings;
  for (const auto& [k, v] : env_) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  for (auto& s : argv) args.push_back(s.data());
  args.push_back(nullptr);
  const std::string log = dir_ + "/" + logName + ".log";

  const pid_t pid = fork();
  if (pid < 0) throw SessionUnavailable("fork failed");
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  pids_.push_back(pid);
  return pid;
}

void WaylandSession::end(pid_t pid) {
  if (std::erase(pids_, pid)) endProcess(pid, true);
}

void WaylandSession::waitFor(const char* what, int seconds, const std::function<bool()>& ready) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (!ready()) {
    if (Clock::now() > deadline) {
      throw SessionUnavailable(std::string("no headless GNOME session: ") + what +
                               " did not come up in " + std::to_string(seconds) + " s (logs in " +
                               dir_ + ", kept with KESTROVA_WL_KEEP=1)");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void WaylandSession::seedGrant() {
  // xdg-desktop-portal-gnome 43 keeps a restore token's choice in the permission store: table
  // "screencast", id = the token, data = ('GNOME', version 1, <(created, last used, [(0, monitor,
  // <its match string>)])>). Times in microseconds.
  const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  const std::string t = std::to_string(now);
  const pid_t pid = spawn(
      "seed", {"gdbus", "call", "--session", "-d", "org.freedesktop.impl.portal.PermissionStore",
               "-o", "/org/freedesktop/impl/portal/PermissionStore", "-m",
               "org.freedesktop.impl.portal.PermissionStore.Set", "screencast", "true",
               restoreToken(), "{'': ['yes']}",
               "<('GNOME', uint32 1, <(int64 " + t + ", int64 " + t +
                   ", [(uint32 0, uint32 1, <'MetaVendor:MetaVirtualMonitor:0x00'>)])>)>"});
  int status = 0;
  waitpid(pid, &status, 0);
  std::erase(pids_, pid);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw SessionUnavailable(
        "no headless GNOME session: the permission store refused the grant (see " + dir_ +
        "/seed.log)");
  }
}

void WaylandSession::endActivatedServices() {
  // The bus started these, so they are not our children; their PIDs come from the bus.
  const QDBusConnection c = bus();
  if (!c.isConnected()) return;
  for (const char* name :
       {"org.freedesktop.portal.Desktop", "org.freedesktop.impl.portal.desktop.gnome",
        "org.freedesktop.impl.portal.PermissionStore"}) {
    const QDBusReply<uint> pid = c.interface()->servicePid(QString::fromLatin1(name));
    if (pid.isValid() && pid.value() > 0) endProcess(static_cast<pid_t>(pid.value()), false);
  }
}

}  // namespace kestrova::testing
