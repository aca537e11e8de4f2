#pragma once

#include <cstdint>
#include <filesystem>

#include "Geometry.h"

namespace kestrova {

// Everything one recording needs, handed by the controller to a new recorder, which copies it and
// never changes it.
struct RecorderConfig {
  std::uint32_t displayID = 0;  // RandR output id of the display to record; 0: the main display
  Rect screenFrame;             // that display's frame, desktop points, y up
  double scale = 1;             // pixels per point of that display
  std::int64_t width = 1920;    // output video, pixels
  std::int64_t height = 1080;
  std::int64_t fps = 30;   // at least 1, fits in 32 bits
  double smoothing = 0.5;  // see ViewportTracker
  double deadZone = 0.25;
  bool clickIndicator = true;
  std::filesystem::path url;  // the output MP4; a name already taken gets " (2)", " (3)", ...
};

}  // namespace kestrova
