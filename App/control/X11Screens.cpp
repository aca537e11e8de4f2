#include "X11Screens.h"

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <QGuiApplication>

#include <cstring>

#include "Xcb.h"

namespace kestrova::x11 {
namespace {

xcb_connection_t* qtConnection() {
  auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return app ? app->connection() : nullptr;
}

QString atomName(xcb_connection_t* c, xcb_atom_t atom) {
  XcbReply<xcb_get_atom_name_reply_t> reply(
      xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr));
  if (!reply) return {};
  return QString::fromLatin1(xcb_get_atom_name_name(reply.get()),
                             xcb_get_atom_name_name_length(reply.get()));
}

std::uint32_t monitorOutput(xcb_connection_t* c, xcb_window_t root, const QString& name) {
  XcbReply<xcb_randr_get_monitors_reply_t> reply(
      xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, root, 1), nullptr));
  if (!reply) return 0;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
       xcb_randr_monitor_info_next(&it)) {
    if (xcb_randr_monitor_info_outputs_length(it.data) == 0) continue;
    if (atomName(c, it.data->name) == name) return xcb_randr_monitor_info_outputs(it.data)[0];
  }
  return 0;
}

std::uint32_t namedOutput(xcb_connection_t* c, xcb_window_t root, const QString& name) {
  XcbReply<xcb_randr_get_screen_resources_current_reply_t> resources(
      xcb_randr_get_screen_resources_current_reply(
          c, xcb_randr_get_screen_resources_current(c, root), nullptr));
  if (!resources) return 0;
  const xcb_randr_output_t* outputs =
      xcb_randr_get_screen_resources_current_outputs(resources.get());
  const int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
  for (int i = 0; i < count; ++i) {
    XcbReply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(
        c, xcb_randr_get_output_info(c, outputs[i], resources->config_timestamp), nullptr));
    if (!info) continue;
    const auto* bytes = reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get()));
    if (QString::fromLatin1(bytes, xcb_randr_get_output_info_name_length(info.get())) == name)
      return outputs[i];
  }
  return 0;
}

}  // namespace

std::uint32_t randrOutputForScreenName(const QString& name) {
  xcb_connection_t* c = qtConnection();
  if (!c || name.isEmpty()) return 0;
  const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
  if (!randr || !randr->present) return 0;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  if (const std::uint32_t id = monitorOutput(c, root, name)) return id;
  return namedOutput(c, root, name);
}

std::optional<int> rootHeight() {
  xcb_connection_t* c = qtConnection();
  if (!c) return std::nullopt;
  return xcb_setup_roots_iterator(xcb_get_setup(c)).data->height_in_pixels;
}

bool displayOffersSharedMemory() {
  xcb_connection_t* c = qtConnection();
  if (!c) return false;
  static constexpr char kShm[] = "MIT-SHM";
  XcbReply<xcb_query_extension_reply_t> reply(
      xcb_query_extension_reply(c, xcb_query_extension(c, std::strlen(kShm), kShm), nullptr));
  return reply && reply->present;
}

}  // namespace kestrova::x11
