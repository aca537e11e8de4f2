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
  int videoStreams = 0;
  int audioStreams = 0;
  std::string codec;  // e.g. "h264"
  int profile = -1;   // FF_PROFILE_H264_*
  int width = 0, height = 0;
  int colorSpace = -1, colorRange = -1, colorPrimaries = -1, colorTransfer = -1;  // AVCOL_*
  std::vector<std::int64_t> pts;  // packets in file order, 1/6000 s
  std::vector<bool> keyFrames;
  std::int64_t durationUnits = 0;       // the file's duration, 1/6000 s
  std::int64_t trackDurationUnits = 0;  // the video track's
  std::int64_t indexEntries = 0;        // samples the demuxer's index knows up front
  int decodedFrames = 0;                // frames the decoder turned out without error
  bool seekWorked = false;  // a seek to the middle landed on a key frame at or before it
};

// Reads the file; decodes every frame when `decode` is set.
Mp4Probe probeMp4(const std::filesystem::path& path, bool decode = true);

// Seeks to each of `targets` (1/6000 s) in turn, backwards to a key frame as players do, and
// returns the time of the key frame each seek landed on (-1 where a seek failed).
std::vector<std::int64_t> seekLandings(const std::filesystem::path& path,
                                       const std::vector<std::int64_t>& targets);

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

// Decodes the first video stream and hands each picture over in presentation order; false when
// the file cannot be opened or decoded.
bool decodeFrames(const std::filesystem::path& path,
                  const std::function<void(const DecodedFrame&)>& onFrame);

// A top-level box of an MP4 file, read with no help from FFmpeg.
struct Mp4Box {
  std::string type;  // e.g. "ftyp", "moov", "moof", "mdat"
  std::int64_t offset = 0;
  std::vector<std::uint8_t> bytes;  // the whole box, header included
};

// The file's top-level boxes in order; with `withBytes` false, each box's bytes are left empty.
std::vector<Mp4Box> topLevelBoxes(const std::filesystem::path& path, bool withBytes = false);

}  // namespace kestrova::testing
