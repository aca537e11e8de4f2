#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "CapturedSample.h"
#include "ClickRings.h"
#include "FrameDrops.h"
#include "Geometry.h"
#include "HostPorts.h"
#include "RecorderConfig.h"
#include "SequenceChecker.h"
#include "ThreadAnnotations.h"
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
  double pausedAt = 0;             // host time the current or last pause began, seconds
  double pendingGap = 0;           // paused time the next frame cuts out, seconds
  std::int64_t framesWritten = 0;  // frames the encoder accepted
};

// The per-frame work of a recorder: place each complete frame on the output timeline (pauses cut
// out), move the viewport after the pointer, cut it out of the captured display, scale it to the
// output size, draw the pointer where the capture left it out, draw the click rings and hand the
// result to the encoder.
//
// The video shows the screen, the pointer and time: besides the frames the capture delivers on a
// change, the pipeline asks the capture for more while the picture would still change without one
// (the camera easing towards the pointer, a click ring growing) or after a frame it had to drop;
// with a still screen, a still pointer and the camera at rest it asks for nothing. Paused time is
// cut out, and the video runs on to the moment of the pause or the stop, however long ago the last
// change was.
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
  void setWriterInput(WriterInput* input) {
    KESTROVA_DCHECK_SEQUENCE(sequence_);
    input_ = input;
  }
  // What asks the capture for one more sample (CaptureSource::requestFrame); called on the queue.
  // Empty: nobody to ask.
  void setFrameRequester(std::function<void()> requestFrame) {
    KESTROVA_DCHECK_SEQUENCE(sequence_);
    requestFrame_ = std::move(requestFrame);
  }

  // Pausing drops frames; resuming makes the next frame close the gap the pause left. The time
  // between the two, read from the clock, is what is cut.
  void setPaused(bool paused);

  // One captured sample, in delivery order. The last sample rendered is kept until another one
  // is, so that its image can be shown again.
  void handle(std::shared_ptr<CapturedSample> sample);

  // A mouse press seen by the click monitor at host time `t`, at `p` in capture pixels. Ignored
  // with the click indicator off.
  void appendClick(double t, Point p);

  // At stop, before the writer input goes: shows the last image once more, so that the video
  // lasts until host time `stopTime` (or the pause under way), and lets go of its sample.
  void finishAt(double stopTime);

  const Timeline& timeline() const {
    KESTROVA_DCHECK_SEQUENCE(sequence_);
    return timeline_;
  }
  // Samples handled but not written, by reason.
  const FrameDrops& drops() const {
    KESTROVA_DCHECK_SEQUENCE(sequence_);
    return drops_;
  }
  const std::optional<ViewportTracker>& tracker() const {
    KESTROVA_DCHECK_SEQUENCE(sequence_);
    return tracker_;
  }
  const std::vector<Click>& clicks() const {
    KESTROVA_DCHECK_SEQUENCE(sequence_);
    return clicks_.clicks();
  }

 private:
  // The pixels of the captured image that one viewport needs, in pixels from the top-left.
  struct Region {
    int x = 0, y = 0, w = 0, h = 0;
  };
  // The last image rendered: the sample that holds its pixels, and where they came from.
  struct Shown {
    std::shared_ptr<CapturedSample> sample;
    BgraView pixels;
    Rect viewport;
    Region region;
    std::optional<PointerOverlay> pointer;  // what the pixels leave out
  };

  // For the drop paths of handle(), which leave through a lambda the analysis cannot follow.
  void countDrop(DropReason reason) {
    KESTROVA_DCHECK_SEQUENCE(sequence_);
    drops_.count(reason);
  }
  // Steps from the timeline to the append, with click rings as at host time `now`; why the frame
  // was dropped, or nothing when it was appended.
  std::optional<DropReason> place(std::shared_ptr<CapturedSample> sample, CapturedImage& image,
                                  double pts, double now) REQUIRES(sequence_);
  // Where `viewport` lies in an image of `imageW` × `imageH`; nothing when it does not fit.
  std::optional<Region> regionFor(const Rect& viewport, int imageW, int imageH) const;
  // Renders `viewport` at the output size into `out`: from the pixels shown last when the screen
  // has not changed since, otherwise fetched from `image`, whose sample is then kept.
  bool render(std::shared_ptr<CapturedSample> sample, CapturedImage& image, const Rect& viewport,
              PlanarImage& out) REQUIRES(sequence_);
  // The shown pixels scaled and converted into `out`, the pointer they leave out drawn over them.
  bool convertShown(PlanarImage& out) REQUIRES(sequence_);
  // Scales and converts the region's pixels into `out`.
  bool convert(const BgraView& pixels, const Region& region, PlanarImage& out) REQUIRES(sequence_);
  // Composites `pointer` over the output frame that `region` of the captured image fills.
  void drawPointer(PlanarImage& out, const Region& region, const PointerOverlay& pointer)
      REQUIRES(sequence_);
  // Composites the click rings as they are at host time `now` over the output frame.
  void drawClickRings(PlanarImage& out, const Rect& viewport, double now) REQUIRES(sequence_);
  // Appends `buffer` at output time `t`, seconds.
  bool appendAt(PooledBuffer buffer, double t) REQUIRES(sequence_);
  // Whether the picture would change with time alone: the camera easing, a ring showing at host
  // time `now` (read only when there are clicks).
  bool isAnimating(double now) const REQUIRES(sequence_);
  void askForFrame() REQUIRES(sequence_);

  const RecorderConfig config_;
  PointerSource& pointer_;
  HostClock& clock_;
  SequenceChecker sequence_;

  std::optional<ViewportTracker> tracker_ GUARDED_BY(sequence_);
  WriterInput* input_ GUARDED_BY(sequence_) = nullptr;
  std::function<void()> requestFrame_ GUARDED_BY(sequence_);
  Timeline timeline_ GUARDED_BY(sequence_);
  FrameDrops drops_ GUARDED_BY(sequence_);
  ClickRings clicks_ GUARDED_BY(sequence_);
  Point cursor_ GUARDED_BY(sequence_);  // the pointer at the last tracker step, capture pixels

  Shown shown_ GUARDED_BY(sequence_);
  // No sample since the shown one has reported a change of the screen.
  bool shownIsCurrent_ GUARDED_BY(sequence_) = false;

  // The pointer image last drawn, made ready for compositing; remade when the image changes.
  std::shared_ptr<const PremultipliedImage> pointerImage_ GUARDED_BY(sequence_);
  std::optional<RingSprite> pointerSprite_ GUARDED_BY(sequence_);

  // A BGRA picture of the output size, for scaling when the viewport is not the output size.
  std::vector<std::uint8_t> scratch_ GUARDED_BY(sequence_);
};

}  // namespace kestrova
