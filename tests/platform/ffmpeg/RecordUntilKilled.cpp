// Records a 320×240, 30 fps screen-like clip in real time into argv[1] until it is killed,
// printing the time (1/6000 s) of every frame the writer accepted.
#include <chrono>
#include <cstdio>
#include <thread>

#include "FfmpegWriter.h"
#include "SyntheticScreen.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  kestrova::RecorderConfig config;
  config.width = 320;
  config.height = 240;
  config.fps = 30;
  config.url = argv[1];
  auto writer = kestrova::ffmpeg::createFfmpegWriter(config);
  kestrova::WriterInput& input = writer->input();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0;; ++i) {
    std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000LL / 30));
    if (!input.isReadyForMoreMediaData()) continue;
    kestrova::PooledBuffer buffer = kestrova::acquireFrom(*input.pixelBufferPool());
    if (!buffer) continue;
    kestrova::testing::paintScreen(buffer->image, i);
    if (input.append(std::move(buffer), i * 200LL)) {
      std::printf("%lld\n", i * 200LL);
      std::fflush(stdout);
    }
  }
}
