#include "api/session_per_connect.h"

#include <cstring>

#include "connection/instrument_scan.h"

namespace korvax {

void startConnection(ChassisInfo &c) {
    for (auto &s : c.subUnits) {
        std::memset(s.slotPresent, 0xFF, sizeof s.slotPresent);
        std::memset(s.cardSlot, 0xFF, sizeof s.cardSlot);
        std::memset(s.cascadeState, 0xFF, sizeof s.cascadeState);
    }
    std::memset(c.scpiReply, 0, sizeof c.scpiReply);
    c.connected = 1;
}

void forgetDiscoveredChassis() {
    for (int i = 0; i < KORVAX_MAX_CHASSIS; ++i) {
        ChassisInfo &c = globalChassisInfo[i];
        c.rsrcName[0] = '\0';
        c.vi = 0;
        c.connected = 0;
    }
}

void releaseIdentifiedSession(ChassisInfo &c) {
    if (c.vi != 0) closeSession(c.vi);
    c.vi = 0;
    c.connected = 0;
}

int32_t connectNewSession(std::string_view name, uint32_t &handle) {
    for (int i = 0; i < KORVAX_MAX_CHASSIS; ++i) {
        ChassisInfo &c = globalChassisInfo[i];
        if (c.rsrcName[0] == '\0' || name != std::string_view(c.rsrcName)) continue;
        uint32_t vi = 0;
        if (const int32_t st = openSession(defaultRM, c.rsrcName, vi); st < 0) return st;
        // The previous handle of this chassis no longer resolves to the
        // record; its session would only stay open unused.
        if (c.vi != 0) closeSession(c.vi);
        c.vi = vi;
        handle = vi;
        startConnection(c);
        return 0;
    }
    return KORVAX_ERR_RESOURCE_ABSENT;
}

}  // namespace korvax
