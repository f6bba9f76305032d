// Wiring shared by the QD2 and QD3 cards.
//
// Both are 8-row cards whose rows form two blocks of four. Every column owns
// a five-bit slice of one driver word in each block: in block 0 the four
// crosspoint relays come first and the column-isolation relay last, in
// block 1 the isolation relay comes first. The row-isolation relays of a
// sub-matrix share one word per block (the "row word"), and the cascade
// relays fill the bits that word leaves free. The two cards differ only in
// where the words of block 1 start.
#pragma once

#include <cstdint>

#include "maps/table_rules.h"

namespace korvax::maps {

inline constexpr int kSliceBlockRows = 4;

// Driver word of a column in block 0 and in block 1, and the first bit of
// its slice.
struct ColumnSlice {
    int32_t word0;
    int32_t word1;
    int32_t start;
};

// Words of the row-isolation relays in block 0; block 1 sits blockStride
// words further on.
struct SliceCard {
    int32_t rowWordAB;
    int32_t rowWordCD;
    int32_t blockStride;
};

struct SliceRow {
    int block;  // 0 for rows 0..3, 1 for rows 4..7
    int pos;    // row inside its block
};

constexpr SliceRow sliceRow(int row) { return {row / kSliceBlockRows, row % kSliceBlockRows}; }

// Block 0 takes bits S..S+3 for the crosspoints; block 1 moves them up by one.
constexpr Cell sliceCrosspoint(const ColumnSlice &s, int row) {
    const SliceRow r = sliceRow(row);
    return relay(r.block == 0 ? s.word0 : s.word1, s.start + r.block + r.pos);
}

constexpr Cell sliceColumnIsolation(const ColumnSlice &s, int row) {
    return sliceRow(row).block == 0 ? relay(s.word0, s.start + 4) : relay(s.word1, s.start);
}

// A and B: one row-isolation relay per row for columns 0..6 (bits 5..8) and
// another for columns 7..12 (bits 9..12).
constexpr Cell sliceRowIsolationAB(const SliceCard &card, int row, int col) {
    const SliceRow r = sliceRow(row);
    return relay(card.rowWordAB + card.blockStride * r.block, (col < 7 ? 5 : 9) + r.pos);
}

// C: columns 0..5 on bits 0..3, columns 6..11 on bits 4..7 of the row word.
constexpr Cell sliceRowIsolationC(const SliceCard &card, int row, int col) {
    const SliceRow r = sliceRow(row);
    return relay(card.rowWordCD + card.blockStride * r.block, (col < 6 ? 0 : 4) + r.pos);
}

// D: as C, except that in block 0 the relays of columns 6..11 sit on bits
// 12..15, above the cascade relays.
constexpr Cell sliceRowIsolationD(const SliceCard &card, int row, int col) {
    const SliceRow r = sliceRow(row);
    const int first = col < 6 ? 0 : (r.block == 0 ? 12 : 4);
    return relay(card.rowWordCD + card.blockStride * r.block, first + r.pos);
}

// A/B cascade relays: bits 13, 14, 15 of the AB row word, then bit 0 of the
// word after it.
constexpr Cell sliceCascadeAB(const SliceCard &card, int row) {
    const SliceRow r = sliceRow(row);
    const int bit = 13 + r.pos;
    return relay(card.rowWordAB + card.blockStride * r.block + bit / 16, bit % 16);
}

// C/D cascade relays: bits 8..11 of the CD row word.
constexpr Cell sliceCascadeCD(const SliceCard &card, int row) {
    const SliceRow r = sliceRow(row);
    return relay(card.rowWordCD + card.blockStride * r.block, 8 + r.pos);
}

}  // namespace korvax::maps
