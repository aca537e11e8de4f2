// The output timeline and the drop rules of the frame pipeline, with fake ports.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "FramePipeline.h"
#include "fakes/FakeCapture.h"
#include "fakes/FakeWriterInput.h"

namespace kestrova {
namespace {

using testing::FakeClock;
using testing::FakeImage;
using testing::FakePointer;
using testing::FakeSample;
using testing::FakeWriterInput;

constexpr int kDisplayW = 320, kDisplayH = 200, kOutW = 160, kOutH = 90;

RecorderConfig smallConfig(std::int64_t fps = 30) {
  RecorderConfig c;
  c.screenFrame = Rect{{0, 0}, {kDisplayW, kDisplayH}};
  c.scale = 1;
  c.width = kOutW;
  c.height = kOutH;
  c.fps = fps;
  c.smoothing = 0.5;
  c.deadZone = 0;
  c.clickIndicator = false;
  return c;
}

class Timeline : public ::testing::Test {
 protected:
  explicit Timeline(std::int64_t fps = 30)
      : input_(kOutW, kOutH),
        image_(kDisplayW, kDisplayH),
        pipeline_(std::make_unique<FramePipeline>(smallConfig(fps), pointer_, clock_)) {
    pointer_.location = {160, 100};
    pipeline_->installTracker(
        ViewportTracker{{kDisplayW, kDisplayH}, {kOutW, kOutH}, 0.5, 0, 0, 0, false});
    pipeline_->setWriterInput(&input_);
  }

  void frame(double pts, const std::function<void(FakeSample&)>& tweak = {}) {
    FakeSample s(pts, &image_);
    if (tweak) tweak(s);
    pipeline_->handle(s);
  }

