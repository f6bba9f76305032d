#include "platform/platform.h"

#if !defined(_WIN32)
#include <time.h>
#include <unistd.h>

namespace korvax::platform {

void Mutex::lock() noexcept { pthread_mutex_lock(&lock_); }
void Mutex::unlock() noexcept { pthread_mutex_unlock(&lock_); }

unsigned sleepSeconds(unsigned seconds) noexcept { return ::sleep(seconds); }

double monotonicSeconds() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace korvax::platform
#endif
