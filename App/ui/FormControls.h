#pragma once

// Small drawn controls of the main window that Qt Widgets lacks: glyph images and the filled and
// link-style buttons; and, through their own headers, the controls with behaviour of their own.
// Main thread only.

#include <QAbstractButton>
#include <QLabel>
#include <QString>
#include <QVariant>
#include <QVector>
#include <QWidget>

#include <optional>

#include "DisclosureGroup.h"
#include "ElidedLabel.h"
#include "Glyphs.h"
#include "SegmentedControl.h"

class QHBoxLayout;

namespace kestrova {

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
