#include "FormControls.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionButton>
#include <QVBoxLayout>

#include "Theme.h"

namespace kestrova {
namespace {

constexpr int kSegmentHeight = 24;
constexpr int kSegmentPadding = 12;  // text to segment edge
constexpr double kCornerRadius = 6;

// The disclosure header: a triangle that points right (collapsed) or down, then the title.
class DisclosureHeader : public QAbstractButton {
 public:
  DisclosureHeader(const QString& title, QWidget* parent) : QAbstractButton(parent) {
    setText(title);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }

  QSize sizeHint() const override {
    const QFontMetrics metrics(font());
    return {kTriangleBox + 6 + metrics.horizontalAdvance(text()), metrics.height() + 4};
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = theme::secondaryText(*this);
    const QPointF c(kTriangleBox / 2.0, height() / 2.0);
    QPainterPath triangle;
    if (isChecked()) {
      triangle.moveTo(c + QPointF(-4, -2.5));
      triangle.lineTo(c + QPointF(4, -2.5));
      triangle.lineTo(c + QPointF(0, 3));
    } else {
      triangle.moveTo(c + QPointF(-2.5, -4));
      triangle.lineTo(c + QPointF(3, 0));
      triangle.lineTo(c + QPointF(-2.5, 4));
    }
    triangle.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(triangle);
    painter.setPen(color);
    painter.drawText(QRect(kTriangleBox + 6, 0, width() - kTriangleBox - 6, height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
    if (hasFocus()) {
      painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
      painter.setBrush(Qt::NoBrush);
      painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
  }

 private:
  static constexpr int kTriangleBox = 12;
};

}  // namespace

// --- SegmentedControl ---

SegmentedControl::SegmentedControl(QVector<Segment> segments, QWidget* parent)
    : QWidget(parent), segments_(std::move(segments)) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFocusPolicy(Qt::StrongFocus);
}

void SegmentedControl::setValue(const QVariant& value) {
  int found = -1;
  for (int i = 0; i < count(); ++i) {
    if (segments_[i].value == value) {
      found = i;
      break;
    }
  }
  if (found != selected_) {
    selected_ = found;
    update();
  }
}

QVariant SegmentedControl::value() const {
  return selected_ >= 0 ? segments_[selected_].value : QVariant();
}

QRect SegmentedControl::segmentRect(int index) const {
  const int n = count();
  const int left = width() * index / n;
  const int right = width() * (index + 1) / n;
  return QRect(left, 0, right - left, height());
}

QSize SegmentedControl::sizeHint() const {
  const QFontMetrics metrics(font());
  int widest = 0;
  for (const Segment& segment : segments_) {
    widest = std::max(widest, metrics.horizontalAdvance(segment.text));
  }
  return {count() * (widest + 2 * kSegmentPadding), kSegmentHeight};
}

QSize SegmentedControl::minimumSizeHint() const {
  return sizeHint();
}

void SegmentedControl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& pal = palette();
  const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);

  painter.setPen(QPen(pal.color(QPalette::Mid), 1));
  painter.setBrush(pal.color(QPalette::Button));
  painter.drawRoundedRect(frame, kCornerRadius, kCornerRadius);

  if (selected_ >= 0) {
    QPainterPath clip;
    clip.addRoundedRect(frame, kCornerRadius, kCornerRadius);
    painter.save();
    painter.setClipPath(clip);
    painter.fillRect(segmentRect(selected_), pal.color(QPalette::Highlight));
    painter.restore();
  }
  painter.setPen(QPen(pal.color(QPalette::Mid), 1));
  for (int i = 1; i < count(); ++i) {
    if (i == selected_ || i == selected_ + 1) continue;  // no divider beside the selection
    const double x = segmentRect(i).left() + 0.5;
    painter.drawLine(QPointF(x, 5), QPointF(x, height() - 5));
  }
  for (int i = 0; i < count(); ++i) {
    painter.setPen(i == selected_ ? pal.color(QPalette::HighlightedText)
                                  : pal.color(QPalette::ButtonText));
    painter.drawText(segmentRect(i), Qt::AlignCenter, segments_[i].text);
  }
  if (hasFocus() && selected_ >= 0) {
    painter.setPen(QPen(pal.color(QPalette::Highlight).darker(130), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(segmentRect(selected_)).adjusted(2.5, 2.5, -2.5, -2.5), 3, 3);
  }
}

void SegmentedControl::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  for (int i = 0; i < count(); ++i) {
    if (segmentRect(i).contains(event->position().toPoint())) pick(i);
  }
}

void SegmentedControl::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Left && selected_ > 0) return pick(selected_ - 1);
  if (event->key() == Qt::Key_Right && selected_ < count() - 1) return pick(selected_ + 1);
  if (event->key() == Qt::Key_Right && selected_ < 0 && count() > 0) return pick(0);
  QWidget::keyPressEvent(event);
}

void SegmentedControl::pick(int index) {
  selected_ = index;
  update();
  emit picked(segments_[index].value);
}

// --- DisclosureGroup ---

DisclosureGroup::DisclosureGroup(const QString& title, QWidget* content, QWidget* parent)
    : QWidget(parent), header_(new DisclosureHeader(title, this)), content_(content) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(header_);
  column->addWidget(content_);
  content_->setVisible(false);
  connect(header_, &QAbstractButton::toggled, this, &DisclosureGroup::setExpanded);
}

void DisclosureGroup::setExpanded(bool expanded) {
  if (expanded == expanded_) return;
  expanded_ = expanded;
  header_->setChecked(expanded);
  content_->setVisible(expanded);
  emit expandedChanged(expanded);
}

// --- ElidedLabel ---

ElidedLabel::ElidedLabel(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  updateGeometry();
  update();
}

QString ElidedLabel::shownText() const {
  return fontMetrics().elidedText(text_, Qt::ElideMiddle, width());
}

QSize ElidedLabel::sizeHint() const {
  return {fontMetrics().horizontalAdvance(text_) + 1, fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
  return {fontMetrics().horizontalAdvance(QStringLiteral("…")) * 3, fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

// --- GlyphView ---

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

// --- ProminentButton ---

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

// --- LinkButton ---

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
