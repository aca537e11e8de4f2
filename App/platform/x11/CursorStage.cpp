#include "CursorStage.h"

#include <xcb/xfixes.h>

#include "Xcb.h"

namespace kestrova::x11 {

void drawCursor(RegionFrame& frame, const CursorImage& cursor) {
  const RootRect area = intersect(frame.rect, {cursor.x, cursor.y, cursor.width, cursor.height});
  if (isEmpty(area)) return;
  for (int y = area.y; y < area.y + area.height; ++y) {
    const std::uint32_t* src = cursor.argb +
                               static_cast<std::ptrdiff_t>(y - cursor.y) * cursor.width +
                               (area.x - cursor.x);
    std::uint8_t* dst = frame.at(area.x, y);
    for (int i = 0; i < area.width; ++i, ++src, dst += 4) {
      const std::uint32_t s = *src;
      const std::uint32_t a = s >> 24;
      if (a == 0) continue;
      const std::uint32_t keep = 255 - a;
      // dst = src + dst × (1 − αsrc), per channel; B, G, R in memory order.
      for (int c = 0; c < 3; ++c) {
        const std::uint32_t sc = (s >> (8 * c)) & 0xff;
        const std::uint32_t v = sc + (dst[c] * keep + 127) / 255;
        dst[c] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
      }
    }
  }
}

CursorStage::CursorStage(xcb_connection_t* conn, xcb_window_t root) : conn_(conn), root_(root) {
  if (const auto* xfixes = xcb_get_extension_data(conn, &xcb_xfixes_id);
      xfixes && xfixes->present) {
    shapeEvent_ = xfixes->first_event + XCB_XFIXES_CURSOR_NOTIFY;
  }
  xcb_xfixes_select_cursor_input(conn, root, XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
}

void CursorStage::handle(const xcb_generic_event_t& event) {
  if ((event.response_type & 0x7f) == shapeEvent_) shapeChanged_ = true;
}

void CursorStage::prepare() {
  if (shapeChanged_) {
    askedImage_ = xcb_xfixes_get_cursor_image(conn_);  // where the pointer is comes with it
  } else {
    askedPosition_ = xcb_query_pointer(conn_, root_);
  }
}

void CursorStage::apply(RegionFrame& frame) {
  if (!askedImage_ && !askedPosition_) prepare();
  int x = 0;
  int y = 0;
  if (askedImage_) {
    XcbReply<xcb_xfixes_get_cursor_image_reply_t> reply(
        xcb_xfixes_get_cursor_image_reply(conn_, *askedImage_, nullptr));
    askedImage_.reset();
    if (!reply) return;
    const int length = xcb_xfixes_get_cursor_image_cursor_image_length(reply.get());
    if (length < reply->width * reply->height) return;
    const std::uint32_t* argb = xcb_xfixes_get_cursor_image_cursor_image(reply.get());
    argb_.assign(argb, argb + static_cast<std::ptrdiff_t>(reply->width) * reply->height);
    width_ = reply->width;
    height_ = reply->height;
    hotX_ = reply->xhot;
    hotY_ = reply->yhot;
    shapeChanged_ = false;
    x = reply->x;
    y = reply->y;
  } else {
    XcbReply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(conn_, *askedPosition_, nullptr));
    askedPosition_.reset();
    if (!reply || !reply->same_screen) return;
    x = reply->root_x;
    y = reply->root_y;
  }
  drawCursor(frame, {x - hotX_, y - hotY_, width_, height_, argb_.data()});
}

}  // namespace kestrova::x11
