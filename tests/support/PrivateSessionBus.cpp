#include "PrivateSessionBus.h"

#include <cstdlib>

#include "Daemon.h"

namespace kestrova::testing {

PrivateSessionBus::PrivateSessionBus() {
  const std::string config = std::string("--config-file=") + KESTROVA_TEST_BUS_CONFIG;
  address_ =
      startDaemon({"dbus-daemon", config.c_str(), "--nofork", "--print-address=3", nullptr}, pid_);
}

PrivateSessionBus::~PrivateSessionBus() {
  endDaemon(pid_);
}

void PrivateSessionBus::exportAddress() const {
  setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

}  // namespace kestrova::testing
