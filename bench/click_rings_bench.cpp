// What click rings add to the frame pipeline: a 1080p display frame cut out 1:1 into a 1080p
// output, with 0, 1 or 5 live rings. The baseline is the same pipeline with no click.
#include <benchmark/benchmark.h>

#include <vector>

#include "FramePipeline.h"
#include "NullWriterInput.h"
#include "RingImage.h"
#include "engine/fakes/FakeCapture.h"
#include "engine/fakes/FakeWriterInput.h"

namespace kestrova {
namespace {

// range(0): live rings; range(1): the display's pixels per point (rings grow with it).
void BM_FrameWithClickRings(benchmark::State& state) {
  const auto rings = static_cast<int>(state.range(0));
  const auto scale = static_cast<double>(state.range(1));
  constexpr int kW = 1920, kH = 1080;

  RecorderConfig cfg;
  cfg.screenFrame = Rect{{0, 0}, {kW / scale, kH / scale}};
  cfg.scale = scale;
  cfg.width = kW;
  cfg.height = kH;
  cfg.clickIndicator = true;
  testing::FakePointer pointer;
  pointer.location = {kW / scale / 2, kH / scale / 2};
  testing::FakeClock clock;
  clock.time = 100;
  testing::FakeImage image(kW, kH, [](int x, int y) {
    return 0xff000000u | static_cast<std::uint32_t>((x * 7 + y * 3) & 0xffffff);
  });
  NullWriterInput input(kW, kH);
  FramePipeline pipeline(cfg, pointer, clock, qt::makeRingImage);
  pipeline.installTracker(ViewportTracker{{kW, kH}, {kW, kH}, 0.5, 0.25, 0, 0, false});
  pipeline.setWriterInput(&input);

  // Ages 0 to 0.4 s: every ring still visible, from the smallest to nearly the largest.
  for (int i = 0; i < rings; ++i) {
    pipeline.appendClick(clock.time - 0.1 * i, {300.0 + 300 * i, 200.0 + 150 * i});
  }
  double pts = 1;
  const auto frame = [&] {
    pipeline.handle(std::make_shared<testing::FakeSample>(pts += 1.0 / 60, &image));
  };
  frame();  // makes the ring
  for (auto _ : state) frame();
  if (pipeline.timeline().framesWritten != static_cast<std::int64_t>(state.iterations()) + 1 ||
      pipeline.clicks().size() != static_cast<std::size_t>(rings)) {
    state.SkipWithError("frames were dropped or clicks expired");
  }
}
BENCHMARK(BM_FrameWithClickRings)
    ->ArgNames({"rings", "scale"})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({5, 1})
    ->Args({5, 2})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

// The rings alone, composited over a 1080p I420 frame: the part of the above that they add.
void BM_ClickRingsAlone(benchmark::State& state) {
  const auto rings = static_cast<int>(state.range(0));
  const auto scale = static_cast<double>(state.range(1));
  constexpr int kW = 1920, kH = 1080;
  std::vector<std::uint8_t> pixels(kW * kH * 3 / 2, 100);
  PlanarImage frame{pixels.data(),
                    pixels.data() + kW * kH,
                    pixels.data() + kW * kH * 5 / 4,
                    kW,
                    kW / 2,
                    kW / 2,
                    kW,
                    kH};
  ClickRings clicks(qt::makeRingImage);
  const double now = 100;
  for (int i = 0; i < rings; ++i)
    clicks.append({now - 0.1 * i, {300.0 + 300 * i, 200.0 + 150 * i}});
  const Rect viewport{{0, 0}, {kW, kH}};
  for (auto _ : state) {
    clicks.draw(frame, now, viewport, 1, scale);
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK(BM_ClickRingsAlone)
    ->ArgNames({"rings", "scale"})
    ->Args({1, 1})
    ->Args({5, 1})
    ->Args({5, 2})
    ->Unit(benchmark::kMicrosecond);

// The one-off cost a recording pays on the first frame with a click: drawing the ring with Qt and
// preparing it for compositing.
void BM_MakeRing(benchmark::State& state) {
  for (auto _ : state) {
    auto sprite = RingSprite::make(*qt::makeRingImage());
    benchmark::DoNotOptimize(sprite);
  }
}
BENCHMARK(BM_MakeRing)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
