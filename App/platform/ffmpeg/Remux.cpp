#include "Remux.h"

#include <cerrno>
#include <cstring>

#include "Av.h"
#include "FileSink.h"
#include "WriterInput.h"

extern "C" {
#include <libavutil/dict.h>
}

namespace kestrova::ffmpeg {

std::string remuxToRegularMp4(const std::string& from, const std::filesystem::path& to,
                              std::int64_t lastDurationUnits) {
  AVFormatContext* rawIn = nullptr;
  if (int r = avformat_open_input(&rawIn, from.c_str(), nullptr, nullptr); r < 0) {
    return avErrorText(r);
  }
  InputFormatPtr in(rawIn);
  if (in->nb_streams != 1 || in->streams[0]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
    return "unexpected streams";
  }
  const AVStream* source = in->streams[0];

  AVFormatContext* rawOut = nullptr;
  if (int r = avformat_alloc_output_context2(&rawOut, nullptr, "mp4", nullptr); r < 0) {
    return avErrorText(r);
  }
  OutputFormatPtr out(rawOut);
  int openError = 0;
  auto sink = FileSink::create(to, openError);
  if (!sink) return std::strerror(openError);
  out->pb = sink->io();

  AVStream* target = avformat_new_stream(out.get(), nullptr);
  if (!target) return avErrorText(AVERROR(ENOMEM));
  if (int r = avcodec_parameters_copy(target->codecpar, source->codecpar); r < 0) {
    return avErrorText(r);
  }
  target->codecpar->codec_tag = 0;
  target->time_base = {1, static_cast<int>(kOutputTimeScale)};

  AVDictionary* options = nullptr;
  av_dict_set_int(&options, "video_track_timescale", kOutputTimeScale, 0);
  av_dict_set_int(&options, "movie_timescale", kOutputTimeScale, 0);
  const int headerResult = avformat_write_header(out.get(), &options);
  av_dict_free(&options);
  const auto failure = [&](int r) {
    return sink->error() ? std::strerror(sink->error()) : avErrorText(r);
  };
  if (headerResult < 0) return failure(headerResult);

  AvPacketPtr packet(av_packet_alloc()), held(av_packet_alloc());
  if (!packet || !held) return avErrorText(AVERROR(ENOMEM));
  bool holding = false;
  const auto writeHeld = [&](std::int64_t durationInSource) {
    held->duration = durationInSource;
    held->stream_index = 0;
    av_packet_rescale_ts(held.get(), source->time_base, target->time_base);
    const int r = av_write_frame(out.get(), held.get());
    av_packet_unref(held.get());
    holding = false;
    return r;
  };
  for (;;) {
    int r = av_read_frame(in.get(), packet.get());
    if (r == AVERROR_EOF) break;
    if (r < 0) return avErrorText(r);
    if (holding) {
      if (r = writeHeld(packet->dts - held->dts); r < 0) return failure(r);
    }
    av_packet_move_ref(held.get(), packet.get());
    holding = true;
  }
  if (holding) {
    const std::int64_t last =
        av_rescale_q(lastDurationUnits, {1, static_cast<int>(kOutputTimeScale)}, source->time_base);
    if (int r = writeHeld(last); r < 0) return failure(r);
  }
  if (int r = av_write_trailer(out.get()); r < 0) return failure(r);
  if (!sink->flush()) return std::strerror(sink->error());
  if (!sink->sync()) return std::strerror(errno);
  return "";
}

}  // namespace kestrova::ffmpeg
