#pragma once

#include <optional>

#include "PremultipliedImage.h"

namespace kestrova::qt {

// Side of the click ring bitmap, pixels.
inline constexpr int kRingImageSize = 256;

// Draws the click ring with QPainter, antialiased: a 256×256 transparent square holding a white
// disc at alpha 0.22 with an opaque white outline 12 pixels wide, both on the ellipse in the
// rectangle (14, 14, 228, 228), so the outer edge lies 8 pixels inside the square. Nothing when
// the bitmap cannot be made. Any thread; needs no QGuiApplication.
std::optional<PremultipliedImage> makeRingImage();

}  // namespace kestrova::qt
