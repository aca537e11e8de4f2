#pragma once

#include <cstdint>
#include <filesystem>
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

}  // namespace kestrova::testing
