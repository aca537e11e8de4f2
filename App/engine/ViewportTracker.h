#pragma once

#include "Geometry.h"

namespace kestrova {

// The camera that follows the pointer over the captured display: a dead zone that ignores small
// movements, frame-rate independent exponential easing, a margin that keeps the pointer within 85 %
// of the half-size of the centre, and a clamp that keeps the viewport on the display.
//
// All geometry is in capture pixels (origin top-left, y down). A plain value: the recorder keeps
// one and touches it only on its sample queue.
struct ViewportTracker {
  Size bounds;           // captured display, pixels
  Size size;             // viewport, pixels; constant
  double smoothing = 0;  // easing time constant is smoothing² + 0.04 s
  double deadZone = 0;   // fraction of the viewport's half-size, per axis
  double cx = 0;         // current centre, unrounded
  double cy = 0;
  bool started = false;  // the first update snaps the centre onto the pointer

  // Moves the viewport towards `cursor` over `dt` seconds and returns the crop rectangle (top-left
  // origin, whole-numbered for whole-numbered bounds and size). A dt of zero or less eases nothing.
  Rect update(Point cursor, double dt);

  // Whether the camera has settled for a pointer resting at `cursor`: easing on for any time would
  // move the centre by less than half a pixel. Never before the first update.
  bool isAtRest(Point cursor) const;
};

}  // namespace kestrova
