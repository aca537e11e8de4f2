#include "RecordingToolbar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include "Theme.h"
#include "ToolbarButtonStyle.h"

namespace kestrova {
namespace {

class StatusDot : public QWidget {
 public:
  StatusDot(const RecordingToolbar& toolbar, QWidget* parent) : QWidget(parent), toolbar_(toolbar) {
    setFixedSize(RecordingToolbar::kDotSize, RecordingToolbar::kDotSize);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(toolbar_.dotColor());
    painter.drawEllipse(QRectF(rect()));
  }

 private:
  const RecordingToolbar& toolbar_;
};

QPainterPath capsule(const QRectF& rect) {
  QPainterPath path;
  const double radius = rect.height() / 2;
  path.addRoundedRect(rect, radius, radius);
  return path;
}

}  // namespace

RecordingToolbar::RecordingToolbar(QWidget* parent) : QWidget(parent) {
  setFixedSize(kSize);
  setAttribute(Qt::WA_TranslucentBackground);

  dot_ = new StatusDot(*this, this);

  time_ = new QLabel(this);
  time_->setFont(theme::monospacedFont(kTimeFontSize, QFont::Medium));
  time_->setFixedWidth(kTimeWidth);
  time_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  QPalette palette = time_->palette();
  palette.setColor(QPalette::WindowText, Qt::white);
  time_->setPalette(palette);

  pause_ = new ToolbarButton(Glyph::pause, Qt::white, this);
  stop_ = new ToolbarButton(Glyph::stop, theme::red(), this);
  stop_->setToolTip(QStringLiteral("Stop (%1)").arg(theme::nativeText(theme::startStopKeys())));
  connect(pause_, &QAbstractButton::clicked, this, &RecordingToolbar::pauseClicked);
  connect(stop_, &QAbstractButton::clicked, this, &RecordingToolbar::stopClicked);

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(kSideMargin, 0, kSideMargin, 0);
  row->setSpacing(kSpacing);
  row->addWidget(dot_, 0, Qt::AlignVCenter);
  row->addWidget(time_, 0, Qt::AlignVCenter);
  row->addStretch(1);
  row->addWidget(pause_, 0, Qt::AlignVCenter);
  row->addWidget(stop_, 0, Qt::AlignVCenter);

  setTimeText(QStringLiteral("00:00"));
  applyLook();
}

void RecordingToolbar::setLook(Look look) {
  if (look == look_) return;
  look_ = look;
  applyLook();
}

void RecordingToolbar::applyLook() {
  const bool paused = look_ == Look::paused;
  pause_->setGlyph(paused ? Glyph::play : Glyph::pause);
  pause_->setToolTip(
      QStringLiteral("%1 (%2)").arg(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"),
                                    theme::nativeText(theme::pauseKeys())));
  dot_->update();
}

void RecordingToolbar::setTimeText(const QString& text) {
  if (time_->text() != text) time_->setText(text);
}

QColor RecordingToolbar::dotColor() const {
  return look_ == Look::paused ? theme::orange() : theme::withOpacity(theme::red(), 0.9);
}

QPainterPath RecordingToolbar::outline() const {
  return capsule(QRectF(rect()));
}

void RecordingToolbar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.78f));
  painter.drawPath(outline());
  // A 1-point border drawn inside the edge: stroke along the outline inset by half its width.
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.12f), 1));
  painter.drawPath(capsule(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5)));
}

}  // namespace kestrova
