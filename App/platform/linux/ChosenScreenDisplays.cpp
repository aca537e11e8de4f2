#include "ChosenScreenDisplays.h"

#include <QGuiApplication>
#include <QScreen>

namespace kestrova {

std::vector<DisplayInfo> ChosenScreenDisplays::displays() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {};
  const QRect g = screen->geometry();
  // Only the stream's own size counts once recording; this frame only sizes the countdown.
  DisplayInfo chosen;
  chosen.id = 1;  // any id but 0: there is only the one
  chosen.name = screen->name().toStdString();
  chosen.frame = Rect{{0, 0}, {double(g.width()), double(g.height())}};
  chosen.scale = screen->devicePixelRatio();
  return {chosen};
}

PanelArea ChosenScreenDisplays::panelArea(std::uint32_t) {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {};
  return {screen, screen->availableGeometry()};
}

}  // namespace kestrova
