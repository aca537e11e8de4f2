#include <gtest/gtest.h>

#include "SequenceChecker.h"
#include "SerialQueue.h"

namespace kestrova {
namespace {

TEST(Confinement, ASequenceBelongsToTheFirstThreadThatAsksAndAQueueToItsWorker) {
  SequenceChecker sequence;
  SerialQueue queue("kestrova.test");
  const auto onQueue = [&] {
    bool sequenceOk = false, queueOk = false;
    queue.sync([&] {
      sequenceOk = sequence.calledOnValidSequence();
      queueOk = queue.isCurrent();
    });
    return sequenceOk && queueOk;
  };
  EXPECT_TRUE(onQueue());
  EXPECT_FALSE(sequence.calledOnValidSequence());
  EXPECT_FALSE(queue.isCurrent());
  EXPECT_TRUE(onQueue());
}

#if !defined(NDEBUG) && !defined(__SANITIZE_THREAD__)
TEST(ConfinementDeathTest, DebugChecksAbortOffTheSequence) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  SerialQueue queue("kestrova.test");
  EXPECT_DEATH(KESTROVA_DCHECK_ON(queue), "ran off it");
  SequenceChecker sequence;
  queue.sync([&] { KESTROVA_DCHECK_SEQUENCE(sequence); });
  EXPECT_DEATH(KESTROVA_DCHECK_SEQUENCE(sequence), "another thread");
}
#endif

}  // namespace
}  // namespace kestrova
