#include "ViewportTracker.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrova {
namespace {

constexpr double kMinTimeConstantSeconds = 0.04;
constexpr double kPointerMargin = 0.85;  // of the half-size

struct Axis {
  double cursor;
  double centre;
  double half;
  double bound;
  double viewport;
};

double deadZoneTarget(double centre, double cursor, double zone) {
  const double d = cursor - centre;
  if (std::abs(d) > zone) return d >= 0 ? (centre + d) - zone : (centre + d) + zone;
  return centre;
}

// Steps 5 to 7 for one axis: ease, pointer margin, display clamp (in this order; when the display
// is smaller than the viewport, the last clamp wins).
double nextCentre(const Axis& a, double target, double alpha) {
  double n = a.centre + (target - a.centre) * alpha;
  const double m = kPointerMargin * a.half;
  n = std::max(n, a.cursor - m);
  n = std::min(n, a.cursor + m);
  n = std::max(n, a.half);
  n = std::min(n, a.bound - a.half);
  return n;
}

double originFor(double centre, const Axis& a) {
  double o = std::round(centre - a.half);  // halves away from zero
  if (o <= 0) o = 0;                       // also turns -0 into 0
  return std::min(o, a.bound - a.viewport);
}

}  // namespace

Rect ViewportTracker::update(Point cursor, double dt) {
  const double halfW = size.width * 0.5;
  const double halfH = size.height * 0.5;

  Point c{cx, cy};
  if (!started) {
    started = true;
    c = cursor;
  }

  const double tx = deadZoneTarget(c.x, cursor.x, deadZone * halfW);
  const double ty = deadZoneTarget(c.y, cursor.y, deadZone * halfH);

  const double tau = smoothing * smoothing + kMinTimeConstantSeconds;
  const double e = dt > 0 ? -dt : -0.0;
  const double alpha = 1 - std::exp(e / tau);

  const Axis ax{cursor.x, c.x, halfW, bounds.width, size.width};
  const Axis ay{cursor.y, c.y, halfH, bounds.height, size.height};
  cx = nextCentre(ax, tx, alpha);
  cy = nextCentre(ay, ty, alpha);

  return Rect{{originFor(cx, ax), originFor(cy, ay)}, size};
}

bool ViewportTracker::isAtRest(Point cursor) const {
  if (!started) return false;
  // An endless step lands where the easing converges: the dead zone, margin and clamp included.
  ViewportTracker settled = *this;
  settled.update(cursor, std::numeric_limits<double>::infinity());
  return std::abs(settled.cx - cx) < 0.5 && std::abs(settled.cy - cy) < 0.5;
}

}  // namespace kestrova
