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
  c.clickIndicator = true;
  return c;
}

std::optional<PremultipliedImage> whiteSquare() {
  return PremultipliedImage{8, 8, std::vector<std::uint8_t>(8 * 8 * 4, 255)};
}

// A pipeline at 30 fps over a 320×200 display with a 160×90 output, the pointer in the middle.
struct Rig {
  Rig()
      : input_(kOutW, kOutH),
        image_(kDisplayW, kDisplayH),
        pipeline_(std::make_unique<FramePipeline>(smallConfig(), pointer_, clock_, whiteSquare)) {
    pointer_.location = {160, 100};
    pipeline_->installTracker(
        ViewportTracker{{kDisplayW, kDisplayH}, {kOutW, kOutH}, 0.5, 0, 0, 0, false});
    pipeline_->setWriterInput(&input_);
    pipeline_->setFrameRequester([this] { ++requests_; });
  }

  void frame(double pts, const std::function<void(FakeSample&)>& tweak = {}) {
    auto s = std::make_shared<FakeSample>(pts, &image_);
    if (tweak) tweak(*s);
    pipeline_->handle(s);
  }

  FakePointer pointer_;
  FakeClock clock_;
  FakeWriterInput input_;
  FakeImage image_;
  std::unique_ptr<FramePipeline> pipeline_;
  int requests_ = 0;  // frames the pipeline asked the capture for
};

class Timeline : public ::testing::Test, public Rig {};

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

// A pause cuts the paused time as the clock measured it, but never brings the next frame closer
// than one interval to the last one before the pause. Still time around the pause stays.
TEST_F(Timeline, APauseCutsThePausedTimeAndNothingElse) {
  struct Case {
    const char* name;
    double lastFrame, pausedAt, resumedAt, nextFrame;
    double nextTime;  // output time of the next frame
  };
  const Case cases[] = {
      {"the screen changes throughout", 10.0, 10.0, 25.0, 25.0, 10.0 + 1.0 / 30},
      {"still before the pause and after the resume", 10.0, 14.0, 16.0, 19.0, 17.0},
      {"resumed sooner than one interval", 10.0, 10.0, 10.0, 10.02, 10.02},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig t;
    t.frame(0.0);
    t.frame(c.lastFrame);
    t.clock_.time = c.pausedAt;
    t.pipeline_->setPaused(true);
    t.frame(c.pausedAt + 0.5);
    EXPECT_EQ(t.pipeline_->timeline().lastPTS, c.lastFrame) << "frames while paused touch nothing";
    t.clock_.time = c.resumedAt;
    t.pipeline_->setPaused(false);
    EXPECT_TRUE(t.pipeline_->timeline().needsOffset);
    t.frame(c.nextFrame);

    const auto& tl = t.pipeline_->timeline();
    EXPECT_FALSE(tl.needsOffset);
    EXPECT_NEAR(tl.lastTime, c.nextTime, 1e-9);
    EXPECT_EQ(t.input_.times.back(), std::llround(c.nextTime * 6000));
    EXPECT_EQ(tl.framesWritten, 3);
  }
}

TEST_F(Timeline, ResumeWithoutPauseClosesNoGapAndRepeatedPausesCloseOne) {
  frame(0.0);
  pipeline_->setPaused(false);
  EXPECT_FALSE(pipeline_->timeline().needsOffset);

  pipeline_->setPaused(true);
  clock_.time = 2.0;
  pipeline_->setPaused(true);  // the pause still began at 0
  clock_.time = 5.0;
  pipeline_->setPaused(false);
  frame(5.0);
  EXPECT_NEAR(pipeline_->timeline().offset, 5.0 - 1.0 / 30, 1e-9);
  frame(6.0);  // later frames are not shifted again
  EXPECT_NEAR(pipeline_->timeline().offset, 5.0 - 1.0 / 30, 1e-9);
}

// At stop the last image is shown once more, so the video lasts until the stop, or until the pause
// it ends in, however long ago the screen last changed.
TEST_F(Timeline, TheVideoLastsUntilTheStopOrThePauseItEndsIn) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> act;  // after a frame at 1.0 and before stop at 9.0
    std::vector<std::int64_t> times;
  };
  const Case cases[] = {
      {"still since the first frame", [](Rig&) {}, {0, 48000 - 200}},
      {"a change just before the stop",
       [](Rig& t) { t.frame(8.99); },
       {0, 47940}},  // that frame already lasts until the stop
      {"stopped while paused",
       [](Rig& t) {
         t.clock_.time = 4.0;
         t.pipeline_->setPaused(true);
       },
       {0, 18000 - 200}},
      {"paused, resumed, still until the stop",
       [](Rig& t) {
         t.clock_.time = 4.0;
         t.pipeline_->setPaused(true);
         t.clock_.time = 6.0;
         t.pipeline_->setPaused(false);
       },
       {0, 36000 - 200}},
      {"paused, resumed, a change, still until the stop",
       [](Rig& t) {
         t.clock_.time = 4.0;
         t.pipeline_->setPaused(true);
         t.clock_.time = 6.0;
         t.pipeline_->setPaused(false);
         t.frame(7.0);
       },
       {0, 24000, 36000 - 200}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig t;
    t.frame(1.0);
    c.act(t);
    t.pipeline_->finishAt(9.0);
    EXPECT_EQ(t.input_.times, c.times);
    EXPECT_EQ(t.pipeline_->timeline().framesWritten, static_cast<std::int64_t>(c.times.size()));
  }
}

