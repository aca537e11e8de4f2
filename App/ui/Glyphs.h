#pragma once

#include <QColor>
#include <QIcon>
#include <QPainterPath>
#include <QRectF>

class QPainter;

namespace kestrova {

// The program's own icons, drawn as vector paths so they look the same on every desktop (with or
// without an icon theme) and stay sharp at any device pixel ratio.
enum class Glyph {
  record,      // a ring around a dot
  pause,       // two bars, filled
  play,        // a triangle, filled
  stop,        // a rounded square, filled
  folder,      // a folder outline
  warning,     // a filled triangle with an exclamation mark cut out
  check,       // a filled disc with a check mark cut out
  viewfinder,  // a filled disc with four corner brackets cut out
};

// The glyph's filled outline inside the square `box` (device-independent pixels). Glyphs keep a
// small inner margin, as symbol fonts do, so they line up with text of the box's height.
QPainterPath glyphPath(Glyph glyph, const QRectF& box);

// Fills the glyph, antialiased, in `color`. Main thread.
void paintGlyph(QPainter& painter, Glyph glyph, const QRectF& box, const QColor& color);

// An icon that renders the glyph afresh for each requested size and device pixel ratio. Disabled
// icons are drawn at 40 % opacity.
QIcon glyphIcon(Glyph glyph, const QColor& color);

}  // namespace kestrova
