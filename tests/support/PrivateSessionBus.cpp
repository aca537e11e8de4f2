#include "PrivateSessionBus.h"

namespace kestrova::testing {

PrivateSessionBus::PrivateSessionBus() {
  const std::string config = std::string("--config-file=") + KESTROVA_TEST_BUS_CONFIG;
  address_ =
      daemon_.start({"dbus-daemon", config.c_str(), "--nofork", "--print-address=3", nullptr});
}

}  // namespace kestrova::testing
