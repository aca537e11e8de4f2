#include "OwnWindowStage.h"

#include <xcb/composite.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "Xcb.h"

namespace kestrova::x11 {
namespace {

xcb_atom_t internAtom(xcb_connection_t* conn, const char* name) {
  XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      conn, xcb_intern_atom(conn, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
      nullptr));
  return reply ? reply->atom : XCB_NONE;
}

xcb_get_property_cookie_t askCardinal(xcb_connection_t* conn, xcb_window_t w, xcb_atom_t atom,
                                      xcb_atom_t type) {
  return xcb_get_property(conn, 0, w, atom, type, 0, 1);
}

std::optional<std::uint32_t> cardinalOf(xcb_connection_t* conn, xcb_get_property_cookie_t c) {
  XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(conn, c, nullptr));
  if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) {
    return std::nullopt;
  }
  return *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
}

std::vector<xcb_window_t> childrenOf(xcb_connection_t* conn, xcb_query_tree_cookie_t c) {
  XcbReply<xcb_query_tree_reply_t> reply(xcb_query_tree_reply(conn, c, nullptr));
  if (!reply) return {};
  const xcb_window_t* w = xcb_query_tree_children(reply.get());
  return {w, w + xcb_query_tree_children_length(reply.get())};
}

// Copies a ZPixmap image of 32 bits per pixel into `area` of the frame.
bool copyImage(RegionFrame& frame, const RootRect& area, xcb_get_image_reply_t* image) {
  const std::size_t rowBytes = static_cast<std::size_t>(area.width) * 4;
  if (!image || static_cast<std::size_t>(xcb_get_image_data_length(image)) <
                    rowBytes * static_cast<std::size_t>(area.height)) {
    return false;
  }
  const std::uint8_t* src = xcb_get_image_data(image);
  for (int y = 0; y < area.height; ++y) {
    std::memcpy(frame.at(area.x, area.y + y), src + rowBytes * static_cast<std::size_t>(y),
                rowBytes);
  }
  return true;
}

}  // namespace

