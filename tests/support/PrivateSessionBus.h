#pragma once

#include <cstdlib>
#include <string>

#include "Daemon.h"

namespace kestrova::testing {

// A D-Bus session bus of the test's own (dbus-daemon with tests/support/session-bus.conf: no
// service is ever activated), killed when this object goes, so tests never reach the desktop's
// notification server or file manager.
class PrivateSessionBus {
 public:
  // Starts the daemon; address() is empty when dbus-daemon is missing or did not start.
  PrivateSessionBus();

  const std::string& address() const { return address_; }
  // Makes DBUS_SESSION_BUS_ADDRESS name this bus for the rest of the process (before any
  // QDBusConnection::sessionBus()).
  void exportAddress() const { setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1); }

 private:
  Daemon daemon_;
  std::string address_;
};

}  // namespace kestrova::testing
