// The click list and the ring cache inside the frame pipeline, with a fake ring.
#include "ClickRings.h"

#include <gtest/gtest.h>

#include <stdexcept>

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

constexpr int kW = 160, kH = 90;

PremultipliedImage opaqueWhiteSquare() {
  return PremultipliedImage{8, 8, std::vector<std::uint8_t>(8 * 8 * 4, 255)};
}

struct Rig {
  explicit Rig(bool indicator, RingFactory factory)
      : image(kW, kH, [](int, int) { return 0xff404040u; }), input(kW, kH) {
    RecorderConfig cfg;
    cfg.screenFrame = Rect{{0, 0}, {kW, kH}};
    cfg.width = kW;
    cfg.height = kH;
    cfg.clickIndicator = indicator;
    pipeline = std::make_unique<FramePipeline>(cfg, pointer, clock, std::move(factory));
    pipeline->installTracker(ViewportTracker{{kW, kH}, {kW, kH}, 0.5, 0, 0, 0, false});
    pipeline->setWriterInput(&input);
  }

  // A frame drawn at host time `now`; returns its luma.
  std::vector<std::uint8_t> frame(double now) {
    clock.time = now;
    pipeline->handle(std::make_shared<FakeSample>(pts += 0.1, &image));
    return input.lastY;
  }

  FakePointer pointer;
  FakeClock clock;
  FakeImage image;
  FakeWriterInput input;
  std::unique_ptr<FramePipeline> pipeline;
  double pts = 0;
};

TEST(ClickRings, IndicatorOffKeepsNoListMakesNoRingAndReadsNoClock) {
  int made = 0;
  Rig rig(false, [&] {
    ++made;
    return std::optional(opaqueWhiteSquare());
  });
  const auto plain = rig.frame(1.0);
  rig.pipeline->appendClick(1.0, {80, 45});
  const auto after = rig.frame(1.1);
  EXPECT_TRUE(rig.pipeline->clicks().empty());
  EXPECT_EQ(made, 0);
  EXPECT_EQ(rig.pipeline->ringCache(), ClickRings::RingCache::notMade);
  EXPECT_EQ(rig.clock.reads, 0);
  EXPECT_EQ(after, plain);
}

TEST(ClickRings, RingIsMadeOnceWhenFirstDueAndEachFrameReadsTheClockOnce) {
  int made = 0;
  Rig rig(true, [&] {
    ++made;
    return std::optional(opaqueWhiteSquare());
  });
  const auto plain = rig.frame(1.0);
  EXPECT_EQ(made, 0) << "no click, no ring";
  EXPECT_EQ(rig.clock.reads, 0) << "a frame without clicks costs nothing";

  for (double t : {1.0, 1.2, 1.4}) rig.pipeline->appendClick(t, {80, 45});
  const auto ringed = rig.frame(1.45);
  EXPECT_EQ(made, 1);
  EXPECT_EQ(rig.pipeline->ringCache(), ClickRings::RingCache::made);
  EXPECT_EQ(rig.clock.reads, 1);
  EXPECT_NE(ringed, plain);

  rig.frame(1.65);  // the click of 1.0 is 0.65 s old; the others stay in order
  EXPECT_EQ(made, 1);
  EXPECT_EQ(rig.clock.reads, 2);
  ASSERT_EQ(rig.pipeline->clicks().size(), 2u);
  EXPECT_EQ(rig.pipeline->clicks()[0].t, 1.2);
  EXPECT_EQ(rig.pipeline->clicks()[1].t, 1.4);

  EXPECT_EQ(rig.frame(2.0), plain) << "every click expired";
  EXPECT_TRUE(rig.pipeline->clicks().empty());
}

TEST(ClickRings, RingThatCannotBeMadeIsNeverRetriedAndClicksStillExpire) {
  struct Case {
    const char* name;
    bool hasFactory;
    std::function<std::optional<PremultipliedImage>()> make;
  };
  const Case cases[] = {
      {"factory gives nothing", true, [] { return std::optional<PremultipliedImage>(); }},
      {"factory throws", true,
       []() -> std::optional<PremultipliedImage> { throw std::runtime_error("no painter"); }},
      {"empty image", true, [] { return std::optional(PremultipliedImage{}); }},
      {"pixels missing", true,
       [] {
         return std::optional(PremultipliedImage{8, 8, {}});
       }},
      {"no factory", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int made = 0;
    RingFactory factory;
    if (c.hasFactory) {
      factory = [&] {
        ++made;
        return c.make();
      };
    }
    Rig rig(true, factory);
    const auto plain = rig.frame(1.0);
    rig.pipeline->appendClick(1.0, {80, 45});
    EXPECT_EQ(rig.frame(1.1), plain);
    rig.pipeline->appendClick(1.2, {40, 20});
    EXPECT_EQ(rig.frame(1.3), plain);
    EXPECT_EQ(made, c.hasFactory ? 1 : 0);
    EXPECT_EQ(rig.pipeline->ringCache(), ClickRings::RingCache::failed);
    rig.frame(1.75);
    EXPECT_TRUE(rig.pipeline->clicks().empty());
  }
}

}  // namespace
}  // namespace kestrova
