// Every unit test program waits for no settle time: SLEEP hands its whole
// seconds to this recorder instead of sleeping, and tests read them back.
#pragma once

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "base/qmbase.h"

namespace testsupport {

struct SleepRecord {
    std::mutex lock;
    std::vector<uint32_t> seconds;
};

inline SleepRecord &sleeps() {
    static SleepRecord r;
    return r;
}

inline uint32_t recordSleep(uint32_t seconds) {
    SleepRecord &r = sleeps();
    std::lock_guard g(r.lock);
    r.seconds.push_back(seconds);
    return 0;
}

// The waits asked for since the last call, oldest first.
inline std::vector<uint32_t> takeSleeps() {
    SleepRecord &r = sleeps();
    std::lock_guard g(r.lock);
    return std::exchange(r.seconds, {});
}

// Installed before main by every program that includes this header.
inline const bool sleepRecorderInstalled = (SetSleepHook(recordSleep), true);

}  // namespace testsupport
