#include "FramePipeline.h"

#include <libyuv/convert_from_argb.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cmath>

namespace kestrova {
namespace {

constexpr double kMaxTrackerStepSeconds = 0.1;

double frameInterval(const RecorderConfig& config) {
  return 1.0 / static_cast<double>(config.fps);
}

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
  if (!config_.clickIndicator) return;
  clicks_.append({t, p});
  // A still screen would never show the ring.
  if (!timeline_.paused && clicks_.ringCache() != ClickRings::RingCache::failed) askForFrame();
}

void FramePipeline::setPaused(bool paused) {
  KESTROVA_DCHECK_SEQUENCE(sequence_);
  Timeline& tl = timeline_;
  if (paused) {
    if (!tl.paused) tl.pausedAt = clock_.now();
    tl.paused = true;
  } else if (tl.paused) {
    tl.paused = false;
    tl.needsOffset = true;
    tl.pendingGap += std::max(clock_.now() - tl.pausedAt, 0.0);
    // A glide or a ring the pause interrupted.
    if (isAnimating(clicks_.empty() ? 0 : clock_.now())) askForFrame();
  }
}

void FramePipeline::handle(std::shared_ptr<CapturedSample> sample) {
  KESTROVA_DCHECK_SEQUENCE(sequence_);
  const auto dropped = [this](DropReason reason) { countDrop(reason); };
  if (!sample) return dropped(DropReason::invalid);
  if (sample->outputType() != SampleOutputType::screen) return dropped(DropReason::notScreen);
  if (!sample->isValid()) return dropped(DropReason::invalid);
  if (!isComplete(sample->statusAttachment())) return dropped(DropReason::incomplete);
  CapturedImage* image = sample->imageBuffer();
  if (!image) return dropped(DropReason::noImage);

  if (!sample->imageUnchanged()) shownIsCurrent_ = false;
  // lastPTS keeps the last frame before the pause.
  if (timeline_.paused) return dropped(DropReason::paused);

  const double pts = sample->presentationTimeSeconds();
  const double now = clicks_.empty() ? 0 : clock_.now();  // the common frame reads no clock
  const std::optional<DropReason> drop = place(std::move(sample), *image, pts, now);
  timeline_.lastPTS = pts;
  if (drop) dropped(*drop);
  // A dropped frame leaves the video behind the screen until the next one comes.
  if (drop || isAnimating(now)) askForFrame();
}

std::optional<DropReason> FramePipeline::place(std::shared_ptr<CapturedSample> sample,
                                               CapturedImage& image, double pts, double now) {
  Timeline& tl = timeline_;
  if (!tl.startPTS) {
    tl.startPTS = pts;
    tl.lastPTS = pts;
  }

  if (tl.needsOffset) {
    // The paused time goes, but never so much that this frame would land less than one frame
    // interval after the one before the pause.
    const double gap = std::min(tl.pendingGap, (pts - tl.lastPTS) - frameInterval(config_));
    if (gap >= 0) tl.offset += gap;
    tl.pendingGap = 0;
    tl.needsOffset = false;
  }

  const double t = (pts - *tl.startPTS) - tl.offset;
  if (!(t > tl.lastTime)) return DropReason::notLater;

  if (!tracker_ || !input_) return DropReason::noWriter;
  if (!input_->isReadyForMoreMediaData()) return DropReason::encoderBusy;
  OutputBufferPool* pool = input_->pixelBufferPool();
  if (!pool) return DropReason::noPool;

  const double dt = std::min(std::max(pts - tl.lastPTS, 0.0), kMaxTrackerStepSeconds);
  cursor_ = desktopToCapture(pointer_.mouseLocation(), config_.screenFrame, config_.scale);
  const Rect viewport = tracker_->update(cursor_, dt);

  PooledBuffer buffer = acquireFrom(*pool);
  if (!buffer) return DropReason::noBuffer;

  if (!render(std::move(sample), image, viewport, buffer->image)) return DropReason::unusable;
  if (config_.clickIndicator && !clicks_.empty()) drawClickRings(buffer->image, viewport, now);
  if (!appendAt(std::move(buffer), t)) return DropReason::refused;
  return std::nullopt;
}

void FramePipeline::finishAt(double stopTime) {
  KESTROVA_DCHECK_SEQUENCE(sequence_);
  const Timeline& tl = timeline_;
  if (tl.startPTS && shown_.sample && input_ && input_->isReadyForMoreMediaData()) {
    const double end = tl.paused ? tl.pausedAt : stopTime;
    // One frame interval before the end, so that this frame's own length reaches it.
    const double t = (end - *tl.startPTS) - tl.offset - tl.pendingGap - frameInterval(config_);
    OutputBufferPool* pool = input_->pixelBufferPool();
    if (t > tl.lastTime && pool) {
      PooledBuffer buffer = acquireFrom(*pool);
      if (buffer && convertShown(buffer->image)) {
        if (config_.clickIndicator && !clicks_.empty()) {
          drawClickRings(buffer->image, shown_.viewport, end);
        }
        appendAt(std::move(buffer), t);
      }
    }
  }
  shown_ = {};
  shownIsCurrent_ = false;
}

bool FramePipeline::appendAt(PooledBuffer buffer, double t) {
  const auto units = static_cast<std::int64_t>(std::llround(t * kOutputTimeScale));
  if (!input_->append(std::move(buffer), units)) return false;
  timeline_.lastTime = t;
  ++timeline_.framesWritten;
  return true;
}

bool FramePipeline::isAnimating(double now) const {
  if (timeline_.paused) return false;
  if (tracker_ && tracker_->started && !tracker_->isAtRest(cursor_)) return true;
  return !clicks_.empty() && clicks_.showsRingAt(now);
}

void FramePipeline::askForFrame() {
  if (requestFrame_) requestFrame_();
}

std::optional<FramePipeline::Region> FramePipeline::regionFor(const Rect& viewport, int imageW,
                                                              int imageH) const {
  const int vx = static_cast<int>(viewport.minX());
  const int vy = static_cast<int>(viewport.minY());
  const int vw = static_cast<int>(viewport.width());
  const int vh = static_cast<int>(viewport.height());
  if (vx < 0 || vy < 0 || vw <= 0 || vh <= 0 || vx + vw > imageW || vy + vh > imageH) {
    return std::nullopt;
  }
  if (vw == config_.width && vh == config_.height) return Region{vx, vy, vw, vh};

  // Scaled uniformly by s = output width / viewport width with the viewport's bottom edge on the
  // output's bottom edge, so what overshoots the output's height is cut off at the top. When the
  // even-floored viewport falls a row short, it is stretched by that row rather than leaving a gap.
  const double s = static_cast<double>(config_.width) / vw;
  const int rows = std::clamp(static_cast<int>(std::lround(config_.height / s)), 1, vh);
  return Region{vx, vy + (vh - rows), vw, rows};
}

bool FramePipeline::render(std::shared_ptr<CapturedSample> sample, CapturedImage& image,
                           const Rect& viewport, PlanarImage& out) {
  // A frame made only for the camera or a ring: when the screen stayed still, the pixels shown
  // last serve again if the camera has not moved; otherwise only the new viewport is fetched.
  if (!(shownIsCurrent_ && shown_.sample && shown_.viewport == viewport)) {
    const auto region = regionFor(viewport, image.width(), image.height());
    if (!region) return false;
    const auto pixels = image.pixels(region->x, region->y, region->w, region->h);
    if (!pixels) return false;
    std::optional<PointerOverlay> pointer = image.pointerOverlay();
    shown_ = {std::move(sample), *pixels, viewport, *region, std::move(pointer)};
    shownIsCurrent_ = true;
  }
  return convertShown(out);
}

bool FramePipeline::convertShown(PlanarImage& out) {
  if (!convert(shown_.pixels, shown_.region, out)) return false;
  if (shown_.pointer) drawPointer(out, shown_.region, *shown_.pointer);
  return true;
}

bool FramePipeline::convert(const BgraView& src, const Region& region, PlanarImage& out) {
  if (region.w == out.width && region.h == out.height) {
    return libyuv::ARGBToI420(src.data, src.stride, out.y, out.strideY, out.u, out.strideU, out.v,
                              out.strideV, region.w, region.h) == 0;
  }
  // This libyuv scales BGRA with SIMD but single planes without it, so scaling before converting
  // beats converting first, in spite of the extra pass (see bench/pipeline_bench.cpp).
  const int scratchStride = out.width * 4;
  if (scratch_.size() < static_cast<std::size_t>(scratchStride) * out.height) return false;
  if (libyuv::ARGBScale(src.data, src.stride, region.w, region.h, scratch_.data(), scratchStride,
                        out.width, out.height, libyuv::kFilterBilinear) != 0) {
    return false;
  }
  return libyuv::ARGBToI420(scratch_.data(), scratchStride, out.y, out.strideY, out.u, out.strideU,
                            out.v, out.strideV, out.width, out.height) == 0;
}

void FramePipeline::drawPointer(PlanarImage& out, const Region& region,
                                const PointerOverlay& pointer) {
  const PremultipliedImage* image = pointer.image.get();
  if (!image) return;
  if (pointer.image != pointerImage_) {
    pointerImage_ = pointer.image;
    pointerSprite_ = RingSprite::make(*image);
  }
  if (!pointerSprite_) return;
  // Drawn where the region's pixels land in the output, scaled as they are. The ring's sprite
  // takes any image, scaled to a width of 2 × radius with its aspect kept, centred across on x,
  // its bottom edge on y + radius.
  const double sx = static_cast<double>(out.width) / region.w;
  const double sy = static_cast<double>(out.height) / region.h;
  RingPlacement at;
  at.radius = sx * image->width / 2;
  at.x = (pointer.x - region.x) * sx + at.radius;
  at.y = (pointer.y - region.y) * sy + sx * image->height - at.radius;
  at.opacity = 1;
  pointerSprite_->composite(out, at);
}

void FramePipeline::drawClickRings(PlanarImage& out, const Rect& viewport, double now) {
  const double s = static_cast<double>(config_.width) / viewport.width();
  clicks_.draw(out, now, viewport, s, config_.scale);
}

}  // namespace kestrova