OwnWindowStage::OwnWindowStage(xcb_connection_t* conn, xcb_window_t root, std::uint32_t pid)
    : conn_(conn), root_(root), pid_(pid), clientMask_(~xcb_get_setup(conn)->resource_id_mask) {
  pidAtom_ = internAtom(conn, "_NET_WM_PID");
  rootPixmapAtom_ = internAtom(conn, "_XROOTPMAP_ID");
  const auto* ext = xcb_get_extension_data(conn, &xcb_composite_id);
  if (ext && ext->present) {
    XcbReply<xcb_composite_query_version_reply_t> version(
        xcb_composite_query_version_reply(conn, xcb_composite_query_version(conn, 0, 4), nullptr));
    // Naming window pixmaps came with 0.2. Automatic redirection may stack on a compositing
    // manager's manual one, so this does not fail where one runs.
    if (version && (version->major_version > 0 || version->minor_version >= 2)) {
      XcbReply<xcb_generic_error_t> error(xcb_request_check(
          conn,
          xcb_composite_redirect_subwindows_checked(conn, root, XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
      composite_ = !error;
    }
  }
}

std::vector<OwnWindowStage::TopLevel> OwnWindowStage::classify(
    const std::vector<xcb_window_t>& children) {
  // What is known of each new top-level window: the PID found on it or inside it (ours wins).
  struct Finding {
    std::optional<std::uint32_t> pid;
    bool onItself = false;  // found on the top-level window itself
  };
  std::unordered_map<xcb_window_t, Finding> findings;
  struct Probe {
    xcb_window_t top;
    xcb_window_t window;
    int depth;  // 0: the top-level window
  };
  std::vector<Probe> level;
  for (xcb_window_t w : children) {
    if (!known_.count(w)) level.push_back({w, w, 0});
  }
  // Level by level, each level's questions in one batch: a PID-less window manager's frame holds
  // the client one level down (two with a wrapper window between).
  while (!level.empty()) {
    std::vector<std::pair<xcb_get_property_cookie_t, std::optional<xcb_query_tree_cookie_t>>> asked;
    asked.reserve(level.size());
    for (const Probe& p : level) {
      asked.emplace_back(
          askCardinal(conn_, p.window, pidAtom_, XCB_ATOM_CARDINAL),
          p.depth < kMaxFrameDepth ? std::optional(xcb_query_tree(conn_, p.window)) : std::nullopt);
    }
    std::vector<Probe> next;
    for (std::size_t i = 0; i < level.size(); ++i) {
      const Probe& p = level[i];
      Finding& f = findings[p.top];
      const auto pid = cardinalOf(conn_, asked[i].first);
      if (pid && (!f.pid || *pid == pid_)) {
        f.pid = pid;
        f.onItself = p.depth == 0;
      }
      if (!asked[i].second) continue;
      const std::vector<xcb_window_t> inner = childrenOf(conn_, *asked[i].second);
      if (pid) continue;  // an application's window holds only its own windows
      for (xcb_window_t c : inner) next.push_back({p.top, c, p.depth + 1});
    }
    level = std::move(next);
  }

  std::vector<xcb_window_t> undecided;
  for (const auto& [top, f] : findings) {
    if (f.pid) {
      known_[top] = *f.pid == pid_ ? Owner::ours : Owner::foreign;
      // Only a window that itself carries our PID tells which client is ours: a frame around one
      // of our windows belongs to the window manager.
      if (f.onItself && *f.pid == pid_) ownClients_.insert(top & clientMask_);
    } else {
      undecided.push_back(top);
    }
  }
  // Windows without any PID are ours only when one of our clients made them. They stay undecided
  // (asked again next time) until then, since a window manager may not have filled its frame yet.
  for (xcb_window_t w : undecided) {
    if (ownClients_.count(w & clientMask_)) known_[w] = Owner::ours;
  }

  // Forget windows that are gone, so a reused id is asked about again.
  std::unordered_set<xcb_window_t> present(children.begin(), children.end());
  std::erase_if(known_, [&](const auto& entry) { return !present.count(entry.first); });

  std::vector<TopLevel> result;
  result.reserve(children.size());
  for (xcb_window_t w : children) {
    const auto it = known_.find(w);
    result.push_back({w, it != known_.end() && it->second == Owner::ours, false, {}});
  }
  return result;
}

void OwnWindowStage::locate(std::vector<TopLevel*>& windows) {
  std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>> cookies;
  cookies.reserve(windows.size());
  for (TopLevel* w : windows) {
    cookies.emplace_back(xcb_get_window_attributes(conn_, w->id), xcb_get_geometry(conn_, w->id));
  }
  for (std::size_t i = 0; i < windows.size(); ++i) {
    XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(conn_, cookies[i].first, nullptr));
    XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(conn_, cookies[i].second, nullptr));
    TopLevel& w = *windows[i];
    w.viewable = attributes && geometry && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
                 attributes->_class != XCB_WINDOW_CLASS_INPUT_ONLY;
    if (geometry) {
      const int border = 2 * geometry->border_width;
      w.rect = {geometry->x, geometry->y, geometry->width + border, geometry->height + border};
    }
  }
}

void OwnWindowStage::prepare() {
  asked_ = xcb_query_tree(conn_, root_);
}

void OwnWindowStage::apply(RegionFrame& frame) {
  if (!asked_) prepare();
  std::vector<TopLevel> windows = classify(childrenOf(conn_, *asked_));  // bottom to top
  asked_.reset();

  std::vector<TopLevel*> ours;
  for (TopLevel& w : windows) {
    if (w.ours) ours.push_back(&w);
  }
  if (ours.empty()) return;
  locate(ours);
  std::vector<RootRect> damaged;
  for (const TopLevel* w : ours) {
    if (!w->viewable) continue;
    const RootRect area = intersect(w->rect, frame.rect);
    if (!isEmpty(area)) damaged.push_back(area);
  }
  if (damaged.empty()) return;

  std::vector<TopLevel*> others;
  for (TopLevel& w : windows) {
    if (!w.ours) others.push_back(&w);
  }
  locate(others);
  for (const RootRect& area : damaged) {
    paintBackground(frame, area);
    for (const TopLevel* w : others) {
      if (w->viewable) paintWindow(frame, *w, area);
    }
  }
}

void OwnWindowStage::paintBackground(RegionFrame& frame, const RootRect& area) {
  // The picture desktop tools set as the root's background, when they say where it is.
  const auto pixmap =
      cardinalOf(conn_, askCardinal(conn_, root_, rootPixmapAtom_, XCB_ATOM_PIXMAP));
  if (pixmap && *pixmap != XCB_NONE) {
    XcbReply<xcb_get_image_reply_t> image(xcb_get_image_reply(
        conn_,
        xcb_get_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, *pixmap, static_cast<std::int16_t>(area.x),
                      static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                      static_cast<std::uint16_t>(area.height), ~0u),
        nullptr));
    if (copyImage(frame, area, image.get())) return;
  }
  for (int y = area.y; y < area.y + area.height; ++y) {
    std::memset(frame.at(area.x, y), 0, static_cast<std::size_t>(area.width) * 4);
  }
}

void OwnWindowStage::paintWindow(RegionFrame& frame, const TopLevel& window, const RootRect& area) {
  if (!composite_) return;
  const RootRect part = intersect(window.rect, area);
  if (isEmpty(part)) return;
  const xcb_pixmap_t pixmap = xcb_generate_id(conn_);
  xcb_composite_name_window_pixmap(conn_, window.id, pixmap);
  XcbReply<xcb_get_image_reply_t> image(
      xcb_get_image_reply(conn_,
                          xcb_get_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap,
                                        static_cast<std::int16_t>(part.x - window.rect.x),
                                        static_cast<std::int16_t>(part.y - window.rect.y),
                                        static_cast<std::uint16_t>(part.width),
                                        static_cast<std::uint16_t>(part.height), ~0u),
                          nullptr));
  xcb_free_pixmap(conn_, pixmap);
  // Only 24- and 32-bit windows come as 32 bits per pixel; others keep the background.
  if (image && (image->depth == 24 || image->depth == 32)) copyImage(frame, part, image.get());
}

}  // namespace kestrova::x11
