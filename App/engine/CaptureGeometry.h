#pragma once

#include "Geometry.h"
#include "RecorderConfig.h"

namespace kestrova {

// The sizes a recording derives from its configuration when capture starts.
struct CaptureGeometry {
  Size capture;   // pixels of the captured display: the tracker's bounds
  double fit;     // output shrink factor when the display is smaller than the output, else 1
  Size viewport;  // the tracker's size: the output size times `fit`, floored to even, at least 2
};

CaptureGeometry deriveCaptureGeometry(const RecorderConfig& config);

}  // namespace kestrova
