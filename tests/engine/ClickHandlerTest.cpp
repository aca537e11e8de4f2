// The click monitor's handler as a recorder wires it: read, convert, post; nothing once gone.
#include "ClickHandler.h"

#include <gtest/gtest.h>

#include "FramePipeline.h"
#include "SerialQueue.h"
#include "fakes/FakeWriterInput.h"

namespace kestrova {
namespace {

// A display at (100, 50) of 800×600 desktop points, y up, at 2 pixels per point.
TEST(ClickHandler, PostsThePressInCapturePixelsWithTheHostTimeUntilTheRecorderIsGone) {
  testing::FakePointer pointer;
  testing::FakeClock clock;
  const Rect display{{100, 50}, {800, 600}};
  FramePipeline pipeline({}, pointer, clock);
  SerialQueue queue("kestrova.samples");  // drains before the pipeline goes
  auto recorder = std::make_shared<int>();
  const ClickHandler handler =
      makeClickHandler(recorder, {&queue, &pipeline, &pointer, &clock, display, 2});
  pointer.location = {150, 350};
  clock.time = 12.5;
  handler();
  std::vector<Click> seen;
  queue.sync([&] { seen = pipeline.clicks(); });
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].t, 12.5);
  EXPECT_EQ(seen[0].p, (Point{100, 600})) << "(150 − 100) × 2, (650 − 350) × 2";
  recorder.reset();
  handler();
  EXPECT_EQ(pointer.reads, 1) << "nothing read once the recorder is gone";
}

}  // namespace
}  // namespace kestrova
