#include "ChosenScreenDisplays.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

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

PanelArea ChosenScreenDisplays::toolbarArea(std::uint32_t) {
  PanelArea none;
  none.nowhere = true;
  if (!granted_) return none;
  const QList<QScreen*> screens = QGuiApplication::screens();
  std::vector<QRect> geometries;
  for (const QScreen* screen : screens) geometries.push_back(screen->geometry());
  const auto other = screenApartFrom(geometries, granted_->get());
  if (!other) return none;
  QScreen* screen = screens[static_cast<qsizetype>(*other)];
  return {screen, screen->availableGeometry()};
}

std::optional<std::size_t> screenApartFrom(const std::vector<QRect>& screens,
                                           const GrantedMonitor::Geometry& recorded) {
  if (screens.size() < 2) return std::nullopt;
  if (recorded.position) {
    const QSize size =
        recorded.size ? QSize(recorded.size->width, recorded.size->height) : QSize(1, 1);
    const QRect shown(QPoint(recorded.position->x, recorded.position->y), size);
    // A position that matches no screen means the two disagree on coordinates: trust neither.
    const bool known = std::any_of(screens.begin(), screens.end(),
                                   [&](const QRect& s) { return s.topLeft() == shown.topLeft(); });
    if (!known) return std::nullopt;
    for (std::size_t i = 0; i < screens.size(); ++i)
      if (!screens[i].intersects(shown)) return i;
    return std::nullopt;
  }
  if (recorded.size) {
    const QSize size(recorded.size->width, recorded.size->height);
    const bool known = std::any_of(screens.begin(), screens.end(),
                                   [&](const QRect& s) { return s.size() == size; });
    if (!known) return std::nullopt;
    for (std::size_t i = 0; i < screens.size(); ++i)
      if (screens[i].size() != size) return i;
  }
  return std::nullopt;
}

}  // namespace kestrova
