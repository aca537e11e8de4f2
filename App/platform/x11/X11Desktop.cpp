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
  if (reply) last_ = desktopPointFromX11(reply->root_x, reply->root_y, rootHeight_);
  return last_;
}

}  // namespace kestrova::x11
