// The click monitor's handler as a recorder wires it: read, convert, post; nothing once gone.
#include "ClickHandler.h"

#include <gtest/gtest.h>

#include "FramePipeline.h"
#include "SerialQueue.h"
#include "fakes/FakeWriterInput.h"

namespace kestrova {
namespace {

// Stands in for the recorder: the pipeline is declared before the queue, so the queue drains first.
struct Target {
  Target(PointerSource& pointer, HostClock& clock, const RecorderConfig& cfg)
      : pipeline(cfg, pointer, clock), queue("kestrova.samples") {}
  FramePipeline pipeline;
  SerialQueue queue;
};

// A recorder's click handler for a display at (100, 50) of 800×600 points, 2 pixels per point.
struct Rig {
  Rig() {
    cfg.screenFrame = {{100, 50}, {800, 600}};  // desktop points, y up
    target = std::make_shared<Target>(pointer, clock, cfg);
    handler = makeClickHandler(
        target, {&target->queue, &target->pipeline, &pointer, &clock, cfg.screenFrame, 2});
  }
  std::vector<Click> clicks() {
    std::vector<Click> c;
    target->queue.sync([&] { c = target->pipeline.clicks(); });
    return c;
  }

  testing::FakePointer pointer;
  testing::FakeClock clock;
  RecorderConfig cfg;
  std::shared_ptr<Target> target;
  ClickHandler handler;
};

TEST(ClickHandler, PostsThePressInCapturePixelsWithTheHostTimeToTheSampleQueue) {
  Rig r;
  struct Case {
    Point desktop;
    double t;
    Point capture;
  };
  const Case cases[] = {
      {{150, 350}, 12.5, {100, 600}},     // (150 − 100) × 2, (650 − 350) × 2
      {{100, 650}, 12.75, {0, 0}},        // top-left corner of the display
      {{1000, 700}, 13.0, {1800, -100}},  // beyond the display: kept, drawn off frame
  };
  for (const Case& c : cases) {
    r.pointer.location = c.desktop;
    r.clock.time = c.t;
    r.handler();
  }
  const auto seen = r.clicks();
  ASSERT_EQ(seen.size(), std::size(cases));
  for (std::size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(seen[i].t, cases[i].t);
    EXPECT_EQ(seen[i].p, cases[i].capture);
  }
}

TEST(ClickHandler, DoesNothingOnceTheRecorderIsGone) {
  Rig r;
  const std::weak_ptr<Target> weak = r.target;
  r.target.reset();
  EXPECT_TRUE(weak.expired()) << "the handler keeps no strong reference";
  r.handler();  // with ASan, touching the gone queue or pipeline would fail here
  EXPECT_EQ(r.pointer.reads, 0);
  EXPECT_EQ(r.clock.reads, 0);
}

}  // namespace
}  // namespace kestrova
