#include "FormControls.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionButton>

#include "Theme.h"

namespace kestrova {
namespace {

constexpr double kCornerRadius = 6;

}  // namespace

GlyphView::GlyphView(Glyph glyph, int size, QColor color, QWidget* parent)
    : QWidget(parent), glyph_(glyph), color_(color) {
  setFixedSize(size, size);
}

GlyphView::GlyphView(Glyph glyph, int size, QWidget* parent) : QWidget(parent), glyph_(glyph) {
  setFixedSize(size, size);
}

void GlyphView::setGlyph(Glyph glyph) {
  glyph_ = glyph;
  update();
}

void GlyphView::setColor(QColor color) {
  color_ = color;
  update();
}

QColor GlyphView::color() const {
  return color_ ? *color_ : theme::secondaryText(*this);
}

void GlyphView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QColor color = this->color();
  if (!isEnabled()) color = theme::withOpacity(color, 0.5);
  paintGlyph(painter, glyph_, QRectF(rect()), color);
}

ProminentButton::ProminentButton(QColor tint, int height, QWidget* parent)
    : QAbstractButton(parent), tint_(tint), height_(height), content_(new QHBoxLayout(this)) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFixedHeight(height);
  content_->setContentsMargins(14, 0, 14, 0);
  // Labels inside a button may draw with either role (they inherit the button's background
  // role), so both are white.
  QPalette pal = palette();
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText}) {
    pal.setColor(role, Qt::white);
    pal.setColor(QPalette::Disabled, role, QColor(255, 255, 255, 150));
  }
  setPalette(pal);
}

QSize ProminentButton::sizeHint() const {
  return {content_->sizeHint().width(), height_};
}

void ProminentButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor fill = tint_;
  if (!isEnabled()) {
    fill = theme::withOpacity(tint_, 0.45);
  } else if (isDown()) {
    fill = tint_.darker(118);
  }
  painter.setPen(Qt::NoPen);
  painter.setBrush(fill);
  painter.drawRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
  if (hasFocus()) {
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), kCornerRadius - 1,
                            kCornerRadius - 1);
  }
}

LinkButton::LinkButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
  setText(text);
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_Hover);  // repaint on enter and leave for the underline
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize LinkButton::sizeHint() const {
  return {fontMetrics().horizontalAdvance(text()) + 2, fontMetrics().height() + 2};
}

void LinkButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QColor color = palette().color(QPalette::Link);
  if (isDown()) color = color.darker(140);
  QFont font = this->font();
  font.setUnderline(underMouse() || hasFocus());
  painter.setFont(font);
  painter.setPen(color);
  painter.drawText(rect(), Qt::AlignCenter, text());
}

QLabel* secondaryLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, theme::secondaryText(*label));
  label->setPalette(pal);
  return label;
}

}  // namespace kestrova
