#pragma once

#include <memory>

#include "CaptureSource.h"
#include "DisplayInfo.h"
#include "HostPorts.h"
#include "PipeWireStream.h"

namespace kestrova::wayland {

// The engine's view of one screen cast. Everything works in the stream's pixels: the display's
// frame is (0, 0, stream width, stream height) at scale 1, and the pointer metadata is in those
// pixels too, so under fractional scaling the tracker and the viewport never meet the compositor's
// logical coordinates.

// The one monitor the desktop let us record. Its id is the stream's PipeWire node.
class WaylandDisplayList final : public DisplayList {
 public:
  WaylandDisplayList(std::shared_ptr<PipeWireStream> stream, std::uint32_t nodeId)
      : stream_(std::move(stream)), nodeId_(nodeId) {}
  std::vector<DisplayInfo> displays() override;

 private:
  std::shared_ptr<PipeWireStream> stream_;
  std::uint32_t nodeId_;
};

// The cast's frames, with the pointer for the pipeline to draw. One recording per stream: start()
// once.
class WaylandCaptureSource final : public CaptureSource {
 public:
  explicit WaylandCaptureSource(std::shared_ptr<PipeWireStream> stream)
      : stream_(std::move(stream)) {}
  ~WaylandCaptureSource() override { stop(); }

  void start(const CaptureConfig& config, SampleSink sink, FailureHandler onFailure) override;
  void stop() override;
  void requestFrame() override { stream_->requestFrame(); }
  CaptureStats stats() const override { return stream_->stats(); }

 private:
  std::shared_ptr<PipeWireStream> stream_;
};

// The pointer from the cast's metadata, in desktop points of WaylandDisplayList's display.
// Before the first metadata, the middle of the screen. Thread-safe.
class WaylandPointerSource final : public PointerSource {
 public:
  explicit WaylandPointerSource(std::shared_ptr<PipeWireStream> stream)
      : stream_(std::move(stream)) {}
  Point mouseLocation() override;

 private:
  std::shared_ptr<PipeWireStream> stream_;
};

}  // namespace kestrova::wayland
