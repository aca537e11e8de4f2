#include "WaylandSession.h"

#include <cstdlib>

namespace kestrova {

bool isWaylandSession(std::string_view qtPlatform) {
  if (qtPlatform.starts_with("wayland")) return true;
  const char* type = std::getenv("XDG_SESSION_TYPE");
  const char* display = std::getenv("WAYLAND_DISPLAY");
  return (type && std::string_view(type) == "wayland") || (display && *display);
}

}  // namespace kestrova
