#include "CountdownView.h"

#include <QEasingCurve>
#include <QPainter>

#include "Theme.h"

namespace kestrova {
namespace {

// CSS's "ease-out": cubic Bézier (0, 0) (0.58, 1) (1, 1).
QEasingCurve easeOut() {
  QEasingCurve curve(QEasingCurve::BezierSpline);
  curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
  return curve;
}

QRectF discRect(const QRect& bounds) {
  const double d = CountdownView::kDiscDiameter;
  return QRectF(bounds.center().x() + 0.5 - d / 2, bounds.center().y() + 0.5 - d / 2, d, d);
}

}  // namespace

CountdownView::CountdownView(QWidget* parent) : QWidget(parent) {
  setFixedSize(kSize);
  setAttribute(Qt::WA_TranslucentBackground);
  transition_.setStartValue(0.0);
  transition_.setEndValue(1.0);
  transition_.setDuration(kTransitionMs);
  transition_.setEasingCurve(easeOut());
  connect(&transition_, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void CountdownView::setNumber(int number) {
  if (shown_ && number == number_) return;
  previous_ = number_;
  number_ = number;
  if (shown_) {
    transition_.stop();
    transition_.start();
  }
  shown_ = true;
  update();
}

QPainterPath CountdownView::outline() const {
  QPainterPath path;
  path.addEllipse(discRect(rect()));
  return path;
}

void CountdownView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor::fromRgbF(0, 0, 0, static_cast<float>(kDiscOpacity)));
  painter.drawEllipse(discRect(rect()));

  const double t = isAnimating() ? transition_.currentValue().toDouble() : 1.0;
  if (t < 1.0) {
    drawNumber(painter, previous_, 1.0 + (kTransitionScale - 1.0) * t, 1.0 - t);
  }
  drawNumber(painter, number_, kTransitionScale - (kTransitionScale - 1.0) * t, t);
}

void CountdownView::drawNumber(QPainter& painter, int number, double scale, double opacity) const {
  if (opacity <= 0) return;
  painter.save();
  const QPointF centre = discRect(rect()).center();
  painter.translate(centre);
  painter.scale(scale, scale);
  painter.setOpacity(opacity);
  painter.setFont(theme::font(kNumberFontSize, QFont::DemiBold));
  painter.setPen(Qt::white);
  const QRectF box(-kSize.width() / 2.0, -kSize.height() / 2.0, kSize.width(), kSize.height());
  painter.drawText(box, Qt::AlignCenter, QString::number(number));
  painter.restore();
}

}  // namespace kestrova
