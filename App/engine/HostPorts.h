#pragma once

#include "Geometry.h"

namespace kestrova {

// Where the pointer is now, in desktop points, y up. Called on the sample queue and on the click
// monitor's thread; implementations are thread-safe.
class PointerSource {
 public:
  virtual ~PointerSource() = default;
  virtual Point mouseLocation() = 0;
};

// The host clock in seconds, the same for captured frames and clicks. Thread-safe.
class HostClock {
 public:
  virtual ~HostClock() = default;
  virtual double now() const = 0;
};

// CLOCK_MONOTONIC, which capture sources stamp their frames with too.
class SteadyHostClock final : public HostClock {
 public:
  double now() const override;
};

}  // namespace kestrova
