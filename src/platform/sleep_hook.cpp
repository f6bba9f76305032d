#include <atomic>

#include "platform/platform.h"

namespace korvax::platform {
namespace {

std::atomic<SleepHook> hook{nullptr};

}  // namespace

void setSleepHook(SleepHook h) noexcept { hook.store(h); }

unsigned waitSeconds(unsigned seconds) noexcept {
    if (const SleepHook h = hook.load()) return h(seconds);
    return sleepSeconds(seconds);
}

}  // namespace korvax::platform
