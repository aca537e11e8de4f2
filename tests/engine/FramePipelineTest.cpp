// The frame pipeline with fake ports: the output timeline, the drop rules, when it asks for frames,
// and what it renders.
#include "FramePipeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "PipelineRig.h"

namespace kestrova {
namespace {

using testing::FakeSample;
using testing::FakeWriterInput;
using testing::pipelineConfig;
using testing::PipelineRig;

std::optional<PremultipliedImage> whiteSquare() {
  return PremultipliedImage{8, 8, std::vector<std::uint8_t>(8 * 8 * 4, 255)};
}

// 30 fps over a 320×200 display with a 160×90 output, the pointer in the middle.
struct SmallRig : PipelineRig {
  SmallRig() : PipelineRig(pipelineConfig(320, 200, 160, 90), {160, 90}, {}, whiteSquare) {
    pointer.location = {160, 100};
  }
};
class Timeline : public ::testing::Test, public SmallRig {};

TEST_F(Timeline, OutputTimesCountFromTheFirstFrameInUnitsOf6000) {
  for (double pts : {0.0, 1.0 / 30, 2.0 / 30, 0.5, 0.5 + 1.0 / 60}) frame(7.25 + pts);
  EXPECT_EQ(input.times, (std::vector<std::int64_t>{0, 200, 400, 3000, 3100}));
  EXPECT_EQ(pipeline.timeline().framesWritten, 5);
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
    SmallRig t;
    t.frame(0.0);
    t.frame(c.lastFrame);
    t.clock.time = c.pausedAt;
    t.pipeline.setPaused(true);
    t.frame(c.pausedAt + 0.5);  // frames while paused touch nothing
    t.clock.time = c.resumedAt;
    t.pipeline.setPaused(false);
    t.frame(c.nextFrame);
    EXPECT_EQ(t.input.times, (std::vector<std::int64_t>{0, std::llround(c.lastFrame * 6000),
                                                        std::llround(c.nextTime * 6000)}));
  }
}

TEST_F(Timeline, ResumeWithoutPauseClosesNoGapAndRepeatedPausesCloseOne) {
  frame(0.0);
  clock.time = 0.5;
  pipeline.setPaused(false);
  frame(1.0);
  pipeline.setPaused(true);
  clock.time = 2.0;
  pipeline.setPaused(true);  // the pause still began at 0.5
  clock.time = 5.0;
  pipeline.setPaused(false);
  frame(5.0);
  frame(6.0);  // later frames are not shifted again, nor the end
  pipeline.finishAt(8.0);
  EXPECT_EQ(input.times, (std::vector<std::int64_t>{0, 6000, 6200, 12200, 24000}));
}

// Steps a table row takes on a rig.
using Step = std::function<void(SmallRig&)>;
Step frameAt(double pts) {
  return [=](SmallRig& t) { t.frame(pts); };
}
Step clockAt(double seconds) {
  return [=](SmallRig& t) { t.clock.time = seconds; };
}
Step clickAt(double seconds) {
  return [=](SmallRig& t) { t.pipeline.appendClick(seconds, {80, 45}); };
}
const Step pause = [](SmallRig& t) { t.pipeline.setPaused(true); };
const Step resume = [](SmallRig& t) { t.pipeline.setPaused(false); };
const Step move = [](SmallRig& t) { t.pointer.location = {300, 100}; };

// At stop the last image is shown once more, so the video lasts until the stop, or until the pause
// it ends in, however long ago the screen last changed.
TEST_F(Timeline, TheVideoLastsUntilTheStopOrThePauseItEndsIn) {
  struct Case {
    const char* name;
    std::vector<Step> steps;  // after a frame at 1.0 and before stop at 9.0
    std::vector<std::int64_t> times;
  };
  const Case cases[] = {
      {"still since the first frame", {}, {0, 48000 - 200}},
      {"a change just before the stop", {frameAt(8.99)}, {0, 47940}},
      {"stopped while paused", {clockAt(4), pause}, {0, 18000 - 200}},
      {"paused, resumed, still until the stop",
       {clockAt(4), pause, clockAt(6), resume},
       {0, 36000 - 200}},
      {"paused, resumed, a change, still until the stop",
       {clockAt(4), pause, clockAt(6), resume, frameAt(7.0)},
       {0, 24000, 36000 - 200}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmallRig t;
    t.frame(1.0);
    for (const Step& step : c.steps) step(t);
    t.pipeline.finishAt(9.0);
    EXPECT_EQ(t.input.times, c.times);
    EXPECT_EQ(t.pipeline.timeline().framesWritten, static_cast<std::int64_t>(c.times.size()));
  }
}

// Frames come from the capture on a change; beyond that the pipeline asks for one more while the
// picture would change by itself, and for nothing once it would not.
TEST_F(Timeline, AsksForFramesOnlyWhileThePictureWouldStillChange) {
  struct Case {
    const char* name;
    std::vector<Step> steps;  // after a first frame at 1.0, the camera at rest
    int requests;
  };
  const Case cases[] = {
      {"all still", {frameAt(1.1)}, 0},
      {"the camera eases after the pointer", {move, frameAt(1.1)}, 1},
      {"a click shows a ring", {clockAt(1.1), clickAt(1.1), frameAt(1.1)}, 2},
      // One for the click; the frame after it shows no ring and needs no other.
      {"the ring has faded", {clickAt(1.0), clockAt(1.5), frameAt(1.5)}, 1},
      {"paused while easing", {move, pause, frameAt(1.1), clickAt(1.1)}, 0},
      {"resumed while easing", {move, frameAt(1.1), pause, resume}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmallRig t;
    t.frame(1.0);
    ASSERT_EQ(t.requests, 0) << "a camera that snapped onto a still pointer is at rest";
    for (const Step& step : c.steps) step(t);
    EXPECT_EQ(t.requests, c.requests);
  }
}

// A frame asked for only because of the camera or a ring, on a screen that did not change,
// fetches just the viewport's pixels when the camera moved, and nothing when it did not.
TEST_F(Timeline, FramesOnAStillScreenFetchOnlyWhenTheCameraMoved) {
  const auto unchanged = [](FakeSample& s) { s.unchanged = true; };
  frame(1.0);
  pipeline.appendClick(1.0, {80, 45});
  frame(1.1, unchanged);
  EXPECT_EQ(image.fetches, 1) << "a ring over the same pixels";
  pipeline.setPaused(true);
  frame(1.2);  // the screen changed while paused
  pipeline.setPaused(false);
  frame(1.3, unchanged);
  EXPECT_EQ(image.fetches, 2);
  pointer.location = {300, 100};
  frame(1.4);
  frame(1.5, unchanged);
  EXPECT_EQ(image.fetches, 4) << "the camera glides on over a still screen";
  EXPECT_EQ(input.times.size(), 5u);
}

TEST_F(Timeline, FramesRefusedForBackPressureDoNotAdvanceTheCamera) {
  frame(1.0);
  input.ready = false;
  pointer.location = {300, 100};
  for (double pts : {1.1, 1.2, 1.3}) frame(pts);
  input.ready = true;
  frame(2.0);  // eases with its step capped at 0.1 s, not 0.7 s
  ViewportTracker expected{{320, 200}, {160, 90}, 0.5, 0, 160, 100, true};
  expected.update({300, 100}, 0.1);
  EXPECT_EQ(input.appendCalls, 2);
  EXPECT_DOUBLE_EQ(pipeline.tracker()->cx, expected.cx);
}

// For each reason a frame is dropped: the one count it adds, exactly which fields it may change,
// and whether the pipeline asks the capture for another frame.
TEST(FramePipelineDrops, EachReasonIsCountedAndChangesOnlyItsFields) {
  using Sample = std::shared_ptr<FakeSample>;
  struct Case {
    const char* name;
    DropReason reason;
    std::function<void(Sample&, FakeWriterInput&, FramePipeline&)> arrange;
    bool primeFirst;  // a frame at 1.0 was written before
    double pts;
    // The frame counts on the timeline: it starts it, or is the last before a pause, and the
    // video falls behind the screen when it is dropped, so another is asked for.
    bool counts = false;
    bool cameraMoved = false;
  };
  using R = DropReason;
  using S = Sample&;
  using I = FakeWriterInput&;
  using P = FramePipeline&;
  static testing::FakeImage tooSmall(80, 45);  // the viewport does not fit in it
  const Case cases[] = {
      {"no sample", R::invalid, [](S s, I, P) { s = nullptr; }, false, 1.5},
      {"not screen output", R::notScreen, [](S s, I, P) { s->type = SampleOutputType::audio; },
       false, 1.5},
      {"invalid", R::invalid, [](S s, I, P) { s->valid = false; }, false, 1.5},
      {"status idle", R::incomplete,
       [](S s, I, P) { s->status = AttachmentValue{std::int64_t{1}}; }, false, 1.5},
      {"no status", R::incomplete, [](S s, I, P) { s->status.reset(); }, false, 1.5},
      {"status not an integer", R::incomplete, [](S s, I, P) { s->status = AttachmentValue{0.0}; },
       false, 1.5},
      {"no image", R::noImage, [](S s, I, P) { s = std::make_shared<FakeSample>(1.5, nullptr); },
       false, 1.5},
      {"paused", R::paused, [](S, I, P p) { p.setPaused(true); }, false, 1.5},
      {"the same time as the last frame", R::notLater, [](S, I, P) {}, true, 1.0, true},
      {"earlier than the last frame", R::notLater, [](S, I, P) {}, true, 0.9, true},
      {"no writer input", R::noWriter, [](S, I, P p) { p.setWriterInput(nullptr); }, false, 1.5,
       true},
      {"input not ready", R::encoderBusy, [](S, I in, P) { in.ready = false; }, true, 1.5, true},
      {"no pool", R::noPool, [](S, I in, P) { in.hasPool = false; }, true, 1.5, true},
      {"no output buffer", R::noBuffer, [](S, I in, P) { in.pool().exhausted = true; }, true, 1.5,
       true, true},
      {"viewport outside the picture", R::unusable,
       [](S s, I, P) { s = std::make_shared<FakeSample>(1.5, &tooSmall); }, true, 1.5, true, true},
      {"refused by the encoder", R::refused, [](S, I in, P) { in.refuse = true; }, true, 1.5, true,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmallRig t;
    t.pointer.location = {100, 100};
    if (c.primeFirst) t.frame(1.0);
    t.pointer.location = {250, 60};  // a camera step would move the centre
    const auto before = t.pipeline.timeline();
    const auto cameraBefore = *t.pipeline.tracker();
    const auto poolBefore = t.input.pool().available();
    auto s = std::make_shared<FakeSample>(c.pts, &t.image);
    c.arrange(s, t.input, t.pipeline);
    t.pipeline.handle(s);
    const auto& after = t.pipeline.timeline();

    EXPECT_EQ(t.pipeline.drops()[c.reason], 1u);
    EXPECT_EQ(t.pipeline.drops().total(), 1u);
    EXPECT_EQ(after.framesWritten, before.framesWritten);
    EXPECT_EQ(after.lastTime, before.lastTime);
    EXPECT_EQ(after.startPTS.has_value(), c.primeFirst || c.counts);
    EXPECT_EQ(after.lastPTS, c.counts ? c.pts : before.lastPTS);
    const bool moved = t.pipeline.tracker()->cx != cameraBefore.cx ||
                       t.pipeline.tracker()->started != cameraBefore.started;
    EXPECT_EQ(moved, c.cameraMoved);
    EXPECT_EQ(t.input.pool().available(), poolBefore) << "a dropped frame's buffer goes back";
    EXPECT_EQ(t.requests, c.counts ? 1 : 0);
  }
}

// What is rendered: the right part of the display, at the right place, in the right colours.

std::uint32_t gray(int g) {
  const auto v = static_cast<std::uint32_t>(g & 0xff);
  return 0xff000000u | v << 16 | v << 8 | v;
}

// BT.601 limited-range luma of a gray level.
double lumaOf(double g) {
  return 16 + 219 * g / 255;
}

// A gray level that differs from pixel to pixel, so any misplaced pixel shows.
int hashed(int x, int y) {
  std::uint32_t h =
      static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return static_cast<int>(h >> 24);
}

TEST(FramePipelinePixels, UnscaledViewportIsCutOutExactlyAtCornersAndMiddle) {
  struct Case {
    const char* where;
    Point pointer;  // desktop points, y up
    Point origin;   // expected viewport origin, capture pixels
  };
  for (const Case& c : {Case{"top-left", {0, 400}, {0, 0}},
                        {"bottom-right", {640, 0}, {320, 220}},
                        {"top-right", {640, 400}, {320, 0}},
                        {"middle", {320, 200}, {160, 110}},
                        {"off-centre", {101, 333}, {0, 0}}}) {
    SCOPED_TRACE(c.where);
    PipelineRig r(pipelineConfig(640, 400, 320, 180), {320, 180},
                  [](int x, int y) { return gray(hashed(x, y)); });
    r.pointer.location = c.pointer;
    r.frame(1.0);
    int wrong = 0;
    for (int j = 0; j < 180; ++j) {
      for (int i = 0; i < 320; ++i) {
        const double want = lumaOf(hashed(int(c.origin.x) + i, int(c.origin.y) + j));
        if (std::abs(r.input.lastY[j * 320 + i] - want) > 1.01) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(FramePipelinePixels, UpScaledViewportFollowsTheSourceWithinTolerance) {
  // 640×400 display, 960×540 output: the viewport shrinks to 640×360 and is scaled by 1.5.
  const auto smooth = [](double x, double y) {
    return 128 + 100 * std::sin(x / 23.0) * std::cos(y / 17.0);
  };
  PipelineRig r(pipelineConfig(640, 400, 960, 540), {640, 360},
                [&](int x, int y) { return gray(int(std::lround(smooth(x, y)))); });
  r.pointer.location = {320, 150};  // the viewport's origin is (0, 40)
  r.frame(1.0);
  double worst = 0;
  for (int j = 0; j < 540; j += 3) {
    for (int i = 0; i < 960; i += 3) {
      const double sx = (i + 0.5) / 1.5 - 0.5, sy = 40 + (j + 0.5) / 1.5 - 0.5;
      const double want = lumaOf(smooth(std::clamp(sx, 0.0, 639.0), sy));
      worst = std::max(worst, std::abs(r.input.lastY[j * 960 + i] - want));
    }
  }
  EXPECT_LT(worst, 4.0);
}

TEST(FramePipelinePixels, ViewportTallerThanTheScaledOutputLosesItsTopRows) {
  // 1366×768 display at 1920×1080: viewport 1364×768, s = 1920 / 1364; 767 of its rows fill the
  // output and the top one is cut, as the bottom edges line up.
  PipelineRig r(pipelineConfig(1366, 768, 1920, 1080), {1364, 768},
                [](int, int y) { return gray(y < 1 ? 0 : 200); });
  r.pointer.location = {683, 384};
  r.frame(1.0);
  ASSERT_EQ(r.input.times.size(), 1u);
  EXPECT_NEAR(r.input.lastY[0], lumaOf(200), 3);  // no black from the cut row
  EXPECT_NEAR(r.input.lastY[1079 * 1920 + 960], lumaOf(200), 3);
}

TEST(FramePipelinePixels, ColoursLandInTheRightChannels) {
  struct Case {
    const char* name;
    std::uint32_t argb;
    int y, u, v;  // BT.601 limited range
  };
  for (const Case& c : {Case{"red", 0xffff0000u, 82, 90, 240},
                        {"green", 0xff00ff00u, 145, 54, 34},
                        {"blue", 0xff0000ffu, 41, 240, 110},
                        {"white", 0xffffffffu, 235, 128, 128}}) {
    SCOPED_TRACE(c.name);
    PipelineRig r(pipelineConfig(64, 36, 32, 18), {32, 18}, [&](int, int) { return c.argb; });
    r.frame(1.0);
    EXPECT_NEAR(r.input.lastY[5 * 32 + 5], c.y, 2);
    EXPECT_NEAR(r.input.lastU[2 * 16 + 2], c.u, 2);
    EXPECT_NEAR(r.input.lastV[2 * 16 + 2], c.v, 2);
  }
}

}  // namespace
}  // namespace kestrova
