// Records a 320×240, 30 fps screen-like clip in real time into argv[1] until it is killed,
// printing the time (1/6000 s) of every frame the writer accepted. With argv[2] = N, it offers N
// frames, then prints "still" and waits to be killed, as a recorder does while nothing changes.
// With argv[3] = a point of the finish (0 = before the index, see FinishPoint), it offers them as
// fast as the writer takes them, then finishes, prints "stopped" at that point and waits there.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "FfmpegWriter.h"
#include "InPlaceFinish.h"
#include "SyntheticScreen.h"

namespace {
[[noreturn]] void waitToBeKilled(const char* line = nullptr) {
  if (line) std::printf("%s\n", line);
  std::fflush(stdout);
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) return 2;
  const int frames = argc >= 3 ? std::atoi(argv[2]) : -1;
  const int stopAt = argc == 4 ? std::atoi(argv[3]) : -1;
  kestrova::RecorderConfig config;
  config.width = 320;
  config.height = 240;
  config.fps = 30;
  config.url = argv[1];
  auto writer = kestrova::ffmpeg::createFfmpegWriter(config);
  kestrova::WriterInput& input = writer->input();
  const auto start = std::chrono::steady_clock::now();
  int accepted = 0;
  for (int i = 0; i != frames; ++i) {
    if (stopAt < 0) {
      std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000LL / 30));
      if (!input.isReadyForMoreMediaData()) continue;
    }
    if (kestrova::testing::appendScreenFrame(input, i * 200LL, i)) {
      ++accepted;
      std::printf("%lld\n", i * 200LL);
      std::fflush(stdout);
    }
  }
  if (stopAt < 0) waitToBeKilled("still");
  kestrova::ffmpeg::setFinishHookForTesting([stopAt](kestrova::ffmpeg::FinishPoint point) {
    if (static_cast<int>(point) == stopAt) waitToBeKilled("stopped");
  });
  writer->finish(accepted, [](kestrova::FinishResult) { waitToBeKilled("finished"); });
  waitToBeKilled();  // the finish prints where it stops
}
