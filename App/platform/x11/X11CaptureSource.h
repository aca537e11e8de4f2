#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "CaptureSource.h"

namespace kestrova::x11 {

// Captures one RandR monitor of an X server.
//
// A capture thread of its own, on an X connection of its own, wakes every 1/fps s; when XDamage
// reports a change on the monitor since the last frame, or the pointer moved or changed shape, or
// the consumer asked for a frame, it delivers a sample stamped with SteadyHostClock's time. The
// sample's pixels are grabbed only when the pipeline asks for them, and only the region it asks for
// (MIT-SHM, a second connection), with this process's own windows repaired away and the pointer
// drawn in. Samples keep that connection and their memory alive until the last of them is gone, so
// frames queued before stop() still yield their pixels.
//
// The stream stops abnormally, telling the failure handler once, when the X connection breaks,
// the monitor disappears or changes its size or position, or grabbing keeps failing.
class X11CaptureSource final : public CaptureSource {
 public:
  // `display` empty: $DISPLAY.
  explicit X11CaptureSource(std::string display = {});
  // Stops the capture if it still runs.
  ~X11CaptureSource() override;

  X11CaptureSource(const X11CaptureSource&) = delete;
  X11CaptureSource& operator=(const X11CaptureSource&) = delete;

  // `config.display` must be a display of X11DisplayList for the same server. Throws
  // PlatformError when the server lacks what capture needs (MIT-SHM, DAMAGE, XFIXES, RandR 1.5,
  // 24-bit colour) or the display is gone. Called once.
  void start(const CaptureConfig& config, SampleSink sink, FailureHandler onFailure) override;
  void stop() override;
  void requestFrame() override;
  CaptureStats stats() const override;

  struct Shared;  // between the capture thread, the samples and this object

 private:
  const std::string display_;
  std::shared_ptr<Shared> shared_;
  // Here rather than in Shared, so a request racing with stop() finds it alive.
  std::atomic<bool> frameRequested_{false};
  std::thread thread_;
  CaptureStats stopped_;  // the counts at stop()
};

}  // namespace kestrova::x11
