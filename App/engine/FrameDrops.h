#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrova {

// Why the frame pipeline let a captured sample go without writing it. The first four are samples
// that never carried a new picture; the rest had one.
enum class DropReason {
  notScreen,    // not a screen sample
  invalid,      // no sample, or one the capture marked invalid
  incomplete,   // its status is not "complete"
  noImage,      // no image buffer
  paused,       // arrived while paused
  notLater,     // would not advance the output time
  noWriter,     // no tracker or writer input (before set-up, after stop)
  encoderBusy,  // the encoder's queue was full
  noPool,       // the writer offered no output buffers
  noBuffer,     // every output buffer was in use
  unusable,     // the viewport's pixels could not be read or converted
  refused,      // the encoder refused the frame
};
inline constexpr std::size_t kDropReasonCount = static_cast<std::size_t>(DropReason::refused) + 1;

// A few words for the log: "encoder busy".
const char* dropReasonText(DropReason reason);

// Dropped samples by reason. Not thread-safe: it lives where the pipeline that counts lives.
class FrameDrops {
 public:
  void count(DropReason reason) { ++counts_[static_cast<std::size_t>(reason)]; }
  std::uint64_t operator[](DropReason reason) const {
    return counts_[static_cast<std::size_t>(reason)];
  }
  std::uint64_t total() const;

 private:
  std::array<std::uint64_t, kDropReasonCount> counts_{};
};

// What became of a recording's frames: told once, at stop.
struct FrameReport {
  std::int64_t written = 0;            // frames the encoder accepted
  std::uint64_t skippedInCapture = 0;  // never delivered: the pipeline was behind
  FrameDrops dropped;                  // delivered but not written
};

// One line: "300 frames written, 2 skipped in capture, 6 dropped (5 paused, 1 encoder busy)";
// the reasons that did not occur are left out.
std::string frameReportLine(const FrameReport& report);

}  // namespace kestrova
