#include "CaptureGeometry.h"

#include <algorithm>
#include <cmath>

namespace kestrova {

CaptureGeometry deriveCaptureGeometry(const RecorderConfig& config) {
  // std::round rounds halves away from zero.
  const double w = std::round(config.screenFrame.width() * config.scale);
  const double h = std::round(config.screenFrame.height() * config.scale);
  const auto outW = static_cast<double>(config.width);
  const auto outH = static_cast<double>(config.height);
  const double fit = std::min({1.0, w / outW, h / outH});
  const auto even = [fit](double size) { return std::max(2.0, 2 * std::floor(size * fit * 0.5)); };
  return {{w, h}, fit, {even(outW), even(outH)}};
}

}  // namespace kestrova