// Frames come from the capture on a change; beyond that the pipeline asks for one more while the
// picture would change by itself, and for nothing once it would not.
TEST_F(Timeline, AsksForFramesOnlyWhileThePictureWouldStillChange) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> act;  // after a first frame, the camera at rest
    int requests;
  };
  const Case cases[] = {
      {"all still", [](Rig& t) { t.frame(1.1); }, 0},
      {"the camera eases after the pointer",
       [](Rig& t) {
         t.pointer_.location = {300, 100};
         t.frame(1.1);
       },
       1},
      {"a click shows a ring",
       [](Rig& t) {
         t.clock_.time = 1.1;
         t.pipeline_->appendClick(1.1, {80, 45});
         t.frame(1.1);
       },
       2},
      {"the ring has faded",
       [](Rig& t) {
         t.pipeline_->appendClick(1.0, {80, 45});
         t.clock_.time = 1.5;
         t.frame(1.5);
       },
       1},  // for the click; the frame after it shows no ring and needs no other
      {"paused while easing",
       [](Rig& t) {
         t.pointer_.location = {300, 100};
         t.pipeline_->setPaused(true);
         t.frame(1.1);
         t.pipeline_->appendClick(1.1, {80, 45});
       },
       0},
      {"resumed while easing",
       [](Rig& t) {
         t.pointer_.location = {300, 100};
         t.frame(1.1);
         t.pipeline_->setPaused(true);
         t.pipeline_->setPaused(false);
       },
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig t;
    t.frame(1.0);
    ASSERT_EQ(t.requests_, 0) << "a camera that snapped onto a still pointer is at rest";
    c.act(t);
    EXPECT_EQ(t.requests_, c.requests);
  }
}

// A frame asked for only because of the camera or a ring, on a screen that did not change,
// fetches just the viewport's pixels when the camera moved, and nothing when it did not.
TEST_F(Timeline, FramesOnAStillScreenFetchOnlyWhenTheCameraMoved) {
  frame(1.0);
  ASSERT_EQ(image_.fetches, 1);
  const auto unchanged = [](FakeSample& s) { s.unchanged = true; };

  pipeline_->appendClick(1.0, {80, 45});
  frame(1.1, unchanged);
  EXPECT_EQ(image_.fetches, 1) << "a ring over the same pixels";

  pipeline_->setPaused(true);
  frame(1.2);  // the screen changed while paused
  pipeline_->setPaused(false);
  frame(1.3, unchanged);
  EXPECT_EQ(image_.fetches, 2);

  pointer_.location = {300, 100};
  frame(1.4);
  frame(1.5, unchanged);
  EXPECT_EQ(image_.fetches, 4) << "the camera glides on over a still screen";
  EXPECT_EQ(input_.times.size(), 5u);
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

// For each reason a frame is dropped, exactly which fields it may change, and whether the
// pipeline asks the capture for another frame.
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
    int requests = 0;
    pipeline.setFrameRequester([&] { ++requests; });
    pointer.location = {100, 100};
    if (c.primeFirst) pipeline.handle(std::make_shared<FakeSample>(1.0, &image));
    pointer.location = {250, 60};  // a tracker step would move the centre

    const auto before = pipeline.timeline();
    const auto trackerBefore = *pipeline.tracker();
    const auto poolBefore = input.pool().available();
    auto s = std::make_shared<FakeSample>(c.pts, &image);
    c.arrange(*s, input, pipeline);
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
    // Once a frame counts on the timeline, dropping it leaves the video behind the screen.
    EXPECT_EQ(requests, c.lastPTSUpdated ? 1 : 0);
  }
}

TEST(FramePipelineDrops, WithoutATrackerTheTimelineStartsButNothingIsRendered) {
  FakePointer pointer;
  FakeClock clock;
  FakeWriterInput input(kOutW, kOutH);
  FakeImage image(kDisplayW, kDisplayH);
  FramePipeline pipeline(smallConfig(), pointer, clock);
  pipeline.setWriterInput(&input);
  pipeline.handle(std::make_shared<FakeSample>(3.0, &image));
  EXPECT_EQ(pipeline.timeline().startPTS, 3.0);
  EXPECT_EQ(pipeline.timeline().lastPTS, 3.0);
  EXPECT_EQ(pipeline.timeline().framesWritten, 0);
  EXPECT_EQ(input.appendCalls, 0);
  EXPECT_EQ(image.fetches, 0);
}

}  // namespace
}  // namespace kestrova
