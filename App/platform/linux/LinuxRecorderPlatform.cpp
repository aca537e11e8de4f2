#include "LinuxRecorderPlatform.h"

#include <cstdio>

#include "EvdevClickMonitor.h"
#include "FfmpegWriter.h"
#include "PipeWireStream.h"
#include "RingImage.h"
#include "ScreenCastRecordingEngine.h"
#include "WaylandCapture.h"
#include "WaylandSession.h"
#include "X11CaptureSource.h"
#include "X11ClickMonitor.h"
#include "X11Desktop.h"
#include "X11Displays.h"

namespace kestrova::linux_desktop {
namespace {

// The recorder's line at stop goes to standard error, where kestrova-record's user and a
// terminal-started program's user see it; standard output keeps only kestrova-record's file path.
void logToStandardError(const std::string& line) {
  std::fprintf(stderr, "kestrova: %s\n", line.c_str());
}

}  // namespace

RecorderPlatform makeRecorderPlatform(const std::string& display) {
  RecorderPlatform p;
  p.displays = std::make_shared<x11::X11DisplayList>(display);
  p.makeCaptureSource = [display] { return std::make_unique<x11::X11CaptureSource>(display); };
  p.makeWriter = [](const RecorderConfig& config) { return ffmpeg::createFfmpegWriter(config); };
  p.clickMonitor = std::make_shared<x11::X11ClickMonitor>(display);
  p.pointer = std::make_shared<x11::X11PointerSource>(display.empty() ? nullptr : display.c_str());
  p.clock = std::make_shared<SteadyHostClock>();
  p.makeRing = [] { return qt::makeRingImage(); };
  p.log = logToStandardError;
  return p;
}

RecorderPlatform makeScreenCastPlatform(UniqueFd remote, std::uint32_t node,
                                        std::shared_ptr<void> keepAlive, int fps) {
  auto stream = std::make_shared<wayland::PipeWireStream>(std::move(remote), node, fps);
  RecorderPlatform p;
  p.displays = std::make_shared<wayland::WaylandDisplayList>(stream, node);
  p.makeCaptureSource = [stream, keepAlive = std::move(keepAlive)] {
    return std::make_unique<wayland::WaylandCaptureSource>(stream);
  };
  p.makeWriter = [](const RecorderConfig& config) { return ffmpeg::createFfmpegWriter(config); };
  p.pointer = std::make_shared<wayland::WaylandPointerSource>(stream);
  p.clickMonitor = std::make_shared<evdev::EvdevClickMonitor>();
  p.clock = std::make_shared<SteadyHostClock>();
  p.makeRing = [] { return qt::makeRingImage(); };
  p.log = logToStandardError;
  return p;
}

RecordingEngineFactory makeRecordingEngineFactory(const std::string& display,
                                                  const RestoreTokenStore& tokens,
                                                  const std::shared_ptr<GrantedMonitor>& granted) {
  if (display.empty() && isWaylandSession()) {
    return [tokens, granted](const RecorderConfig& config) -> std::shared_ptr<RecordingEngine> {
      return std::make_shared<ScreenCastRecordingEngine>(config, tokens, granted);
    };
  }
  return [display](const RecorderConfig& config) -> std::shared_ptr<RecordingEngine> {
    return Recorder::create(config, makeRecorderPlatform(display));
  };
}

}  // namespace kestrova::linux_desktop
