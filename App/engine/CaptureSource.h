#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "CapturedSample.h"
#include "DisplayInfo.h"
#include "RecorderError.h"

namespace kestrova {

struct CaptureConfig {
  DisplayInfo display;  // the display to capture, as the DisplayList gave it
  int fps = 30;         // at most this many frames a second, at least 1
  // Samples delivered but not yet released by the consumer. A frame that would exceed it is
  // skipped and counted, so a slow consumer never makes the capture queue up memory.
  int queueDepth = 6;
};

struct CaptureStats {
  std::uint64_t delivered = 0;  // samples handed to the sink
  std::uint64_t skipped = 0;    // frames not delivered because queueDepth samples were in flight
};

// A stream of captured frames of one display, at most `fps` times a second. A frame is delivered
// when something on the display changed or the pointer moved, or when the consumer asked for one
// (requestFrame()); nothing while all is still and nothing was asked for.
//
// Why the consumer asks: the video also changes while the screen stands still (the camera still
// easing after the pointer, a click ring growing), and only the consumer knows that. The source
// knows when frames are due and what changed, so it keeps the clock and the consumer only says
// "one more, please" after each frame it wants followed by another.
//
// start() and stop() are called from one controlling thread (not the sink's thread).
class CaptureSource {
 public:
  // Called on the capture thread with each new complete sample. It should only hand the sample
  // on (post it to the sample queue); the sample's in-flight slot is free again when the last
  // reference to it goes. The image's pixels() must be called on one thread at a time. The
  // consumer may keep the last sample it rendered until it renders another (to show that image
  // again), so one slot may stay taken for long: a source must go on with the others.
  using SampleSink = std::function<void(std::shared_ptr<CapturedSample>)>;
  // Called at most once, on the capture thread, when the stream stops abnormally. The capture has
  // ended then; the owner still calls stop().
  using FailureHandler = std::function<void(const PlatformError&)>;

  virtual ~CaptureSource() = default;

  // Starts capturing. Throws PlatformError when the capture cannot start (then nothing runs).
  // `sink` and `onFailure` are called until stop() returns, never after.
  virtual void start(const CaptureConfig& config, SampleSink sink, FailureHandler onFailure) = 0;
  // Ends the capture and waits for the capture thread. Samples already delivered stay usable.
  // Idempotent.
  virtual void stop() = 0;

  // Asks for one sample at the next frame deadline (no sooner than 1/fps after the previous
  // sample) even when nothing changed; several requests before that sample make one. A request
  // that cannot be met at once (queueDepth samples in flight) stays pending until it can. Such a
  // sample says imageUnchanged() when nothing changed since the previous sample. Returns at once.
  //
  // Thread-safe; the consumer calls it from its own thread (the sample queue) at any time while
  // the source exists. Requests before start() or after stop() are ignored.
  virtual void requestFrame() = 0;

  // Thread-safe.
  virtual CaptureStats stats() const = 0;
};

}  // namespace kestrova
