#pragma once

#include <string_view>

namespace kestrova {

// Whether the program runs in a Wayland session, where only the desktop's screen-cast portal may
// record the screen (an X11 client of XWayland would capture black frames). `qtPlatform` is Qt's
// platform plug-in (QGuiApplication::platformName()), empty without a GUI. Reads the environment
// (XDG_SESSION_TYPE, WAYLAND_DISPLAY): decide once at launch.
bool isWaylandSession(std::string_view qtPlatform = {});

}  // namespace kestrova
