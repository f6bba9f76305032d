// Relay maps, card by card: how many relays the lookups of a card reach,
// that no relay answers for two different things, that every relay lies on
// the card's driver words, and which bits stay free.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "maps/KORVAX_common.h"
#include "maps_support.h"

namespace {

using mapstest::lookup;

// One relay group of a card, over the cells a caller can reach.
struct Reach {
    int32_t group;
    uint32_t firstRow, lastRow;
    uint32_t cols;  // columns looked up (1 for row-indexed tables)
    bool crosspoint = false;  // one relay per cell (per row pair on paired cards)
};

struct FreeBits {
    int32_t word;
    uint32_t mask;  // bit b set: bit number b drives nothing
};

struct Card {
    const char *name;
    uint32_t board;
    std::vector<Reach> reach;
    size_t relays;        // distinct (word, bit) pairs
    int32_t words;        // every word below this
    int32_t lowBit, highBit;
    bool pairedRows;      // rows 2j and 2j+1 share their crosspoint relays
    std::optional<std::vector<FreeBits>> freeBits;  // when known: exactly these are unused
};

std::vector<FreeBits> sameBitsOf(std::initializer_list<int32_t> words, uint32_t mask) {
    std::vector<FreeBits> out;
    for (int32_t w : words) out.push_back({w, mask});
    return out;
}

std::vector<FreeBits> join(std::vector<FreeBits> a, const std::vector<FreeBits> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<Card> cards() {
    constexpr uint32_t kBits14and15 = 0xC000;
    return {
        {"RQ520 matrix card", 0,
         {{MATRIX, 0, 11, 10, true}, {ISO_X, 0, 11, 10}, {ISO_Y, 0, 11, 10}},
         164, 12, 0, 15, false,
         join(sameBitsOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, kBits14and15),
              sameBitsOf({2, 3, 8, 9}, 1u << 13))},
        {"RQ521", 1,
         {{MATRIX, 0, 9, 12, true}, {ISO_X, 0, 9, 12}, {ISO_Y, 0, 9, 12}, {ISO_CV, 4, 5, 12}},
         178, 13, 0, 15, false,
         join(sameBitsOf({0, 1, 2, 3, 7, 9, 10, 11, 12}, kBits14and15),
              sameBitsOf({4, 5, 8}, 0xF000))},
        {"RQ522", 2, {{MATRIX, 0, 3, 96, true}, {ISO_Y, 0, 3, 96}}, 388, 49, 1, 8, false,
         std::vector<FreeBits>{{48, 0x1E}}},
        {"RQ523", 3,
         {{MATRIX, 0, 7, 12, true},
          {ISO_X, 2, 7, 12},
          {ISO_Y, 0, 7, 12},
          {ISO_CV, 6, 7, 12},
          {ISO_LT, 0, 1, 12}},
         138, 10, 0, 15, false, std::nullopt},
        {"QD2 A/B", 4,
         {{MATRIX_A, 0, 7, 13, true}, {ISO_X_A, 0, 7, 13}, {ISO_Y_A, 0, 7, 13},
          {CASCADE_A, 0, 7, 1}},
         154, 10, 0, 15, false, sameBitsOf({0, 1, 4, 7, 8, 9}, 1u << 15)},
        {"QD2 C", 4,
         {{MATRIX_C, 0, 7, 12, true}, {ISO_X_C, 0, 7, 12}, {ISO_Y_C, 0, 7, 12},
          {CASCADE_C, 0, 7, 1}},
         144, 10, 0, 15, false, std::nullopt},
        {"QD2 D", 4,
         {{MATRIX_D, 0, 7, 12, true}, {ISO_X_D, 0, 7, 12}, {ISO_Y_D, 0, 7, 12},
          {CASCADE_D, 0, 7, 1}},
         144, 10, 0, 15, false, std::nullopt},
        // A and B with C, then A and B with D: the halves drive disjoint relays.
        {"QD3 A/B + C", 5,
         {{MATRIX_A, 0, 7, 13, true}, {ISO_X_A, 0, 7, 13}, {ISO_Y_A, 0, 7, 13},
          {CASCADE_A, 0, 7, 1}, {MATRIX_C, 0, 7, 12, true}, {ISO_X_C, 0, 7, 12},
          {ISO_Y_C, 0, 7, 12}, {CASCADE_C, 0, 7, 1}},
         298, 20, 0, 15, false, std::nullopt},
        {"QD3 A/B + D", 6,
         {{MATRIX_B, 0, 7, 13, true}, {ISO_X_B, 0, 7, 13}, {ISO_Y_B, 0, 7, 13},
          {CASCADE_B, 0, 7, 1}, {MATRIX_D, 0, 7, 12, true}, {ISO_X_D, 0, 7, 12},
          {ISO_Y_D, 0, 7, 12}, {CASCADE_D, 0, 7, 1}},
         298, 20, 0, 15, false, std::nullopt},
        {"QD3CNew", 8,
         {{MATRIX_A, 0, 7, 13, true}, {ISO_X_A, 0, 7, 13}, {ISO_Y_A, 0, 7, 13},
          {IN_A, 0, 7, 13}, {MATRIX_C, 0, 7, 12, true}, {ISO_X_C, 0, 7, 12},
          {ISO_Y_C, 0, 7, 12}, {IN_C, 0, 7, 12}},
         182, 12, 0, 15, true,
         std::vector<FreeBits>{{0, 1u << 15},
                               {2, 1u << 0 | 1u << 15},
                               {4, 1u << 0},
                               {5, 1u << 0 | 1u << 15},
                               {6, 1u << 15},
                               {8, kBits14and15},
                               {9, 1u << 0}}},
        // Its input relays are shared by rows r and r + 4 (the bank differs).
        {"QD3C", 7,
         {{MATRIX_A, 0, 7, 13, true}, {ISO_X_A, 0, 7, 13}, {ISO_Y_A, 0, 7, 13},
          {MATRIX_C, 0, 7, 12, true}, {ISO_X_C, 0, 7, 12}, {ISO_Y_C, 0, 7, 12},
          {IN_A, 0, 7, 13}, {IN_B, 0, 7, 13}, {IN_C, 0, 7, 12}, {IN_D, 0, 7, 12}},
         157, 11, 0, 15, true, std::nullopt},
        {"RQ520 adapter plate", 11, {{MATRIX, 0, 111, 1, true}}, 112, 8, 0, 13, false,
         std::vector<FreeBits>{}},
        {"RQ520B adapter plate", 12, {{MATRIX, 0, 99, 1, true}}, 100, 7, 0, 15, false,
         std::vector<FreeBits>{{6, 0xFFF0}}},
    };
}

TEST(MapsCards, RelaysReachedByEachCard) {
    InitPointInfo();
    for (const Card &card : cards()) {
        SCOPED_TRACE(card.name);
        // (word, bit) -> what drives it: the reach index, and for crosspoints
        // the cell (the row pair on paired cards).
        using Owner = std::tuple<size_t, int64_t, int64_t>;
        std::map<std::pair<int32_t, int32_t>, Owner> owners;
        for (size_t i = 0; i < card.reach.size(); ++i) {
            const Reach &r = card.reach[i];
            for (uint32_t row = r.firstRow; row <= r.lastRow; ++row) {
                for (uint32_t col = 0; col < r.cols; ++col) {
                    const auto relay = lookup(card.board, r.group, row, col);
                    ASSERT_TRUE(relay.has_value()) << "group " << r.group << " row " << row;
                    EXPECT_GE(relay->word, 0);
                    EXPECT_LT(relay->word, card.words) << "group " << r.group << " row " << row;
                    EXPECT_GE(relay->bit, card.lowBit);
                    EXPECT_LE(relay->bit, card.highBit);
                    const int64_t rowKey = card.pairedRows ? row / 2 : row;
                    const Owner owner = r.crosspoint ? Owner{i, rowKey, col} : Owner{i, -1, -1};
                    const auto [it, added] = owners.try_emplace({relay->word, relay->bit}, owner);
                    EXPECT_TRUE(added || it->second == owner)
                        << "relay (" << relay->word << ", " << relay->bit << ") of group "
                        << r.group << " row " << row << " col " << col
                        << " is already driven by group "
                        << card.reach[std::get<0>(it->second)].group << " row "
                        << std::get<1>(it->second);
                }
            }
        }
        EXPECT_EQ(owners.size(), card.relays);
        if (!card.freeBits) continue;
        for (int32_t w = 0; w < card.words; ++w) {
            for (int32_t b = card.lowBit; b <= card.highBit; ++b) {
                bool free = false;
                for (const FreeBits &f : *card.freeBits)
                    if (f.word == w && (f.mask >> b & 1u) != 0) free = true;
                EXPECT_EQ(owners.count({w, b}) == 0, free) << "word " << w << " bit " << b;
            }
        }
    }
}

}  // namespace
