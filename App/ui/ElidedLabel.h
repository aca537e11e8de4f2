#pragma once

#include <QString>
#include <QWidget>

namespace kestrova {

// One line of text, cut in the middle with an ellipsis when it does not fit.
class ElidedLabel : public QWidget {
  Q_OBJECT

 public:
  explicit ElidedLabel(QWidget* parent = nullptr);

  void setText(const QString& text);
  QString text() const { return text_; }
  // What is drawn at the current width.
  QString shownText() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
};

}  // namespace kestrova
