#pragma once

#include <QVariantAnimation>
#include <QWidget>

#include "FloatingPanel.h"

namespace kestrova {

// The countdown overlay: a translucent black disc with the seconds left in large white digits.
// Each new number grows in from 1.3× its size while fading in, as the old one grows to 1.3× while
// fading out, over 0.25 s with ease-out timing; the disc itself never moves. Main thread only.
class CountdownView : public QWidget, public PanelShape {
  Q_OBJECT

 public:
  static constexpr QSize kSize{200, 200};
  static constexpr int kDiscDiameter = 180;
  static constexpr int kNumberFontSize = 96;
  static constexpr double kDiscOpacity = 0.55;
  static constexpr int kTransitionMs = 250;
  static constexpr double kTransitionScale = 1.3;

  explicit CountdownView(QWidget* parent = nullptr);

  // Shows `number`; a change starts the transition, the same number again does nothing. The
  // first number set shows at once.
  void setNumber(int number);
  int number() const { return number_; }

  // The running transition, for tests to step through; its value runs from 0 to 1, eased.
  QVariantAnimation& transition() { return transition_; }
  bool isAnimating() const { return transition_.state() == QAbstractAnimation::Running; }

  QPainterPath outline() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void drawNumber(QPainter& painter, int number, double scale, double opacity) const;

  int number_ = 0;
  int previous_ = 0;
  bool shown_ = false;  // whether any number was set yet
  QVariantAnimation transition_;
};

}  // namespace kestrova
