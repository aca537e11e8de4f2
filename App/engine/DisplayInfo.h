#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Geometry.h"

namespace kestrova {

// One display the recorder can capture.
struct DisplayInfo {
  std::uint32_t id = 0;  // the platform's display identifier; never 0, which means "the main one"
  std::string name;      // what the window system calls it, e.g. "DP-1"
  Rect frame;            // desktop points, y up
  double scale = 1;      // pixels per point

  friend bool operator==(const DisplayInfo&, const DisplayInfo&) = default;
};

// The displays of the desktop, asked anew on each call. Thread-safe; may block on the window
// system.
class DisplayList {
 public:
  virtual ~DisplayList() = default;
  // The current displays, the main one first. Throws PlatformError when they cannot be listed.
  virtual std::vector<DisplayInfo> displays() = 0;
};

// The display to record: the first whose id is `id`, else the first listed. Throws
// RecorderError::noDisplay() when there is none at all.
const DisplayInfo& chooseDisplay(const std::vector<DisplayInfo>& displays, std::uint32_t id);

}  // namespace kestrova
