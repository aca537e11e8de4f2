#include "Mp4Probe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <memory>

namespace kestrova::testing {

namespace {
constexpr AVRational kUnits{1, 6000};
std::string text(int err) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(err, buf, sizeof buf);
  return buf;
}
}  // namespace

Mp4Probe probeMp4(const std::filesystem::path& path, bool decode) {
  Mp4Probe p;
  AVFormatContext* fmt = nullptr;
  if (int r = avformat_open_input(&fmt, path.c_str(), nullptr, nullptr); r < 0) {
    p.error = text(r);
    return p;
  }
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> in(
      fmt, [](AVFormatContext* f) { avformat_close_input(&f); });
  if (int r = avformat_find_stream_info(fmt, nullptr); r < 0) {
    p.error = text(r);
    return p;
  }
  p.opened = true;
  int video = -1;
  for (unsigned i = 0; i < fmt->nb_streams; ++i) {
    const auto type = fmt->streams[i]->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_VIDEO) {
      ++p.videoStreams;
      if (video < 0) video = static_cast<int>(i);
    }
    if (type == AVMEDIA_TYPE_AUDIO) ++p.audioStreams;
  }
  if (video < 0) return p;
  AVStream* st = fmt->streams[video];
  const AVCodecParameters* par = st->codecpar;
  p.codec = avcodec_get_name(par->codec_id);
  p.profile = par->profile;
  p.width = par->width;
  p.height = par->height;
  p.colorSpace = par->color_space;
  p.colorRange = par->color_range;
  p.colorPrimaries = par->color_primaries;
  p.colorTransfer = par->color_trc;
  p.indexEntries = avformat_index_get_entries_count(st);
  if (fmt->duration != AV_NOPTS_VALUE) {
    p.durationUnits = av_rescale_q(fmt->duration, AV_TIME_BASE_Q, kUnits);
  }
  if (st->duration != AV_NOPTS_VALUE) {
    p.trackDurationUnits = av_rescale_q(st->duration, st->time_base, kUnits);
  }

  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> dec(
      avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
  avcodec_parameters_to_context(dec.get(), par);
  if (decode) avcodec_open2(dec.get(), codec, nullptr);
  std::unique_ptr<AVPacket, void (*)(AVPacket*)> pkt(av_packet_alloc(),
                                                     [](AVPacket* x) { av_packet_free(&x); });
  std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(),
                                                     [](AVFrame* x) { av_frame_free(&x); });
  const auto receive = [&] {
    while (avcodec_receive_frame(dec.get(), frame.get()) == 0) {
      ++p.decodedFrames;
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(fmt, pkt.get()) >= 0) {
    if (pkt->stream_index == video) {
      p.pts.push_back(av_rescale_q(pkt->pts, st->time_base, kUnits));
      p.keyFrames.push_back(pkt->flags & AV_PKT_FLAG_KEY);
      if (decode && avcodec_send_packet(dec.get(), pkt.get()) == 0) receive();
    }
    av_packet_unref(pkt.get());
  }
  if (decode) {
    avcodec_send_packet(dec.get(), nullptr);
    receive();
  }

  if (!p.pts.empty()) {
    const std::int64_t middle = p.pts[p.pts.size() / 2];
    const std::int64_t target = av_rescale_q(middle, kUnits, st->time_base);
    if (av_seek_frame(fmt, video, target, AVSEEK_FLAG_BACKWARD) >= 0) {
      while (av_read_frame(fmt, pkt.get()) >= 0) {
        const bool mine = pkt->stream_index == video;
        if (mine) {
          p.seekWorked = (pkt->flags & AV_PKT_FLAG_KEY) &&
                         av_rescale_q(pkt->pts, st->time_base, kUnits) <= middle;
        }
        av_packet_unref(pkt.get());
        if (mine) break;
      }
    }
  }
  return p;
}

std::vector<std::int64_t> seekLandings(const std::filesystem::path& path,
                                       const std::vector<std::int64_t>& targets) {
  std::vector<std::int64_t> landed(targets.size(), -1);
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return landed;
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> in(
      fmt, [](AVFormatContext* f) { avformat_close_input(&f); });
  if (avformat_find_stream_info(fmt, nullptr) < 0) return landed;
  const int video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (video < 0) return landed;
  AVStream* st = fmt->streams[video];
  std::unique_ptr<AVPacket, void (*)(AVPacket*)> pkt(av_packet_alloc(),
                                                     [](AVPacket* x) { av_packet_free(&x); });
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const std::int64_t target = av_rescale_q(targets[i], kUnits, st->time_base);
    if (av_seek_frame(fmt, video, target, AVSEEK_FLAG_BACKWARD) < 0) continue;
    while (av_read_frame(fmt, pkt.get()) >= 0) {
      const bool mine = pkt->stream_index == video;
      if (mine && (pkt->flags & AV_PKT_FLAG_KEY)) {
        landed[i] = av_rescale_q(pkt->pts, st->time_base, kUnits);
      }
      av_packet_unref(pkt.get());
      if (mine) break;
    }
  }
  return landed;
}

bool decodeFrames(const std::filesystem::path& path,
                  const std::function<void(const DecodedFrame&)>& onFrame) {
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return false;
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> in(
      fmt, [](AVFormatContext* f) { avformat_close_input(&f); });
  if (avformat_find_stream_info(fmt, nullptr) < 0) return false;
  const int video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (video < 0) return false;
  AVStream* st = fmt->streams[video];
  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) return false;
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> dec(
      avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
  if (avcodec_parameters_to_context(dec.get(), st->codecpar) < 0 ||
      avcodec_open2(dec.get(), codec, nullptr) < 0) {
    return false;
  }
  std::unique_ptr<AVPacket, void (*)(AVPacket*)> pkt(av_packet_alloc(),
                                                     [](AVPacket* x) { av_packet_free(&x); });
  std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(),
                                                     [](AVFrame* x) { av_frame_free(&x); });
  bool ok = true;
  const auto receive = [&] {
    while (avcodec_receive_frame(dec.get(), frame.get()) == 0) {
      if (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P) ok = false;
      DecodedFrame f;
      f.pts = av_rescale_q(frame->best_effort_timestamp, st->time_base, kUnits);
      f.width = frame->width;
      f.height = frame->height;
      for (int i = 0; i < 3; ++i) {
        f.planes[i] = frame->data[i];
        f.strides[i] = frame->linesize[i];
      }
      if (ok) onFrame(f);
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(fmt, pkt.get()) >= 0) {
    if (pkt->stream_index == video && avcodec_send_packet(dec.get(), pkt.get()) < 0) ok = false;
    av_packet_unref(pkt.get());
    receive();
  }
  avcodec_send_packet(dec.get(), nullptr);
  receive();
  return ok;
}

}  // namespace kestrova::testing
