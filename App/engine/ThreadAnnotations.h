#pragma once

// Clang's thread-safety attributes, so that `-Wthread-safety` checks which lock or sequence guards
// what. Other compilers see nothing. Use them with kestrova::Mutex (Mutex.h) and SequenceChecker:
// std::mutex carries no attributes in libstdc++.
//
//   Mutex mutex_;
//   int count_ GUARDED_BY(mutex_) = 0;
//   void bump() REQUIRES(mutex_);     // the caller holds mutex_
//   void post() EXCLUDES(mutex_);     // the caller must not: post() takes it

#if defined(__clang__)
#define KESTROVA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KESTROVA_THREAD_ANNOTATION(x)
#endif

// A type whose objects are held and released like a lock (a mutex, a sequence).
#define CAPABILITY(name) KESTROVA_THREAD_ANNOTATION(capability(name))
// An RAII type that holds a capability for its lifetime.
#define SCOPED_CAPABILITY KESTROVA_THREAD_ANNOTATION(scoped_lockable)

// Fields: read or written only while the capability is held.
#define GUARDED_BY(x) KESTROVA_THREAD_ANNOTATION(guarded_by(x))
// Pointer fields: the pointee is read or written only while the capability is held.
#define PT_GUARDED_BY(x) KESTROVA_THREAD_ANNOTATION(pt_guarded_by(x))

// Functions: the caller holds the capabilities (exclusively, or at least shared).
#define REQUIRES(...) KESTROVA_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) KESTROVA_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
// Functions: the caller must not hold them (the function takes them itself).
#define EXCLUDES(...) KESTROVA_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

// Functions that take or let go of a capability.
#define ACQUIRE(...) KESTROVA_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) KESTROVA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) KESTROVA_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// A check that aborts unless the capability is held; afterwards the analysis takes it as held.
#define ASSERT_CAPABILITY(x) KESTROVA_THREAD_ANNOTATION(assert_capability(x))
// The function returns a reference to the capability.
#define RETURN_CAPABILITY(x) KESTROVA_THREAD_ANNOTATION(lock_returned(x))

// Opts one function out of the analysis. Say why beside it.
#define NO_THREAD_SAFETY_ANALYSIS KESTROVA_THREAD_ANNOTATION(no_thread_safety_analysis)
