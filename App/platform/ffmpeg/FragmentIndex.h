#pragma once

#include <cstdint>
#include <vector>

#include "Mp4Boxes.h"

namespace kestrova::ffmpeg {

// The sample index of a fragmented MP4 with one video track, gathered fragment by fragment as the
// file is written, and turned at the end into the one complete `moov` of a regular MP4 whose
// samples stay where the fragments put them. Memory: about 13 bytes a frame (5 MB for an hour at
// 60 fps); building the moov costs O(frames) and reads nothing from the file.
//
// Used by one thread at a time (the writer's).
class FragmentIndex {
 public:
  // Takes the file's initial (empty) moov, whole, found at `offset` in the file. False when it is
  // not a single-track fragmented header this index can follow.
  bool setHeader(mp4::Bytes moov, std::int64_t offset);
  // Adds one fragment's moof, whole, found at `offset` in the file. False when it is malformed;
  // the index then stays as it was.
  bool addFragment(mp4::Bytes moof, std::int64_t offset);

  // Where a moof lies in the file, bytes.
  struct Fragment {
    std::int64_t offset;
    std::uint64_t size;
  };

  bool hasHeader() const { return !header_.empty(); }
  std::int64_t headerOffset() const { return headerOffset_; }
  std::uint64_t headerSize() const { return header_.size(); }
  const std::vector<Fragment>& fragments() const { return moofs_; }
  std::size_t sampleCount() const { return sizes_.size(); }

  // The complete moov: the header's boxes with full sample tables for every sample added, 64-bit
  // chunk offsets where an offset passes 4 GiB, durations and an edit list over the whole track.
  // Each sample lasts until the next one's decoding time; the last one as its fragment said. The
  // movie's time scale is the track's, so durations stay exact. Empty when there is no sample.
  std::vector<std::uint8_t> completeMoov() const;

 private:
  struct Chunk {
    std::int64_t offset;      // bytes into the file
    std::int64_t decodeTime;  // of its first sample, track time scale
    std::uint32_t samples;
  };
  struct Defaults {
    std::uint32_t duration = 0, size = 0, flags = 0;
  };

  bool addRun(mp4::Bytes trun, std::int64_t base, const Defaults& defaults,
              std::int64_t& decodeTime, std::int64_t& dataEnd);
  void writeTrack(mp4::BoxWriter& w, mp4::Bytes trak) const;
  void writeSampleTables(mp4::BoxWriter& w, mp4::Bytes stbl) const;
  std::vector<std::uint32_t> durations() const;

  std::vector<std::uint8_t> header_;  // the initial moov
  std::int64_t headerOffset_ = 0;
  std::uint32_t trackId_ = 0;
  std::uint32_t timeScale_ = 0;  // the track's
  Defaults trex_;
  std::int64_t nextDecodeTime_ = 0;  // where a fragment without its own decode time starts

  std::vector<Chunk> chunks_;
  std::vector<std::uint32_t> sizes_;
  std::vector<std::uint32_t> runDurations_;  // as the fragments give them
  std::vector<std::int32_t> compositionOffsets_;
  bool anyCompositionOffset_ = false;
  std::vector<std::uint32_t> syncSamples_;  // 1-based
  std::vector<Fragment> moofs_;
};

}  // namespace kestrova::ffmpeg
