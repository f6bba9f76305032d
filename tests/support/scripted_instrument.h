// A minimal instrument behind the scripted VISA: answers the version,
// presence, control-mode and slot-information requests from a few settings
// and acknowledges everything else, so tests can go through card
// identification and initialisation without queuing every reply by hand.
#pragma once

#include <cstdint>
#include <vector>

#include "fakevisa/fake_visa.h"

namespace testsupport {

struct InstrumentState {
    uint8_t fwMajor = 3, fwMinor = 6;  // controller version (bytes 2-3 of the version reply)
    bool rq520Layout = false;          // RQ520 family: report it in bytes 4-5 instead
    uint32_t presence = 0x1FFFFF;      // presence bits (bytes 2..4 of command 10)
    uint8_t loopBack = 0xFF;           // byte 2 of the loop-back replies
    uint8_t controlMode = 1;           // remote
    uint8_t rfKind = 0;                // reply byte 2 of command 17
    uint8_t slot6Hw = 10;              // hardware code of slot 6
    uint16_t adapterCode = 0x041A;
    std::vector<uint8_t> relayReply = std::vector<uint8_t>(16, 0);
};

inline fakevisa::Responder instrument(const InstrumentState &st) {
    return [st](const fakevisa::Bytes &req) {
        fakevisa::Bytes r(64, 0);
        if (req.empty()) return fakevisa::Reply{r};
        switch (req[0]) {
        case 11:
            if (st.rq520Layout) {
                r[4] = st.fwMajor;
                r[5] = st.fwMinor;
            } else {
                r[2] = st.fwMajor;
                r[3] = st.fwMinor;
            }
            break;
        case 10:
            r[2] = st.presence & 0xFF;
            r[3] = (st.presence >> 8) & 0xFF;
            r[4] = (st.presence >> 16) & 0xFF;
            break;
        case 12:
            r[2] = st.loopBack;
            break;
        case 5:
            r[2] = st.controlMode;
            break;
        case 17:
            r[2] = st.rfKind;
            break;
        case 8: {
            r.assign(200, 0);
            r[24 + 10 * 5] = st.slot6Hw;
            const bool newLayout = st.fwMajor > 3 || (st.fwMajor == 3 && st.fwMinor >= 6);
            const int at = newLayout ? 10 : 6;
            r[at] = st.adapterCode >> 8;
            r[at + 1] = st.adapterCode & 0xFF;
            break;
        }
        case 19:
        case 67:
            r = st.relayReply;
            break;
        default:
            break;
        }
        return fakevisa::Reply{r};
    };
}

}  // namespace testsupport
