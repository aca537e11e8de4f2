// Per-frame cost of the frame pipeline, from a captured sample to a rendered output buffer, against
// the cost of moving one 1080p BGRA frame once (memcpy). libswscale doing the same cut, scale and
// conversion is measured beside it, because it is the obvious alternative.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstring>
#include <vector>

#include "FramePipeline.h"
#include "NullWriterInput.h"
#include "engine/fakes/FakeCapture.h"
#include "engine/fakes/FakeWriterInput.h"

namespace kestrova {
namespace {

using testing::FakeClock;
using testing::FakeImage;
using testing::FakePointer;
using testing::FakePool;
using testing::FakeSample;

constexpr int kOutW = 1920, kOutH = 1080;

std::uint32_t screenLike(int x, int y) {
  // Flat areas with "text" rows: what a desktop mostly looks like.
  if ((y / 16) % 3 == 0 && (x / 6) % 5 != 0 && (x * 7 + y * 3) % 11 < 4) return 0xff202020u;
  return 0xff000000u | static_cast<std::uint32_t>((x / 64) * 20 % 256) << 16 |
         static_cast<std::uint32_t>((y / 64) * 30 % 256) << 8 | 0xe0u;
}

void BM_Memcpy1080pBgra(benchmark::State& state) {
  const std::size_t bytes = static_cast<std::size_t>(kOutW) * kOutH * 4;
  std::vector<std::uint8_t> src(bytes, 1), dst(bytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), bytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_Memcpy1080pBgra)->Unit(benchmark::kMillisecond);

// args: display width, height; the viewport follows the fit rule of the recorder.
void BM_Pipeline(benchmark::State& state) {
  const int dw = static_cast<int>(state.range(0)), dh = static_cast<int>(state.range(1));
  const double f = std::min({1.0, double(dw) / kOutW, double(dh) / kOutH});
  const double vw = std::max(2.0, 2 * std::floor(kOutW * f * 0.5));
  const double vh = std::max(2.0, 2 * std::floor(kOutH * f * 0.5));

  RecorderConfig cfg;
  cfg.screenFrame = Rect{{0, 0}, {double(dw), double(dh)}};
  cfg.width = kOutW;
  cfg.height = kOutH;
  cfg.clickIndicator = false;
  FakePointer pointer;
  FakeClock clock;
  NullWriterInput input(kOutW, kOutH);
  FakeImage image(dw, dh, screenLike);
  FramePipeline pipeline(cfg, pointer, clock);
  pipeline.installTracker(
      ViewportTracker{{double(dw), double(dh)}, {vw, vh}, 0.5, 0.25, 0, 0, false});
  pipeline.setWriterInput(&input);

  double pts = 0;
  double angle = 0;
  for (auto _ : state) {
    // The pointer circles the display, so the viewport moves every frame.
    angle += 0.05;
    pointer.location = {dw / 2.0 + dw * 0.4 * std::cos(angle),
                        dh / 2.0 + dh * 0.4 * std::sin(angle)};
    pts += 1.0 / 60;
    pipeline.handle(std::make_shared<FakeSample>(pts, &image));
  }
  if (pipeline.timeline().framesWritten != static_cast<std::int64_t>(state.iterations())) {
    state.SkipWithError("frames were dropped");
  }
  state.counters["scale"] = kOutW / vw;
}
BENCHMARK(BM_Pipeline)
    ->Args({3024, 1964})
    ->Args({1280, 800})
    ->Args({1366, 768})
    ->Unit(benchmark::kMillisecond);

// The same cut (and scale) with libswscale into a YUV 4:2:0 frame, for comparison.
void BM_SwscaleCutAndScale(benchmark::State& state) {
  const int dw = static_cast<int>(state.range(0)), dh = static_cast<int>(state.range(1));
  const int vw = static_cast<int>(state.range(2)), vh = static_cast<int>(state.range(3));
  FakeImage image(dw, dh, screenLike);
  FakePool pool(kOutW, kOutH, 1);
  OutputBuffer* out = pool.acquire();
  SwsContext* sws = sws_getContext(vw, vh, AV_PIX_FMT_BGRA, kOutW, kOutH, AV_PIX_FMT_YUV420P,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
  const auto view = *image.pixels(dw - vw - 10, dh - vh - 10, vw, vh);
  const std::uint8_t* src[1] = {view.data};
  const int srcStride[1] = {view.stride};
  std::uint8_t* dst[3] = {out->image.y, out->image.u, out->image.v};
  const int dstStride[3] = {out->image.strideY, out->image.strideU, out->image.strideV};
  for (auto _ : state) {
    sws_scale(sws, src, srcStride, 0, vh, dst, dstStride);
    benchmark::ClobberMemory();
  }
  sws_freeContext(sws);
  pool.release(out);
}
BENCHMARK(BM_SwscaleCutAndScale)
    ->Args({3024, 1964, 1920, 1080})
    ->Args({1280, 800, 1280, 720})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
