// Sessions of the Windows driver: discovery only identifies a chassis and
// closes its session again; every KORVAX_Connect opens a fresh session,
// which becomes the handle, and starts the record's presence data afresh.
#pragma once

#include <stdint.h>

#include <string_view>

#include "base/records.h"

namespace korvax {

// A record as a new connection starts it: presence, card slots and
// cascade relays unknown until asked, no SCPI reply waiting.
void startConnection(ChassisInfo &c);

// Empties the records of the previous discovery (their sessions went with
// its resource manager), so that only chassis the next discovery lists can
// be connected and no old handle resolves.
void forgetDiscoveredChassis();

// Closes the session discovery identified the chassis with; the record
// keeps its resource name and model, and no handle resolves to it.
void releaseIdentifiedSession(ChassisInfo &c);

// Opens a new session to the discovered chassis named `name` (the resource
// manager is opened first if none is), closes the record's previous
// session, and marks every presence, card-slot and cascade byte unknown.
// 0 with handle set; -10048 for a name discovery did not list; a negative
// VISA status when the manager or the session cannot be opened.
int32_t connectNewSession(std::string_view name, uint32_t &handle);

}  // namespace korvax
