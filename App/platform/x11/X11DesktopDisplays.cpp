#include "X11DesktopDisplays.h"

#include <QGuiApplication>
#include <QScreen>

namespace kestrova::x11 {
namespace {

// The screen whose device pixels hold `p` (root coordinates); Qt keeps a screen's top-left corner
// in device pixels and divides its size by the ratio.
QScreen* screenHolding(QPointF p) {
  for (QScreen* s : QGuiApplication::screens()) {
    const QRect g = s->geometry();
    const QRectF device(g.topLeft(), QSizeF(g.size()) * s->devicePixelRatio());
    if (device.contains(p)) return s;
  }
  return QGuiApplication::primaryScreen();
}

}  // namespace

std::vector<DisplayInfo> X11DesktopDisplays::displays() {
  return list_.displays();
}

PanelArea X11DesktopDisplays::panelArea(std::uint32_t id) {
  X11DisplayList::Layout layout;
  try {
    layout = list_.layout();
  } catch (const std::exception&) {
    return {};  // the panel falls back to the primary screen; the recording says what is wrong
  }
  if (layout.displays.empty()) return {};
  const DisplayInfo& display = chooseDisplay(layout.displays, id);

  QScreen* named = nullptr;
  for (QScreen* s : QGuiApplication::screens()) {
    if (s->name().toStdString() == display.name) {
      named = s;
      break;
    }
  }
  const Rect& f = display.frame;
  QScreen* screen = named ? named
                          : screenHolding({f.minX() + f.width() / 2,
                                           layout.rootHeight - f.maxY() + f.height() / 2});
  if (!screen) return {};
  const QRect frame = qtRectFromDesktop(f, layout.rootHeight, screen->geometry().topLeft(),
                                        screen->devicePixelRatio());
  // Qt knows the desktop's panels and docks only per screen.
  const QRect available = named ? frame.intersected(named->availableGeometry()) : frame;
  return {named, available.isEmpty() ? frame : available};
}

}  // namespace kestrova::x11
