// What the video writer costs per frame with x264's live-capture presets, on screen-like content.
//
//   encoder_bench [benchmark flags]           Google Benchmark over sizes, rates and presets
//   encoder_bench --raw-frames W H COUNT      the very same frames as raw I420 on stdout, for
//                                             bench/encoder_vs_ffmpeg.sh to feed to ffmpeg
//   encoder_bench --write-clip PATH W H FPS S  a finished clip, for bench/browser_check.sh
//
// Counters: cpu_ms_per_frame is the CPU of the whole process (x264's threads, the writer thread
// and the copy into the writer's frame) per frame; achieved_fps is how fast frames went through
// when offered as fast as the writer takes them; machine_pct is the share of this machine's cores
// that encoding at the nominal rate would take.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "FfmpegWriter.h"
#include "platform/ffmpeg/SyntheticScreen.h"

namespace {

using namespace kestrova;
namespace fs = std::filesystem;

// Distinct frames cycled through; more only costs memory (3 MB each at 1080p).
constexpr int kDistinctFrames = 16;

struct Frames {
  int width, height;
  std::vector<std::vector<std::uint8_t>> data;  // I420, tightly packed
  PlanarImage view(int i) {
    auto& d = data[i % data.size()];
    const int cw = width / 2, ch = height / 2;
    return {d.data(),
            d.data() + width * height,
            d.data() + width * height + cw * ch,
            width,
            cw,
            cw,
            width,
            height};
  }
};

Frames makeFrames(int width, int height) {
  Frames f{width, height, {}};
  for (int i = 0; i < kDistinctFrames; ++i) {
    f.data.emplace_back(static_cast<std::size_t>(width) * height * 3 / 2);
    testing::paintScreen(f.view(i), i);
  }
  return f;
}

void copyPlane(const std::uint8_t* src, int srcStride, std::uint8_t* dst, int dstStride, int w,
               int h) {
  for (int y = 0; y < h; ++y) std::memcpy(dst + y * dstStride, src + y * srcStride, w);
}

double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

void BM_Writer(benchmark::State& state, int width, int height, int fps,
               ffmpeg::EncoderSettings settings) {
  Frames frames = makeFrames(width, height);
  RecorderConfig config;
  config.width = width;
  config.height = height;
  config.fps = fps;
  config.url =
      fs::temp_directory_path() / ("kestrova-encoder-bench-" + std::to_string(getpid()) + ".mp4");

  auto writer = ffmpeg::createFfmpegWriter(config, settings);
  WriterInput& input = writer->input();
  const double cpuBefore = processCpuSeconds();
  const auto wallBefore = std::chrono::steady_clock::now();
  std::int64_t n = 0;
  for (auto _ : state) {
    while (!input.isReadyForMoreMediaData())
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    PooledBuffer buffer = acquireFrom(*input.pixelBufferPool());
    const PlanarImage src = frames.view(static_cast<int>(n));
    PlanarImage& dst = buffer->image;
    copyPlane(src.y, src.strideY, dst.y, dst.strideY, width, height);
    copyPlane(src.u, src.strideU, dst.u, dst.strideU, width / 2, height / 2);
    copyPlane(src.v, src.strideV, dst.v, dst.strideV, width / 2, height / 2);
    if (!input.append(std::move(buffer), n * kOutputTimeScale / fps)) {
      state.SkipWithError("append refused");
      break;
    }
    ++n;
  }
  std::promise<FinishResult> done;
  writer->finish(n, [&](FinishResult r) { done.set_value(std::move(r)); });
  const FinishResult result = done.get_future().get();
  const double cpu = processCpuSeconds() - cpuBefore;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
  if (!result.ok()) state.SkipWithError("finish failed");
  const auto bytes = fs::exists(config.url) ? fs::file_size(config.url) : 0;
  std::error_code ignored;
  fs::remove(config.url, ignored);

  const double cores = static_cast<double>(std::thread::hardware_concurrency());
  state.counters["cpu_ms_per_frame"] = cpu * 1000 / static_cast<double>(n);
  state.counters["achieved_fps"] = static_cast<double>(n) / wall;
  state.counters["machine_pct"] = 100 * cpu / static_cast<double>(n) * fps / cores;
  state.counters["kbit_per_s"] =
      static_cast<double>(bytes) * 8 / 1000 / (static_cast<double>(n) / fps);
}

struct Variant {
  const char* name;
  ffmpeg::EncoderSettings settings;
};

// The chosen settings first, then its neighbours.
const Variant kVariants[] = {
    {"ultrafast+8x8dct+zerolatency", {"ultrafast", "zerolatency", "8x8dct=1", 2}},
    {"ultrafast+8x8dct", {"ultrafast", "", "8x8dct=1", 2}},
    {"superfast+zerolatency", {"superfast", "zerolatency", "", 2}},
    {"veryfast+zerolatency", {"veryfast", "zerolatency", "", 2}},
    // The chosen settings on one thread: what the second slice thread buys.
    {"ultrafast+8x8dct+zerolatency+1thread", {"ultrafast", "zerolatency", "8x8dct=1", 1}},
};

struct Format {
  int width, height, fps;
};
const Format kFormats[] = {{1920, 1080, 30}, {1920, 1080, 60}, {1280, 720, 30}};

// Ten seconds of video per case.
void registerAll() {
  for (const Format& f : kFormats) {
    for (const Variant& v : kVariants) {
      const std::string name = "Writer/" + std::to_string(f.width) + "x" +
                               std::to_string(f.height) + "@" + std::to_string(f.fps) + "/" +
                               v.name;
      benchmark::RegisterBenchmark(name.c_str(), BM_Writer, f.width, f.height, f.fps, v.settings)
          ->Iterations(10 * f.fps)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  }
}

// A finished clip made by the writer, for bench/browser_check.sh: `seconds` of video whose frame
// spacing varies (late frames and a still stretch), as live capture gives it.
int writeClip(const char* path, int width, int height, int fps, int seconds) {
  RecorderConfig config;
  config.width = width;
  config.height = height;
  config.fps = fps;
  config.url = path;
  auto writer = ffmpeg::createFfmpegWriter(config);
  WriterInput& input = writer->input();
  std::int64_t n = 0, t = 0, last = 0;
  for (; t < std::int64_t{seconds} * kOutputTimeScale; ++n) {
    while (!input.isReadyForMoreMediaData())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    PooledBuffer buffer = acquireFrom(*input.pixelBufferPool());
    testing::paintScreen(buffer->image, static_cast<int>(n));
    if (!input.append(std::move(buffer), t)) return 1;
    last = t;
    t += n % 40 == 39 ? kOutputTimeScale
                      : (n % 7 == 3 ? kOutputTimeScale / fps + 37 : kOutputTimeScale / fps);
  }
  std::promise<FinishResult> done;
  writer->finish(n, [&](FinishResult r) { done.set_value(std::move(r)); });
  const FinishResult result = done.get_future().get();
  if (!result.ok()) return 1;
  std::printf("%lld frames, last at %lld/6000 s\n", static_cast<long long>(n),
              static_cast<long long>(last));
  return 0;
}

int dumpRawFrames(int width, int height, int count) {
  Frames frames = makeFrames(width, height);
  for (int i = 0; i < count; ++i) {
    const auto& d = frames.data[i % frames.data.size()];
    if (std::fwrite(d.data(), 1, d.size(), stdout) != d.size()) return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--raw-frames") == 0) {
    return dumpRawFrames(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
  }
  if (argc == 7 && std::strcmp(argv[1], "--write-clip") == 0) {
    return writeClip(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                     std::atoi(argv[6]));
  }
  registerAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
