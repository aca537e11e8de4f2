#include "X11Displays.h"

#include <xcb/randr.h>

#include <algorithm>

#include "RecorderError.h"
#include "X11Monitors.h"
#include "Xcb.h"

namespace kestrova::x11 {
namespace {

[[noreturn]] void throwUnanswered() {
  throw PlatformError("The X server did not answer the question for its displays.");
}

}  // namespace

std::vector<X11Monitor> queryMonitors(xcb_connection_t* conn, xcb_window_t root) {
  XcbReply<xcb_randr_query_version_reply_t> version(
      xcb_randr_query_version_reply(conn, xcb_randr_query_version(conn, 1, 5), nullptr));
  if (!version) {
    if (xcb_connection_has_error(conn)) throwUnanswered();
    throw PlatformError("The X server does not support listing monitors (RandR 1.5 is missing).");
  }
  if (version->major_version < 1 || (version->major_version == 1 && version->minor_version < 5)) {
    throw PlatformError("The X server does not support listing monitors (RandR 1.5 is missing).");
  }

  XcbReply<xcb_randr_get_monitors_reply_t> reply(
      xcb_randr_get_monitors_reply(conn, xcb_randr_get_monitors(conn, root, 1), nullptr));
  if (!reply) throwUnanswered();

  std::vector<X11Monitor> monitors;
  std::vector<xcb_get_atom_name_cookie_t> names;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
       xcb_randr_monitor_info_next(&it)) {
    const xcb_randr_monitor_info_t* m = it.data;
    X11Monitor monitor;
    const xcb_randr_output_t* outputs = xcb_randr_monitor_info_outputs(m);
    // A monitor set up with the output "none" reports one output of id 0.
    monitor.id =
        (m->nOutput > 0 && outputs[0] != XCB_NONE) ? outputs[0] : (kOutputlessMonitorBit | m->name);
    monitor.rect = {m->x, m->y, m->width, m->height};
    monitor.primary = m->primary != 0;
    monitors.push_back(monitor);
    names.push_back(xcb_get_atom_name(conn, m->name));
  }
  for (std::size_t i = 0; i < monitors.size(); ++i) {
    XcbReply<xcb_get_atom_name_reply_t> name(xcb_get_atom_name_reply(conn, names[i], nullptr));
    if (!name) throwUnanswered();
    monitors[i].name.assign(xcb_get_atom_name_name(name.get()),
                            static_cast<std::size_t>(xcb_get_atom_name_name_length(name.get())));
  }
  std::stable_partition(monitors.begin(), monitors.end(), [](const auto& m) { return m.primary; });
  return monitors;
}

int queryRootHeight(xcb_connection_t* conn, xcb_window_t root) {
  XcbReply<xcb_get_geometry_reply_t> geometry(
      xcb_get_geometry_reply(conn, xcb_get_geometry(conn, root), nullptr));
  if (!geometry) throwUnanswered();
  return geometry->height;
}

std::vector<DisplayInfo> X11DisplayList::displays() {
  return layout().displays;
}

X11DisplayList::Layout X11DisplayList::layout() {
  XcbConnection conn(display_.empty() ? nullptr : display_.c_str());
  const auto monitors = queryMonitors(conn.get(), conn.root());
  Layout result;
  result.rootHeight = queryRootHeight(conn.get(), conn.root());
  result.displays.reserve(monitors.size());
  for (const auto& m : monitors) {
    result.displays.push_back(
        {m.id, m.name,
         desktopFrameFromX11(m.rect.x, m.rect.y, m.rect.width, m.rect.height, result.rootHeight),
         1.0});
  }
  return result;
}

}  // namespace kestrova::x11
