#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

namespace korvax::platform {

bool Mutex::lock() noexcept { return pthread_mutex_lock(&lock_) == 0; }
void Mutex::unlock() noexcept { pthread_mutex_unlock(&lock_); }

unsigned sleepSeconds(unsigned seconds) noexcept { return ::sleep(seconds); }

void sleepMilliseconds(unsigned milliseconds) noexcept {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0) {
    }
}

double monotonicSeconds() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace korvax::platform
