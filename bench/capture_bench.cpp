// The grab paths of the X11 capture on a 3024×1964 private Xvfb: the whole monitor against only the
// 1920×1080 region a frame needs, with a memcpy of a 1080p BGRA frame as the yardstick.
//
// Times are wall-clock per frame (the X server does most of a grab, in its own process).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "X11Grabber.h"
#include "platform/x11/X11Scene.h"
#include "support/XvfbServer.h"

namespace {

using kestrova::testing::patternAt;
using kestrova::testing::X11Scene;
using kestrova::testing::XvfbServer;
using kestrova::x11::RootRect;
using kestrova::x11::ShmSegment;
using kestrova::x11::X11Grabber;

constexpr int kDisplayW = 3024;
constexpr int kDisplayH = 1964;
constexpr int kFrameW = 1920;
constexpr int kFrameH = 1080;

XvfbServer* server = nullptr;
struct Setup;
std::unique_ptr<Setup> current;

struct Setup {
  X11Scene scene{server->display()};
  X11Grabber grabber{server->display(), {0, 0, kDisplayW, kDisplayH}, 2, [] {}};
  Setup() { scene.setRootBackground(patternAt); }
};

Setup& setup() {
  if (!current) current = std::make_unique<Setup>();
  return *current;
}

void BM_MemcpyFrame1080p(benchmark::State& state) {
  std::vector<std::uint8_t> from(static_cast<std::size_t>(kFrameW) * kFrameH * 4, 1);
  std::vector<std::uint8_t> to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}

// Grabbing everything at capture time, as if the pipeline then cut the viewport from it.
void BM_ShmGrabWholeMonitor(benchmark::State& state) {
  auto& s = setup();
  ShmSegment* segment = s.grabber.lease();
  for (auto _ : state) {
    if (!s.grabber.grabRaw(*segment, {0, 0, kDisplayW, kDisplayH})) state.SkipWithError("grab");
  }
  s.grabber.release(segment);
}

// Grabbing only the viewport when the pipeline asks for it.
void BM_ShmGrabLazyRegion(benchmark::State& state) {
  auto& s = setup();
  ShmSegment* segment = s.grabber.lease();
  int i = 0;
  for (auto _ : state) {
    const int x = (i += 37) % (kDisplayW - kFrameW);
    if (!s.grabber.grabRaw(*segment, {x, 300, kFrameW, kFrameH})) state.SkipWithError("grab");
  }
  s.grabber.release(segment);
}

// The lazy region as the pipeline gets it: own windows looked for, pointer drawn.
void BM_FetchRegionWithStages(benchmark::State& state) {
  auto& s = setup();
  ShmSegment* segment = nullptr;
  int i = 0;
  for (auto _ : state) {
    const int x = (i += 37) % (kDisplayW - kFrameW);
    if (!s.grabber.fetch(segment, x, 300, kFrameW, kFrameH)) state.SkipWithError("fetch");
  }
  s.grabber.release(segment);
}

// The same with the recording toolbar (a window of this process) inside the region, over another
// program's window: every frame repairs it from that window's pixmap.
void BM_FetchRegionRepairingToolbar(benchmark::State& state) {
  auto& s = setup();
  X11Scene other(server->display());
  const xcb_window_t below = other.window({0, 0, kDisplayW, kDisplayH}, 4242, patternAt);
  const xcb_window_t toolbar =
      s.scene.window({1200, 900, 360, 56}, getpid(), [](int, int) { return 0xff00ffu; });
  ShmSegment* segment = nullptr;
  int i = 0;
  for (auto _ : state) {
    const int x = (i += 37) % (kDisplayW - kFrameW);
    const auto view = s.grabber.fetch(segment, x, 300, kFrameW, kFrameH);
    if (!view) state.SkipWithError("fetch");
  }
  s.grabber.release(segment);
  xcb_destroy_window(s.scene.c(), toolbar);
  xcb_destroy_window(other.c(), below);
  other.sync();
  s.scene.sync();
}

BENCHMARK(BM_MemcpyFrame1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ShmGrabWholeMonitor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ShmGrabLazyRegion)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FetchRegionWithStages)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FetchRegionRepairingToolbar)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  XvfbServer xvfb(kDisplayW, kDisplayH);
  server = &xvfb;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  current.reset();  // while its server still runs
  return 0;
}
