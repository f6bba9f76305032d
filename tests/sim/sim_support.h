// Request builders shared by the simulator tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "sim/chassis.h"

namespace simtest {

using korvax::sim::Bytes;
using korvax::sim::RelayBit;

// Command, argument, the zero length word, then 16-bit payload words low
// byte first.
inline Bytes request(uint8_t command, uint8_t argument = 0, std::initializer_list<uint16_t> words = {}) {
    Bytes r = {command, argument, 0, 0};
    for (uint16_t w : words) {
        r.push_back(static_cast<uint8_t>(w & 0xFF));
        r.push_back(static_cast<uint8_t>(w >> 8));
    }
    return r;
}

// A relay-state frame that closes exactly `closed`, laid out the way the
// boards expect it: block by slot, each block's words highest first.
inline Bytes relayFrame(const korvax::sim::Geometry &g, const std::set<RelayBit> &closed,
                        uint8_t command = 19) {
    const std::size_t wpb = static_cast<std::size_t>(g.wordsPerBoard);
    const std::size_t length = static_cast<std::size_t>(g.boards) * wpb * 2;
    Bytes f(4 + length, 0);
    f[0] = command;
    f[2] = static_cast<uint8_t>(length & 0xFF);
    f[3] = static_cast<uint8_t>(length >> 8);
    for (const RelayBit &r : closed) {
        const std::size_t at = 4 + 2 * (static_cast<std::size_t>(r.slot) * wpb + (wpb - 1 - static_cast<std::size_t>(r.word)));
        const uint16_t bit = static_cast<uint16_t>(1u << r.bit);
        f[at] |= static_cast<uint8_t>(bit & 0xFF);
        f[at + 1] |= static_cast<uint8_t>(bit >> 8);
    }
    return f;
}

inline bool isErrorReport(const Bytes &reply) {
    return reply.size() >= 4 && reply[0] == 0xFF && reply[1] == 0xFF && reply[2] == 0xFF && reply[3] == 0xFF;
}

inline Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

}  // namespace simtest
