#pragma once

#include <cmath>
#include <functional>
#include <memory>

#include "FramePipeline.h"
#include "fakes/FakeCapture.h"
#include "fakes/FakeWriterInput.h"

namespace kestrova::testing {

// The display `width` × `height` points at `scale` pixels per point, recorded at `outW` × `outH`.
inline RecorderConfig pipelineConfig(double width, double height, int outW, int outH,
                                     double scale = 1) {
  RecorderConfig c;
  c.screenFrame = {{0, 0}, {width, height}};
  c.scale = scale;
  c.width = outW;
  c.height = outH;
  return c;
}

// A frame pipeline over a fake display image painted by `paint`, writing into a fake input, with
// the pointer, the clock and the frame requests in the test's hands. The viewport is `view` capture
// pixels; the camera eases with smoothing 0.5 and no dead zone.
struct PipelineRig {
  PipelineRig(const RecorderConfig& config, Size view, const FakeImage::Painter& paint = {},
              RingFactory ring = {})
      : image(static_cast<int>(std::lround(config.screenFrame.width() * config.scale)),
              static_cast<int>(std::lround(config.screenFrame.height() * config.scale)), paint),
        input(static_cast<int>(config.width), static_cast<int>(config.height)),
        pipeline(config, pointer, clock, std::move(ring)) {
    pipeline.installTracker(
        {{double(image.width()), double(image.height())}, view, 0.5, 0, 0, 0, false});
    pipeline.setWriterInput(&input);
    pipeline.setFrameRequester([this] { ++requests; });
  }

  // A frame captured at `pts`, as `tweak` makes it.
  void frame(double pts, const std::function<void(FakeSample&)>& tweak = {}) {
    auto s = std::make_shared<FakeSample>(pts, &image);
    if (tweak) tweak(*s);
    pipeline.handle(std::move(s));
  }

  FakePointer pointer;
  FakeClock clock;
  FakeImage image;
  FakeWriterInput input;
  FramePipeline pipeline;
  int requests = 0;  // frames the pipeline asked the capture for
};

}  // namespace kestrova::testing
