#include "FramePipeline.h"

#include <libyuv/convert_from_argb.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cmath>

namespace kestrova {
namespace {

constexpr double kMaxTrackerStepSeconds = 0.1;

bool isComplete(const std::optional<AttachmentValue>& status) {
  if (!status) return false;
  const auto* value = std::get_if<std::int64_t>(&*status);
  return value && *value == static_cast<std::int64_t>(FrameStatus::complete);
}

}  // namespace

FramePipeline::FramePipeline(const RecorderConfig& config, PointerSource& pointer, HostClock& clock,
                             RingFactory makeRing)
    : config_(config),
      pointer_(pointer),
      clock_(clock),
      clicks_(config.clickIndicator ? std::move(makeRing) : RingFactory{}) {}

void FramePipeline::installTracker(const ViewportTracker& tracker) {
  KESTROVA_DCHECK_SEQUENCE(sequence_);
  tracker_ = tracker;
  // Allocated once here, so frames that are scaled never allocate.
  if (tracker.size.width != config_.width || tracker.size.height != config_.height) {
    scratch_.resize(static_cast<std::size_t>(config_.width) * config_.height * 4);
  }
}

void FramePipeline::appendClick(double t, Point p) {
  KESTROVA_DCHECK_SEQUENCE(sequence_);
  if (config_.clickIndicator) clicks_.append({t, p});
}

void FramePipeline::setPaused(bool paused) {
  KESTROVA_DCHECK_SEQUENCE(sequence_);
  if (paused) {
    timeline_.paused = true;
  } else if (timeline_.paused) {
    timeline_.paused = false;
    timeline_.needsOffset = true;
  }
}

void FramePipeline::handle(CapturedSample& sample) {
  KESTROVA_DCHECK_SEQUENCE(sequence_);
  Timeline& tl = timeline_;

  if (sample.outputType() != SampleOutputType::screen) return;
  if (!sample.isValid()) return;
  if (!isComplete(sample.statusAttachment())) return;
  CapturedImage* image = sample.imageBuffer();
  if (!image) return;

  const double pts = sample.presentationTimeSeconds();
  if (tl.paused) return;  // lastPTS keeps the last frame before the pause

  // From here every exit records this frame's capture time as the last one handled.
  struct RecordLastPTS {
    Timeline& tl;
    double pts;
    ~RecordLastPTS() { tl.lastPTS = pts; }
  } recordLastPTS{tl, pts};

  if (!tl.startPTS) {
    tl.startPTS = pts;
    tl.lastPTS = pts;
  }

  if (tl.needsOffset) {
    // The first frame after a resume lands one frame interval after the last one before the pause.
    const double gap = (pts - tl.lastPTS) - 1.0 / static_cast<double>(config_.fps);
    if (gap >= 0) tl.offset += gap;
    tl.needsOffset = false;
  }

  const double t = (pts - *tl.startPTS) - tl.offset;
  if (!(t > tl.lastTime)) return;

  if (!tracker_ || !input_) return;
  if (!input_->isReadyForMoreMediaData()) return;
  OutputBufferPool* pool = input_->pixelBufferPool();
  if (!pool) return;

  const double dt = std::min(std::max(pts - tl.lastPTS, 0.0), kMaxTrackerStepSeconds);
  const Point cursor =
      desktopToCapture(pointer_.mouseLocation(), config_.screenFrame, config_.scale);
  const Rect viewport = tracker_->update(cursor, dt);

  PooledBuffer buffer = acquireFrom(*pool);
  if (!buffer) return;

  if (!render(*image, viewport, buffer->image)) return;
  if (config_.clickIndicator) {
    drawClickRings(buffer->image, viewport, static_cast<double>(config_.width) / viewport.width());
  }

  const auto units = static_cast<std::int64_t>(std::llround(t * kOutputTimeScale));
  if (input_->append(std::move(buffer), units)) {
    tl.lastTime = t;
    ++tl.framesWritten;
  }
}

bool FramePipeline::render(CapturedImage& image, const Rect& viewport, PlanarImage& out) {
  const int vx = static_cast<int>(viewport.minX());
  const int vy = static_cast<int>(viewport.minY());
  const int vw = static_cast<int>(viewport.width());
  const int vh = static_cast<int>(viewport.height());
  if (vx < 0 || vy < 0 || vw <= 0 || vh <= 0 || vx + vw > image.width() ||
      vy + vh > image.height()) {
    return false;
  }

  if (vw == out.width && vh == out.height) {
    const auto src = image.pixels(vx, vy, vw, vh);
    if (!src) return false;
    return libyuv::ARGBToI420(src->data, src->stride, out.y, out.strideY, out.u, out.strideU, out.v,
                              out.strideV, vw, vh) == 0;
  }

  // Scaled uniformly by s = output width / viewport width with the viewport's bottom edge on the
  // output's bottom edge, so what overshoots the output's height is cut off at the top. When the
  // even-floored viewport falls a row short, it is stretched by that row rather than leaving a gap.
  const double s = static_cast<double>(out.width) / vw;
  const int rows = std::clamp(static_cast<int>(std::lround(out.height / s)), 1, vh);
  const int top = vy + (vh - rows);

  const auto src = image.pixels(vx, top, vw, rows);
  if (!src) return false;
  // This libyuv scales BGRA with SIMD but single planes without it, so scaling before converting
  // beats converting first, in spite of the extra pass (see bench/pipeline_bench.cpp).
  const int scratchStride = out.width * 4;
  if (scratch_.size() < static_cast<std::size_t>(scratchStride) * out.height) return false;
  if (libyuv::ARGBScale(src->data, src->stride, vw, rows, scratch_.data(), scratchStride, out.width,
                        out.height, libyuv::kFilterBilinear) != 0) {
    return false;
  }
  return libyuv::ARGBToI420(scratch_.data(), scratchStride, out.y, out.strideY, out.u, out.strideU,
                            out.v, out.strideV, out.width, out.height) == 0;
}

void FramePipeline::drawClickRings(PlanarImage& out, const Rect& viewport, double s) {
  if (clicks_.empty()) return;  // the common frame reads no clock
  clicks_.draw(out, clock_.now(), viewport, s, config_.scale);
}

}  // namespace kestrova
