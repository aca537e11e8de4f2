#pragma once

#include "Av.h"
#include "FfmpegWriter.h"
#include "RecorderConfig.h"

namespace kestrova::ffmpeg {

inline constexpr const char* kConfigureFailed = "Could not configure the video encoder.";

// libx264 opened for `config` (output size, rate, bit rate, key-frame interval) with `settings`:
// High profile, no B-frames, global headers for MP4, and colour tags that say what libyuv's
// conversion made. Throws RecorderError::writer(kConfigureFailed) when it cannot be opened.
CodecContextPtr openH264Encoder(const RecorderConfig& config, const EncoderSettings& settings);

}  // namespace kestrova::ffmpeg
