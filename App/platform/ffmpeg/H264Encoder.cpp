#include "H264Encoder.h"

#include "RecorderError.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace kestrova::ffmpeg {
namespace {

// width × height × fps × 0.12, truncated: bits per second.
std::int64_t averageBitRate(const RecorderConfig& config) {
  return static_cast<std::int64_t>(static_cast<double>(config.width * config.height * config.fps) *
                                   0.12);
}

// At most this many frames from one key frame to the next.
int maxKeyFrameInterval(const RecorderConfig& config) {
  return static_cast<int>(2 * config.fps);
}

}  // namespace

CodecContextPtr openH264Encoder(const RecorderConfig& config, const EncoderSettings& settings) {
  // 4:2:0 needs even sizes. Refused here rather than by x264, which leaks when it refuses.
  const bool even = config.width % 2 == 0 && config.height % 2 == 0;
  if (!even || config.width <= 0 || config.height <= 0 || config.fps < 1) {
    throw RecorderError::writer(kConfigureFailed);
  }
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (!codec) throw RecorderError::writer(kConfigureFailed);
  CodecContextPtr encoder(avcodec_alloc_context3(codec));
  if (!encoder) throw RecorderError::writer(kConfigureFailed);
  AVCodecContext* c = encoder.get();
  c->width = static_cast<int>(config.width);
  c->height = static_cast<int>(config.height);
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = {1, static_cast<int>(kOutputTimeScale)};
  c->framerate = {static_cast<int>(config.fps), 1};
  c->bit_rate = averageBitRate(config);
  c->gop_size = maxKeyFrameInterval(config);
  // Presentation order is capture order: decoding times equal presentation times.
  c->max_b_frames = 0;
  c->profile = FF_PROFILE_H264_HIGH;
  c->thread_count = settings.threads;
  c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  // What the frames hold: sRGB screen pixels (BT.709 primaries, sRGB transfer) turned into YUV
  // with the BT.601 matrix in limited range, as libyuv's ARGBToI420 does.
  c->color_primaries = AVCOL_PRI_BT709;
  c->color_trc = AVCOL_TRC_IEC61966_2_1;
  c->colorspace = AVCOL_SPC_SMPTE170M;
  c->color_range = AVCOL_RANGE_MPEG;

  av_opt_set(c->priv_data, "preset", settings.preset.c_str(), 0);
  if (!settings.tune.empty()) av_opt_set(c->priv_data, "tune", settings.tune.c_str(), 0);
  if (!settings.x264Params.empty()) {
    av_opt_set(c->priv_data, "x264-params", settings.x264Params.c_str(), 0);
  }
  if (avcodec_open2(c, codec, nullptr) < 0) throw RecorderError::writer(kConfigureFailed);
  return encoder;
}

}  // namespace kestrova::ffmpeg
