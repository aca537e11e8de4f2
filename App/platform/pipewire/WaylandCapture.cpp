#include "WaylandCapture.h"

namespace kestrova::wayland {

std::vector<DisplayInfo> WaylandDisplayList::displays() {
  const double w = stream_->width(), h = stream_->height();
  if (w <= 0 || h <= 0) return {};
  return {DisplayInfo{nodeId_ ? nodeId_ : 1, "screen cast", Rect{{0, 0}, {w, h}}, 1.0}};
}

void WaylandCaptureSource::start(const CaptureConfig& config, SampleSink sink,
                                 FailureHandler onFailure) {
  stream_->start(config, std::move(sink), std::move(onFailure));
}

void WaylandCaptureSource::stop() {
  stream_->stop();
}

Point WaylandPointerSource::mouseLocation() {
  const double h = stream_->height();
  const auto p = stream_->pointer();
  if (!p) return {stream_->width() / 2.0, h / 2.0};
  return {static_cast<double>(p->x), h - p->y};  // stream pixels are y down
}

}  // namespace kestrova::wayland
