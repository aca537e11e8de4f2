#include "SegmentedControl.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "Theme.h"

namespace kestrova {
namespace {

constexpr int kSegmentHeight = 24;
constexpr int kSegmentPadding = 12;  // text to segment edge
constexpr double kCornerRadius = 6;

}  // namespace

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

}  // namespace kestrova
