// Relay map of the QD3 card (board types 5 and 6, and rows 0..7 of the
// QD3Mix card, type 10). The wiring is that of the QD2 card with block 1
// always ten words above block 0: words 0..4 and 10..14 drive A and B,
// words 5..9 and 15..19 drive C and D. The tables have 16 rows; the 16-row
// card repeats rows 0..7 in rows 8..15 on the same relays.
//
// The cascade tables hold their values from load; the others are filled by
// their builders on first use.
#include <array>

#include "maps/slice_scheme.h"

namespace korvax::maps {
namespace {

constexpr int32_t kBlockStride = 10;
constexpr int kCardRows = 8;

constexpr SliceCard kCard{.rowWordAB = 2, .rowWordCD = 7, .blockStride = kBlockStride};

constexpr ColumnSlice slice(int32_t word0, int32_t start) {
    return {word0, word0 + kBlockStride, start};
}

constexpr std::array<ColumnSlice, 13> kSlicesAB{{
    slice(0, 0), slice(0, 5), slice(0, 10), slice(1, 0), slice(1, 5), slice(1, 10), slice(2, 0),
    slice(3, 1), slice(3, 6), slice(3, 11), slice(4, 0), slice(4, 5), slice(4, 10),
}};

constexpr std::array<ColumnSlice, 12> kSlicesCD{{
    slice(5, 0), slice(5, 5), slice(5, 10), slice(6, 0), slice(6, 5), slice(6, 10),
    slice(8, 0), slice(8, 5), slice(8, 10), slice(9, 0), slice(9, 5), slice(9, 10),
}};

constexpr Cell matrixAB(int row, int col) {
    return sliceCrosspoint(kSlicesAB[col], row % kCardRows);
}
constexpr Cell columnIsolationAB(int row, int col) {
    return sliceColumnIsolation(kSlicesAB[col], row % kCardRows);
}
constexpr Cell rowIsolationAB(int row, int col) {
    return sliceRowIsolationAB(kCard, row % kCardRows, col);
}
constexpr Cell matrixCD(int row, int col) {
    return sliceCrosspoint(kSlicesCD[col], row % kCardRows);
}
constexpr Cell columnIsolationCD(int row, int col) {
    return sliceColumnIsolation(kSlicesCD[col], row % kCardRows);
}
constexpr Cell rowIsolationC(int row, int col) {
    return sliceRowIsolationC(kCard, row % kCardRows, col);
}
constexpr Cell rowIsolationD(int row, int col) {
    return sliceRowIsolationD(kCard, row % kCardRows, col);
}
constexpr Cell cascadeAB(int row) { return sliceCascadeAB(kCard, row % kCardRows); }
constexpr Cell cascadeCD(int row) { return sliceCascadeCD(kCard, row % kCardRows); }

constexpr auto kCascadeAB = imageOf<decltype(QD3_cascadeLocation_AB)>(cascadeAB);
constexpr auto kCascadeCD = imageOf<decltype(QD3_cascadeLocation_CD)>(cascadeCD);

}  // namespace
}  // namespace korvax::maps

using namespace korvax::maps;

LocationEntry QD3_matrixLocationAB[16][13];
LocationEntry QD3_isoLocationX_AB[16][13];
LocationEntry QD3_isoLocationY_AB[16][13];
LocationEntry QD3_matrixLocationCD[16][12];
LocationEntry QD3_isoLocationX_CD[16][12];
LocationEntry QD3_isoLocationY_C[16][12];
LocationEntry QD3_isoLocationY_D[16][12];
constinit LocationEntry QD3_cascadeLocation_AB[16] = KORVAX_LINE_16(kCascadeAB);
constinit LocationEntry QD3_cascadeLocation_CD[16] = KORVAX_LINE_16(kCascadeCD);

// The cascade tables hold their values from load; nothing to do.
void QD3_setCascadeLocaionAB(void) {}
void QD3_setCascadeLocaionCD(void) {}

void QD3_setmatrixLocationAB(void) { buildOnce<QD3_matrixLocationAB, matrixAB>(); }
void QD3_setISOLocationColumnAB(void) { buildOnce<QD3_isoLocationX_AB, columnIsolationAB>(); }
void QD3_setISOLocationRowAB(void) { buildOnce<QD3_isoLocationY_AB, rowIsolationAB>(); }
void QD3_setmatrixLocationCD(void) { buildOnce<QD3_matrixLocationCD, matrixCD>(); }
void QD3_setISOLocationColumnCD(void) { buildOnce<QD3_isoLocationX_CD, columnIsolationCD>(); }
void QD3_setISOLocationRowC(void) { buildOnce<QD3_isoLocationY_C, rowIsolationC>(); }
void QD3_setISOLocationRowD(void) { buildOnce<QD3_isoLocationY_D, rowIsolationD>(); }
