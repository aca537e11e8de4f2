#include "CursorStage.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrova::x11 {
namespace {

// Opaque pixels at their hot spot are seen on a real server; here the blending and the clipping.
TEST(DrawCursor, BlendsPremultipliedPixelsOverTheFrameAndClipsAtItsEdges) {
  struct Case {
    const char* name;
    int cursorX, cursorY;
    std::uint32_t argb;
    int atX, atY;          // a frame pixel (root coordinates) to look at
    std::uint32_t expect;  // its B, G, R afterwards as 0xRRGGBB
  };
  // The frame is 4×3 at root (10, 20), every pixel 0x202020; the cursor 2×2 of one colour.
  const Case cases[] = {
      {"half alpha, premultiplied", 11, 21, 0x80800000u, 11, 21, 0x901010},
      {"clipped at the top-left", 9, 19, 0xff00ff00u, 10, 20, 0x00ff00},
      {"clipped at the bottom-right", 13, 22, 0xffff0000u, 13, 22, 0xff0000},
      {"wholly outside", 30, 30, 0xffff0000u, 13, 22, 0x202020},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> pixels(4 * 3 * 4, 0x20);
    RegionFrame frame{pixels.data(), 16, {10, 20, 4, 3}};
    const std::vector<std::uint32_t> image(4, c.argb);
    drawCursor(frame, {c.cursorX, c.cursorY, 2, 2, image.data()});
    const std::uint8_t* p = frame.at(c.atX, c.atY);
    EXPECT_EQ(static_cast<std::uint32_t>(p[2] << 16 | p[1] << 8 | p[0]), c.expect);
  }
}

}  // namespace
}  // namespace kestrova::x11
