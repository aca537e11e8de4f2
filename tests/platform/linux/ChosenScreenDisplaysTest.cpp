// Which monitor the toolbar may use while a Wayland screen cast records another.

#include <gtest/gtest.h>

#include "ChosenScreenDisplays.h"

namespace kestrova {
namespace {

using Point = PortalStream::LogicalPoint;
using Size = PortalStream::LogicalSize;

TEST(ScreenApartFrom, PicksOnlyAMonitorTheCastCertainlyDoesNotShow) {
  const QRect left(0, 0, 1280, 720), right(1280, 0, 1280, 720), small(1280, 0, 800, 600);
  struct Case {
    const char* story;
    std::vector<QRect> screens;
    GrantedMonitor::Geometry recorded;
    std::optional<std::size_t> want;
  };
  const Case cases[] = {
      {"one monitor", {left}, {Point{0, 0}, Size{1280, 720}}, std::nullopt},
      {"nothing known", {left, right}, {}, std::nullopt},
      {"position: the other one", {left, right}, {Point{0, 0}, Size{1280, 720}}, 1},
      {"position of the second", {left, right}, {Point{1280, 0}, Size{1280, 720}}, 0},
      {"mirrored", {left, QRect(0, 0, 1280, 720)}, {Point{0, 0}, Size{1280, 720}}, std::nullopt},
      {"position of no screen", {left, right}, {Point{50, 50}, std::nullopt}, std::nullopt},
      {"size only, another size", {left, small}, {std::nullopt, Size{1280, 720}}, 1},
      {"size only, both alike", {left, right}, {std::nullopt, Size{1280, 720}}, std::nullopt},
      {"size of no screen", {left, small}, {std::nullopt, Size{1920, 1080}}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.story);
    EXPECT_EQ(screenApartFrom(c.screens, c.recorded), c.want);
  }
}

}  // namespace
}  // namespace kestrova
