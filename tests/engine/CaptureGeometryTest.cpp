#include "CaptureGeometry.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

TEST(CaptureGeometry, ViewportShrinksOnlyForDisplaysSmallerThanTheOutput) {
  struct Case {
    const char* name;
    Size points;
    double scale;
    Size capture;
    double fit;
    Size viewport;
  };
  const Case cases[] = {
      {"2 px/pt laptop", {1512, 982}, 2, {3024, 1964}, 1, {1920, 1080}},
      {"1280x800", {1280, 800}, 1, {1280, 800}, 1280.0 / 1920, {1280, 720}},
      {"1366x768 floors to even", {1366, 768}, 1, {1366, 768}, 768.0 / 1080, {1364, 768}},
      {"half points round away from zero",
       {100.25, 50.25},
       2,
       {201, 101},
       101.0 / 1080,
       {178, 100}},
      {"tiny display keeps 2 pixels", {1, 1}, 1, {1, 1}, 1.0 / 1920, {2, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecorderConfig cfg;
    cfg.screenFrame = Rect{{-300, 40}, c.points};
    cfg.scale = c.scale;
    cfg.width = 1920;
    cfg.height = 1080;
    const CaptureGeometry g = deriveCaptureGeometry(cfg);
    EXPECT_EQ(g.capture, c.capture);
    EXPECT_DOUBLE_EQ(g.fit, c.fit);
    EXPECT_EQ(g.viewport, c.viewport);
  }
}

}  // namespace
}  // namespace kestrova
