#pragma once

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdint>
#include <optional>
#include <vector>

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

// Draws the current pointer at its hot spot. Its image is fetched from XFixes only when the
// pointer changed its shape; between changes a frame asks only where the pointer is. `conn` must
// have XFixes initialised and outlive the stage. A pointer that cannot be read is left out.
class CursorStage final : public FrameStage {
 public:
  CursorStage(xcb_connection_t* conn, xcb_window_t root);
  void handle(const xcb_generic_event_t& event) override;
  void prepare() override;
  void apply(RegionFrame& frame) override;

 private:
  xcb_connection_t* conn_;
  xcb_window_t root_;
  int shapeEvent_ = -1;
  bool shapeChanged_ = true;  // the image held is not the pointer's
  std::optional<xcb_xfixes_get_cursor_image_cookie_t> askedImage_;
  std::optional<xcb_query_pointer_cookie_t> askedPosition_;
  // The last image, its hot spot in the image's own pixels.
  std::vector<std::uint32_t> argb_;
  int width_ = 0;
  int height_ = 0;
  int hotX_ = 0;
  int hotY_ = 0;
};

}  // namespace kestrova::x11
