#include "CursorBitmap.h"

#include <iterator>

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

}  // namespace kestrova::wayland
