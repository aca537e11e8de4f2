#include "FrameDrops.h"

#include <numeric>

namespace kestrova {

const char* dropReasonText(DropReason reason) {
  switch (reason) {
    case DropReason::notScreen:
      return "not screen";
    case DropReason::invalid:
      return "invalid";
    case DropReason::incomplete:
      return "incomplete";
    case DropReason::noImage:
      return "no image";
    case DropReason::paused:
      return "paused";
    case DropReason::notLater:
      return "not later";
    case DropReason::noWriter:
      return "no writer";
    case DropReason::encoderBusy:
      return "encoder busy";
    case DropReason::noPool:
      return "no pool";
    case DropReason::noBuffer:
      return "no buffer";
    case DropReason::unusable:
      return "unusable";
    case DropReason::refused:
      return "refused";
  }
  return "unknown";
}

std::uint64_t FrameDrops::total() const {
  return std::accumulate(counts_.begin(), counts_.end(), std::uint64_t{0});
}

std::string frameReportLine(const FrameReport& report) {
  std::string line = std::to_string(report.written) + " frames written, " +
                     std::to_string(report.skippedInCapture) + " skipped in capture, " +
                     std::to_string(report.dropped.total()) + " dropped";
  const char* separator = " (";
  for (std::size_t i = 0; i < kDropReasonCount; ++i) {
    const auto reason = static_cast<DropReason>(i);
    if (report.dropped[reason] == 0) continue;
    line += separator + std::to_string(report.dropped[reason]) + " " + dropReasonText(reason);
    separator = ", ";
  }
  if (report.dropped.total() > 0) line += ")";
  return line;
}

}  // namespace kestrova
