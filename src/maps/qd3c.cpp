// Relay map of the QD3C card (board type 7): 8 rows, sub-matrices A and B on
// 13-column tables and C and D on 12-column ones.
//
// As on the QD3CNew card, rows 2i and 2i+1 share their crosspoint and
// row-isolation relays; an input relay per row and sub-matrix picks the row.
// In rows 0..3 each column has a triple of bits: the crosspoint of the even
// row pair, that of the odd row pair, then the column-isolation relay, which
// serves rows 4..7 as well. Rows 4..7 pack their crosspoints two bits per
// column into words of their own. The input relays sit on word 10 and are
// shared by rows r and r+4. Their entries record the bank (0 for rows 0..3,
// 1 for rows 4..7) in front of word and bit; a lookup returns word and bit.
//
// The tables have 16 rows; the card uses rows 0..7, except that the
// column-isolation tables are filled in all 16 rows. All tables are filled
// by their builders on first use; the cascade tables and the combined input
// tables QD3C_IN_AB / QD3C_IN_CD belong to no relay of this card and stay
// (0, 0, 0).
#include <array>

#include "maps/table_rules.h"

namespace korvax::maps {
namespace {

constexpr int kCardRows = 8;
constexpr int kInputWord = 10;

// 0 for the row pairs (0, 1) and (4, 5), 1 for (2, 3) and (6, 7).
constexpr int oddPair(int row) { return (row % 4) / 2; }
constexpr bool lowerBlock(int row) { return row < 4; }

struct ColumnTriple {
    int32_t word;
    int32_t bit;  // crosspoint of the even row pair; +1 odd pair, +2 isolation
};

// Second half of the card (rows 4..7): crosspoints two bits per column.
struct PackedRun {
    int32_t word;
    int32_t firstColumn;  // its column c sits on bits 2 * (c - firstColumn) + pair
};

struct RowIsolation {
    LocationEntry lower;  // row pair 0 of the block; +1 bit for pair 1
    LocationEntry upper;
};

constexpr std::array<ColumnTriple, 13> kTriplesAB{{
    {0, 0}, {0, 3}, {0, 6}, {0, 9}, {0, 12}, {1, 0}, {1, 3},
    {1, 10}, {1, 13}, {2, 0}, {2, 3}, {2, 6}, {2, 9},
}};
constexpr PackedRun kRunLowAB{6, 0};   // columns 0..6
constexpr PackedRun kRunHighAB{7, 6};  // columns 7..12
constexpr int kFirstUpperColumnAB = 7;
constexpr std::array<RowIsolation, 2> kIsoYAB{{
    {{1, 6, 0}, {1, 8, 0}},   // rows 0..3
    {{6, 14, 0}, {7, 0, 0}},  // rows 4..7
}};

constexpr std::array<ColumnTriple, 12> kTriplesCD{{
    {3, 0}, {3, 3}, {3, 6}, {3, 9}, {3, 12}, {4, 0},
    {4, 7}, {4, 10}, {4, 13}, {5, 0}, {5, 3}, {5, 6},
}};
constexpr PackedRun kRunLowCD{8, 0};   // columns 0..5
constexpr PackedRun kRunHighCD{9, 5};  // columns 6..11
constexpr int kFirstUpperColumnCD = 6;
constexpr std::array<RowIsolation, 2> kIsoYCD{{
    {{4, 3, 0}, {4, 5, 0}},
    {{8, 12, 0}, {9, 0, 0}},
}};

constexpr Cell crosspoint(const ColumnTriple &triple, const PackedRun &run, int row, int col) {
    if (row >= kCardRows) return kNoRelay;
    if (lowerBlock(row)) return relay(triple.word, triple.bit + oddPair(row));
    return relay(run.word, 2 * (col - run.firstColumn) + oddPair(row));
}

constexpr Cell rowIsolation(const RowIsolation &block, bool upper, int row) {
    if (row >= kCardRows) return kNoRelay;
    const LocationEntry &first = upper ? block.upper : block.lower;
    return relay(first.word, first.bit + oddPair(row));
}

constexpr Cell matrixAB(int row, int col) {
    return crosspoint(kTriplesAB[col], col < kFirstUpperColumnAB ? kRunLowAB : kRunHighAB, row,
                      col);
}
constexpr Cell columnIsolationAB(int, int col) {
    return relay(kTriplesAB[col].word, kTriplesAB[col].bit + 2);
}
constexpr Cell rowIsolationAB(int row, int col) {
    return rowIsolation(kIsoYAB[lowerBlock(row) ? 0 : 1], col >= kFirstUpperColumnAB, row);
}
constexpr Cell matrixCD(int row, int col) {
    return crosspoint(kTriplesCD[col], col < kFirstUpperColumnCD ? kRunLowCD : kRunHighCD, row,
                      col);
}
constexpr Cell columnIsolationCD(int, int col) {
    return relay(kTriplesCD[col].word, kTriplesCD[col].bit + 2);
}
constexpr Cell rowIsolationCD(int row, int col) {
    return rowIsolation(kIsoYCD[lowerBlock(row) ? 0 : 1], col >= kFirstUpperColumnCD, row);
}

// Input relays: bit by row inside its bank, m = row mod 4.
enum class InputBits { EvenUp, OddUp, OddDown, EvenDown };

constexpr int inputBit(InputBits order, int m) {
    switch (order) {
    case InputBits::EvenUp: return 2 * m;          // A: 0, 2, 4, 6
    case InputBits::OddDown: return 15 - 2 * m;    // B: 15, 13, 11, 9
    case InputBits::OddUp: return 2 * m + 1;       // C: 1, 3, 5, 7
    case InputBits::EvenDown: return 14 - 2 * m;   // D: 14, 12, 10, 8
    }
    return 0;
}

// Only the 13 columns of a sub-matrix are filled, whatever the table width.
constexpr int kInputColumns = 13;

template <InputBits Order>
constexpr Cell input(int row, int col) {
    if (row >= kCardRows || col >= kInputColumns) return kNoRelay;
    return LocationEntry{row / 4, kInputWord, inputBit(Order, row % 4)};
}

}  // namespace
}  // namespace korvax::maps

