#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "FragmentIndex.h"
#include "VideoWriter.h"

namespace kestrova::ffmpeg {

class FileSink;

// The file steps of the writer that are not encoding: indexing what was written, so that finishing
// reads nothing, and finishing the file (in place, or a copy when it was moved away). All run on
// the writer's thread.

// “path”, as messages for the user quote a file.
std::string quoted(const std::filesystem::path& path);

// Makes the creation or renaming of a file in `folder` survive a power loss.
void syncFolder(const std::filesystem::path& folder);

// Reads back the boxes `sink` holds from `from` to `to` (just written, so still in the page cache)
// and adds the moov and each moof to `index`. False when a box could not be read or makes no
// sense; the index is then of no use.
bool indexWritten(const FileSink& sink, std::int64_t from, std::int64_t to, FragmentIndex& index);

// Turns the whole fragments of `sink` into a regular MP4 in place, when `index` describes them all
// and holds a sample. Otherwise (no room even for the index, or a fragment that could not be read
// back) the file stays fragmented: complete, and it plays and seeks in ffmpeg and browsers.
void finishInPlaceIfIndexed(FileSink& sink, const FragmentIndex& index, bool indexed);

// The folder (or the file) at `url` was removed or renamed while recording. The footage still
// lives in `sink`'s open file; a copy goes where the user expects it, creating the folder again if
// need be. Always a failure, whose message says what happened and where the video is.
FinishResult rescueMovedFile(const FileSink& sink, const std::filesystem::path& url);

}  // namespace kestrova::ffmpeg
