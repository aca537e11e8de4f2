#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "RecorderConfig.h"
#include "VideoWriter.h"

namespace kestrova::ffmpeg {

// x264's speed/quality settings. The defaults are the ones for live capture on a small machine:
// `ultrafast` is the only preset that leaves room for capture at 1920×1080, 60 fps on two cores
// (see bench/encoder_bench.cpp); alone it writes Constrained Baseline, so the 8×8 transform is
// switched back on to make the stream High profile at no measurable cost. `zerolatency` drops the
// look-ahead and frame-thread delay: less CPU and memory, and every packet leaves the encoder with
// its frame, which keeps the crash-safe file current.
struct EncoderSettings {
  std::string preset = "ultrafast";
  std::string tune = "zerolatency";  // empty: none
  std::string x264Params = "8x8dct=1";
  int threads = 2;  // x264 threads (sliced with zerolatency); the machine has two cores
};

// The writer on FFmpeg: libx264 into an MP4 file at config.url. While recording the file is a
// fragmented MP4 whose fragments (at most a second each) reach the kernel as they are cut and the
// disk right after (synced on a thread of their own), so it stays playable if the process dies or
// the power fails. A failed write truncates it to its last whole fragment and is reported at once.
// Finishing turns the file into a regular MP4 in place (see InPlaceFinish.h): the complete index is
// appended and the fragments' headers become free boxes, so it costs O(frames), not a copy.
//
// Threads: the writer's own thread encodes and writes; see VideoWriter for the callers' rules.
//
// Set-up as VideoWriterFactory describes; call off the sample queue.
std::unique_ptr<VideoWriter> createFfmpegWriter(const RecorderConfig& config,
                                                const EncoderSettings& settings = {});

}  // namespace kestrova::ffmpeg
