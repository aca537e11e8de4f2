#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kestrova::testing {

// What libavformat and libavcodec read back from a video file.
struct Mp4Probe {
  bool opened = false;
  std::string error;
  // Size, codec, profile, colour matrix, range, primaries and transfer, e.g.
  // "320x240 h264 High smpte170m tv bt709 iec61966-2-1".
  std::string format;
  int width = 0, height = 0;
  std::vector<std::int64_t> pts;  // packets in file order, 1/6000 s
  std::vector<bool> keyFrames;
  std::int64_t durationUnits = 0;  // the file's duration, 1/6000 s
  int decodedFrames = 0;           // frames the decoder turned out
};

// Reads the file and decodes every frame.
Mp4Probe probeMp4(const std::filesystem::path& path);

// One decoded 4:2:0 picture, valid only during the callback.
struct DecodedFrame {
  std::int64_t pts = 0;  // 1/6000 s
  int width = 0, height = 0;
  const std::uint8_t* planes[3] = {};  // Y, U, V
  int strides[3] = {};

  std::uint8_t y(int x, int row) const { return planes[0][row * strides[0] + x]; }
  std::uint8_t u(int x, int row) const { return planes[1][row / 2 * strides[1] + x / 2]; }
  std::uint8_t v(int x, int row) const { return planes[2][row / 2 * strides[2] + x / 2]; }
};

// Decodes the first video stream and hands each picture over in presentation order (to `onFrame`
// if set), filling `probe` if given; false when the file cannot be opened or decoded.
bool decodeFrames(const std::filesystem::path& path,
                  const std::function<void(const DecodedFrame&)>& onFrame,
                  Mp4Probe* probe = nullptr);

// A top-level box of an MP4 file, read with no help from FFmpeg.
struct Mp4Box {
  std::string type;  // e.g. "ftyp", "moov", "moof", "mdat"
  std::int64_t offset = 0;
  std::vector<std::uint8_t> bytes;  // the whole box, header included; empty when cut off
};

// The file's top-level boxes in order, up to the first one cut off.
std::vector<Mp4Box> topLevelBoxes(const std::filesystem::path& path);

}  // namespace kestrova::testing
