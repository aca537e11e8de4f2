#include "X11Grabber.h"

#include <unistd.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include "CursorStage.h"
#include "OwnWindowStage.h"
#include "RecorderError.h"
#include "SigpipeGuard.h"

namespace kestrova::x11 {
namespace {

// Grabs are copied as they come: the server must hand out 32-bit little-endian BGRX pixels.
void checkPixelFormat(const XcbConnection& conn) {
  const xcb_setup_t* setup = xcb_get_setup(conn.get());
  const xcb_screen_t* screen = conn.screen();
  bool bpp32 = false;
  for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
    if (it.data->depth == screen->root_depth) bpp32 = it.data->bits_per_pixel == 32;
  }
  bool rgb = false;
  for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
    for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
      if (v.data->visual_id != screen->root_visual) continue;
      rgb =
          v.data->red_mask == 0xff0000 && v.data->green_mask == 0xff00 && v.data->blue_mask == 0xff;
    }
  }
  if (!bpp32 || !rgb || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
    throw PlatformError("The X server's colour depth of " + std::to_string(screen->root_depth) +
                        " bits cannot be recorded; Kestrova needs 24-bit colour.");
  }
}

void requireExtension(const XcbConnection& conn, xcb_extension_t* ext, const char* name) {
  const auto* data = xcb_get_extension_data(conn.get(), ext);
  if (!data || !data->present) {
    throw PlatformError(std::string("The X server lacks the ") + name +
                        " extension, which screen capture needs.");
  }
}

}  // namespace

X11Grabber::X11Grabber(const std::string& display, RootRect monitor, int segments,
                       std::function<void()> keepsFailing)
    : conn_(display.empty() ? nullptr : display.c_str()),
      monitor_(monitor),
      maxSegments_(segments),
      keepsFailing_(std::move(keepsFailing)) {
  requireExtension(conn_, &xcb_shm_id, "MIT-SHM");
  requireExtension(conn_, &xcb_xfixes_id, "XFIXES");
  checkPixelFormat(conn_);
  XcbReply<xcb_xfixes_query_version_reply_t> xfixes(xcb_xfixes_query_version_reply(
      conn_.get(), xcb_xfixes_query_version(conn_.get(), 4, 0), nullptr));
  if (!xfixes) throw PlatformError("The connection to the X server was lost.");

  stages_.push_back(std::make_unique<OwnWindowStage>(conn_.get(), conn_.root(),
                                                     static_cast<std::uint32_t>(getpid())));
  stages_.push_back(std::make_unique<CursorStage>(conn_.get(), conn_.root()));

  // Made here and not on first use, so a refusal is raised now.
  all_.push_back(std::make_unique<ShmSegment>(
      conn_.get(), static_cast<std::size_t>(monitor_.width) * monitor_.height * 4));
  free_.push_back(all_.back().get());
}

X11Grabber::~X11Grabber() {
  SigpipeGuard guard;
  stages_.clear();
  all_.clear();  // detached while the connection is still open
}

ShmSegment* X11Grabber::lease() {
  {
    MutexLock lock(poolMutex_);
    if (!free_.empty()) {
      ShmSegment* s = free_.back();
      free_.pop_back();
      return s;
    }
    if (static_cast<int>(all_.size()) >= maxSegments_) return nullptr;
  }
  // Only the fetching thread makes segments, so the count cannot run past the limit meanwhile.
  try {
    auto segment = std::make_unique<ShmSegment>(
        conn_.get(), static_cast<std::size_t>(monitor_.width) * monitor_.height * 4);
    MutexLock lock(poolMutex_);
    all_.push_back(std::move(segment));
    return all_.back().get();
  } catch (const PlatformError&) {
    return nullptr;
  }
}

void X11Grabber::release(ShmSegment* segment) {
  if (!segment) return;
  MutexLock lock(poolMutex_);
  free_.push_back(segment);
}

xcb_shm_get_image_cookie_t X11Grabber::askGrab(ShmSegment& segment, const RootRect& rect) {
  return xcb_shm_get_image(
      conn_.get(), conn_.root(), static_cast<std::int16_t>(rect.x),
      static_cast<std::int16_t>(rect.y), static_cast<std::uint16_t>(rect.width),
      static_cast<std::uint16_t>(rect.height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment.id(), 0);
}

bool X11Grabber::grabbedAll(xcb_shm_get_image_cookie_t cookie, const RootRect& rect) {
  XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(conn_.get(), cookie, nullptr));
  return reply && reply->size >= static_cast<std::uint32_t>(rect.width) * rect.height * 4;
}

bool X11Grabber::grabRaw(ShmSegment& segment, const RootRect& rect) {
  SigpipeGuard guard;
  return grabbedAll(askGrab(segment, rect), rect);
}

std::optional<BgraView> X11Grabber::fetch(ShmSegment*& segment, int x, int y, int w, int h) {
  SigpipeGuard guard;
  // The stages' events, and errors of requests without replies, which nobody needs.
  while (xcb_generic_event_t* event = xcb_poll_for_event(conn_.get())) {
    for (auto& stage : stages_) stage->handle(*event);
    std::free(event);
  }

  if (x < 0 || y < 0 || w <= 0 || h <= 0 || x + w > monitor_.width || y + h > monitor_.height) {
    return std::nullopt;  // the caller's mistake, not the server's
  }
  if (!segment) segment = lease();
  if (!segment) {
    failed();
    return std::nullopt;
  }

  RegionFrame frame{segment->data(), w * 4, {monitor_.x + x, monitor_.y + y, w, h}};
  const auto grab = askGrab(*segment, frame.rect);
  for (auto& stage : stages_) stage->prepare();
  const bool grabbed = grabbedAll(grab, frame.rect);
  // Answers of the stages must be taken even when the grab failed, to keep XCB's queue short.
  for (auto& stage : stages_) stage->apply(frame);
  if (!grabbed) {
    failed();
    return std::nullopt;
  }
  failuresInARow_ = 0;
  return BgraView{frame.data, frame.stride};
}

void X11Grabber::failed() {
  if (++failuresInARow_ >= kMaxFailuresInARow && !reportedFailing_) {
    reportedFailing_ = true;
    if (keepsFailing_) keepsFailing_();
  }
}

}  // namespace kestrova::x11
