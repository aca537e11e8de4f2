#pragma once

#include <atomic>
#include <thread>

namespace kestrova {

// Checks, in debug builds, that an object's confined methods always run on one thread: the first
// one that asks. Objects that live on a serial queue use it instead of a lock.
class SequenceChecker {
 public:
  bool calledOnValidSequence() const {
#ifdef NDEBUG
    return true;
#else
    const auto self = std::this_thread::get_id();
    std::thread::id expected{};
    return owner_.compare_exchange_strong(expected, self) || expected == self;
#endif
  }

 private:
  mutable std::atomic<std::thread::id> owner_{};
};

}  // namespace kestrova

#ifdef NDEBUG
#define KESTROVA_DCHECK_SEQUENCE(checker) ((void)0)
#else
#include <cassert>
#define KESTROVA_DCHECK_SEQUENCE(checker) assert((checker).calledOnValidSequence())
#endif
