#include <windows.h>

#include "platform/platform.h"

namespace korvax::platform {
namespace {

void *createWin32Mutex() { return CreateMutexW(nullptr, FALSE, nullptr); }

std::atomic<MutexFactory> factory{createWin32Mutex};

// The mutex object of a slot, created on first use; nullptr when Windows
// cannot create one (out of handles or memory). Nothing is kept then, so a
// later call tries again.
HANDLE mutexOf(std::atomic<void *> &slot) noexcept {
    if (void *h = slot.load(std::memory_order_acquire)) return static_cast<HANDLE>(h);
    HANDLE fresh = static_cast<HANDLE>(factory.load(std::memory_order_acquire)());
    if (fresh == nullptr) return nullptr;
    void *expected = nullptr;
    if (!slot.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) {
        CloseHandle(fresh);
        return static_cast<HANDLE>(expected);
    }
    return fresh;
}

}  // namespace

void setMutexFactory(MutexFactory f) noexcept {
    factory.store(f ? f : createWin32Mutex, std::memory_order_release);
}

// An infinite wait, as on Linux: an exchange under the lock is bounded by
// the VISA time-out of the session, never by the lock. A mutex whose owner
// ended without releasing it is handed over (WAIT_ABANDONED): the records it
// guards hold nothing that a half-done operation leaves unusable.
bool Mutex::lock() noexcept {
    HANDLE h = mutexOf(handle_);
    if (h == nullptr) return false;
    const DWORD st = WaitForSingleObject(h, INFINITE);
    return st == WAIT_OBJECT_0 || st == WAIT_ABANDONED;
}

void Mutex::unlock() noexcept {
    if (void *h = handle_.load(std::memory_order_acquire)) ReleaseMutex(static_cast<HANDLE>(h));
}

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
