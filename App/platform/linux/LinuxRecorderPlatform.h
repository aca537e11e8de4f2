#pragma once

#include <string>

#include "Recorder.h"
#include "RecordingEngine.h"

namespace kestrova::linux_desktop {

// The recorder's platform services on an X11 desktop: RandR displays, MIT-SHM capture, the
// XInput 2 click monitor, the X11 pointer, the FFmpeg writer and the Qt-drawn ring. `display` names
// the X server ("" for $DISPLAY). Throws PlatformError when the X server cannot be reached.
RecorderPlatform makeRecorderPlatform(const std::string& display = {});

// Makes a Recorder on a fresh set of platform services for each recording, so a recording never
// inherits a connection that broke during an earlier one.
RecordingEngineFactory makeRecordingEngineFactory(const std::string& display = {});

}  // namespace kestrova::linux_desktop