  FakePointer pointer_;
  FakeClock clock_;
  FakeWriterInput input_;
  FakeImage image_;
  std::unique_ptr<FramePipeline> pipeline_;
};

TEST_F(Timeline, FirstCompleteFrameStartsTheTimelineAtZeroAndSnapsTheViewport) {
  pointer_.location = {20, 190};  // capture (20, 10), near the top-left corner
  frame(7.25);
  const auto& tl = pipeline_->timeline();
  ASSERT_TRUE(tl.startPTS);
  EXPECT_EQ(*tl.startPTS, 7.25);
  EXPECT_EQ(tl.lastPTS, 7.25);
  EXPECT_EQ(tl.lastTime, 0);
  EXPECT_EQ(tl.framesWritten, 1);
  EXPECT_EQ(input_.times, (std::vector<std::int64_t>{0}));
  EXPECT_EQ(pipeline_->tracker()->cx, 80);  // snapped onto the pointer, then clamped
  EXPECT_EQ(pipeline_->tracker()->cy, 45);
}

TEST_F(Timeline, OutputTimesFollowCaptureTimesInUnitsOf6000) {
  for (double pts : {1.0, 1.0 + 1.0 / 30, 1.0 + 2.0 / 30, 1.5, 1.5 + 1.0 / 60}) frame(pts);
  EXPECT_EQ(input_.times, (std::vector<std::int64_t>{0, 200, 400, 3000, 3100}));
}

TEST_F(Timeline, FrameWithTheSameCaptureTimeIsDropped) {
  frame(2.0);
  frame(2.0);
  EXPECT_EQ(input_.appendCalls, 1);
  EXPECT_EQ(pipeline_->timeline().framesWritten, 1);
}

TEST_F(Timeline, PauseIsCutOutOnTheFirstFrameAfterResume) {
  frame(0.0);
  frame(10.0);
  pipeline_->setPaused(true);
  frame(12.0);
  frame(20.0);
  EXPECT_EQ(pipeline_->timeline().lastPTS, 10.0);  // frames during the pause touch nothing
  pipeline_->setPaused(false);
  EXPECT_TRUE(pipeline_->timeline().needsOffset);
  frame(25.0);

  const auto& tl = pipeline_->timeline();
  EXPECT_NEAR(tl.offset, 15.0 - 1.0 / 30, 1e-9);
  EXPECT_FALSE(tl.needsOffset);
  EXPECT_NEAR(tl.lastTime, 10.0 + 1.0 / 30, 1e-9);
  EXPECT_EQ(input_.times.back(), 60200);
  EXPECT_EQ(tl.framesWritten, 3);
}

TEST_F(Timeline, ResumeSoonerThanOneFrameIntervalCutsNothing) {
  frame(0.0);
  frame(10.0);
  pipeline_->setPaused(true);
  pipeline_->setPaused(false);
  frame(10.02);
  EXPECT_EQ(pipeline_->timeline().offset, 0);
  EXPECT_NEAR(pipeline_->timeline().lastTime, 10.02, 1e-12);
}

TEST_F(Timeline, ResumeWithoutPauseClosesNoGapAndRepeatedPausesCloseOne) {
  frame(0.0);
  pipeline_->setPaused(false);
  EXPECT_FALSE(pipeline_->timeline().needsOffset);

  pipeline_->setPaused(true);
  pipeline_->setPaused(true);
  pipeline_->setPaused(false);
  frame(5.0);
  EXPECT_NEAR(pipeline_->timeline().offset, 5.0 - 1.0 / 30, 1e-9);
  frame(6.0);  // later frames are not shifted again
  EXPECT_NEAR(pipeline_->timeline().offset, 5.0 - 1.0 / 30, 1e-9);
}

TEST_F(Timeline, FramesRefusedForBackPressureDoNotAdvanceTheTracker) {
  frame(1.0);
  input_.ready = false;
  pointer_.location = {300, 100};
  const double cx = pipeline_->tracker()->cx;
  for (double pts : {1.1, 1.2, 1.3}) frame(pts);
  EXPECT_EQ(pipeline_->tracker()->cx, cx);
  EXPECT_EQ(input_.appendCalls, 1);

  input_.ready = true;
  frame(2.0);  // eases with dt capped at 0.1 s, not 0.7 s
  auto expected = ViewportTracker{{kDisplayW, kDisplayH}, {kOutW, kOutH}, 0.5, 0, cx, 45, true};
  expected.update({300, 100}, 0.1);
  EXPECT_DOUBLE_EQ(pipeline_->tracker()->cx, expected.cx);
}

// For each reason a frame is dropped, exactly which fields it may change.
TEST(FramePipelineDrops, EachReasonChangesOnlyItsFields) {
  struct Case {
    const char* reason;
    std::function<void(FakeSample&, FakeWriterInput&, FramePipeline&)> arrange;
    bool primeFirst;  // a frame at 1.0 was written before
    double pts;
    bool startSet, trackerAdvanced, lastPTSUpdated;
  };
  const Case cases[] = {
      {"not screen output", [](auto& s, auto&, auto&) { s.type = SampleOutputType::audio; }, false,
       1.5, false, false, false},
      {"invalid", [](auto& s, auto&, auto&) { s.valid = false; }, false, 1.5, false, false, false},
      {"status idle", [](auto& s, auto&, auto&) { s.status = AttachmentValue{std::int64_t{1}}; },
       false, 1.5, false, false, false},
      {"no status", [](auto& s, auto&, auto&) { s.status.reset(); }, false, 1.5, false, false,
       false},
      {"status not an integer", [](auto& s, auto&, auto&) { s.status = AttachmentValue{0.0}; },
       false, 1.5, false, false, false},
      {"paused", [](auto&, auto&, auto& p) { p.setPaused(true); }, false, 1.5, false, false, false},
      {"not later than the last frame", [](auto&, auto&, auto&) {}, true, 0.9, true, false, true},
      {"no writer input", [](auto&, auto&, auto& p) { p.setWriterInput(nullptr); }, false, 1.5,
       true, false, true},
      {"input not ready", [](auto&, auto& in, auto&) { in.ready = false; }, true, 1.5, true, false,
       true},
      {"no pool", [](auto&, auto& in, auto&) { in.hasPool = false; }, true, 1.5, true, false, true},
      {"no output buffer", [](auto&, auto& in, auto&) { in.pool().exhausted = true; }, true, 1.5,
       true, true, true},
      {"refused by the encoder", [](auto&, auto& in, auto&) { in.refuse = true; }, true, 1.5, true,
       true, true},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    FakePointer pointer;
    FakeClock clock;
    FakeWriterInput input(kOutW, kOutH);
    FakeImage image(kDisplayW, kDisplayH);
    FramePipeline pipeline(smallConfig(), pointer, clock);
    pipeline.installTracker(
        ViewportTracker{{kDisplayW, kDisplayH}, {kOutW, kOutH}, 0.5, 0, 0, 0, false});
    pipeline.setWriterInput(&input);
    pointer.location = {100, 100};
    if (c.primeFirst) {
      FakeSample first(1.0, &image);
      pipeline.handle(first);
    }
    pointer.location = {250, 60};  // a tracker step would move the centre

    const auto before = pipeline.timeline();
    const auto trackerBefore = *pipeline.tracker();
    const auto poolBefore = input.pool().available();
    FakeSample s(c.pts, &image);
    c.arrange(s, input, pipeline);
    pipeline.handle(s);
    const auto& after = pipeline.timeline();

    EXPECT_EQ(after.framesWritten, before.framesWritten);
    EXPECT_EQ(after.lastTime, before.lastTime);
    EXPECT_EQ(after.offset, before.offset);
    EXPECT_EQ(after.startPTS.has_value(), c.primeFirst || c.startSet);
    EXPECT_EQ(after.lastPTS, c.lastPTSUpdated ? c.pts : before.lastPTS);
    const bool advanced = pipeline.tracker()->cx != trackerBefore.cx ||
                          pipeline.tracker()->started != trackerBefore.started;
    EXPECT_EQ(advanced, c.trackerAdvanced);
    EXPECT_EQ(input.pool().available(), poolBefore) << "a dropped frame's buffer goes back";
  }
}

TEST(FramePipelineDrops, WithoutATrackerTheTimelineStartsButNothingIsRendered) {
  FakePointer pointer;
  FakeClock clock;
  FakeWriterInput input(kOutW, kOutH);
  FakeImage image(kDisplayW, kDisplayH);
  FramePipeline pipeline(smallConfig(), pointer, clock);
  pipeline.setWriterInput(&input);
  FakeSample s(3.0, &image);
  pipeline.handle(s);
  EXPECT_EQ(pipeline.timeline().startPTS, 3.0);
  EXPECT_EQ(pipeline.timeline().lastPTS, 3.0);
  EXPECT_EQ(pipeline.timeline().framesWritten, 0);
  EXPECT_EQ(input.appendCalls, 0);
  EXPECT_EQ(image.fetches, 0);
}

}  // namespace
}  // namespace kestrova
