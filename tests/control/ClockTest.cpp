#include "Clock.h"

#include <gtest/gtest.h>
#include <QTest>

namespace kestrova {
namespace {

using namespace std::chrono_literals;

TEST(QtClock, RunsJobsOnTheEventLoopAndNeverOnceTheirHandleIsDropped) {
  QtClock clock;
  int once = 0, every = 0, dropped = 0;
  const auto a = clock.schedule(1ms, Clock::Repeat::once, [&] { ++once; });
  std::unique_ptr<ScheduledJob> b;
  b = clock.schedule(1ms, Clock::Repeat::every, [&] {
    if (++every == 3) b.reset();  // a job may drop itself
  });
  clock.schedule(1ms, Clock::Repeat::once, [&] { ++dropped; }).reset();
  ASSERT_TRUE(QTest::qWaitFor([&] { return once == 1 && every == 3; }, 5000));
  QTest::qWait(20);
  EXPECT_EQ(once, 1);
  EXPECT_EQ(every, 3);
  EXPECT_EQ(dropped, 0);
}

}  // namespace
}  // namespace kestrova
