#include "RecorderError.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrova {
namespace {

TEST(RecorderError, DescriptionsAreTheUsersText) {
  EXPECT_STREQ(RecorderError::noDisplay().what(), "The selected display is no longer available.");
  EXPECT_STREQ(RecorderError::noFrames().what(), "No frames were captured.");
  EXPECT_STREQ(RecorderError::writer("Could not save the video.").what(),
               "Could not save the video.");
  EXPECT_STREQ(RecorderError::writer("").what(), "");
  EXPECT_EQ(RecorderError::writer("x").errorCase(), RecorderError::Case::writer);
}

TEST(RecorderError, PlatformErrorsTravelBesideItWithTheirOwnText) {
  const auto describe = [](auto thrower) -> std::string {
    try {
      thrower();
    } catch (const RecorderError& e) {
      return std::string("engine: ") + e.what();
    } catch (const std::exception& e) {
      return std::string("platform: ") + e.what();
    }
    return "nothing";
  };
  EXPECT_EQ(describe([] { throw RecorderError::noFrames(); }), "engine: No frames were captured.");
  EXPECT_EQ(describe([] { throw PlatformError("The X server went away."); }),
            "platform: The X server went away.");
}

}  // namespace
}  // namespace kestrova
