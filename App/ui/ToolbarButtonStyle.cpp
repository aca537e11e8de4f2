#include "ToolbarButtonStyle.h"

#include <QPainter>

#include "Theme.h"

namespace kestrova {

QColor ToolbarButtonStyle::background(bool pressed) {
  return theme::withOpacity(Qt::white, pressed ? kPressedOpacity : kRestingOpacity);
}

void ToolbarButtonStyle::paint(QPainter& painter, const QRectF& rect, bool pressed, Glyph glyph,
                               const QColor& glyphColor) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(background(pressed));
  painter.drawEllipse(rect);
  const QRectF box(rect.center().x() - kGlyphSize / 2.0, rect.center().y() - kGlyphSize / 2.0,
                   kGlyphSize, kGlyphSize);
  paintGlyph(painter, glyph, box, glyphColor);
  painter.restore();
}

ToolbarButton::ToolbarButton(Glyph glyph, QColor glyphColor, QWidget* parent)
    : QAbstractButton(parent), glyph_(glyph), glyphColor_(glyphColor) {
  setFixedSize(ToolbarButtonStyle::kFaceSize, ToolbarButtonStyle::kFaceSize);
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::ArrowCursor);
}

void ToolbarButton::setGlyph(Glyph glyph) {
  if (glyph_ == glyph) return;
  glyph_ = glyph;
  update();
}

void ToolbarButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  ToolbarButtonStyle::paint(painter, QRectF(rect()), isDown(), glyph_, glyphColor_);
}

}  // namespace kestrova
