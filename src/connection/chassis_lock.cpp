#include "connection/chassis_lock.h"

#include <span>

#include "platform/platform.h"

namespace korvax {
namespace {

platform::Mutex chassisLocks[KORVAX_MAX_CHASSIS];
// Guards the handle lookup against a discovery rewriting the records.
platform::Mutex registryLock;

// The locks this thread holds: per record how many guards are open on it,
// and how many registry guards.
struct Held {
    int records[KORVAX_MAX_CHASSIS];
    int registry;
};
thread_local Held held{};

}  // namespace

ChassisGuard::ChassisGuard(uint32_t handle) noexcept {
    if (handle == 0) return;  // would match every unused record
    Held &h = held;
    // A guard of this thread already holds the record (or every record):
    // the vi read here is one no other thread can be writing.
    for (int i = 0; i < KORVAX_MAX_CHASSIS; ++i) {
        if ((h.registry > 0 || h.records[i] > 0) && globalChassisInfo[i].vi == handle) {
            record_ = &globalChassisInfo[i];
            status_ = 0;
            if (h.registry == 0) {
                ++h.records[i];
                index_ = i;
            }
            return;
        }
    }
    if (h.registry > 0) return;  // every record is in view, none has the handle

    int32_t index;
    {
        const platform::LockGuard lookup(registryLock);
        if (!lookup.owns()) {
            status_ = KORVAX_ERR_MALLOC;
            return;
        }
        index = FindChassis(handle, nullptr);
    }
    if (index < 0) return;
    if (!chassisLocks[index].lock()) {
        status_ = KORVAX_ERR_MALLOC;
        return;
    }
    // A discovery may have rebuilt the records since the lookup.
    if (globalChassisInfo[index].vi != handle) {
        chassisLocks[index].unlock();
        return;
    }
    h.records[index] = 1;
    index_ = index;
    record_ = &globalChassisInfo[index];
    status_ = 0;
}

ChassisGuard::~ChassisGuard() {
    if (index_ >= 0 && --held.records[index_] == 0) chassisLocks[index_].unlock();
}

RegistryGuard::RegistryGuard() noexcept {
    Held &h = held;
    if (h.registry > 0) {
        ++h.registry;
        return;
    }
    for (int i = 0; i < KORVAX_MAX_CHASSIS; ++i) {
        if (h.records[i] > 0) {
            status_ = KORVAX_ERR_PARAMETER;
            return;
        }
    }
    int taken = 0;
    while (taken < KORVAX_MAX_CHASSIS && chassisLocks[taken].lock()) ++taken;
    if (taken == KORVAX_MAX_CHASSIS && registryLock.lock()) {
        h.registry = 1;
        return;
    }
    while (taken > 0) chassisLocks[--taken].unlock();
    status_ = KORVAX_ERR_MALLOC;
}

RegistryGuard::~RegistryGuard() {
    if (status_ != 0 || --held.registry > 0) return;
    registryLock.unlock();
    for (int i = KORVAX_MAX_CHASSIS - 1; i >= 0; --i) chassisLocks[i].unlock();
}

uint32_t handleNamed(std::string_view name) noexcept {
    // Under a registry guard of this thread the records are already its own.
    const bool own = held.registry > 0;
    if (!own && !registryLock.lock()) return 0;
    uint32_t handle = 0;
    for (const ChassisInfo &c : std::span(globalChassisInfo, KORVAX_MAX_CHASSIS)) {
        // Only records discovery filled can match: an unused record would
        // otherwise hand out handle 0.
        if (c.vi != 0 && name == std::string_view(c.rsrcName)) {
            handle = c.vi;
            break;
        }
    }
    if (!own) registryLock.unlock();
    return handle;
}

}  // namespace korvax
