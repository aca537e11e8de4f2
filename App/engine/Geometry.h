#pragma once

// Geometry value types of the engine, in 64-bit floats.
//
// Three spaces are in use, and the names of variables say which:
// - desktop points, y up: screen frames and the pointer as the window system reports them;
// - capture pixels, origin top-left, y down: the tracker and the click list;
// - image pixels, origin bottom-left, y up: cropping and ring placement.

namespace kestrova {

struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  double width = 0;
  double height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  Point origin;
  Size size;

  double minX() const { return origin.x; }
  double minY() const { return origin.y; }
  double maxX() const { return origin.x + size.width; }
  double maxY() const { return origin.y + size.height; }
  double width() const { return size.width; }
  double height() const { return size.height; }

  friend bool operator==(const Rect&, const Rect&) = default;
};

// Desktop points (y up) to capture pixels (top-left origin, y down) of the display whose frame is
// `screenFrame` at `scale` pixels per point. The pointer and clicks both go through this.
inline Point desktopToCapture(Point desktop, const Rect& screenFrame, double scale) {
  return {(desktop.x - screenFrame.minX()) * scale, (screenFrame.maxY() - desktop.y) * scale};
}

}  // namespace kestrova
