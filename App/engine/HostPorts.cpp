#include "HostPorts.h"

#include <chrono>

namespace kestrova {

double SteadyHostClock::now() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace kestrova
