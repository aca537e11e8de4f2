#include "X11Hints.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>

#include <cstdlib>
#include <string>
#include <vector>

namespace kestrova::x11hints {
namespace {

xcb_connection_t* qtConnection() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* connection, const std::string& name) {
  auto cookie = xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str());
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  if (!reply) return XCB_ATOM_NONE;
  const xcb_atom_t result = reply->atom;
  std::free(reply);
  return result;
}

}  // namespace

bool translucencyAvailable() {
  xcb_connection_t* connection = qtConnection();
  if (!connection) return true;
  const int screens = xcb_setup_roots_length(xcb_get_setup(connection));
  for (int i = 0; i < screens; ++i) {
    const xcb_atom_t selection = atom(connection, "_NET_WM_CM_S" + std::to_string(i));
    if (selection == XCB_ATOM_NONE) continue;
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = reply && reply->owner != XCB_WINDOW_NONE;
    std::free(reply);
    if (owned) return true;
  }
  return false;
}

void stickToAllWorkspaces(QWidget& window) {
  xcb_connection_t* connection = qtConnection();
  if (!connection) return;
  const auto id = static_cast<xcb_window_t>(window.winId());

  const uint32_t allDesktops = 0xFFFFFFFF;
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom(connection, "_NET_WM_DESKTOP"),
                      XCB_ATOM_CARDINAL, 32, 1, &allDesktops);

  // Qt adds its own states (above, stays-on-top) to these when it maps the window.
  std::vector<xcb_atom_t> states;
  for (const char* name :
       {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
    if (const xcb_atom_t state = atom(connection, name); state != XCB_ATOM_NONE) {
      states.push_back(state);
    }
  }
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom(connection, "_NET_WM_STATE"),
                      XCB_ATOM_ATOM, 32, static_cast<uint32_t>(states.size()), states.data());
  xcb_flush(connection);
}

}  // namespace kestrova::x11hints
