#include "platform/platform.h"

#if defined(_WIN32)
namespace korvax::platform {

void Mutex::lock() noexcept { AcquireSRWLockExclusive(&lock_); }
void Mutex::unlock() noexcept { ReleaseSRWLockExclusive(&lock_); }

unsigned sleepSeconds(unsigned seconds) noexcept {
    Sleep(static_cast<DWORD>(seconds) * 1000u);
    return 0;
}

double monotonicSeconds() noexcept {
    LARGE_INTEGER freq, now;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(freq.QuadPart);
}

}  // namespace korvax::platform
#endif
