// Relay map of the QD2 card (board type 4): four sub-matrices of 8 rows,
// A and B served by one 13-column table set, C and D by a 12-column set
// each, all on ten driver words per block of the relay image.
//
// The C and D sub-matrices are wired alike except for the row-isolation
// relays of columns 6..11 in rows 0..3. The card's wiring is fixed, so the
// tables (cascade tables included) are complete from load and never
// written.
#include <array>

#include "maps/slice_scheme.h"

namespace korvax::maps {
namespace {

// Row words 2 (block 0) and 5 (block 1) for every sub-matrix.
constexpr SliceCard kCard{.rowWordAB = 2, .rowWordCD = 2, .blockStride = 3};

// Columns 0..12 of A/B: (word in block 0, word in block 1, first bit).
constexpr std::array<ColumnSlice, 13> kSlicesAB{{
    {0, 8, 0}, {0, 8, 5}, {0, 8, 10}, {1, 4, 0}, {1, 4, 5}, {1, 4, 10}, {2, 5, 0},
    {3, 6, 1}, {3, 6, 6}, {3, 6, 11}, {9, 7, 0}, {9, 7, 5}, {9, 7, 10},
}};

// Columns 0..11 of C and of D.
constexpr std::array<ColumnSlice, 12> kSlicesCD{{
    {0, 8, 0}, {0, 8, 5}, {0, 8, 10}, {1, 4, 0}, {1, 4, 5}, {1, 4, 10},
    {3, 6, 0}, {3, 6, 5}, {3, 6, 10}, {9, 7, 0}, {9, 7, 5}, {9, 7, 10},
}};

constexpr Cell matrixAB(int row, int col) { return sliceCrosspoint(kSlicesAB[col], row); }
constexpr Cell columnIsolationAB(int row, int col) {
    return sliceColumnIsolation(kSlicesAB[col], row);
}
constexpr Cell rowIsolationAB(int row, int col) { return sliceRowIsolationAB(kCard, row, col); }
constexpr Cell matrixCD(int row, int col) { return sliceCrosspoint(kSlicesCD[col], row); }
constexpr Cell columnIsolationCD(int row, int col) {
    return sliceColumnIsolation(kSlicesCD[col], row);
}
constexpr Cell rowIsolationC(int row, int col) { return sliceRowIsolationC(kCard, row, col); }
constexpr Cell rowIsolationD(int row, int col) { return sliceRowIsolationD(kCard, row, col); }
constexpr Cell cascadeAB(int row) { return sliceCascadeAB(kCard, row); }
constexpr Cell cascadeCD(int row) { return sliceCascadeCD(kCard, row); }

constexpr auto kMatrixAB = imageOf<decltype(QD2_matrixLocationAB)>(matrixAB);
constexpr auto kIsoXAB = imageOf<decltype(QD2_isoLocationX_AB)>(columnIsolationAB);
constexpr auto kIsoYAB = imageOf<decltype(QD2_isoLocationY_AB)>(rowIsolationAB);
constexpr auto kMatrixCD = imageOf<decltype(QD2_matrixLocationC)>(matrixCD);
constexpr auto kIsoXCD = imageOf<decltype(QD2_isoLocationX_C)>(columnIsolationCD);
constexpr auto kIsoYC = imageOf<decltype(QD2_isoLocationY_C)>(rowIsolationC);
constexpr auto kIsoYD = imageOf<decltype(QD2_isoLocationY_D)>(rowIsolationD);
constexpr auto kCascadeAB = imageOf<decltype(QD2_cascadeLocation_AB)>(cascadeAB);
constexpr auto kCascadeCD = imageOf<decltype(QD2_cascadeLocation_CD)>(cascadeCD);

}  // namespace
}  // namespace korvax::maps

using namespace korvax::maps;

constinit LocationEntry QD2_matrixLocationAB[8][13] = KORVAX_TABLE_8x13(kMatrixAB);
constinit LocationEntry QD2_isoLocationX_AB[8][13] = KORVAX_TABLE_8x13(kIsoXAB);
constinit LocationEntry QD2_isoLocationY_AB[8][13] = KORVAX_TABLE_8x13(kIsoYAB);
constinit LocationEntry QD2_matrixLocationC[8][12] = KORVAX_TABLE_8x12(kMatrixCD);
constinit LocationEntry QD2_isoLocationX_C[8][12] = KORVAX_TABLE_8x12(kIsoXCD);
constinit LocationEntry QD2_isoLocationY_C[8][12] = KORVAX_TABLE_8x12(kIsoYC);
constinit LocationEntry QD2_matrixLocationD[8][12] = KORVAX_TABLE_8x12(kMatrixCD);
constinit LocationEntry QD2_isoLocationX_D[8][12] = KORVAX_TABLE_8x12(kIsoXCD);
constinit LocationEntry QD2_isoLocationY_D[8][12] = KORVAX_TABLE_8x12(kIsoYD);
constinit LocationEntry QD2_cascadeLocation_AB[8] = KORVAX_LINE_8(kCascadeAB);
constinit LocationEntry QD2_cascadeLocation_CD[8] = KORVAX_LINE_8(kCascadeCD);

// The tables hold their values from load; the builders have nothing to do.
void setQD2_matrixLocationAB(void) {}
void setISORFLocationRowAB(void) {}
void setISORFLocationColumnAB(void) {}
void setQD2_matrixLocationC(void) {}
void setISORFLocationRowC(void) {}
void setISORFLocationColumnC(void) {}
void setQD2_matrixLocationD(void) {}
void setISORFLocationRowD(void) {}
void setISORFLocationColumnD(void) {}
void setCascadeLocaionAB(void) {}
void setCascadeLocaionCD(void) {}
