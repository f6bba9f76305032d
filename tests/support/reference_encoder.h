// A deliberately plain encoder of the relay-state frame, written straight
// from the frame rules: walk every point, look up its relays, set bits in a
// per-slot word image, count, then lay the blocks out. The library's fast
// builder is held to this encoder's output byte for byte (tests) and its
// speed is compared with it (benchmarks).
#pragma once

#include <cstdint>
#include <vector>

#include "KORVAX.h"
#include "base/records.h"
#include "maps/KORVAX_common.h"

namespace testsupport {

struct RefGeometry {
    uint16_t model = 0;
    uint32_t boardType = 0;
    int rows = 0, cols = 0, slots = 0, wordsPerBoard = 0, userWords = 0;
    int8_t cardSlot[21];
    uint8_t cascade[2] = {0xFF, 0xFF};
    int cascadeCount = 0;
};

// 0 with the frame, -10030 (closure limit) or -10007 (relay beyond the frame).
inline int32_t referenceFrame(const RefGeometry &g, const uint32_t *state, int32_t count,
                              std::vector<uint8_t> &frame) {
    std::vector<uint16_t> image(static_cast<size_t>(g.slots) * g.wordsPerBoard, 0);
    bool beyond = false;
    auto set = [&](int slot, PointLocation loc) {
        if (loc.word >= g.wordsPerBoard) {
            beyond = true;
            return;
        }
        image[static_cast<size_t>(slot) * g.wordsPerBoard + loc.word] |= static_cast<uint16_t>(1u << loc.bit);
    };
    const int points = g.rows * g.slots * g.cols;
    const int words = count < g.userWords ? count : g.userWords;
    for (int p = 0; p < points && p < words * 32; ++p) {
        if (!((state[p / 32] >> (p % 32)) & 1u)) continue;
        const int r = p / (g.slots * g.cols);
        const int k = (p % (g.slots * g.cols)) / g.cols;
        int c = p % g.cols;
        if (g.model == KORVAX_MODEL_RQ521 && c < 6) c = 5 - c;
        const int slot = g.cardSlot[k];
        if (slot < 0) continue;
        auto look = [&](int group, int row) {
            PointLocation loc{0, 0};
            GetPoint(g.boardType, group, row, c, &loc);
            return loc;
        };
        switch (g.boardType) {
        case 0:
            set(slot, look(MATRIX, r));
            set(slot, look(ISO_Y, r));
            set(slot, look(ISO_X, r));
            break;
        case 1:
            set(slot, look(MATRIX, r));
            set(slot, look(ISO_Y, r));
            set(slot, look(ISO_X, r));
            if (r == 4 || r == 5) set(slot, look(ISO_CV, r));
            break;
        case 2:
            for (int group : {int(MATRIX), int(ISO_Y)}) {
                PointLocation loc = look(group, r % 4);
                loc.word += (r / 4) * g.wordsPerBoard;
                loc.bit -= 1;
                set(slot, loc);
            }
            break;
        case 3:
            set(slot, look(MATRIX, r));
            set(slot, look(ISO_Y, r));
            if (r >= 2) set(slot, look(ISO_X, r));
            if (r >= 6) set(slot, look(ISO_CV, r));
            break;
        }
    }
    if (beyond) return KORVAX_ERR_ROW_RANGE;
    if (g.model == KORVAX_MODEL_RQ523)
        for (int j = 0; j < g.cascadeCount; ++j)
            if (g.cascade[j] == 1) {
                PointLocation loc{0, 0};
                GetPoint(g.boardType, ISO_LT, j, 0, &loc);
                set(0, loc);
            }
    if (g.boardType == 0 && g.wordsPerBoard == 13)
        for (int s = 0; s < g.slots; ++s) image[s * 13 + 12] &= 0x0FFF;
    int closed = 0;
    for (uint16_t w : image)
        for (int b = 0; b < 16; ++b) closed += (w >> b) & 1;
    const bool limited = g.model == KORVAX_MODEL_RQ520 || g.model == KORVAX_MODEL_RQ520B ||
                         g.model == KORVAX_MODEL_RQ521;
    if (limited && ((g.boardType == 0 && closed > 400) || (g.boardType == 1 && closed > 270)))
        return KORVAX_ERR_CLOSURE_LIMIT;
    const int payload = g.slots * g.wordsPerBoard * 2;
    frame.assign(4 + payload, 0);
    frame[0] = 19;
    frame[2] = payload & 0xFF;
    frame[3] = (payload >> 8) & 0xFF;
    for (int s = 0; s < g.slots; ++s)
        for (int w = 0; w < g.wordsPerBoard; ++w) {
            const uint16_t v = image[s * g.wordsPerBoard + (g.wordsPerBoard - 1 - w)];
            frame[4 + 2 * (s * g.wordsPerBoard + w)] = v & 0xFF;
            frame[4 + 2 * (s * g.wordsPerBoard + w) + 1] = v >> 8;
        }
    return 0;
}

inline RefGeometry geometryOf(const ChassisInfo &c) {
    const SubUnitInfo &s = c.subUnits[0];
    RefGeometry g;
    g.model = c.deviceType;
    g.boardType = s.boardType;
    g.rows = s.rowCount;
    g.cols = s.colCount;
    g.slots = s.slotCount;
    g.wordsPerBoard = s.wordsPerBoard;
    g.userWords = s.userWords;
    for (int k = 0; k < 21; ++k) g.cardSlot[k] = s.cardSlot[k];
    g.cascade[0] = s.cascadeState[0];
    g.cascade[1] = s.cascadeState[1];
    g.cascadeCount = s.cascadeCount;
    return g;
}

}  // namespace testsupport
