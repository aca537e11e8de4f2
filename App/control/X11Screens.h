#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace kestrova::x11 {

// Questions about the X display that Qt is connected to, asked over Qt's own XCB connection. Each
// answers "no" (0, false) when Qt does not run on X11. Main thread only.

// The RandR output id of the first output of the monitor (or, failing that, the output) named
// `name`, as QScreen::name() gives it; 0 when none matches.
std::uint32_t randrOutputForScreenName(const QString& name);

// The height of the X root window in pixels, which turns X11 y into desktop y (up); nullopt off
// X11.
std::optional<int> rootHeight();

// Whether Qt runs on an X11 display that offers MIT-SHM, so its screen can be captured.
bool displayOffersSharedMemory();

}  // namespace kestrova::x11
