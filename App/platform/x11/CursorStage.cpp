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

void CursorStage::prepare() {
  asked_ = xcb_xfixes_get_cursor_image(conn_);
}

void CursorStage::apply(RegionFrame& frame) {
  if (!asked_) prepare();
  XcbReply<xcb_xfixes_get_cursor_image_reply_t> reply(
      xcb_xfixes_get_cursor_image_reply(conn_, *asked_, nullptr));
  asked_.reset();
  if (!reply) return;
  const int length = xcb_xfixes_get_cursor_image_cursor_image_length(reply.get());
  if (length < reply->width * reply->height) return;
  drawCursor(frame, {reply->x - reply->xhot, reply->y - reply->yhot, reply->width, reply->height,
                     xcb_xfixes_get_cursor_image_cursor_image(reply.get())});
}

}  // namespace kestrova::x11
