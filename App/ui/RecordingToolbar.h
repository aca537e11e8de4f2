#pragma once

#include <QString>
#include <QWidget>

#include "FloatingPanel.h"

class QLabel;

namespace kestrova {

class ToolbarButton;

// The floating toolbar of a running recording: a black capsule with a status dot, the elapsed
// time and the pause/resume and stop buttons. It shows what it is given and reports clicks; the
// recording's state lives with whoever feeds it. Main thread only.
class RecordingToolbar : public QWidget, public PanelShape {
  Q_OBJECT

 public:
  enum class Look { recording, paused };

  static constexpr QSize kSize{232, 48};
  static constexpr int kSideMargin = 16;
  static constexpr int kSpacing = 14;
  static constexpr int kDotSize = 9;
  static constexpr int kTimeWidth = 56;
  static constexpr int kTimeFontSize = 15;

  explicit RecordingToolbar(QWidget* parent = nullptr);

  // `paused` turns the dot orange and offers Resume; everything else looks like recording. The
  // controller calls this on every tick: only a change repaints, since each repaint is also a
  // change on the recorded screen that the capture must look at.
  void setLook(Look look);
  Look look() const { return look_; }
  // The elapsed time as shown, e.g. "01:05".
  void setTimeText(const QString& text);

  QLabel* timeLabel() const { return time_; }
  ToolbarButton* pauseButton() const { return pause_; }
  ToolbarButton* stopButton() const { return stop_; }
  // The dot's fill, opacity included.
  QColor dotColor() const;

  QPainterPath outline() const override;

 signals:
  void pauseClicked();
  void stopClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void applyLook();

  Look look_ = Look::recording;
  QWidget* dot_;
  QLabel* time_;
  ToolbarButton* pause_;
  ToolbarButton* stop_;
};

}  // namespace kestrova
