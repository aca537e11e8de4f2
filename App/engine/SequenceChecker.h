#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "ThreadAnnotations.h"

namespace kestrova {

// For an object confined to one serial queue that does not own the queue: its confined methods
// must all run on one thread, the first one that asks. Fields GUARDED_BY the checker may then be
// touched only after KESTROVA_DCHECK_SEQUENCE, or in functions that REQUIRES it, and
// `-Wthread-safety` says where that is not so. The check itself runs in debug builds only.
class CAPABILITY("sequence") SequenceChecker {
 public:
  // Whether the caller runs on the object's sequence; binds it to the caller on first use.
  bool calledOnValidSequence() const {
    const auto self = std::this_thread::get_id();
    std::thread::id expected{};
    return owner_.compare_exchange_strong(expected, self) || expected == self;
  }

  // Aborts, in debug builds, unless the caller runs on the sequence.
  void assertOnSequence() const ASSERT_CAPABILITY(this) {
#ifndef NDEBUG
    if (!calledOnValidSequence()) failed();
#endif
  }

 private:
  [[noreturn]] static void failed() {
    std::fputs("kestrova: a sequence-confined method ran on another thread\n", stderr);
    std::abort();
  }

  mutable std::atomic<std::thread::id> owner_{};
};

}  // namespace kestrova

#define KESTROVA_DCHECK_SEQUENCE(checker) (checker).assertOnSequence()
