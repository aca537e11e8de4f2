#include "DisplayInfo.h"

#include <gtest/gtest.h>

#include "RecorderError.h"

namespace kestrova {
namespace {

TEST(ChooseDisplay, TakesTheMatchingIdElseTheFirstElseNone) {
  const std::vector<DisplayInfo> displays = {{7, "A", {}, 1}, {9, "B", {}, 1}, {9, "C", {}, 1}};
  EXPECT_EQ(chooseDisplay(displays, 9).name, "B");
  EXPECT_EQ(chooseDisplay(displays, 7).name, "A");
  EXPECT_EQ(chooseDisplay(displays, 0).name, "A") << "0, the main display, is the first";
  EXPECT_EQ(chooseDisplay(displays, 12345).name, "A") << "a display that is gone";
  EXPECT_THROW(chooseDisplay({}, 7), RecorderError);
}

}  // namespace
}  // namespace kestrova
