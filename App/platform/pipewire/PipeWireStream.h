#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "CaptureSource.h"
#include "PortalStream.h"

namespace kestrova::wayland {

// A position in the stream's pixels, origin top-left, y down.
struct StreamPoint {
  int x = 0;
  int y = 0;
  friend bool operator==(const StreamPoint&, const StreamPoint&) = default;
};

// One screen-cast stream consumed from PipeWire: a pw_stream on a pw_thread_loop of its own
// ("kestrova.pw"), in shared-memory BGRx/BGRA buffers, with the pointer as buffer metadata (the
// compositor leaves it out of the pixels; samples hand it on as a PointerOverlay for the pipeline
// to draw).
//
// The compositor sends a buffer only when the screen changed or the pointer moved. Buffers are
// taken at most `fps` times a second: the newest is kept until its frame is due, then lent to the
// samples that show it, read where it lies (mapped by us, so that it outlives the stream's own
// view), and handed back to the stream when the last of them goes. Only when the compositor
// would be left too few buffers to go on with is a picture copied into one of ours instead.
//
// Threads: the constructor, start(), stop() and the destructor run on one controlling thread.
// pointer() and the size are read from any thread. requestFrame() may be called from any thread
// while the object exists. The sink and the failure handler are called on the PipeWire thread,
// between start() and stop().
class PipeWireStream {
 public:
  // Connects to node `nodeId` through `remote` (invalid: the default PipeWire daemon) and waits
  // up to `timeout` for the format. With `maxFps` > 0 the compositor is asked to send no more
  // frames a second than that (it may not listen). Throws PlatformError when the stream cannot be
  // had.
  PipeWireStream(UniqueFd remote, std::uint32_t nodeId, int maxFps = 0,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5));
  ~PipeWireStream();

  PipeWireStream(const PipeWireStream&) = delete;
  PipeWireStream& operator=(const PipeWireStream&) = delete;

  // The negotiated picture size, stream pixels.
  int width() const { return width_.load(); }
  int height() const { return height_.load(); }

  // The pointer's hot spot as the last buffer gave it; nothing before the first one said.
  std::optional<StreamPoint> pointer() const;

  // Starts handing samples to `sink`: the current picture at once, then whenever the screen or
  // the pointer changed, at most `config.fps` times a second and with at most `config.queueDepth`
  // samples alive. A stream the compositor closes calls `onFailure` with
  // PlatformError::sharingEnded(); one that
  // breaks, with PlatformError. Called once.
  void start(const CaptureConfig& config, CaptureSource::SampleSink sink,
             CaptureSource::FailureHandler onFailure);
  // No sample and no failure is reported once this returns. Idempotent. The pointer and the size
  // stay as they were last.
  void stop();

  // Asks for one sample at the next frame deadline even when nothing changed (see
  // CaptureSource::requestFrame()). Thread-safe; ignored before start() and after stop().
  void requestFrame();

  CaptureStats stats() const;

  struct State;  // the PipeWire thread's

 private:
  void release();  // stops, then frees the thread loop

  std::unique_ptr<State> state_;
  std::atomic<int> width_{0};
  std::atomic<int> height_{0};
};

}  // namespace kestrova::wayland
