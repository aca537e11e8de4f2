#include "RecordingState.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

TEST(FormatTime, MinutesAndSecondsWithMinutesNotWrapping) {
  const std::pair<double, const char*> cases[] = {
      {0, "00:00"},    {59.9, "00:59"},  {61.99, "01:01"},
      {3725, "62:05"}, {6000, "100:00"}, {600.5, "10:00"},
  };
  for (const auto& [seconds, text] : cases) {
    SCOPED_TRACE(seconds);
    EXPECT_EQ(formatTime(seconds), QString::fromLatin1(text));
  }
}

}  // namespace
}  // namespace kestrova
