#pragma once

#include <QColor>
#include <QFont>
#include <QKeySequence>
#include <QString>

class QWidget;

namespace kestrova::theme {

// Accent colours, as the light appearance of the original design has them.
inline QColor red() {
  return QColor(255, 59, 48);
}
inline QColor orange() {
  return QColor(255, 149, 0);
}
inline QColor green() {
  return QColor(52, 199, 89);
}

// `color` at `opacity` (0…1) of its own alpha.
QColor withOpacity(QColor color, double opacity);

// The dimmed label colour: the palette's text colour at half strength, so it follows dark themes.
QColor secondaryText(const QWidget& widget);

// The application font at `pixelSize` device-independent pixels and `weight`. Sizes are given in
// pixels, not points, so a 15 stays 15 on screens of any reported dpi.
QFont font(int pixelSize, QFont::Weight weight = QFont::Normal);
// The fixed-pitch system font at `pixelSize`.
QFont monospacedFont(int pixelSize, QFont::Weight weight = QFont::Normal);

// Named text sizes of the design.
inline constexpr int kBodySize = 13;
inline constexpr int kCalloutSize = 12;
inline constexpr int kCaptionSize = 11;

// The global hot keys and how the platform writes them ("Ctrl+Alt+R").
inline QKeySequence startStopKeys() {
  return QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_R);
}
inline QKeySequence pauseKeys() {
  return QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_P);
}
QString nativeText(const QKeySequence& keys);

}  // namespace kestrova::theme
