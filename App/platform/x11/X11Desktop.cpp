#include "X11Desktop.h"

#include "Xcb.h"

namespace kestrova::x11 {

X11PointerSource::X11PointerSource(const char* display)
    : conn_(std::make_unique<XcbConnection>(display)),
      rootHeight_(conn_->screen()->height_in_pixels) {}

X11PointerSource::~X11PointerSource() = default;

Point X11PointerSource::mouseLocation() {
  XcbReply<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(
      conn_->get(), xcb_query_pointer(conn_->get(), conn_->root()), nullptr));
  if (reply) {
    lastRoot_.store(static_cast<std::uint32_t>(static_cast<std::uint16_t>(reply->root_x)) << 16 |
                    static_cast<std::uint16_t>(reply->root_y));
  }
  const std::uint32_t root = lastRoot_.load();
  return desktopPointFromX11(static_cast<std::int16_t>(root >> 16),
                             static_cast<std::int16_t>(root & 0xffff), rootHeight_);
}

}  // namespace kestrova::x11
