#include "Glyphs.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPathStroker>
#include <QPixmap>
#include <QTransform>

#include <algorithm>
#include <array>

namespace kestrova {
namespace {

// Glyphs are designed on a 24×24 grid and scaled to the requested box.
constexpr double kGrid = 24;

QPainterPath disc(QPointF centre, double radius) {
  QPainterPath path;
  path.addEllipse(centre, radius, radius);
  return path;
}

QPainterPath stroked(const QPainterPath& line, double width,
                     Qt::PenJoinStyle join = Qt::RoundJoin) {
  QPainterPathStroker stroker;
  stroker.setWidth(width);
  stroker.setCapStyle(Qt::RoundCap);
  stroker.setJoinStyle(join);
  return stroker.createStroke(line).simplified();
}

// A polygon whose corners are rounded by growing it with a round-joined stroke.
QPainterPath roundedPolygon(const QPolygonF& polygon, double rounding) {
  QPainterPath path;
  path.addPolygon(polygon);
  path.closeSubpath();
  return path.united(stroked(path, rounding));
}

QPainterPath gridPath(Glyph glyph) {
  const QPointF centre(12, 12);
  switch (glyph) {
    case Glyph::record:
      return disc(centre, 11).subtracted(disc(centre, 9.2)).united(disc(centre, 6));
    case Glyph::pause: {
      QPainterPath path;
      path.addRoundedRect(QRectF(5.5, 3.5, 4.5, 17), 1.5, 1.5);
      path.addRoundedRect(QRectF(14, 3.5, 4.5, 17), 1.5, 1.5);
      return path;
    }
    case Glyph::play:
      return roundedPolygon(QPolygonF({{7, 4.5}, {19.5, 12}, {7, 19.5}}), 2.5);
    case Glyph::stop: {
      QPainterPath path;
      path.addRoundedRect(QRectF(4.5, 4.5, 15, 15), 3, 3);
      return path;
    }
    case Glyph::folder: {
      QPainterPath shape;
      shape.addRoundedRect(QRectF(2.5, 4.5, 8.5, 5), 1.5, 1.5);
      shape.addRoundedRect(QRectF(2.5, 6.5, 19, 13), 2, 2);
      shape = shape.simplified();
      QPainterPath fold;
      fold.moveTo(3, 9.5);
      fold.lineTo(21, 9.5);
      return stroked(shape, 1.7).united(stroked(fold, 1.5));
    }
    case Glyph::warning: {
      QPainterPath mark;
      mark.addRoundedRect(QRectF(10.9, 8, 2.2, 7.2), 1.1, 1.1);
      mark.addEllipse(QPointF(12, 17.4), 1.3, 1.3);
      return roundedPolygon(QPolygonF({{12, 3.2}, {21.3, 19.8}, {2.7, 19.8}}), 2.6)
          .subtracted(mark);
    }
    case Glyph::check: {
      QPainterPath tick;
      tick.moveTo(7.2, 12.4);
      tick.lineTo(10.6, 15.8);
      tick.lineTo(16.8, 8.6);
      return disc(centre, 11).subtracted(stroked(tick, 2.2));
    }
    case Glyph::viewfinder: {
      QPainterPath brackets;
      const double lo = 6.8, hi = 17.2, arm = 3.4;
      const std::array<std::array<double, 4>, 4> corners = {
          {{lo, lo, 1, 1}, {hi, lo, -1, 1}, {lo, hi, 1, -1}, {hi, hi, -1, -1}}};
      for (const auto& [x, y, dx, dy] : corners) {
        brackets.moveTo(x, y + dy * arm);
        brackets.lineTo(x, y);
        brackets.lineTo(x + dx * arm, y);
      }
      return disc(centre, 11).subtracted(stroked(brackets, 1.8).united(disc(centre, 1.5)));
    }
  }
  return {};
}

class GlyphIconEngine final : public QIconEngine {
 public:
  GlyphIconEngine(Glyph glyph, QColor color) : glyph_(glyph), color_(color) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    const double side = std::min(rect.width(), rect.height());
    const QRectF box(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2,
                     side, side);
    QColor color = color_;
    if (mode == QIcon::Disabled) color.setAlphaF(color.alphaF() * 0.4f);
    paintGlyph(*painter, glyph_, box, color);
  }

  // QIcon asks for device pixels (the logical size times the ratio) and sets the ratio itself,
  // so drawing the paths at exactly this size is what keeps them sharp.
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    return pixmap;
  }

  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal) override {
    return pixmap(size, mode, state);
  }

  QIconEngine* clone() const override { return new GlyphIconEngine(glyph_, color_); }

 private:
  Glyph glyph_;
  QColor color_;
};

}  // namespace

QPainterPath glyphPath(Glyph glyph, const QRectF& box) {
  QTransform transform;
  transform.translate(box.x(), box.y());
  transform.scale(box.width() / kGrid, box.height() / kGrid);
  return transform.map(gridPath(glyph));
}

void paintGlyph(QPainter& painter, Glyph glyph, const QRectF& box, const QColor& color) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(color);
  painter.drawPath(glyphPath(glyph, box));
  painter.restore();
}

QIcon glyphIcon(Glyph glyph, const QColor& color) {
  return QIcon(new GlyphIconEngine(glyph, color));
}

}  // namespace kestrova
