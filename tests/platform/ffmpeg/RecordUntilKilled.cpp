// Records a 320×240, 30 fps screen-like clip in real time into argv[1] until it is killed,
// printing the time (1/6000 s) of every frame the writer accepted. With argv[2] = N, it offers N
// frames, then prints "still" and waits to be killed, as a recorder does while nothing changes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "FfmpegWriter.h"
#include "SyntheticScreen.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) return 2;
  const int frames = argc == 3 ? std::atoi(argv[2]) : -1;
  kestrova::RecorderConfig config;
  config.width = 320;
  config.height = 240;
  config.fps = 30;
  config.url = argv[1];
  auto writer = kestrova::ffmpeg::createFfmpegWriter(config);
  kestrova::WriterInput& input = writer->input();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0;; ++i) {
    if (i == frames) {
      std::printf("still\n");
      std::fflush(stdout);
      for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
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
