// Relay map of the RQ520 / RQ520B matrix card: 12 rows x 10 columns on
// twelve driver words, rows 0..5 on words 0..5 and rows 6..11 on words 6..11.
//
// Each column owns a run of seven relays in one word of each row block: the
// six crosspoints of the block and the column-isolation relay. In block 0
// the isolation relay ends the run, in block 1 it starts it (the driver
// boards of the two blocks are mirrored), so the crosspoints move up one
// bit. The row-isolation relays fill the rest of words 2 and 3 (8 and 9):
// one relay per row for columns 0..4 and one for columns 5..9. Bits 14 and
// 15 of every word and bit 13 of words 2, 3, 8 and 9 drive nothing.
//
// The card's wiring is fixed, so the tables are complete from load and
// never written.
#include "maps/base_family.h"

#include <array>
#include <type_traits>

#include "maps/table_rules.h"

namespace korvax::maps {
namespace {

constexpr int kRowsPerBlock = 6;
constexpr int kWordsPerBlock = 6;
constexpr int kFirstColumnOfSecondRowRelay = 5;

struct ColumnRun {
    int32_t word;  // word of the run in block 0
    int32_t bit;   // first bit of the run
};

constexpr std::array<ColumnRun, 10> kRuns{{
    {0, 0}, {0, 7}, {1, 0}, {1, 7}, {2, 0}, {3, 6}, {4, 0}, {4, 7}, {5, 0}, {5, 7},
}};

constexpr Cell crosspoint(int row, int col) {
    const int k = row / kRowsPerBlock;
    const int q = row % kRowsPerBlock;
    return relay(kRuns[col].word + kWordsPerBlock * k, kRuns[col].bit + q + k);
}

constexpr Cell columnIsolation(int row, int col) {
    const ColumnRun run = kRuns[col];
    return row < kRowsPerBlock ? relay(run.word, run.bit + 6)
                               : relay(run.word + kWordsPerBlock, run.bit);
}

constexpr Cell rowIsolation(int row, int col) {
    const int k = row / kRowsPerBlock;
    const int q = row % kRowsPerBlock;
    return col < kFirstColumnOfSecondRowRelay ? relay(kWordsPerBlock * k + 2, 7 + q)
                                              : relay(kWordsPerBlock * k + 3, q);
}

constexpr auto kMatrixImage = gridImage<12, 10>(crosspoint);
constexpr auto kIsoXImage = gridImage<12, 10>(columnIsolation);
constexpr auto kIsoYImage = gridImage<12, 10>(rowIsolation);

constexpr LocationEntry matrixLocation[12][10] = KORVAX_TABLE_12x10(kMatrixImage);
constexpr LocationEntry isoLocationX[12][10] = KORVAX_TABLE_12x10(kIsoXImage);
constexpr LocationEntry isoLocationY[12][10] = KORVAX_TABLE_12x10(kIsoYImage);
static_assert(std::extent_v<decltype(matrixLocation), 1> == kBaseFamilyColumns);

}  // namespace

std::span<const LocationEntry> baseFamilyTable(int32_t group) {
    switch (group) {
    case MATRIX: return cellsOf(matrixLocation);
    case ISO_X: return cellsOf(isoLocationX);
    case ISO_Y: return cellsOf(isoLocationY);
    default: return {};
    }
}

}  // namespace korvax::maps

// The tables hold their values from load; the builders have nothing to do.
void setMatrixLocation(void) {}
void setISOLocationRow(void) {}
void setISOLocationColumn(void) {}
