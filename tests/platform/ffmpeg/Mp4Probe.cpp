#include "Mp4Probe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <fstream>
#include <iterator>
#include <memory>

namespace kestrova::testing {

namespace {

constexpr AVRational kUnits{1, 6000};

template <typename T, void (*free)(T**)>
struct Freed {
  void operator()(T* p) const { free(&p); }
};
template <typename T, void (*free)(T**)>
using Owned = std::unique_ptr<T, Freed<T, free>>;

}  // namespace

bool decodeFrames(const std::filesystem::path& path,
                  const std::function<void(const DecodedFrame&)>& onFrame, Mp4Probe* probe) {
  Mp4Probe ignored;
  Mp4Probe& p = probe ? *probe : ignored;
  AVFormatContext* fmt = nullptr;
  int r = avformat_open_input(&fmt, path.c_str(), nullptr, nullptr);
  const Owned<AVFormatContext, avformat_close_input> in(fmt);
  if (r >= 0) r = avformat_find_stream_info(fmt, nullptr);
  const int video = r < 0 ? r : av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (video < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    p.error = av_make_error_string(text, sizeof text, video);
    return false;
  }
  p.opened = true;
  const AVStream* st = fmt->streams[video];
  const AVCodecParameters* par = st->codecpar;
  p.width = par->width;
  p.height = par->height;
  p.format = std::to_string(p.width) + "x" + std::to_string(p.height);
  for (const char* name :
       {avcodec_get_name(par->codec_id), avcodec_profile_name(par->codec_id, par->profile),
        av_color_space_name(par->color_space), av_color_range_name(par->color_range),
        av_color_primaries_name(par->color_primaries), av_color_transfer_name(par->color_trc)}) {
    p.format += " " + std::string(name ? name : "?");
  }
  p.durationUnits = av_rescale_q(fmt->duration, AV_TIME_BASE_Q, kUnits);

  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  const Owned<AVCodecContext, avcodec_free_context> dec(avcodec_alloc_context3(codec));
  const Owned<AVPacket, av_packet_free> pkt(av_packet_alloc());
  const Owned<AVFrame, av_frame_free> pic(av_frame_alloc());
  bool ok = codec && avcodec_parameters_to_context(dec.get(), par) >= 0 &&
            avcodec_open2(dec.get(), codec, nullptr) >= 0;
  const auto receive = [&] {
    while (ok && avcodec_receive_frame(dec.get(), pic.get()) == 0) {
      ok = pic->format == AV_PIX_FMT_YUV420P || pic->format == AV_PIX_FMT_YUVJ420P;
      DecodedFrame f{av_rescale_q(pic->best_effort_timestamp, st->time_base, kUnits), pic->width,
                     pic->height};
      for (int i = 0; i < 3; ++i) {
        f.planes[i] = pic->data[i];
        f.strides[i] = pic->linesize[i];
      }
      if (ok && onFrame) onFrame(f);
      p.decodedFrames += ok;
      av_frame_unref(pic.get());
    }
  };
  while (av_read_frame(fmt, pkt.get()) >= 0) {
    if (pkt->stream_index == video) {
      p.pts.push_back(av_rescale_q(pkt->pts, st->time_base, kUnits));
      p.keyFrames.push_back(pkt->flags & AV_PKT_FLAG_KEY);
      ok = ok && avcodec_send_packet(dec.get(), pkt.get()) >= 0;
    }
    av_packet_unref(pkt.get());
    receive();
  }
  ok = ok && avcodec_send_packet(dec.get(), nullptr) >= 0;
  receive();
  return ok;
}

Mp4Probe probeMp4(const std::filesystem::path& path) {
  Mp4Probe p;
  decodeFrames(path, {}, &p);
  return p;
}

std::vector<Mp4Box> topLevelBoxes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  std::vector<Mp4Box> boxes;
  for (std::size_t at = 0; at + 8 <= file.size();) {
    const std::size_t size =
        std::size_t{file[at]} << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
    const auto box = file.begin() + static_cast<std::ptrdiff_t>(at);
    boxes.push_back({std::string(box + 4, box + 8), static_cast<std::int64_t>(at), {}});
    if (size < 8 || at + size > file.size()) break;  // 64-bit sizes are not needed here
    boxes.back().bytes.assign(box, box + static_cast<std::ptrdiff_t>(size));
    at += size;
  }
  return boxes;
}

}  // namespace kestrova::testing
