#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "PlanarImage.h"
#include "WriterInput.h"

namespace kestrova::testing {

// Paints frame `index` of a screen-like scene into an I420 picture: a flat desktop, a white window
// with a title bar and scrolling lines of dark "glyphs", the last one being typed, and a coloured
// box sliding across. Deterministic, so an encoder and ffmpeg can be fed the very same frames.
inline void paintScreen(const PlanarImage& out, int index) {
  const int w = out.width, h = out.height;
  for (int y = 0; y < h; ++y) std::memset(out.y + y * out.strideY, 90, w);
  for (int y = 0; y < h / 2; ++y) {
    std::memset(out.u + y * out.strideU, 140, w / 2);
    std::memset(out.v + y * out.strideV, 118, w / 2);
  }
  const auto rect = [&](int x0, int y0, int rw, int rh, std::uint8_t Y, std::uint8_t U,
                        std::uint8_t V) {
    x0 = std::clamp(x0 & ~1, 0, w);
    y0 = std::clamp(y0 & ~1, 0, h);
    const int x1 = std::clamp(x0 + rw, 0, w) & ~1, y1 = std::clamp(y0 + rh, 0, h) & ~1;
    if (x1 <= x0 || y1 <= y0) return;
    for (int y = y0; y < y1; ++y) std::memset(out.y + y * out.strideY + x0, Y, x1 - x0);
    for (int y = y0 / 2; y < y1 / 2; ++y) {
      std::memset(out.u + y * out.strideU + x0 / 2, U, (x1 - x0) / 2);
      std::memset(out.v + y * out.strideV + x0 / 2, V, (x1 - x0) / 2);
    }
  };
  // The window and its title bar.
  const int wx = w / 16, wy = h / 12, ww = w * 3 / 4, wh = h * 3 / 4;
  rect(wx, wy, ww, wh, 235, 128, 128);
  rect(wx, wy, ww, 24, 60, 150, 110);
  // Text: glyphs 6×10 px with 2 px gaps on 14 px lines, scrolling up 2 px a frame, with the
  // bottom line being typed one glyph a frame.
  const int columns = (ww - 16) / 8, lines = (wh - 40) / 14;
  const int scrolled = index * 2, sub = scrolled % 14;
  for (int row = 0; row < lines; ++row) {
    const int line = row + scrolled / 14;
    const int shown = row == lines - 1 ? index % columns : columns;
    for (int col = 0; col < shown; ++col) {
      const std::uint32_t hash = static_cast<std::uint32_t>(line * columns + col) * 2654435761u;
      if ((hash >> 7) % 7 == 0) continue;  // spaces
      const int gx = wx + 8 + col * 8, gy = wy + 32 + row * 14 - sub;
      const int gh = 6 + static_cast<int>((hash >> 11) % 5);
      rect(gx, gy + 10 - gh, 6, gh, 16, 128, 128);
    }
  }
  // Something moving.
  const int bx = (index * 7) % std::max(1, w - 96);
  rect(bx, h - h / 6, 96, 64, 81, 90, 240);
}

// A still window with only a 64×64 box on its way across: a light scene that encodes fast.
inline void paintStillScreen(const PlanarImage& out, int index) {
  paintScreen(out, 0);
  const int x = (index * 8) % std::max(1, out.width - 64);
  const int top = std::clamp(400, 0, std::max(0, out.height - 64));
  for (int row = top; row < std::min(top + 64, out.height); ++row) {
    std::memset(out.y + row * out.strideY + x, 200, std::min(64, out.width));
  }
}

// Paints frame `index` into a buffer of `input`'s pool and appends it at `pts` (1/6000 s), waiting
// while the writer's queue is full; false when it stays full for 2 s (a writer that gave up
// stays so), there is no buffer or the append is refused.
inline bool appendScreenFrame(WriterInput& input, std::int64_t pts, int index,
                              void (*paint)(const PlanarImage&, int) = paintScreen) {
  for (int waited = 0; !input.isReadyForMoreMediaData(); ++waited) {
    if (waited == 10000) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  PooledBuffer buffer = acquireFrom(*input.pixelBufferPool());
  if (!buffer) return false;
  paint(buffer->image, index);
  return input.append(std::move(buffer), pts);
}

// The bytes this process has written to disks so far (/proc/self/io), 0 where it is not told.
inline std::int64_t bytesWrittenToDisk() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::int64_t value = 0;
  while (io >> key >> value) {
    if (key == "write_bytes:") return value;
  }
  return 0;
}

}  // namespace kestrova::testing
