#include "CursorOverlay.h"

#include <algorithm>
#include <cstring>

namespace kestrova::wayland {

std::shared_ptr<const CursorBitmap> CursorBitmap::fallbackArrow() {
  // 1 = outline, 2 = fill; the hot spot is the tip.
  static constexpr const char* kRows[] = {
      "1",        "11",       "121",       "1221",       "12221",       "122221",
      "1222221",  "12222221", "122222221", "1222222221", "12222211111", "1221221",
      "121 1221", "11  1221", "1    1221", "     1221",  "      11",
  };
  static const std::shared_ptr<const CursorBitmap> arrow = [] {
    auto b = std::make_shared<CursorBitmap>();
    b->width = 11;
    b->height = static_cast<int>(std::size(kRows));
    b->argb.assign(static_cast<std::size_t>(b->width * b->height), 0);
    for (int y = 0; y < b->height; ++y) {
      for (int x = 0; kRows[y][x]; ++x) {
        const char c = kRows[y][x];
        if (c == '1') b->argb[static_cast<std::size_t>(y * b->width + x)] = 0xff000000u;
        if (c == '2') b->argb[static_cast<std::size_t>(y * b->width + x)] = 0xffffffffu;
      }
    }
    return b;
  }();
  return arrow;
}

void CursorOverlay::restore(std::uint8_t* pixels, int stride) {
  if (saved_.empty()) return;
  for (int row = 0; row < h_; ++row) {
    std::memcpy(pixels + static_cast<std::ptrdiff_t>(y_ + row) * stride + x_ * 4,
                saved_.data() + static_cast<std::size_t>(row * w_ * 4),
                static_cast<std::size_t>(w_) * 4);
  }
  saved_.clear();
}

void CursorOverlay::place(std::uint8_t* pixels, int width, int height, int stride,
                          const CursorPlacement& cursor) {
  restore(pixels, stride);
  const CursorBitmap* b = cursor.bitmap.get();
  if (!b || b->width <= 0 || b->height <= 0) return;
  const int left = cursor.x - b->hotX;
  const int top = cursor.y - b->hotY;
  const int x0 = std::max(left, 0), y0 = std::max(top, 0);
  const int x1 = std::min(left + b->width, width), y1 = std::min(top + b->height, height);
  if (x1 <= x0 || y1 <= y0) return;

  x_ = x0;
  y_ = y0;
  w_ = x1 - x0;
  h_ = y1 - y0;
  saved_.resize(static_cast<std::size_t>(w_ * h_ * 4));
  for (int y = y0; y < y1; ++y) {
    std::uint8_t* dst = pixels + static_cast<std::ptrdiff_t>(y) * stride + x0 * 4;
    std::memcpy(saved_.data() + static_cast<std::size_t>((y - y0) * w_ * 4), dst,
                static_cast<std::size_t>(w_) * 4);
    const std::uint32_t* src =
        b->argb.data() + static_cast<std::ptrdiff_t>(y - top) * b->width + (x0 - left);
    for (int i = 0; i < w_; ++i, ++src, dst += 4) {
      const std::uint32_t s = *src;
      const std::uint32_t a = s >> 24;
      if (a == 0) continue;
      const std::uint32_t keep = 255 - a;
      // dst = src + dst × (1 − αsrc), per channel; B, G, R in memory order.
      for (int c = 0; c < 3; ++c) {
        const std::uint32_t v = ((s >> (8 * c)) & 0xff) + (dst[c] * keep + 127) / 255;
        dst[c] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
      }
    }
  }
}

}  // namespace kestrova::wayland
