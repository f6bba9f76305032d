// Relay map of the QD3CNew card (board types 8 and 9, and rows 8..15 of the
// QD3Mix card, type 10) on twelve driver words.
//
// Rows come in pairs: rows 2j and 2j+1 share their crosspoint relays and
// their row-isolation relays, and each row has an input relay of its own
// that selects which of the two rows the shared crosspoint connects. The
// column-isolation relays depend only on the row block (rows 0..3 or 4..7).
// The board layout follows no arithmetic pattern, so the wiring is kept as
// data. The tables have 16 rows; the 16-row card repeats rows 0..7 in rows
// 8..15. All tables except the cascade ones are filled by their builders on
// first use; the card has no cascade relays, so its cascade tables stay
// (0, 0, 0).
#include <array>

#include "maps/table_rules.h"

namespace korvax::maps {
namespace {

constexpr int kCardRows = 8;
constexpr int kInputWord = 10;

constexpr int rowPair(int row) { return (row % kCardRows) / 2; }
constexpr int rowBlock(int row) { return (row % kCardRows) / 4; }

using Columns13 = std::array<int32_t, 13>;
using Columns12 = std::array<int32_t, 12>;

// Row-isolation relays of a row pair: one for the lower and one for the
// upper columns of the sub-matrix.
struct RowIsolation {
    LocationEntry lower;
    LocationEntry upper;
};

// ---- A and B (13 columns) ----

constexpr std::array<Columns13, 2> kMatrixWordsAB{{
    {0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2},  // rows 0..3
    {6, 6, 6, 6, 6, 7, 7, 7, 7, 8, 8, 8, 8},  // rows 4..7
}};
constexpr std::array<Columns13, 4> kMatrixBitsAB{{
    {0, 3, 6, 9, 12, 0, 3, 10, 13, 4, 14, 11, 8},  // rows 0, 1
    {1, 4, 7, 10, 13, 1, 4, 11, 14, 3, 7, 12, 9},  // rows 2, 3
    {2, 4, 1, 10, 13, 1, 4, 11, 14, 0, 2, 4, 6},   // rows 4, 5
    {0, 5, 8, 11, 14, 2, 6, 12, 15, 1, 3, 5, 7},   // rows 6, 7
}};
constexpr std::array<Columns13, 2> kIsoXWordsAB{{
    {0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 5},
    {6, 6, 6, 6, 6, 7, 7, 7, 7, 2, 2, 2, 5},
}};
constexpr std::array<Columns13, 2> kIsoXBitsAB{{
    {2, 5, 8, 11, 14, 2, 5, 12, 15, 1, 6, 10, 6},
    {6, 7, 3, 9, 12, 0, 3, 10, 13, 2, 5, 13, 7},
}};
constexpr int kFirstUpperColumnAB = 7;
constexpr std::array<RowIsolation, 4> kIsoYAB{{
    {{1, 6, 0}, {1, 8, 0}},
    {{1, 7, 0}, {1, 9, 0}},
    {{7, 5, 0}, {7, 8, 0}},
    {{7, 7, 0}, {7, 9, 0}},
}};

// ---- C and D (12 columns) ----

constexpr std::array<Columns12, 2> kMatrixWordsCD{{
    {5, 5, 5, 3, 3, 3, 3, 4, 4, 4, 4, 4},
    {8, 8, 8, 11, 11, 11, 11, 9, 9, 9, 9, 9},
}};
constexpr std::array<Columns12, 4> kMatrixBitsCD{{
    {1, 14, 9, 5, 2, 13, 8, 5, 2, 15, 11, 8},
    {2, 13, 10, 6, 3, 1, 9, 6, 1, 13, 12, 9},
    {8, 10, 12, 1, 4, 7, 11, 7, 4, 10, 11, 14},
    {9, 11, 13, 2, 5, 15, 10, 5, 8, 12, 1, 15},
}};
constexpr std::array<Columns12, 2> kIsoXWordsCD{{
    {5, 5, 5, 3, 3, 3, 3, 4, 4, 4, 4, 4},
    {5, 5, 5, 11, 11, 11, 11, 9, 9, 9, 9, 9},
}};
constexpr std::array<Columns12, 2> kIsoXBitsCD{{
    {4, 12, 8, 7, 4, 0, 10, 7, 3, 4, 14, 10},
    {5, 3, 11, 0, 3, 6, 8, 2, 6, 9, 3, 13},
}};
constexpr int kFirstUpperColumnCD = 6;
constexpr std::array<RowIsolation, 4> kIsoYCD{{
    {{3, 15, 0}, {3, 11, 0}},
    {{3, 14, 0}, {3, 12, 0}},
    {{11, 14, 0}, {11, 9, 0}},
    {{11, 12, 0}, {11, 13, 0}},
}};

constexpr Cell matrixAB(int row, int col) {
    return relay(kMatrixWordsAB[rowBlock(row)][col], kMatrixBitsAB[rowPair(row)][col]);
}
constexpr Cell columnIsolationAB(int row, int col) {
    return relay(kIsoXWordsAB[rowBlock(row)][col], kIsoXBitsAB[rowBlock(row)][col]);
}
constexpr Cell rowIsolationAB(int row, int col) {
    const RowIsolation &pair = kIsoYAB[rowPair(row)];
    return col < kFirstUpperColumnAB ? pair.lower : pair.upper;
}
constexpr Cell matrixCD(int row, int col) {
    return relay(kMatrixWordsCD[rowBlock(row)][col], kMatrixBitsCD[rowPair(row)][col]);
}
constexpr Cell columnIsolationCD(int row, int col) {
    return relay(kIsoXWordsCD[rowBlock(row)][col], kIsoXBitsCD[rowBlock(row)][col]);
}
constexpr Cell rowIsolationCD(int row, int col) {
    const RowIsolation &pair = kIsoYCD[rowPair(row)];
    return col < kFirstUpperColumnCD ? pair.lower : pair.upper;
}
// Word 10 holds the sixteen input relays: even bits for A/B, odd for C/D.
constexpr Cell inputAB(int row, int) { return relay(kInputWord, 2 * (row % kCardRows)); }
constexpr Cell inputCD(int row, int) { return relay(kInputWord, 2 * (row % kCardRows) + 1); }

}  // namespace
}  // namespace korvax::maps

