// Relay maps of the matrix cards built into the RQ521, RQ522 and RQ523
// chassis (board types 1, 2 and 3). The tables are filled by their builders
// on first use.
#include <array>

#include "maps/table_rules.h"

namespace korvax::maps {
namespace {

// ---- RQ521: 10 rows x 12 columns on 13 driver words ----
//
// Each row has a word of its own: crosspoints of columns 0..5 on bits 0..5,
// of columns 6..11 on bits 8..13, and the row's two isolation relays (one
// per column half) on bits 6 and 7 between them. Words 4, 5 and 8 carry the
// column-isolation relays of three row bands; word 6 (row 4) also carries
// the two extra isolation relays of rows 4 and 5 on bits 15 and 14.

constexpr std::array<int32_t, 10> kRq521RowWord{0, 1, 2, 3, 6, 7, 9, 10, 11, 12};
constexpr int kHalfColumns = 6;

constexpr Cell rq521Crosspoint(int row, int col) {
    return relay(kRq521RowWord[row], col < kHalfColumns ? col : col + 2);
}
constexpr Cell rq521RowIsolation(int row, int col) {
    return relay(kRq521RowWord[row], col < kHalfColumns ? 6 : 7);
}
constexpr Cell rq521ColumnIsolation(int row, int col) {
    const int32_t word = row <= 3 ? 4 : (row <= 5 ? 5 : 8);
    return relay(word, col);
}
constexpr Cell rq521Cv(int row, int) {
    if (row == 4) return relay(6, 15);
    if (row == 5) return relay(6, 14);
    return kNoRelay;
}

// ---- RQ522: 4 rows x 96 columns per card block, bits counted from 1 ----
//
// Word w drives columns 2w and 2w+1 of all four rows on bits 1..8; how the
// eight relays are ordered on the word changes every 24 columns. The four
// row-isolation relays are bits 5..8 of word 48. Rows 4..15 of the chassis
// reuse these four rows one card block further on, so only rows 0..3 are
// filled.

constexpr int kRq522Rows = 4;
constexpr int kRq522RowIsolationWord = 48;

constexpr Cell rq522Crosspoint(int row, int col) {
    if (row >= kRq522Rows) return kNoRelay;
    const int r1 = row + 1;
    const int c1 = col + 1;
    const bool odd = c1 % 2 == 1;
    int bit = 0;
    if (c1 <= 24)
        bit = odd ? 9 - r1 : r1;
    else if (c1 <= 48)
        bit = odd ? 2 * r1 - 1 : 2 * r1;
    else if (c1 <= 72)
        bit = odd ? 2 * r1 : 2 * r1 - 1;
    else
        bit = odd ? 5 - r1 : r1 + 4;
    return relay(col / 2, bit);
}
constexpr Cell rq522RowIsolation(int row, int) {
    if (row >= kRq522Rows) return kNoRelay;
    return relay(kRq522RowIsolationWord, 4 + row + 1);
}

// ---- RQ523: 8 rows x 12 columns on 10 driver words ----
//
// Each row has a word of its own, laid out as on the RQ521. Rows 0 and 1
// have no column isolation; rows 2..7 share the column-isolation relays of
// word 2, and rows 6 and 7 have a second set on word 7. The two LT
// (cascade) relays sit on free bits of words 0 and 2 and are looked up by
// cascade index instead of row.

constexpr std::array<int32_t, 8> kRq523RowWord{0, 1, 3, 4, 5, 6, 8, 9};

constexpr Cell rq523Crosspoint(int row, int col) {
    return relay(kRq523RowWord[row], col < kHalfColumns ? col : col + 2);
}
constexpr Cell rq523RowIsolation(int row, int col) {
    return relay(kRq523RowWord[row], col < kHalfColumns ? 6 : 7);
}
constexpr Cell rq523ColumnIsolation(int row, int col) {
    return row >= 2 ? relay(2, col) : kNoRelay;
}
constexpr Cell rq523Cv(int row, int col) { return row >= 6 ? relay(7, col) : kNoRelay; }
constexpr Cell rq523Lt(int index, int) {
    if (index == 0) return relay(0, 14);
    if (index == 1) return relay(2, 13);
    return kNoRelay;
}

}  // namespace
}  // namespace korvax::maps

using namespace korvax::maps;

LocationEntry RQ521_matrixLocation[10][12];
LocationEntry RQ521_isoLocationX[10][12];
LocationEntry RQ521_isoLocationY[10][12];
LocationEntry RQ521_isoLocationCV[10][12];
LocationEntry RQ522_matrixLocation[16][96];
LocationEntry RQ522_isoLocationY[16][96];
LocationEntry RQ523_matrixLocation[8][12];
LocationEntry RQ523_isoLocationX[8][12];
LocationEntry RQ523_isoLocationY[8][12];
LocationEntry RQ523_isoLocationCV[8][12];
LocationEntry RQ523_isoLocationLT[8][12];

void RQ521_setMatrixLocation(void) { buildOnce<RQ521_matrixLocation, rq521Crosspoint>(); }
void RQ521_setisoLocationX(void) { buildOnce<RQ521_isoLocationX, rq521ColumnIsolation>(); }
void RQ521_setisoLocationY(void) { buildOnce<RQ521_isoLocationY, rq521RowIsolation>(); }
void RQ521_setCV(void) { buildOnce<RQ521_isoLocationCV, rq521Cv>(); }
void RQ522_setMatrixLocation(void) { buildOnce<RQ522_matrixLocation, rq522Crosspoint>(); }
void RQ522_setisoLocationY(void) { buildOnce<RQ522_isoLocationY, rq522RowIsolation>(); }
void RQ523_setMatrixLocation(void) { buildOnce<RQ523_matrixLocation, rq523Crosspoint>(); }
void RQ523_setisoLocationX(void) { buildOnce<RQ523_isoLocationX, rq523ColumnIsolation>(); }
void RQ523_setisoLocationY(void) { buildOnce<RQ523_isoLocationY, rq523RowIsolation>(); }
void RQ523_setisoLocationCV(void) { buildOnce<RQ523_isoLocationCV, rq523Cv>(); }
void RQ523_setisoLocationLT(void) { buildOnce<RQ523_isoLocationLT, rq523Lt>(); }
