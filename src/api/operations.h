// Steps shared by several exported operations.
#pragma once

#include <stdint.h>

#include "base/records.h"
#include "platform/platform.h"

// How many resources discovery probes at once (1 to 32, default 32; 1 probes
// them one after another). Returns the value now in force. Tests and
// benchmarks compare both ways; the outcome of a discovery is the same.
KORVAX_INTERNAL uint32_t SetDiscoveryThreads(uint32_t threads);

struct KORVAX_ProbeReport;

namespace korvax {

// What the last discovery saw at resource `index` of its list (copied into
// *report when there is one); returns the number of resources it listed.
int32_t discoveryReport(uint32_t index, KORVAX_ProbeReport *report);

// Command 11 with both buffers cleared; updates fwMajor / fwMinor (RQ520
// family: from reply bytes 4-5 when either is non-zero, else bytes 2-3).
// Returns the exchange's status (negative on failure).
int32_t refreshVersion(ChassisInfo &c);

// The API-module lock: serialises a baud-rate change (the instrument and
// the session must switch together). Usable from load on.
platform::Mutex &apiMutex();

// Internal forms of exported operations, on a record already looked up;
// same checks (after the handle's), codes and wire traffic.
int32_t openSpecifiedCard(ChassisInfo &c, int64_t subUnit, int64_t *openedSubUnit);
int32_t clearSubUnit(ChassisInfo &c, int64_t subUnit);
int32_t controlModeOf(ChassisInfo &c, uint32_t &mode);
int32_t changeControlMode(ChassisInfo &c, uint32_t mode);

}  // namespace korvax
