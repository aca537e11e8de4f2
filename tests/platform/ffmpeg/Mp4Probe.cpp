#include "Mp4Probe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <fstream>
#include <memory>

namespace kestrova::testing {

namespace {

constexpr AVRational kUnits{1, 6000};

template <typename T, void (*free)(T**)>
struct Freed {
  void operator()(T* p) const { free(&p); }
};
using Input = std::unique_ptr<AVFormatContext, Freed<AVFormatContext, avformat_close_input>>;
using Packet = std::unique_ptr<AVPacket, Freed<AVPacket, av_packet_free>>;

// The file opened with its streams found, and its first video stream; null and -1, with `error`
// set, when it cannot be.
std::pair<Input, int> open(const std::filesystem::path& path, std::string* error = nullptr) {
  AVFormatContext* fmt = nullptr;
  int r = avformat_open_input(&fmt, path.c_str(), nullptr, nullptr);
  Input in(fmt);
  if (r >= 0) r = avformat_find_stream_info(fmt, nullptr);
  if (r >= 0)
    return {std::move(in), av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)};
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(r, text, sizeof text);
  if (error) *error = text;
  return {nullptr, -1};
}

// Seeks backwards to a key frame at or before `target` (1/6000 s); the time of the key frame it
// landed on, or -1.
std::int64_t seek(AVFormatContext* fmt, int video, std::int64_t target) {
  AVStream* st = fmt->streams[video];
  const auto at = av_rescale_q(target, kUnits, st->time_base);
  Packet pkt(av_packet_alloc());
  if (av_seek_frame(fmt, video, at, AVSEEK_FLAG_BACKWARD) < 0) return -1;
  while (av_read_frame(fmt, pkt.get()) >= 0) {
    if (pkt->stream_index != video) {
      av_packet_unref(pkt.get());
      continue;
    }
    if (!(pkt->flags & AV_PKT_FLAG_KEY)) return -1;
    return av_rescale_q(pkt->pts, st->time_base, kUnits);
  }
  return -1;
}

}  // namespace

Mp4Probe probeMp4(const std::filesystem::path& path, bool decode) {
  Mp4Probe p;
  auto [in, video] = open(path, &p.error);
  if (!in) return p;
  AVFormatContext* fmt = in.get();
  p.opened = true;
  for (unsigned i = 0; i < fmt->nb_streams; ++i) {
    p.videoStreams += fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    p.audioStreams += fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
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
  Packet pkt(av_packet_alloc());
  while (av_read_frame(fmt, pkt.get()) >= 0) {
    if (pkt->stream_index == video) {
      p.pts.push_back(av_rescale_q(pkt->pts, st->time_base, kUnits));
      p.keyFrames.push_back(pkt->flags & AV_PKT_FLAG_KEY);
    }
    av_packet_unref(pkt.get());
  }
  if (decode) decodeFrames(path, [&](const DecodedFrame&) { ++p.decodedFrames; });
  if (!p.pts.empty()) {
    const std::int64_t middle = p.pts[p.pts.size() / 2];
    const std::int64_t landed = seek(fmt, video, middle);
    p.seekWorked = landed >= 0 && landed <= middle;
  }
  return p;
}

std::vector<std::int64_t> seekLandings(const std::filesystem::path& path,
                                       const std::vector<std::int64_t>& targets) {
  std::vector<std::int64_t> landed(targets.size(), -1);
  auto [in, video] = open(path);
  for (std::size_t i = 0; video >= 0 && i < targets.size(); ++i) {
    landed[i] = seek(in.get(), video, targets[i]);
  }
  return landed;
}

bool decodeFrames(const std::filesystem::path& path,
                  const std::function<void(const DecodedFrame&)>& onFrame) {
  auto [in, video] = open(path);
  if (video < 0) return false;
  AVStream* st = in->streams[video];
  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  std::unique_ptr<AVCodecContext, Freed<AVCodecContext, avcodec_free_context>> dec(
      avcodec_alloc_context3(codec));
  if (!codec || avcodec_parameters_to_context(dec.get(), st->codecpar) < 0 ||
      avcodec_open2(dec.get(), codec, nullptr) < 0) {
    return false;
  }
  Packet pkt(av_packet_alloc());
  std::unique_ptr<AVFrame, Freed<AVFrame, av_frame_free>> pic(av_frame_alloc());
  bool ok = true;
  const auto receive = [&] {
    while (avcodec_receive_frame(dec.get(), pic.get()) == 0) {
      if (pic->format != AV_PIX_FMT_YUV420P && pic->format != AV_PIX_FMT_YUVJ420P) ok = false;
      DecodedFrame f{av_rescale_q(pic->best_effort_timestamp, st->time_base, kUnits), pic->width,
                     pic->height};
      for (int i = 0; i < 3; ++i) {
        f.planes[i] = pic->data[i];
        f.strides[i] = pic->linesize[i];
      }
      if (ok) onFrame(f);
      av_frame_unref(pic.get());
    }
  };
  while (av_read_frame(in.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == video && avcodec_send_packet(dec.get(), pkt.get()) < 0) ok = false;
    av_packet_unref(pkt.get());
    receive();
  }
  avcodec_send_packet(dec.get(), nullptr);
  receive();
  return ok;
}

std::vector<Mp4Box> topLevelBoxes(const std::filesystem::path& path, bool withBytes) {
  std::ifstream in(path, std::ios::binary);
  std::vector<Mp4Box> boxes;
  const auto fileSize = static_cast<std::int64_t>(std::filesystem::file_size(path));
  for (std::int64_t at = 0; at + 8 <= fileSize;) {
    unsigned char h[16] = {};
    in.seekg(at);
    in.read(reinterpret_cast<char*>(h), 16);
    in.clear();
    std::int64_t size = std::int64_t{h[0]} << 24 | h[1] << 16 | h[2] << 8 | h[3];
    if (size == 1) {  // a 64-bit size follows the type
      size = 0;
      for (int i = 8; i < 16; ++i) size = size << 8 | h[i];
    }
    Mp4Box box{std::string(reinterpret_cast<char*>(h) + 4, 4), at, {}};
    if (withBytes && size >= 8 && at + size <= fileSize) {
      box.bytes.resize(static_cast<std::size_t>(size));
      in.seekg(at);
      in.read(reinterpret_cast<char*>(box.bytes.data()), size);
    }
    boxes.push_back(std::move(box));
    if (size < 8) break;
    at += size;
  }
  return boxes;
}

}  // namespace kestrova::testing
