#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "CapturedSample.h"
#include "ClickRings.h"
#include "Geometry.h"
#include "HostPorts.h"
#include "RecorderConfig.h"
#include "SequenceChecker.h"
#include "ViewportTracker.h"
#include "WriterInput.h"

namespace kestrova {

// The timeline of one recording: how captured times map to output times.
struct Timeline {
  std::optional<double> startPTS;  // capture time of output time zero, seconds
  double lastPTS = 0;      // capture time of the last complete frame handled while not paused
  double lastTime = -1.0;  // output time of the last frame appended, seconds
  double offset = 0;       // capture time cut out of the output so far (pauses), seconds
  bool paused = false;
  bool needsOffset = false;        // the next frame closes the gap a pause left
  std::int64_t framesWritten = 0;  // frames the encoder accepted
};

// The per-frame work of a recorder: place each complete frame on the output timeline (pauses cut
// out), move the viewport after the pointer, cut it out of the captured display, scale it to the
// output size, draw the click rings and hand the result to the encoder.
//
// Lives on the recorder's sample queue: every method must be called there (checked in debug
// builds). Never reports a failure: a frame that cannot be used is dropped and the next one tries
// again. A recording that ends up with no frame is reported at stop.
class FramePipeline {
 public:
  // `pointer` and `clock` must outlive the pipeline. `makeRing` draws the click ring when the first
  // ring is due (never with the click indicator off); without it no rings are drawn.
  FramePipeline(const RecorderConfig& config, PointerSource& pointer, HostClock& clock,
                RingFactory makeRing = {});

  void installTracker(const ViewportTracker& tracker);
  // The encoder's input, not owned; nullptr until the writer is set up and after it is gone.
  void setWriterInput(WriterInput* input) { input_ = input; }

  // Pausing drops frames; resuming makes the next frame close the gap the pause left.
  void setPaused(bool paused);

  // One captured sample, in delivery order.
  void handle(CapturedSample& sample);

  // A mouse press seen by the click monitor at host time `t`, at `p` in capture pixels. Ignored
  // with the click indicator off.
  void appendClick(double t, Point p);

  const Timeline& timeline() const { return timeline_; }
  const std::optional<ViewportTracker>& tracker() const { return tracker_; }
  const std::vector<Click>& clicks() const { return clicks_.clicks(); }
  ClickRings::RingCache ringCache() const { return clicks_.ringCache(); }

 private:
  // Cuts `viewport` (capture pixels) out of `image` and renders it at the output size into `out`.
  bool render(CapturedImage& image, const Rect& viewport, PlanarImage& out);
  // Composites the live click rings over the output frame; `s` is the output scale.
  void drawClickRings(PlanarImage& out, const Rect& viewport, double s);

  const RecorderConfig config_;
  PointerSource& pointer_;
  HostClock& clock_;
  SequenceChecker sequence_;

  std::optional<ViewportTracker> tracker_;
  WriterInput* input_ = nullptr;
  Timeline timeline_;
  ClickRings clicks_;

  // A BGRA picture of the output size, for scaling when the viewport is not the output size.
  std::vector<std::uint8_t> scratch_;
};

}  // namespace kestrova
