// One lock per chassis record, and how discovery replaces the records.
//
// A record holds one request buffer, one reply buffer, the stored relay
// state and the pending SCPI reply of its chassis, so an operation must have
// the record to itself from its first exchange until its last reply is
// decoded. Each record a handle can reach (0 to KORVAX_MAX_CHASSIS - 1) has
// its own lock beside it, in an array indexed like the registry (the
// records' layout is read by programs in other languages and stays as it
// is). Every exported operation that takes a handle holds the lock of its
// record through a ChassisGuard: calls on one handle from several threads
// run one after the other, calls on different chassis never wait for each
// other, whatever their network waits.
//
// Discovery rebuilds the records and closes every session, so it takes a
// RegistryGuard: every chassis lock in index order, then the registry lock.
// It waits for the operations under way and no operation starts before it
// is done. An operation looks its handle up under the registry lock (held
// only for the lookup), then takes its record's lock and checks that the
// record still has that handle: a discovery that ran in between makes it
// -10023, as for any handle of an earlier discovery. A record's `vi` is
// written only with every lock held (discovery, and the Windows driver's
// connect, which opens a new session per call).
//
// A thread takes a record's lock once: an operation that runs another
// exported operation on the same handle (the SCPI front end, the self test,
// a locked exchange inside a switching call) goes on under the lock it
// holds. A thread that holds a record's lock cannot start a discovery (it
// would wait for itself): RegistryGuard refuses with -10038.
//
// On Windows the locks are Win32 mutex objects created on first use; when
// Windows cannot create one, the operation is refused with -10035
// (KORVAX_ERR_MALLOC) instead of running unlocked.
#pragma once

#include <stdint.h>

#include <string_view>

#include "base/records.h"

namespace korvax {

class ChassisGuard {
public:
    // Finds the record of handle and takes its lock.
    explicit ChassisGuard(uint32_t handle) noexcept;
    ~ChassisGuard();
    ChassisGuard(const ChassisGuard &) = delete;
    ChassisGuard &operator=(const ChassisGuard &) = delete;

    // The record, locked; null when the guard failed.
    explicit operator bool() const noexcept { return record_ != nullptr; }
    ChassisInfo *get() const noexcept { return record_; }
    ChassisInfo *operator->() const noexcept { return record_; }
    ChassisInfo &operator*() const noexcept { return *record_; }
    // 0; -10023 for a handle no record has; -10035 when the lock could not
    // be created.
    int32_t status() const noexcept { return status_; }

private:
    ChassisInfo *record_ = nullptr;
    int32_t status_ = KORVAX_ERR_HANDLE;
    int index_ = -1;  // record whose lock count this guard holds
};

// Every record to itself: for discovery and for whatever replaces sessions.
class RegistryGuard {
public:
    RegistryGuard() noexcept;
    ~RegistryGuard();
    RegistryGuard(const RegistryGuard &) = delete;
    RegistryGuard &operator=(const RegistryGuard &) = delete;

    explicit operator bool() const noexcept { return status_ == 0; }
    // 0; -10038 when this thread holds a record's lock; -10035 when a lock
    // could not be created.
    int32_t status() const noexcept { return status_; }

private:
    int32_t status_ = 0;
};

// The handle of the discovered chassis whose resource name is exactly
// `name`, read under the registry lock; 0 when there is none.
uint32_t handleNamed(std::string_view name) noexcept;

}  // namespace korvax
