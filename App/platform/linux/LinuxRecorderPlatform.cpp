#include "LinuxRecorderPlatform.h"

#include "FfmpegWriter.h"
#include "RingImage.h"
#include "X11CaptureSource.h"
#include "X11ClickMonitor.h"
#include "X11Desktop.h"
#include "X11Displays.h"

namespace kestrova::linux_desktop {

RecorderPlatform makeRecorderPlatform(const std::string& display) {
  RecorderPlatform p;
  p.displays = std::make_shared<x11::X11DisplayList>(display);
  p.makeCaptureSource = [display] { return std::make_unique<x11::X11CaptureSource>(display); };
  p.makeWriter = [](const RecorderConfig& config) { return ffmpeg::createFfmpegWriter(config); };
  p.clickMonitor = std::make_shared<x11::X11ClickMonitor>(display);
  p.pointer = std::make_shared<x11::X11PointerSource>(display.empty() ? nullptr : display.c_str());
  p.clock = std::make_shared<SteadyHostClock>();
  p.makeRing = [] { return qt::makeRingImage(); };
  return p;
}

RecordingEngineFactory makeRecordingEngineFactory(const std::string& display) {
  return [display](const RecorderConfig& config) -> std::shared_ptr<RecordingEngine> {
    return Recorder::create(config, makeRecorderPlatform(display));
  };
}

}  // namespace kestrova::linux_desktop
