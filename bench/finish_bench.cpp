// How long stopping takes against the length of the recording: a 1080p30 recording of screen-like
// frames is made through the real writer as fast as it encodes, then finished; the time from
// finish() to its completion is what the user waits for after pressing stop.
//
//   finish_bench [benchmark flags]        e.g. --benchmark_filter=/60/ for the hour only
//
// Arguments: minutes, scene. The busy scene (0) scrolls text over the whole window every frame,
// as a real screen at its busiest, and encodes at about 50 fps here; the hour is made with the
// light scene (1), a still window with a box moving, which encodes several times faster but gives
// a smaller file (an older writer that copies the file finishes it faster than a real hour).
//
// The file goes to $KESTROVA_BENCH_DIR (default: the temporary folder), which should be on a real
// disk, and is removed afterwards. Counters: file_MB; disk_write_ratio, the bytes the process
// wrote to the disk (/proc/self/io write_bytes) over the whole recording and its finish, divided
// by the file's size. The same source builds against any version of the writer, so an older one
// can be measured beside it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "FfmpegWriter.h"
#include "platform/ffmpeg/SyntheticScreen.h"

namespace {

using namespace kestrova;
namespace fs = std::filesystem;

fs::path benchFolder() {
  const char* dir = std::getenv("KESTROVA_BENCH_DIR");
  return dir ? fs::path(dir) : fs::temp_directory_path();
}

void BM_FinishAfterMinutes(benchmark::State& state) {
  const int minutes = static_cast<int>(state.range(0));
  const bool light = state.range(1) == 1;
  constexpr int kFps = 30;
  const int frames = minutes * 60 * kFps;
  RecorderConfig config;
  config.width = 1920;
  config.height = 1080;
  config.fps = kFps;
  config.url = benchFolder() / ("kestrova-finish-bench-" + std::to_string(getpid()) + ".mp4");

  for (auto _ : state) {
    const std::int64_t writtenBefore = testing::bytesWrittenToDisk();
    auto writer = ffmpeg::createFfmpegWriter(config);
    WriterInput& input = writer->input();
    for (int i = 0; i < frames; ++i) {
      testing::appendScreenFrame(input, static_cast<std::int64_t>(i) * (kOutputTimeScale / kFps), i,
                                 light ? testing::paintStillScreen : testing::paintScreen);
    }
    std::promise<FinishResult> done;
    const auto start = std::chrono::steady_clock::now();
    writer->finish(frames, [&](FinishResult r) { done.set_value(std::move(r)); });
    const FinishResult result = done.get_future().get();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    writer.reset();
    if (!result.ok()) {
      state.SkipWithError("finishing failed");
      break;
    }
    state.SetIterationTime(seconds);
    const auto size = static_cast<double>(fs::file_size(result.value()));
    state.counters["file_MB"] = size / 1e6;
    state.counters["disk_write_ratio"] =
        static_cast<double>(testing::bytesWrittenToDisk() - writtenBefore) / size;
    fs::remove(result.value());
  }
}
BENCHMARK(BM_FinishAfterMinutes)
    ->Args({1, 0})
    ->Args({10, 0})
    ->Args({60, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