using namespace korvax::maps;

LocationEntry QD3CNew_matrixLocationAB[16][13];
LocationEntry QD3CNew_isoLocationX_AB[16][13];
LocationEntry QD3CNew_isoLocationY_AB[16][13];
LocationEntry QD3CNew_IN_AB[16][13];
LocationEntry QD3CNew_matrixLocationCD[16][12];
LocationEntry QD3CNew_isoLocationX_CD[16][12];
LocationEntry QD3CNew_isoLocationY_CD[16][12];
LocationEntry QD3CNew_IN_CD[16][12];
LocationEntry QD3CNew_cascadeLocation_AB[16];
LocationEntry QD3CNew_cascadeLocation_CD[16];

void QD3CNew_setInAB(void) { buildOnce<QD3CNew_IN_AB, inputAB>(); }
void QD3CNew_setInCD(void) { buildOnce<QD3CNew_IN_CD, inputCD>(); }
void QD3CNew_setmatrixLocationAB(void) { buildOnce<QD3CNew_matrixLocationAB, matrixAB>(); }
void QD3CNew_setISOLocationColumnAB(void) {
    buildOnce<QD3CNew_isoLocationX_AB, columnIsolationAB>();
}
void QD3CNew_setISOLocationRowAB(void) { buildOnce<QD3CNew_isoLocationY_AB, rowIsolationAB>(); }
void QD3CNew_setmatrixLocationCD(void) { buildOnce<QD3CNew_matrixLocationCD, matrixCD>(); }
void QD3CNew_setISOLocationColumnCD(void) {
    buildOnce<QD3CNew_isoLocationX_CD, columnIsolationCD>();
}
void QD3CNew_setISOLocationRowCD(void) { buildOnce<QD3CNew_isoLocationY_CD, rowIsolationCD>(); }
