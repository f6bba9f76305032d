#include <windows.h>

#include "platform/platform.h"

namespace korvax::platform {
namespace {

HANDLE mutexOf(std::atomic<void *> &slot) noexcept {
    if (void *h = slot.load(std::memory_order_acquire)) return static_cast<HANDLE>(h);
    HANDLE fresh = CreateMutexW(nullptr, FALSE, nullptr);
    void *expected = nullptr;
    if (!slot.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) {
        CloseHandle(fresh);
        return static_cast<HANDLE>(expected);
    }
    return fresh;
}

}  // namespace

// An infinite wait, as on Linux: a locked exchange is bounded by the VISA
// time-out of the session, never by the lock.
void Mutex::lock() noexcept { WaitForSingleObject(mutexOf(handle_), INFINITE); }
void Mutex::unlock() noexcept { ReleaseMutex(mutexOf(handle_)); }

unsigned sleepSeconds(unsigned seconds) noexcept {
    Sleep(static_cast<DWORD>(seconds) * 1000u);
    return 0;
}

void sleepMilliseconds(unsigned milliseconds) noexcept { Sleep(static_cast<DWORD>(milliseconds)); }

double monotonicSeconds() noexcept {
    LARGE_INTEGER freq, now;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(freq.QuadPart);
}

}  // namespace korvax::platform
