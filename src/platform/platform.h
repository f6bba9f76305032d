// The thin layer over what differs between the Linux and Windows builds:
// a process-wide mutex that needs no run-time initialisation, sleeping, and
// a monotonic clock. The build compiles one implementation: posix.cpp on
// Linux, win32.cpp for KORVAX.dll.
#pragma once

#include <atomic>
#include <cstdint>

#if !defined(_WIN32)
#  include <pthread.h>
#endif

namespace korvax::platform {

// A mutex that is usable from load on (constant-initialised), so that no
// first-use initialisation can race with a thread already holding it. Not
// re-entrant: a thread must not lock it twice.
class Mutex {
public:
    constexpr Mutex() noexcept = default;
    Mutex(const Mutex &) = delete;
    Mutex &operator=(const Mutex &) = delete;
    // Waits for the mutex, without time limit. false when the system could
    // not provide it (on Windows: no mutex object could be created); the
    // caller then holds nothing and must not go on as if it did.
    [[nodiscard]] bool lock() noexcept;
    void unlock() noexcept;

private:
#if defined(_WIN32)
    // A Win32 mutex object, created on first use and kept for the life of
    // the process (a racing second creator closes its own and uses ours).
    // When creation fails nothing is kept, and the next lock tries again.
    std::atomic<void *> handle_{nullptr};
#else
    pthread_mutex_t lock_ = PTHREAD_MUTEX_INITIALIZER;
#endif
};

class LockGuard {
public:
    explicit LockGuard(Mutex &m) noexcept : m_(m), owns_(m.lock()) {}
    ~LockGuard() {
        if (owns_) m_.unlock();
    }
    LockGuard(const LockGuard &) = delete;
    LockGuard &operator=(const LockGuard &) = delete;
    // false when the mutex could not be taken (see Mutex::lock).
    bool owns() const noexcept { return owns_; }

private:
    Mutex &m_;
    bool owns_;
};

#if defined(_WIN32)
// Tests replace the creation of the Win32 mutex objects to see a failed
// creation handled; nullptr creates them with CreateMutexW again.
using MutexFactory = void *(*)();
void setMutexFactory(MutexFactory factory) noexcept;
#endif

// Whole seconds, as the instruments' settle times are specified.
unsigned sleepSeconds(unsigned seconds) noexcept;
// At least the given number of milliseconds.
void sleepMilliseconds(unsigned milliseconds) noexcept;
// What the library waits with: the hook when one is set, else sleepSeconds.
// Tests set a hook so that no settle time passes in real time, and can see
// what was asked for.
using SleepHook = unsigned (*)(unsigned seconds);
void setSleepHook(SleepHook hook) noexcept;  // nullptr: sleep for real again
unsigned waitSeconds(unsigned seconds) noexcept;
// Monotonic time in seconds.
double monotonicSeconds() noexcept;

}  // namespace korvax::platform
