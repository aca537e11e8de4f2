#pragma once

// RAII for the FFmpeg handles the writer uses. Private to the FFmpeg adapter.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include <memory>
#include <string>

namespace kestrova::ffmpeg {

struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct InputFormatClose {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
// The I/O context of an output context is not owned by it (see FileSink).
struct OutputFormatFree {
  void operator()(AVFormatContext* f) const { avformat_free_context(f); }
};

using AvFramePtr = std::unique_ptr<AVFrame, FrameFree>;
using AvPacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatClose>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatFree>;

// FFmpeg's description of an error code, e.g. "No space left on device".
inline std::string avErrorText(int err) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(err, text, sizeof text);
  return text;
}

}  // namespace kestrova::ffmpeg
