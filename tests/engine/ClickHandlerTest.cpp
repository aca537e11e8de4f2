// The click monitor's handler as a recorder wires it: read, convert, post; nothing once gone.
#include "ClickHandler.h"

#include <gtest/gtest.h>

#include "FramePipeline.h"
#include "SerialQueue.h"
#include "fakes/FakeClickMonitor.h"
#include "fakes/FakeWriterInput.h"

namespace kestrova {
namespace {

using testing::FakeClock;
using testing::FakePointer;

class CountingPointer final : public PointerSource {
 public:
  Point mouseLocation() override {
    ++reads;
    return location;
  }
  Point location;
  int reads = 0;
};

// Stands in for the recorder: the pipeline is declared before the queue, so the queue drains first.
struct FakeRecorder {
  explicit FakeRecorder(PointerSource& pointer, HostClock& clock, const RecorderConfig& cfg)
      : pipeline(cfg, pointer, clock), queue("kestrova.samples") {}
  FramePipeline pipeline;
  SerialQueue queue;
};

RecorderConfig config() {
  RecorderConfig cfg;
  cfg.screenFrame = Rect{{100, 50}, {800, 600}};  // desktop points, y up
  cfg.scale = 2;
  cfg.clickIndicator = true;
  return cfg;
}

TEST(ClickHandler, PostsThePressInCapturePixelsWithTheHostTimeToTheSampleQueue) {
  CountingPointer pointer;
  FakeClock clock;
  const RecorderConfig cfg = config();
  auto recorder = std::make_shared<FakeRecorder>(pointer, clock, cfg);
  const ClickHandler handler = makeClickHandler(
      recorder, {&recorder->queue, &recorder->pipeline, &pointer, &clock, cfg.screenFrame, 2});

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
    pointer.location = c.desktop;
    clock.time = c.t;
    handler();
  }
  std::vector<Click> clicks;
  recorder->queue.sync([&] { clicks = recorder->pipeline.clicks(); });
  ASSERT_EQ(clicks.size(), std::size(cases));
  for (std::size_t i = 0; i < clicks.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(clicks[i].t, cases[i].t);
    EXPECT_EQ(clicks[i].p, cases[i].capture);
  }
}

TEST(ClickHandler, DoesNothingOnceTheRecorderIsGone) {
  CountingPointer pointer;
  FakeClock clock;
  const RecorderConfig cfg = config();
  auto recorder = std::make_shared<FakeRecorder>(pointer, clock, cfg);
  const ClickHandler handler = makeClickHandler(
      recorder, {&recorder->queue, &recorder->pipeline, &pointer, &clock, cfg.screenFrame, 2});
  const std::weak_ptr<FakeRecorder> weak = recorder;
  recorder.reset();
  EXPECT_TRUE(weak.expired()) << "the handler keeps no strong reference";
  handler();  // with ASan, touching the gone queue or pipeline would fail here
  EXPECT_EQ(pointer.reads, 0);
  EXPECT_EQ(clock.reads, 0);
}

TEST(ClickHandler, MonitorIsInstalledOnlyWithTheIndicatorOnAndRemovedWithItsToken) {
  CountingPointer pointer;
  FakeClock clock;
  const RecorderConfig cfg = config();
  auto recorder = std::make_shared<FakeRecorder>(pointer, clock, cfg);
  const ClickRoute route{&recorder->queue, &recorder->pipeline, &pointer,
                         &clock,           cfg.screenFrame,     2};
  const auto clickCount = [&] {
    std::size_t n = 0;
    recorder->queue.sync([&] { n = recorder->pipeline.clicks().size(); });
    return n;
  };

  testing::FakeClickMonitor monitor;
  EXPECT_EQ(installClickMonitor(false, monitor, recorder, route), nullptr);
  EXPECT_EQ(monitor.installs, 0);

  auto token = installClickMonitor(true, monitor, recorder, route);
  ASSERT_TRUE(token);
  monitor.press();
  EXPECT_EQ(clickCount(), 1u);
  token.reset();
  monitor.press();
  EXPECT_EQ(clickCount(), 1u) << "no press reaches a removed monitor";

  testing::FakeClickMonitor none;
  none.available = false;
  EXPECT_EQ(installClickMonitor(true, none, recorder, route), nullptr);
  EXPECT_EQ(none.installs, 1);
}

}  // namespace
}  // namespace kestrova
