#include "FloatingPanel.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPathStroker>
#include <QRegion>
#include <QScreen>
#include <QWindow>

#include "X11Hints.h"

namespace kestrova {

FloatingPanel::FloatingPanel(QScreen* screen, QSize size, Position position, Input input,
                             QWidget* content)
    : FloatingPanel(PanelArea{screen, screen ? screen->availableGeometry() : QRect()}, size,
                    position, input, content) {}

FloatingPanel::FloatingPanel(const PanelArea& area, QSize size, Position position, Input input,
                             QWidget* content)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint |
                           (input == Input::clickThrough ? Qt::WindowTransparentForInput
                                                         : Qt::WindowFlags())),
      content_(content),
      input_(input),
      position_(position) {
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

void FloatingPanel::showCoveringScreen() {
  QScreen* on = screen();
  if (!on) return showWithoutActivating();
  covering_ = true;
  // A window of fixed size cannot be made full screen.
  setMinimumSize(0, 0);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  const QRect area(QPoint(0, 0), on->geometry().size());
  content_->move(origin(area, content_->size(), position_));
  // The full-screen request names the window's screen as Qt's window (not the widget) has it.
  winId();
  windowHandle()->setScreen(on);
  showFullScreen();
  passClicksAroundContent();
}

void FloatingPanel::passClicksAroundContent() {
  // The window's mask is its input region on Wayland; the widget's own mask would also clip the
  // shadow. A click-through panel takes no input anywhere already.
  QWindow* window = windowHandle();
  if (window && isInteractive()) window->setMask(QRegion(content_->geometry()));
}

QRect FloatingPanel::contentGeometry() const {
  return QRect(pos() + content_->pos(), content_->size());
}

QPainterPath FloatingPanel::contentOutline() const {
  QPainterPath outline;
  if (const auto* shape = dynamic_cast<const PanelShape*>(content_)) {
    outline = shape->outline();
  } else {
    outline.addRect(QRectF(QPointF(0, 0), QSizeF(content_->size())));
  }
  return outline.translated(content_->pos());
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
    // Covering its screen, the panel is where the compositor put it: move within it.
    dragOffset_ = covering_ ? event->position().toPoint() - content_->pos()
                            : event->globalPosition().toPoint() - pos();
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

void FloatingPanel::mouseMoveEvent(QMouseEvent* event) {
  if (dragOffset_) {
    const QPoint to =
        (covering_ ? event->position() : event->globalPosition()).toPoint() - *dragOffset_;
    if (covering_) {
      content_->move(to);
      passClicksAroundContent();
      update();
    } else {
      move(to);
    }
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
