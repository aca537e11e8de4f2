#include "DesktopDisplays.h"

#include <cmath>

namespace kestrova {

QRect qtRectFromDesktop(const Rect& frame, double desktopHeight, QPoint screenOrigin,
                        double pixelRatio) {
  const double ratio = pixelRatio > 0 ? pixelRatio : 1;
  const auto qt = [ratio](double device, int origin) {
    return static_cast<int>(std::lround(origin + (device - origin) / ratio));
  };
  const int left = qt(frame.minX(), screenOrigin.x());
  const int top = qt(desktopHeight - frame.maxY(), screenOrigin.y());
  const int right = qt(frame.maxX(), screenOrigin.x());
  const int bottom = qt(desktopHeight - frame.minY(), screenOrigin.y());
  return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

}  // namespace kestrova
