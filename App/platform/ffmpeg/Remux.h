#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace kestrova::ffmpeg {

// Copies the single video track of the MP4 at `from` (any layout, e.g. fragmented) into a regular
// MP4 at `to`: samples in one run, then one index with every sample's time and size. Each sample
// lasts until the next one starts; the last lasts `lastDurationUnits` (1/6000 s). The result is
// forced to the disk. Returns "" on success or a description of what failed; `to` may then be
// partly written.
std::string remuxToRegularMp4(const std::string& from, const std::filesystem::path& to,
                              std::int64_t lastDurationUnits);

}  // namespace kestrova::ffmpeg
