#include "Theme.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QWidget>

namespace kestrova::theme {

QColor withOpacity(QColor color, double opacity) {
  color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
  return color;
}

QColor secondaryText(const QWidget& widget) {
  return withOpacity(widget.palette().color(QPalette::WindowText), 0.5);
}

QFont font(int pixelSize, QFont::Weight weight) {
  QFont font = QGuiApplication::font();
  font.setPixelSize(pixelSize);
  font.setWeight(weight);
  return font;
}

QFont monospacedFont(int pixelSize, QFont::Weight weight) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPixelSize(pixelSize);
  font.setWeight(weight);
  return font;
}

QString nativeText(const QKeySequence& keys) {
  return keys.toString(QKeySequence::NativeText);
}

}  // namespace kestrova::theme
