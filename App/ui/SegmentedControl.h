#pragma once

#include <QString>
#include <QVariant>
#include <QVector>
#include <QWidget>

namespace kestrova {

// A row of mutually exclusive segments, each with a text and a value. No segment is selected when
// the current value matches none.
class SegmentedControl : public QWidget {
  Q_OBJECT

 public:
  struct Segment {
    QString text;
    QVariant value;
  };

  explicit SegmentedControl(QVector<Segment> segments, QWidget* parent = nullptr);

  // Selects the segment holding `value`, or none; emits nothing.
  void setValue(const QVariant& value);
  // The selected segment's value, or an invalid QVariant.
  QVariant value() const;
  int selectedIndex() const { return selected_; }
  int count() const { return static_cast<int>(segments_.size()); }
  QString text(int index) const { return segments_[index].text; }
  // The segment's rectangle in this widget.
  QRect segmentRect(int index) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // The user picked the segment holding `value`.
  void picked(const QVariant& value);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void pick(int index);

  QVector<Segment> segments_;
  int selected_ = -1;
};

}  // namespace kestrova
