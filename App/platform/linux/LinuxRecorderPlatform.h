#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "GrantedMonitor.h"
#include "PortalStream.h"
#include "Recorder.h"
#include "RecordingEngine.h"
#include "ScreenCastPortal.h"

namespace kestrova::linux_desktop {

// The recorder's platform services on an X11 desktop: RandR displays, MIT-SHM capture, the
// XInput 2 click monitor, the X11 pointer, the FFmpeg writer and the Qt-drawn ring. `display` names
// the X server ("" for $DISPLAY). Throws PlatformError when the X server cannot be reached.
RecorderPlatform makeRecorderPlatform(const std::string& display = {});

// The recorder's platform services on one screen cast that a Wayland desktop granted: the cast's
// PipeWire stream (connected here, through `remote`, or the default daemon when it is invalid),
// the pointer from its metadata, the FFmpeg writer and the Qt-drawn ring. Wayland shows no client
// the desktop's clicks: they come from the kernel's pointer devices where the user may read them,
// placed where the metadata has the pointer. Everything is in the stream's pixels (the
// display list's one display is the stream at scale 1). `keepAlive` (the portal session) is held
// as long as the services. `fps` > 0 caps the frames the compositor sends (the recording's rate).
// Throws PlatformError when the stream cannot be had.
RecorderPlatform makeScreenCastPlatform(UniqueFd remote, std::uint32_t node,
                                        std::shared_ptr<void> keepAlive = {}, int fps = 0);

// Makes a Recorder on a fresh set of platform services for each recording, so a recording never
// inherits a connection that broke during an earlier one. In a Wayland session (and `display`
// empty) each recording asks the screen-cast portal for its stream, with the token in `tokens`,
// and tells `granted` (when given) where the monitor it was granted lies.
RecordingEngineFactory makeRecordingEngineFactory(
    const std::string& display = {}, const RestoreTokenStore& tokens = {},
    const std::shared_ptr<GrantedMonitor>& granted = {});

}  // namespace kestrova::linux_desktop
