#include "RingImage.h"

#include <QColor>
#include <QColorSpace>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QRectF>
#include <cstring>

namespace kestrova::qt {

std::optional<PremultipliedImage> makeRingImage() {
  QImage image(kRingImageSize, kRingImageSize, QImage::Format_RGBA8888_Premultiplied);
  if (image.isNull()) return std::nullopt;
  image.setColorSpace(QColorSpace::SRgb);
  image.fill(Qt::transparent);

  const QRectF ellipse(14, 14, 228, 228);
  QPainter painter;
  if (!painter.begin(&image)) return std::nullopt;
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor::fromRgbF(1, 1, 1, 0.22f));
  painter.drawEllipse(ellipse);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 1), 12));
  painter.drawEllipse(ellipse);
  if (!painter.end()) return std::nullopt;

  PremultipliedImage ring;
  ring.width = image.width();
  ring.height = image.height();
  const std::size_t rowBytes = static_cast<std::size_t>(ring.width) * 4;
  ring.pixels.resize(rowBytes * ring.height);
  for (int y = 0; y < ring.height; ++y) {
    std::memcpy(ring.pixels.data() + rowBytes * y, image.constScanLine(y), rowBytes);
  }
  return ring;
}

}  // namespace kestrova::qt
