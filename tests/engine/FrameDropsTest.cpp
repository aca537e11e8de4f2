// What the pipeline counts for each frame it drops, and the line a recorder logs at stop.
#include <gtest/gtest.h>

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

TEST(FrameDrops, EachDroppedFrameCountsUnderItsOwnReasonOnly) {
  enum class Picture { display, tooSmall, none };
  struct Case {
    DropReason reason;
    std::function<void(FakeSample&, FakeWriterInput&, FramePipeline&)> arrange;
    double pts = 1.5;  // a frame at 1.0 was written before
    Picture picture = Picture::display;
  };
  const Case cases[] = {
      {DropReason::notScreen, [](auto& s, auto&, auto&) { s.type = SampleOutputType::audio; }},
      {DropReason::invalid, [](auto& s, auto&, auto&) { s.valid = false; }},
      {DropReason::incomplete,
       [](auto& s, auto&, auto&) { s.status = AttachmentValue{std::int64_t{1}}; }},
      {DropReason::noImage, [](auto&, auto&, auto&) {}, 1.5, Picture::none},
      {DropReason::paused, [](auto&, auto&, auto& p) { p.setPaused(true); }},
      {DropReason::notLater, [](auto&, auto&, auto&) {}, 0.9},
      {DropReason::noWriter, [](auto&, auto&, auto& p) { p.setWriterInput(nullptr); }},
      {DropReason::encoderBusy, [](auto&, auto& in, auto&) { in.ready = false; }},
      {DropReason::noPool, [](auto&, auto& in, auto&) { in.hasPool = false; }},
      {DropReason::noBuffer, [](auto&, auto& in, auto&) { in.pool().exhausted = true; }},
      {DropReason::unusable, [](auto&, auto&, auto&) {}, 1.5, Picture::tooSmall},
      {DropReason::refused, [](auto&, auto& in, auto&) { in.refuse = true; }},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(dropReasonText(c.reason));
    FakePointer pointer;
    FakeClock clock;
    FakeWriterInput input(kOutW, kOutH);
    FakeImage image(kDisplayW, kDisplayH);
    FakeImage tooSmall(kOutW / 2, kOutH / 2);  // the viewport does not fit in it
    RecorderConfig config;
    config.screenFrame = Rect{{0, 0}, {kDisplayW, kDisplayH}};
    config.width = kOutW;
    config.height = kOutH;
    FramePipeline pipeline(config, pointer, clock);
    pipeline.installTracker(
        ViewportTracker{{kDisplayW, kDisplayH}, {kOutW, kOutH}, 0.5, 0, 0, 0, false});
    pipeline.setWriterInput(&input);
    pipeline.handle(std::make_shared<FakeSample>(1.0, &image));
    ASSERT_EQ(pipeline.drops().total(), 0u);

    CapturedImage* picture = c.picture == Picture::display    ? &image
                             : c.picture == Picture::tooSmall ? &tooSmall
                                                              : nullptr;
    auto s = std::make_shared<FakeSample>(c.pts, picture);
    c.arrange(*s, input, pipeline);
    pipeline.handle(s);
    EXPECT_EQ(pipeline.drops()[c.reason], 1u);
    EXPECT_EQ(pipeline.drops().total(), 1u);
    EXPECT_EQ(pipeline.timeline().framesWritten, 1);
  }
}

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
