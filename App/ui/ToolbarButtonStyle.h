#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QRectF>

#include "Glyphs.h"

class QPainter;

namespace kestrova {

// The face of the toolbar's round buttons: a 32-point circle of white at 10 % (25 % while pressed)
// with the icon centred in it. No disabled look and no animation; the press feedback is the circle
// alone.
struct ToolbarButtonStyle {
  static constexpr int kFaceSize = 32;
  // The icon's box: what a 14-point semibold symbol occupies.
  static constexpr int kGlyphSize = 15;
  static constexpr double kRestingOpacity = 0.1;
  static constexpr double kPressedOpacity = 0.25;

  // The circle's colour for the button's state.
  static QColor background(bool pressed);
  // Paints the face into `rect` (kFaceSize square).
  static void paint(QPainter& painter, const QRectF& rect, bool pressed, Glyph glyph,
                    const QColor& glyphColor);
};

// A toolbar button drawn with ToolbarButtonStyle. The icon is white unless the button sets a
// colour of its own (the stop button is red). Never takes focus, so clicking it leaves the
// keyboard where it was.
class ToolbarButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit ToolbarButton(Glyph glyph, QColor glyphColor = Qt::white, QWidget* parent = nullptr);

  void setGlyph(Glyph glyph);
  Glyph glyph() const { return glyph_; }
  QColor glyphColor() const { return glyphColor_; }

  QSize sizeHint() const override {
    return {ToolbarButtonStyle::kFaceSize, ToolbarButtonStyle::kFaceSize};
  }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Glyph glyph_;
  QColor glyphColor_;
};

}  // namespace kestrova
