// Relay maps of the adapter plates of sub-unit 2 (board types 11 and 12): a
// bank of relays numbered by point, no rows or columns. Both tables are
// complete from load and never written.
#include "maps/table_rules.h"

namespace korvax::maps {
namespace {

// RQ520 plate: eight words of 14 relays (bits 0..13). Points 2n and 2n+1 sit
// on the same bit of two neighbouring words, the even point on the odd word;
// every 28 points start the next pair of words.
constexpr Cell plate(int point) {
    const int group = point / 28;
    const int bit = (point % 28) / 2;
    return relay(2 * group + (point % 2 == 0 ? 1 : 0), bit);
}

// RQ520B plate: 100 relays packed densely, 16 to a word. Within each run of
// 20 points the odd points take the first ten relay positions and the even
// points the next ten. Points 100..111 have no relay.
constexpr int kPlate520BPoints = 100;

constexpr Cell plate520B(int point) {
    if (point >= kPlate520BPoints) return kNoRelay;
    const int run = point / 20;
    const int step = (point % 20) / 2;
    const int position = 20 * run + step + (point % 2 == 0 ? 10 : 0);
    return relay(position / 16, position % 16);
}

constexpr auto kPlate = imageOf<decltype(matrixAPLocation)>(plate);
constexpr auto kPlate520B = imageOf<decltype(matrixAP_520BLocation)>(plate520B);

}  // namespace
}  // namespace korvax::maps

using namespace korvax::maps;

constinit LocationEntry matrixAPLocation[112] = KORVAX_LINE_112(kPlate);
constinit LocationEntry matrixAP_520BLocation[112] = KORVAX_LINE_112(kPlate520B);

// The tables hold their values from load; the builders have nothing to do.
void setMatrixAPLocation(void) {}
void setMatrixAP_520BLocation(void) {}
