// Helpers of the relay-map tests: a lookup that tells "left alone" from a
// result, and a byte image of every table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "maps/KORVAX_common.h"

namespace mapstest {

struct Relay {
    int32_t word;
    int32_t bit;
    bool operator==(const Relay &) const = default;
};

inline std::string toString(const std::optional<Relay> &r) {
    if (!r) return "untouched";
    return "(" + std::to_string(r->word) + ", " + std::to_string(r->bit) + ")";
}

// GetPoint with an output no table holds, so that "left as it was" shows.
inline std::optional<Relay> lookup(uint32_t board, int32_t group, uint32_t row, uint32_t col) {
    constexpr int32_t kUntouched = -7777;
    PointLocation out{kUntouched, kUntouched};
    if (GetPoint(board, group, row, col, &out) != 0) return Relay{-1, -1};
    if (out.word == kUntouched && out.bit == kUntouched) return std::nullopt;
    return Relay{out.word, out.bit};
}

struct NamedTable {
    const char *name;
    std::span<const std::byte> bytes;
    void (*builder)();  // nullptr: no builder ever fills it
    bool heldFromLoad;  // complete before any builder runs
};

// Every table the library exports (the base-family tables are private),
// with its builder.
inline std::vector<NamedTable> exportedTables() {
#define MAPS_TABLE(t, builder, held) NamedTable{#t, std::as_bytes(std::span(t)), builder, held}
    return {
        MAPS_TABLE(RQ521_matrixLocation, RQ521_setMatrixLocation, false),
        MAPS_TABLE(RQ521_isoLocationX, RQ521_setisoLocationX, false),
        MAPS_TABLE(RQ521_isoLocationY, RQ521_setisoLocationY, false),
        MAPS_TABLE(RQ521_isoLocationCV, RQ521_setCV, false),
        MAPS_TABLE(RQ522_matrixLocation, RQ522_setMatrixLocation, false),
        MAPS_TABLE(RQ522_isoLocationY, RQ522_setisoLocationY, false),
        MAPS_TABLE(RQ523_matrixLocation, RQ523_setMatrixLocation, false),
        MAPS_TABLE(RQ523_isoLocationX, RQ523_setisoLocationX, false),
        MAPS_TABLE(RQ523_isoLocationY, RQ523_setisoLocationY, false),
        MAPS_TABLE(RQ523_isoLocationCV, RQ523_setisoLocationCV, false),
        MAPS_TABLE(RQ523_isoLocationLT, RQ523_setisoLocationLT, false),
        MAPS_TABLE(QD2_matrixLocationAB, setQD2_matrixLocationAB, true),
        MAPS_TABLE(QD2_isoLocationX_AB, setISORFLocationColumnAB, true),
        MAPS_TABLE(QD2_isoLocationY_AB, setISORFLocationRowAB, true),
        MAPS_TABLE(QD2_matrixLocationC, setQD2_matrixLocationC, true),
        MAPS_TABLE(QD2_isoLocationX_C, setISORFLocationColumnC, true),
        MAPS_TABLE(QD2_isoLocationY_C, setISORFLocationRowC, true),
        MAPS_TABLE(QD2_matrixLocationD, setQD2_matrixLocationD, true),
        MAPS_TABLE(QD2_isoLocationX_D, setISORFLocationColumnD, true),
        MAPS_TABLE(QD2_isoLocationY_D, setISORFLocationRowD, true),
        MAPS_TABLE(QD2_cascadeLocation_AB, setCascadeLocaionAB, true),
        MAPS_TABLE(QD2_cascadeLocation_CD, setCascadeLocaionCD, true),
        MAPS_TABLE(QD3_matrixLocationAB, QD3_setmatrixLocationAB, false),
        MAPS_TABLE(QD3_isoLocationX_AB, QD3_setISOLocationColumnAB, false),
        MAPS_TABLE(QD3_isoLocationY_AB, QD3_setISOLocationRowAB, false),
        MAPS_TABLE(QD3_matrixLocationCD, QD3_setmatrixLocationCD, false),
        MAPS_TABLE(QD3_isoLocationX_CD, QD3_setISOLocationColumnCD, false),
        MAPS_TABLE(QD3_isoLocationY_C, QD3_setISOLocationRowC, false),
        MAPS_TABLE(QD3_isoLocationY_D, QD3_setISOLocationRowD, false),
        MAPS_TABLE(QD3_cascadeLocation_AB, QD3_setCascadeLocaionAB, true),
        MAPS_TABLE(QD3_cascadeLocation_CD, QD3_setCascadeLocaionCD, true),
        MAPS_TABLE(QD3CNew_matrixLocationAB, QD3CNew_setmatrixLocationAB, false),
        MAPS_TABLE(QD3CNew_isoLocationX_AB, QD3CNew_setISOLocationColumnAB, false),
        MAPS_TABLE(QD3CNew_isoLocationY_AB, QD3CNew_setISOLocationRowAB, false),
        MAPS_TABLE(QD3CNew_IN_AB, QD3CNew_setInAB, false),
        MAPS_TABLE(QD3CNew_matrixLocationCD, QD3CNew_setmatrixLocationCD, false),
        MAPS_TABLE(QD3CNew_isoLocationX_CD, QD3CNew_setISOLocationColumnCD, false),
        MAPS_TABLE(QD3CNew_isoLocationY_CD, QD3CNew_setISOLocationRowCD, false),
        MAPS_TABLE(QD3CNew_IN_CD, QD3CNew_setInCD, false),
        MAPS_TABLE(QD3CNew_cascadeLocation_AB, nullptr, false),
        MAPS_TABLE(QD3CNew_cascadeLocation_CD, nullptr, false),
        MAPS_TABLE(QD3C_matrixLocationAB, QD3C_setmatrixLocationAB, false),
        MAPS_TABLE(QD3C_isoLocationX_AB, QD3C_setISOLocationColumnAB, false),
        MAPS_TABLE(QD3C_isoLocationY_AB, QD3C_setISOLocationRowAB, false),
        MAPS_TABLE(QD3C_matrixLocationCD, QD3C_setmatrixLocationCD, false),
        MAPS_TABLE(QD3C_isoLocationX_CD, QD3C_setISOLocationColumnCD, false),
        MAPS_TABLE(QD3C_isoLocationY_CD, QD3C_setISOLocationRowCD, false),
        MAPS_TABLE(QD3C_IN_A, QD3C_setInA, false),
        MAPS_TABLE(QD3C_IN_B, QD3C_setInB, false),
        MAPS_TABLE(QD3C_IN_C, QD3C_setInC, false),
        MAPS_TABLE(QD3C_IN_D, QD3C_setInD, false),
        MAPS_TABLE(QD3C_cascadeLocation_AB, nullptr, false),
        MAPS_TABLE(QD3C_cascadeLocation_CD, nullptr, false),
        MAPS_TABLE(QD3C_IN_AB, nullptr, false),
        MAPS_TABLE(QD3C_IN_CD, nullptr, false),
        MAPS_TABLE(matrixAPLocation, setMatrixAPLocation, true),
        MAPS_TABLE(matrixAP_520BLocation, setMatrixAP_520BLocation, true),
    };
#undef MAPS_TABLE
}

// Bytes of every exported table, then the base-family cells as GetPoint
// returns them (those tables are private to the library).
inline std::vector<std::byte> snapshot(bool onlyHeldFromLoad = false) {
    std::vector<std::byte> image;
    for (const NamedTable &t : exportedTables())
        if (!onlyHeldFromLoad || t.heldFromLoad)
            image.insert(image.end(), t.bytes.begin(), t.bytes.end());
    for (int32_t group : {MATRIX, ISO_X, ISO_Y})
        for (uint32_t row = 0; row < 12; ++row)
            for (uint32_t col = 0; col < 10; ++col) {
                PointLocation out{-1, -1};
                GetPoint(0, group, row, col, &out);
                const auto bytes = std::as_bytes(std::span(&out, 1));
                image.insert(image.end(), bytes.begin(), bytes.end());
            }
    return image;
}

// FNV-1a, printed as 16 hex digits: enough to compare two processes' tables.
inline std::string digest(const std::vector<std::byte> &image) {
    uint64_t h = 14695981039346656037ull;
    for (std::byte b : image) {
        h ^= static_cast<uint64_t>(b);
        h *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

}  // namespace mapstest
