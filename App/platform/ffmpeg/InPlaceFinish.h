#pragma once

#include <cstdint>
#include <functional>

#include "FragmentIndex.h"

namespace kestrova::ffmpeg {

// Moments of finishing in place at which a test may stop the process (to kill it there).
enum class FinishPoint {
  beforeIndex,           // nothing written yet
  indexHalfWritten,      // half of the complete moov appended
  indexWritten,          // the complete moov on the disk; the file still plays as fragmented
  fragmentsHidden,       // one free box spans from the initial moov to the complete one
  fragmentsHalfRetired,  // half of the moofs are free boxes
  fragmentsRetired       // every moof is a free box
};
// Called at each point, on the writer's thread. For tests only; empty by default.
void setFinishHookForTesting(std::function<void(FinishPoint)> hook);

// Turns the fragmented MP4 on `fd`, `size` bytes of whole fragments described by `index`, into a
// regular MP4 without moving its samples: the complete moov is appended, and the initial moov and
// each moof become free boxes (only their headers are rewritten). Every state on the way plays.
// Readers take the first moov they meet and refuse a moof whose track no earlier moov announced,
// so the switch from the fragments to the complete index is one header write: the initial moov
// becomes a free box that spans every fragment, up to the complete moov. Under its cover the
// moofs are retired, and last it shrinks back to its own size. Each step is on the disk before
// the next one starts.
//
// Returns 0, or the errno of a failed write; the file is then fragmented (a partly appended moov
// is cut off again) or already regular, and plays either way.
int finishInPlace(int fd, std::int64_t size, const FragmentIndex& index);

}  // namespace kestrova::ffmpeg
