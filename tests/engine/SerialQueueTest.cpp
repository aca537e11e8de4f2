// The serial queue and the checks that confine state to it, or to one sequence.
#include "SerialQueue.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "SequenceChecker.h"

namespace kestrova {
namespace {

// sync() runs on the worker and passes exceptions back; a sequence belongs to the first thread
// that asks, here the worker.
TEST(SerialQueue, SyncRunsOnTheWorkerThatASequenceThenBelongsTo) {
  SerialQueue q("kestrova.test");
  SequenceChecker sequence;
  bool onQueue = false;
  q.sync([&] { onQueue = q.isCurrent() && sequence.calledOnValidSequence(); });
  EXPECT_TRUE(onQueue);
  EXPECT_FALSE(q.isCurrent());
  EXPECT_FALSE(sequence.calledOnValidSequence());
  EXPECT_THROW(q.sync([] { throw std::runtime_error("no"); }), std::runtime_error);
  q.sync([&] { onQueue = sequence.calledOnValidSequence(); });
  EXPECT_TRUE(onQueue) << "the worker survives an exception";
}

#if !defined(NDEBUG) && !defined(__SANITIZE_THREAD__)
TEST(SerialQueueDeathTest, DebugChecksAbortOffTheQueueOrSequence) {
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
