// The line a recorder logs at stop; what the pipeline counts is in FramePipelineTest's drop table.
#include "FrameDrops.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

TEST(FrameDrops, TheLineAtStopNamesOnlyTheReasonsThatOccurred) {
  FrameReport none;
  none.written = 300;
  FrameReport some = none;
  some.skippedInCapture = 2;
  for (int i = 0; i < 5; ++i) some.dropped.count(DropReason::paused);
  some.dropped.count(DropReason::encoderBusy);

  EXPECT_EQ(frameReportLine(none), "300 frames written, 0 skipped in capture, 0 dropped");
  EXPECT_EQ(frameReportLine(some),
            "300 frames written, 2 skipped in capture, 6 dropped (5 paused, 1 encoder busy)");
}

}  // namespace
}  // namespace kestrova
