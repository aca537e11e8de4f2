#pragma once

// Reading and writing ISO base media (MP4) boxes in memory. Private to the FFmpeg adapter.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kestrova::ffmpeg::mp4 {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint32_t fourcc(std::string_view s) {
  return std::uint32_t(std::uint8_t(s[0])) << 24 | std::uint32_t(std::uint8_t(s[1])) << 16 |
         std::uint32_t(std::uint8_t(s[2])) << 8 | std::uint32_t(std::uint8_t(s[3]));
}

inline std::uint32_t be32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
inline std::uint64_t be64(const std::uint8_t* p) {
  return std::uint64_t(be32(p)) << 32 | be32(p + 4);
}

// A box's header: where its payload lies within the bytes it was read from.
struct BoxHeader {
  std::uint32_t type = 0;
  std::uint64_t size = 0;        // header included
  std::uint32_t headerSize = 0;  // 8, or 16 with a 64-bit size
};

// The box starting at `at` in `bytes`, or nothing when it does not fit. A size of 0 (to the end)
// is taken as the rest of `bytes`.
inline std::optional<BoxHeader> readHeader(Bytes bytes, std::size_t at) {
  if (at + 8 > bytes.size()) return std::nullopt;
  BoxHeader h{be32(&bytes[at + 4]), be32(&bytes[at]), 8};
  if (h.size == 1) {
    if (at + 16 > bytes.size()) return std::nullopt;
    h.size = be64(&bytes[at + 8]);
    h.headerSize = 16;
  } else if (h.size == 0) {
    h.size = bytes.size() - at;
  }
  if (h.size < h.headerSize || h.size > bytes.size() - at) return std::nullopt;
  return h;
}

// The children of a container's payload, in order; nothing when one of them is malformed.
struct Box {
  std::uint32_t type;
  Bytes whole;    // header included
  Bytes payload;  // after the header
};
inline std::optional<std::vector<Box>> children(Bytes payload) {
  std::vector<Box> boxes;
  for (std::size_t at = 0; at < payload.size();) {
    const auto h = readHeader(payload, at);
    if (!h) return std::nullopt;
    boxes.push_back({h->type, payload.subspan(at, h->size),
                     payload.subspan(at + h->headerSize, h->size - h->headerSize)});
    at += h->size;
  }
  return boxes;
}

// Builds boxes into a byte vector, big-endian as the format wants.
class BoxWriter {
 public:
  void u8(std::uint8_t v) { out_.push_back(v); }
  void u16(std::uint16_t v) {
    u8(std::uint8_t(v >> 8));
    u8(std::uint8_t(v));
  }
  void u32(std::uint32_t v) {
    u16(std::uint16_t(v >> 16));
    u16(std::uint16_t(v));
  }
  void u64(std::uint64_t v) {
    u32(std::uint32_t(v >> 32));
    u32(std::uint32_t(v));
  }
  void bytes(Bytes b) { out_.insert(out_.end(), b.begin(), b.end()); }

  // Opens a box whose 32-bit size is filled in by close(); returns where it starts.
  std::size_t open(std::uint32_t type) {
    const std::size_t at = out_.size();
    u32(0);
    u32(type);
    return at;
  }
  // A full box: with version and flags.
  std::size_t open(std::uint32_t type, std::uint8_t version, std::uint32_t flags) {
    const std::size_t at = open(type);
    u32(std::uint32_t(version) << 24 | (flags & 0xffffff));
    return at;
  }
  void close(std::size_t at) {
    const auto size = static_cast<std::uint32_t>(out_.size() - at);
    for (int i = 0; i < 4; ++i) out_[at + i] = std::uint8_t(size >> (24 - 8 * i));
  }

  std::vector<std::uint8_t>& data() { return out_; }

 private:
  std::vector<std::uint8_t> out_;
};

}  // namespace kestrova::ffmpeg::mp4
