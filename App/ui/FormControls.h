#pragma once

// Small controls of the main window that Qt Widgets lacks: segmented pickers, a disclosure group,
// a middle-elided label, glyph images and the filled and link-style buttons. Main thread only.

#include <QAbstractButton>
#include <QLabel>
#include <QString>
#include <QVariant>
#include <QVector>
#include <QWidget>

#include <optional>

#include "Glyphs.h"

class QHBoxLayout;

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

// A header with a disclosure triangle and a title that shows and hides its content. Starts
// collapsed.
class DisclosureGroup : public QWidget {
  Q_OBJECT

 public:
  DisclosureGroup(const QString& title, QWidget* content, QWidget* parent = nullptr);

  void setExpanded(bool expanded);
  bool isExpanded() const { return expanded_; }
  QAbstractButton* header() const { return header_; }
  QWidget* content() const { return content_; }

 signals:
  void expandedChanged(bool expanded);

 private:
  QAbstractButton* header_;
  QWidget* content_;
  bool expanded_ = false;
};

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

// A glyph of a fixed size, drawn in a fixed colour or in the dimmed text colour.
class GlyphView : public QWidget {
 public:
  GlyphView(Glyph glyph, int size, QColor color, QWidget* parent = nullptr);
  // Drawn in the dimmed text colour of its palette.
  GlyphView(Glyph glyph, int size, QWidget* parent = nullptr);

  Glyph glyph() const { return glyph_; }
  void setGlyph(Glyph glyph);
  void setColor(QColor color);
  QColor color() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Glyph glyph_;
  std::optional<QColor> color_;
};

// A filled, rounded button (the prominent action of a view): `tint` behind white content. Its
// content is laid out by the caller in contentLayout().
class ProminentButton : public QAbstractButton {
  Q_OBJECT

 public:
  ProminentButton(QColor tint, int height, QWidget* parent = nullptr);

  QHBoxLayout* contentLayout() const { return content_; }
  QColor tint() const { return tint_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor tint_;
  int height_;
  QHBoxLayout* content_;
};

// A button that looks like a hyperlink: accent-coloured text, a pointing hand, no frame.
class LinkButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit LinkButton(const QString& text, QWidget* parent = nullptr);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A plain label in the dimmed text colour.
QLabel* secondaryLabel(const QString& text, QWidget* parent = nullptr);

}  // namespace kestrova
