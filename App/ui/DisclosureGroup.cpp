#include "DisclosureGroup.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "Theme.h"

namespace kestrova {
namespace {

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

}  // namespace kestrova