using namespace korvax::maps;

LocationEntry QD3C_matrixLocationAB[16][13];
LocationEntry QD3C_isoLocationX_AB[16][13];
LocationEntry QD3C_isoLocationY_AB[16][13];
LocationEntry QD3C_matrixLocationCD[16][12];
LocationEntry QD3C_isoLocationX_CD[16][12];
LocationEntry QD3C_isoLocationY_CD[16][12];
LocationEntry QD3C_IN_A[16][13];
// Rows of 50 entries, and the lookup indexes them with that width; only the
// 13 columns of the sub-matrix are filled.
LocationEntry QD3C_IN_B[16][50];
LocationEntry QD3C_IN_C[16][12];
LocationEntry QD3C_IN_D[16][12];
LocationEntry QD3C_cascadeLocation_AB[16];
LocationEntry QD3C_cascadeLocation_CD[16];
LocationEntry QD3C_IN_AB[16][13];
LocationEntry QD3C_IN_CD[16][12];

void QD3C_setInA(void) { buildOnce<QD3C_IN_A, input<InputBits::EvenUp>>(); }
void QD3C_setInB(void) { buildOnce<QD3C_IN_B, input<InputBits::OddDown>>(); }
void QD3C_setInC(void) { buildOnce<QD3C_IN_C, input<InputBits::OddUp>>(); }
void QD3C_setInD(void) { buildOnce<QD3C_IN_D, input<InputBits::EvenDown>>(); }
void QD3C_setmatrixLocationAB(void) { buildOnce<QD3C_matrixLocationAB, matrixAB>(); }
void QD3C_setISOLocationColumnAB(void) { buildOnce<QD3C_isoLocationX_AB, columnIsolationAB>(); }
void QD3C_setISOLocationRowAB(void) { buildOnce<QD3C_isoLocationY_AB, rowIsolationAB>(); }
void QD3C_setmatrixLocationCD(void) { buildOnce<QD3C_matrixLocationCD, matrixCD>(); }
void QD3C_setISOLocationColumnCD(void) { buildOnce<QD3C_isoLocationX_CD, columnIsolationCD>(); }
void QD3C_setISOLocationRowCD(void) { buildOnce<QD3C_isoLocationY_CD, rowIsolationCD>(); }
