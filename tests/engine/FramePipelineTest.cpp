// The frame pipeline with fake ports: the output timeline, when it asks for frames, and what it
// renders.
#include "FramePipeline.h"

#include <gtest/gtest.h>

#include <cmath>

#include "PipelineRig.h"

namespace kestrova {
namespace {

using namespace testing;

// 30 fps over a 320×200 display with a 160×90 output, the pointer in the middle.
struct SmallRig : PipelineRig {
  SmallRig() : PipelineRig(pipelineConfig(320, 200, 160, 90), {}, whiteSquare) {
    pointer.location = {160, 100};
  }
};

// Steps a table row takes on a rig.
using Step = std::function<void(SmallRig&)>;
const auto frameAt = [](double pts) -> Step { return [=](SmallRig& t) { t.frame(pts); }; };
const auto clockAt = [](double s) -> Step { return [=](SmallRig& t) { t.clock.time = s; }; };
const auto clickAt = [](double s) -> Step {
  return [=](SmallRig& t) { t.pipeline.appendClick(s, {80, 45}); };
};
const Step pause = [](SmallRig& t) { t.pipeline.setPaused(true); };
const Step resume = [](SmallRig& t) { t.pipeline.setPaused(false); };
const auto stillAt = [](double pts) -> Step { return [=](SmallRig& t) { t.frame(pts, true); }; };
const Step move = [](SmallRig& t) { t.pointer.location = {300, 100}; };
const Step refuse = [](SmallRig& t) { t.input.refuse = true; };

// Output times count from the first frame in units of 1/6000 s. A pause cuts the paused time as
// the clock measured it, but never brings the next frame closer than one interval to the last one
// before the pause. At stop the last image is shown once more, so the video lasts until the stop,
// or until the pause it ends in, however long ago the screen last changed.
TEST(Timeline, PausesAreCutOutAndTheVideoLastsUntilTheStop) {
  struct Case {
    const char* name;
    std::vector<Step> steps;  // after a frame at 1.0 and before stop at 9.0
    std::vector<std::int64_t> times;
  };
  const double f = 1.0 / 30;
  const Case cases[] = {
      {"frames as captured",
       {frameAt(1 + f), frameAt(1 + 2 * f), frameAt(1.5), frameAt(1.5 + f / 2)},
       {0, 200, 400, 3000, 3100, 47800}},
      {"a change just before the stop", {frameAt(8.99)}, {0, 47940}},
      {"a frame at the last one's time", {frameAt(1.0)}, {0, 47800}},
      {"stopped while paused", {clockAt(4), pause}, {0, 17800}},
      {"paused, resumed, still until the stop",
       {clockAt(4), pause, clockAt(6), resume},
       {0, 35800}},
      {"a change after the pause",
       {clockAt(4), pause, frameAt(5), clockAt(6), resume, frameAt(7)},
       {0, 24000, 35800}},
      {"the screen changes throughout the pause",
       {frameAt(4), clockAt(4), pause, frameAt(4.5), clockAt(8), resume, frameAt(8)},
       {0, 18000, 18200, 24000}},
      {"resumed within one interval",
       {frameAt(4), clockAt(4), pause, resume, frameAt(4.02)},
       {0, 18000, 18120, 47800}},
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
// picture would change by itself, or after a frame it could not write, and for nothing once it
// would not. A frame asked for only for the camera or a ring, on a screen that did not change,
// fetches just the viewport's pixels when the camera moved, and nothing when it did not.
TEST(Timeline, AsksForFramesOnlyWhileThePictureWouldStillChange) {
  struct Case {
    const char* name;
    std::vector<Step> steps;  // after a first frame at 1.0, the camera at rest
    int requests;
    int fetches;  // of the display's pixels, the first frame's included
  };
  const Case cases[] = {
      {"all still", {frameAt(1.1)}, 0, 2},
      {"the camera eases after the pointer", {move, frameAt(1.1)}, 1, 2},
      {"the camera glides over a still screen", {move, stillAt(1.1)}, 1, 2},
      {"a click shows a ring", {clockAt(1.1), clickAt(1.1), frameAt(1.1)}, 2, 2},
      {"a ring over a still screen", {clockAt(1.1), clickAt(1.1), stillAt(1.1)}, 2, 1},
      // One for the click; the frame after it shows no ring and needs no other.
      {"the ring has faded", {clickAt(1.0), clockAt(1.5), frameAt(1.5)}, 1, 2},
      {"paused while easing", {move, pause, frameAt(1.1), clickAt(1.1)}, 0, 1},
      {"resumed while easing", {move, frameAt(1.1), pause, resume}, 2, 2},
      {"the screen changed while paused", {pause, frameAt(1.2), resume, stillAt(1.3)}, 0, 2},
      {"a frame the encoder refused", {refuse, frameAt(1.1)}, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmallRig t;
    t.frame(1.0);
    ASSERT_EQ(t.requests, 0) << "a camera that snapped onto a still pointer is at rest";
    for (const Step& step : c.steps) step(t);
    EXPECT_EQ(t.requests, c.requests);
    EXPECT_EQ(t.image.fetches, c.fetches);
    EXPECT_EQ(t.input.pool().available(), 3u) << "every buffer goes back";
  }
}

// What is rendered: the right part of the display, at the right place, in the right colours.

// Yellow of level `g` in red and green: its luma, 16 + 194 g / 255 in BT.601 limited range, would
// change were blue taken for either.
std::uint32_t yellow(double g) {
  const auto v = static_cast<std::uint32_t>(std::lround(g));
  return 0xff000000u | v << 16 | v << 8;
}

// The output shows exactly the part of the display it should: cut out where the viewport lies,
// scaled up when the display is smaller than the output, and with the rows that overshoot the
// output's height cut at the top. A smooth pattern steep enough that a pixel's shift shows.
TEST(FramePipelinePixels, TheOutputShowsItsPartOfTheDisplayInItsColours) {
  struct Case {
    const char* name;
    RecorderConfig config;
    Point pointer;  // desktop points, y up
    Rect shown;     // of the display, capture pixels, filling the output
  };
  const auto at640 = pipelineConfig(640, 400, 320, 180);
  const Case cases[] = {
      {"top-left", at640, {0, 400}, {{0, 0}, {320, 180}}},
      {"bottom-right", at640, {640, 0}, {{320, 220}, {320, 180}}},
      {"off-centre", at640, {301, 233}, {{141, 77}, {320, 180}}},
      // The viewport shrinks to 640×360 and is scaled by 1.5.
      {"scaled up", pipelineConfig(640, 400, 960, 540), {320, 150}, {{0, 40}, {640, 360}}},
      // Viewport 1364×768 scaled by 1920 / 1364: 767 of its rows fill the output, the top one cut.
      {"taller", pipelineConfig(1366, 768, 1920, 1080), {683, 384}, {{1, 1}, {1364, 767}}},
  };
  const auto pattern = [](double x, double y) {
    return 128 + 100 * std::sin(x / 12.0) * std::cos(y / 9.0);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PipelineRig r(c.config, [&](int x, int y) { return yellow(pattern(x, y)); });
    r.pointer.location = c.pointer;
    r.frame(1.0);
    ASSERT_EQ(r.input.times.size(), 1u);
    const int w = int(c.config.width), h = int(c.config.height);
    const double sx = c.shown.width() / w, sy = c.shown.height() / h;
    double worst = 0;
    for (int j = 0; j < h; j += 3) {
      for (int i = 0; i < w; i += 3) {
        // Scaling samples between pixel centres, never beyond the part shown.
        const double x =
            std::clamp(c.shown.minX() + (i + 0.5) * sx - 0.5, c.shown.minX(), c.shown.maxX() - 1);
        const double y =
            std::clamp(c.shown.minY() + (j + 0.5) * sy - 0.5, c.shown.minY(), c.shown.maxY() - 1);
        worst =
            std::max(worst, std::abs(r.input.lastY[j * w + i] - (16 + 194 * pattern(x, y) / 255)));
      }
    }
    EXPECT_LT(worst, 4.5) << "bilinear scaling and 8-bit steps alone stay under 4";
  }
}

// A pointer the capture leaves out of its pixels lands where they do, scaled as they are.
TEST(FramePipelinePixels, APointerLeftOutOfThePixelsIsDrawnWhereTheyLand) {
  struct Case {
    const char* name;
    RecorderConfig config;
    Rect drawn;  // where the 8×8 pointer placed at (200, 150) of the display lands in the output
  };
  const Case cases[] = {
      {"as it is", pipelineConfig(640, 400, 320, 180), {{40, 40}, {8, 8}}},
      {"scaled by 1.5", pipelineConfig(640, 400, 960, 540), {{300, 195}, {12, 12}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PipelineRig r(c.config, [](int, int) { return 0xff000000u; });
    r.pointer.location = {320, 200};
    r.image.overlay = PointerOverlay{std::make_shared<PremultipliedImage>(PremultipliedImage{
                                         8, 8, std::vector<std::uint8_t>(8 * 8 * 4, 255)}),
                                     200, 150};
    r.frame(1.0);
    const int w = int(c.config.width), h = int(c.config.height);
    int white = 0, misplaced = 0;
    for (int j = 0; j < h; ++j) {
      for (int i = 0; i < w; ++i) {
        if (r.input.lastY[j * w + i] < 125) continue;
        ++white;
        misplaced += i < c.drawn.minX() - 1 || i > c.drawn.maxX() || j < c.drawn.minY() - 1 ||
                     j > c.drawn.maxY();
      }
    }
    EXPECT_NEAR(white, c.drawn.width() * c.drawn.height(), 2 * c.drawn.width());
    EXPECT_EQ(misplaced, 0);
  }
}

}  // namespace
}  // namespace kestrova
