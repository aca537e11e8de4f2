#include "FloatingPanel.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPathStroker>
#include <QRegion>
#include <QScreen>

#include "X11Hints.h"

namespace kestrova {

FloatingPanel::FloatingPanel(const PanelArea& area, QSize size, Position position, Input input,
                             QWidget* content)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint |
                           (input == Input::clickThrough ? Qt::WindowTransparentForInput
                                                         : Qt::WindowFlags())),
      content_(content),
      input_(input) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_X11DoNotAcceptFocus);
  setAttribute(Qt::WA_QuitOnClose, false);
  setFocusPolicy(Qt::NoFocus);
  QScreen* screen = area.screen ? area.screen.data() : QGuiApplication::primaryScreen();
  if (screen) setScreen(screen);

  const bool translucent = x11hints::translucencyAvailable();
  shaped_ = !translucent;
  if (translucent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    if (isInteractive()) margin_ = kShadowMargin;
  }

  content_->setParent(this);
  content_->setFixedSize(size);
  content_->move(margin_, margin_);
  setFixedSize(size + QSize(2 * margin_, 2 * margin_));

  QRect available = area.available;
  if (available.isEmpty()) available = screen ? screen->availableGeometry() : QRect(QPoint(), size);
  move(origin(available, size, position) - QPoint(margin_, margin_));

  if (shaped_) {
    // Without translucency the content is drawn over an opaque window: black, so the dark
    // capsule and disc read as they would over a dark desktop, and the mask cuts the corners.
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    setMask(QRegion(contentOutline().toFillPolygon().toPolygon(), Qt::WindingFill));
  }
  x11hints::stickToAllWorkspaces(*this);
}

QPoint FloatingPanel::origin(const QRect& available, QSize size, Position position) {
  const int x = available.x() + (available.width() - size.width()) / 2;
  switch (position) {
    case Position::center:
      return {x, available.y() + (available.height() - size.height()) / 2};
    case Position::bottom:
      return {x, available.y() + available.height() - kBottomGap - size.height()};
  }
  return {x, available.y()};
}

void FloatingPanel::showWithoutActivating() {
  show();
  raise();
}

QRect FloatingPanel::contentGeometry() const {
  return QRect(pos() + QPoint(margin_, margin_), content_->size());
}

QPainterPath FloatingPanel::contentOutline() const {
  QPainterPath outline;
  if (const auto* shape = dynamic_cast<const PanelShape*>(content_)) {
    outline = shape->outline();
  } else {
    outline.addRect(QRectF(QPointF(0, 0), QSizeF(content_->size())));
  }
  return outline.translated(margin_, margin_);
}

void FloatingPanel::paintEvent(QPaintEvent*) {
  if (margin_ == 0) return;
  // A soft shadow: the outline repeated with growing offsets and falling opacity.
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  const QPainterPath outline = contentOutline().translated(0, 2);
  constexpr int kSteps = 8;
  for (int i = kSteps; i >= 1; --i) {
    QPainterPathStroker stroker;
    stroker.setWidth(i * 1.5);
    stroker.setJoinStyle(Qt::RoundJoin);
    painter.setBrush(QColor(0, 0, 0, 10));
    painter.drawPath(stroker.createStroke(outline).united(outline));
  }
}

void FloatingPanel::mousePressEvent(QMouseEvent* event) {
  if (isInteractive() && event->button() == Qt::LeftButton) {
    dragOffset_ = event->globalPosition().toPoint() - pos();
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

void FloatingPanel::mouseMoveEvent(QMouseEvent* event) {
  if (dragOffset_) {
    move(event->globalPosition().toPoint() - *dragOffset_);
    event->accept();
    return;
  }
  QWidget::mouseMoveEvent(event);
}

void FloatingPanel::mouseReleaseEvent(QMouseEvent* event) {
  if (dragOffset_ && event->button() == Qt::LeftButton) {
    dragOffset_.reset();
    event->accept();
    return;
  }
  QWidget::mouseReleaseEvent(event);
}

}  // namespace kestrova
