// Fast builder of the relay-state frame: 16-bit driver words assembled
// directly from the set bits of a state array.
#pragma once

#include <array>
#include <stdint.h>

#include "base/records.h"

namespace korvax {

class FrameWords {
public:
    // Largest frame: 21 slot blocks of 49 words (RQ522); room for any
    // geometry the data area of the literal builder could describe.
    static constexpr int32_t kMaxWords = 25 * 200;

    // Resolves every closed point of the state into driver words. Returns 0,
    // -10007 for a relay beyond the block's words, -10038 for a geometry
    // larger than any frame, or a point check's code.
    int32_t build(const ChassisInfo &c, const SubUnitInfo &s, const uint32_t *state, int32_t count);
    // Set bits over the whole frame (isolation relays included).
    int32_t closedRelays() const;
    // Writes header and blocks; returns the frame length.
    int32_t encode(uint8_t command, uint8_t *frame) const;

private:
    // Left uninitialised: build() clears only the words the frame uses.
    std::array<uint16_t, kMaxWords> words_;
    int32_t boards_ = 0;
    int32_t perBoard_ = 0;
};

// Length of sub-unit 0's relay-state frame (payload kept to 16 bits, as sent).
int32_t frameLength(const SubUnitInfo &s);
// Exchanges a relay-state frame (the switching frame or the all-open frame
// of a clear) under the chassis's lock when `lock` is set, and judges the
// reply: the exchange's failure; a reply without its acknowledgement byte
// (-10005); the refusal of a chassis in local control (-10040: byte 0 is
// 0xFF on a model that switches only under remote control). Otherwise the
// reply's byte count: the chassis took the frame.
int32_t exchangeRelayFrame(ChassisInfo &c, const uint8_t *frame, int32_t length, int32_t lock);
// Builds and exchanges the frame for a state (count words, may be 0).
int32_t sendRelayState(ChassisInfo &c, const uint32_t *state, int32_t count, int32_t lock);
// KORVAX_OpMatrix on a record: switches the sub-unit to the state and, once
// the instrument accepted it, keeps it as the sub-unit's userState. state
// may be that userState itself.
int32_t switchState(ChassisInfo &c, long subUnit, const uint32_t *state, int32_t count);

}  // namespace korvax
