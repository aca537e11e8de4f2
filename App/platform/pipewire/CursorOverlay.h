#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace kestrova::wayland {

// A pointer image as the compositor last sent it, in stream pixels.
struct CursorBitmap {
  int width = 0;
  int height = 0;
  int hotX = 0;  // the hot spot within the image
  int hotY = 0;
  std::vector<std::uint32_t> argb;  // premultiplied 0xAARRGGBB, row after row

  // A plain arrow, for a stream that joined after the compositor last sent the image.
  static std::shared_ptr<const CursorBitmap> fallbackArrow();
};

// Where and how the pointer is shown on one frame.
struct CursorPlacement {
  int x = 0;  // the hot spot, stream pixels
  int y = 0;
  std::shared_ptr<const CursorBitmap> bitmap;  // null: hidden
};

// A BGRA picture with the pointer drawn in so that it can be taken out again: frames are shared
// by the samples that repeat them, each with the pointer where it was at its own time.
//
// Not thread-safe: one thread at a time draws on a given frame.
class CursorOverlay {
 public:
  // Puts the picture back as it was, then draws `cursor` over `pixels` (width × height, `stride`
  // bytes per row) at its hot spot, premultiplied "over". The fourth byte is left alone.
  void place(std::uint8_t* pixels, int width, int height, int stride,
             const CursorPlacement& cursor);
  // Forgets what lay under the pointer: the picture was overwritten.
  void reset() { saved_.clear(); }

 private:
  void restore(std::uint8_t* pixels, int stride);

  int x_ = 0, y_ = 0, w_ = 0, h_ = 0;  // the saved rectangle, pixels
  std::vector<std::uint8_t> saved_;
};

}  // namespace kestrova::wayland
