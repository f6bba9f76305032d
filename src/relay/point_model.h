// Resolution of one closed crosspoint of sub-unit 0 into the relays that
// must close: the crosspoint relay and its isolation relays, each as
// (physical slot, driver word, bit). Shared by the literal frame fill and
// the fast frame builder, so both place every relay identically.
#pragma once

#include <stdint.h>

#include "base/chassis_model.h"
#include "base/records.h"
#include "maps/KORVAX_common.h"
#include "relay/relay.h"

namespace korvax {

struct Relay {
    int32_t slot;
    int32_t word;
    int32_t bit;
};

// Calls sink(word, bit) for every relay of the crosspoint at row r, column
// col (after the RQ521 mirroring) of a card of boardType: the crosspoint
// relay and its isolation relays.
template <typename Sink>
inline void forEachRelayOfCrosspoint(uint32_t boardType, int32_t r, int32_t col,
                                     int32_t wordsPerBoard, Sink &&sink) {
    auto drive = [&](int32_t group, int32_t row, int32_t wordOffset, int32_t bitOffset) {
        PointLocation loc{0, 0};
        GetPoint(boardType, group, static_cast<uint32_t>(row), static_cast<uint32_t>(col), &loc);
        sink(loc.word + wordOffset, loc.bit + bitOffset);
    };
    switch (boardType) {
    case 0:
        drive(MATRIX, r, 0, 0);
        drive(ISO_Y, r, 0, 0);
        drive(ISO_X, r, 0, 0);
        break;
    case 1:
        drive(MATRIX, r, 0, 0);
        drive(ISO_Y, r, 0, 0);
        drive(ISO_X, r, 0, 0);
        if (r == 4 || r == 5) drive(ISO_CV, r, 0, 0);
        break;
    case 2: {
        // Four rows share one set of table rows; each further group of four
        // rows sits one card block (wordsPerBoard words) further on, and the
        // tables count bits from 1.
        const int32_t offset = (r / 4) * wordsPerBoard;
        drive(MATRIX, r % 4, offset, -1);
        drive(ISO_Y, r % 4, offset, -1);
        break;
    }
    case 3:
        drive(MATRIX, r, 0, 0);
        drive(ISO_Y, r, 0, 0);
        if (r >= 2 && r <= 7) drive(ISO_X, r, 0, 0);
        if (r >= 6 && r <= 7) drive(ISO_CV, r, 0, 0);
        break;
    default:
        break;
    }
}

// Where point p of a sub-unit sits: row and column of its card (the column
// as wired), and the card's physical slot. status is 0, 1 when no card is
// present at that position (nothing to drive), or a bound check's code.
struct PointAddress {
    int32_t status;
    int32_t row, col, slot;
};

inline PointAddress locatePoint(const ChassisModel &m, const SubUnitInfo &s, uint32_t p) {
    const uint32_t perRow = static_cast<uint32_t>(s.slotCount) * s.colCount;
    if (perRow == 0) return {1, 0, 0, 0};
    const int32_t r = static_cast<int32_t>(p / perRow);
    const uint32_t rest = p % perRow;
    const uint32_t k = rest / s.colCount;
    int32_t col = static_cast<int32_t>(rest % s.colCount);
    if (m.mirroredColumns && col <= 5) col = 5 - col;
    if (k >= KORVAX_SLOTS) return {1, r, col, 0};
    const int32_t slot = s.cardSlot[k];
    if (slot < 0) return {1, r, col, slot};  // no card at that position
    return {CheckPointParam(r, col, 0, s.rowCount, s.colCount), r, col, slot};
}

// Calls sink(Relay) for every relay that closed point p drives. Returns 0,
// 1 when the point has no present card (nothing driven), or the failing
// bound check's code.
template <typename Sink>
inline int32_t forEachRelayOfPoint(const ChassisModel &m, const SubUnitInfo &s, uint32_t p,
                                   Sink &&sink) {
    const PointAddress at = locatePoint(m, s, p);
    if (at.status != 0) return at.status;
    forEachRelayOfCrosspoint(s.boardType, at.row, at.col, s.wordsPerBoard,
                             [&](int32_t word, int32_t bit) { sink(Relay{at.slot, word, bit}); });
    return 0;
}

// The LT relays that cascadeState asks to close (slot block 0), on the
// models that drive them.
template <typename Sink>
inline void forEachCascadeRelay(const ChassisModel &m, const SubUnitInfo &s, Sink &&sink) {
    if (!m.cascadeRelays) return;
    for (uint32_t j = 0; j < s.cascadeCount && j < 2; ++j) {
        if (s.cascadeState[j] != 1) continue;
        PointLocation loc{0, 0};
        GetPoint(s.boardType, ISO_LT, j, 0, &loc);
        sink(Relay{0, loc.word, loc.bit});
    }
}

// Frame data area of the literal fill: slot block, word, bit -> one byte.
constexpr int kDataSlots = 25;
constexpr int kDataWords = 200;
constexpr int kDataBytes = kDataSlots * kDataWords * 16;
// Point-flag area: one byte per point index.
constexpr int kFlagCount = 40000;

}  // namespace korvax
