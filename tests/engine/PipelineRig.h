#pragma once

#include <functional>
#include <memory>

#include "CaptureGeometry.h"
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

// An opaque white square as the click ring: what it covers tells its centre and size, and its
// peak alpha its opacity.
inline std::optional<PremultipliedImage> whiteSquare() {
  return PremultipliedImage{64, 64, std::vector<std::uint8_t>(64 * 64 * 4, 255)};
}

// A frame pipeline over a fake display image painted by `paint`, writing into a fake input, with
// the pointer, the clock and the frame requests in the test's hands. The viewport is sized as a
// recorder sizes it; the camera eases with smoothing 0.5 and no dead zone.
struct PipelineRig {
  PipelineRig(const RecorderConfig& config, const FakeImage::Painter& paint = {},
              RingFactory ring = {})
      : geometry(deriveCaptureGeometry(config)),
        image(int(geometry.capture.width), int(geometry.capture.height), paint),
        input(static_cast<int>(config.width), static_cast<int>(config.height)),
        pipeline(config, pointer, clock, std::move(ring)) {
    pipeline.installTracker({geometry.capture, geometry.viewport, 0.5, 0, 0, 0, false});
    pipeline.setWriterInput(&input);
    pipeline.setFrameRequester([this] { ++requests; });
  }

  // A frame captured at `pts`, of a screen that changed unless `unchanged`.
  void frame(double pts, bool unchanged = false) {
    auto s = std::make_shared<FakeSample>(pts, &image);
    s->unchanged = unchanged;
    pipeline.handle(std::move(s));
  }

  CaptureGeometry geometry;
  FakePointer pointer;
  FakeClock clock;
  FakeImage image;
  FakeWriterInput input;
  FramePipeline pipeline;
  int requests = 0;  // frames the pipeline asked the capture for
};

}  // namespace kestrova::testing
