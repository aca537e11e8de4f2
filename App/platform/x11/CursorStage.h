#pragma once

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdint>
#include <optional>

#include "FrameStage.h"

namespace kestrova::x11 {

// A pointer image placed on the root window.
struct CursorImage {
  int x = 0;  // root pixels of the image's top-left corner (the pointer minus the hot spot)
  int y = 0;
  int width = 0;
  int height = 0;
  const std::uint32_t* argb = nullptr;  // premultiplied 0xAARRGGBB, row after row
};

// Draws `cursor` over `frame` where they meet (premultiplied "over").
void drawCursor(RegionFrame& frame, const CursorImage& cursor);

// Draws the current pointer, as XFixes reports it, at its hot spot. `conn` must have XFixes
// initialised and outlive the stage. A pointer that cannot be read is left out of the frame.
class CursorStage final : public FrameStage {
 public:
  explicit CursorStage(xcb_connection_t* conn) : conn_(conn) {}
  void prepare() override;
  void apply(RegionFrame& frame) override;

 private:
  xcb_connection_t* conn_;
  std::optional<xcb_xfixes_get_cursor_image_cookie_t> asked_;
};

}  // namespace kestrova::x11
