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
    // Naming window pixmaps came with 0.2.
    composite_ = version && (version->major_version > 0 || version->minor_version >= 2);
  }

  // Events first, then the tree: a change in between arrives as an event and is applied again.
  const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(conn, root, XCB_CW_EVENT_MASK, &mask);
  const std::vector<xcb_window_t> children = childrenOf(conn, xcb_query_tree(conn, root));
  std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>> cookies;
  cookies.reserve(children.size());
  for (xcb_window_t w : children) {
    cookies.emplace_back(xcb_get_window_attributes(conn, w), xcb_get_geometry(conn, w));
  }
  for (std::size_t i = 0; i < children.size(); ++i) {
    XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(conn, cookies[i].first, nullptr));
    XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(conn, cookies[i].second, nullptr));
    if (!attributes || !geometry) continue;  // gone meanwhile
    const int border = 2 * geometry->border_width;
    stack_.push_back(
        {children[i],
         attributes->map_state != XCB_MAP_STATE_UNMAPPED,
         {geometry->x, geometry->y, geometry->width + border, geometry->height + border}});
  }
  classify();
  updateRedirection();
}

std::vector<OwnWindowStage::TopLevel>::iterator OwnWindowStage::find(xcb_window_t w) {
  return std::find_if(stack_.begin(), stack_.end(), [w](const TopLevel& t) { return t.id == w; });
}

void OwnWindowStage::restack(xcb_window_t w, xcb_window_t sibling) {
  const auto it = find(w);
  if (it == stack_.end()) return;
  const TopLevel moved = *it;
  stack_.erase(it);
  const auto below = sibling == XCB_NONE ? stack_.begin() : find(sibling);
  stack_.insert(below == stack_.end() ? stack_.end() : below + (sibling == XCB_NONE ? 0 : 1),
                moved);
}

void OwnWindowStage::handle(const xcb_generic_event_t& event) {
  switch (event.response_type & 0x7f) {
    case XCB_CREATE_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_create_notify_event_t&>(event);
      if (e.parent != root_ || find(e.window) != stack_.end()) break;
      const int border = 2 * e.border_width;
      stack_.push_back({e.window, false, {e.x, e.y, e.width + border, e.height + border}});
      structureChanged_ = true;
      break;
    }
    case XCB_DESTROY_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
      if (const auto it = find(e.window); it != stack_.end()) stack_.erase(it);
      known_.erase(e.window);  // a reused id is asked about again
      structureChanged_ = true;
      break;
    }
    case XCB_REPARENT_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_reparent_notify_event_t&>(event);
      const auto it = find(e.window);
      if (e.parent == root_) {
        if (it == stack_.end()) {
          // Mapped again by its own MapNotify; its size is asked for once.
          XcbReply<xcb_get_geometry_reply_t> g(
              xcb_get_geometry_reply(conn_, xcb_get_geometry(conn_, e.window), nullptr));
          if (g) {
            const int border = 2 * g->border_width;
            stack_.push_back({e.window, false, {e.x, e.y, g->width + border, g->height + border}});
          }
        }
      } else if (it != stack_.end()) {
        stack_.erase(it);
        known_.erase(e.window);
      }
      structureChanged_ = true;
      break;
    }
    case XCB_MAP_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_map_notify_event_t&>(event);
      if (const auto it = find(e.window); it != stack_.end()) it->mapped = true;
      structureChanged_ = true;
      break;
    }
    case XCB_UNMAP_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_unmap_notify_event_t&>(event);
      if (const auto it = find(e.window); it != stack_.end()) it->mapped = false;
      break;
    }
    case XCB_CONFIGURE_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
      if (e.event != root_) break;
      const auto it = find(e.window);
      if (it == stack_.end()) break;
      const int border = 2 * e.border_width;
      it->rect = {e.x, e.y, e.width + border, e.height + border};
      restack(e.window, e.above_sibling);
      break;
    }
    case XCB_GRAVITY_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_gravity_notify_event_t&>(event);
      if (const auto it = find(e.window); it != stack_.end()) {
        it->rect.x = e.x;
        it->rect.y = e.y;
      }
      break;
    }
    case XCB_CIRCULATE_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_circulate_notify_event_t&>(event);
      const auto it = find(e.window);
      if (it == stack_.end()) break;
      const TopLevel moved = *it;
      stack_.erase(it);
      stack_.insert(e.place == XCB_PLACE_ON_TOP ? stack_.end() : stack_.begin(), moved);
      break;
    }
    case XCB_PROPERTY_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_property_notify_event_t&>(event);
      if (e.window == root_ && e.atom == rootPixmapAtom_) rootPixmap_.reset();
      break;
    }
    default:
      break;
  }
}

void OwnWindowStage::classify() {
  structureChanged_ = false;
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
  for (const TopLevel& t : stack_) {
    if (!known_.count(t.id)) level.push_back({t.id, t.id, 0});
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
  // Windows without any PID are ours only when one of our clients made them.
  for (xcb_window_t w : undecided) {
    if (ownClients_.count(w & clientMask_)) known_[w] = Owner::ours;
  }
}

bool OwnWindowStage::isOurs(xcb_window_t w) const {
  const auto it = known_.find(w);
  return it != known_.end() && it->second == Owner::ours;
}

void OwnWindowStage::updateRedirection() {
  const bool wanted = composite_ && std::any_of(stack_.begin(), stack_.end(),
                                                [&](const TopLevel& t) { return isOurs(t.id); });
  if (wanted == redirected_) return;
  if (wanted) {
    // Automatic redirection may stack on a compositing manager's manual one, so this does not
    // fail where one runs.
    XcbReply<xcb_generic_error_t> error(xcb_request_check(
        conn_,
        xcb_composite_redirect_subwindows_checked(conn_, root_, XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
    redirected_ = !error;
  } else {
    xcb_composite_unredirect_subwindows(conn_, root_, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    redirected_ = false;
  }
}

void OwnWindowStage::apply(RegionFrame& frame) {
  if (structureChanged_) {
    classify();
    updateRedirection();
  }
  std::vector<RootRect> damaged;
  for (const TopLevel& w : stack_) {
    if (!w.mapped || !isOurs(w.id)) continue;
    const RootRect area = intersect(w.rect, frame.rect);
    if (!isEmpty(area)) damaged.push_back(area);
  }
  for (const RootRect& area : damaged) {
    paintBackground(frame, area);
    for (const TopLevel& w : stack_) {
      if (w.mapped && !isOurs(w.id)) paintWindow(frame, w, area);
    }
  }
}

void OwnWindowStage::paintBackground(RegionFrame& frame, const RootRect& area) {
  // The picture desktop tools set as the root's background, when they say where it is.
  if (!rootPixmap_) {
    rootPixmap_ =
        cardinalOf(conn_, askCardinal(conn_, root_, rootPixmapAtom_, XCB_ATOM_PIXMAP)).value_or(0);
  }
  if (*rootPixmap_ != XCB_NONE) {
    XcbReply<xcb_get_image_reply_t> image(xcb_get_image_reply(
        conn_,
        xcb_get_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, *rootPixmap_,
                      static_cast<std::int16_t>(area.x), static_cast<std::int16_t>(area.y),
                      static_cast<std::uint16_t>(area.width),
                      static_cast<std::uint16_t>(area.height), ~0u),
        nullptr));
    if (copyImage(frame, area, image.get())) return;
  }
  for (int y = area.y; y < area.y + area.height; ++y) {
    std::memset(frame.at(area.x, y), 0, static_cast<std::size_t>(area.width) * 4);
  }
}

void OwnWindowStage::paintWindow(RegionFrame& frame, const TopLevel& window, const RootRect& area) {
  if (!redirected_) return;
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
