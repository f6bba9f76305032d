// A test bench: simulated chassis declared to the built-in VISA library,
// found and connected through libKORVAX.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "KORVAX.h"
#include "sim/chassis.h"
#include "visa-sim/simulation.h"

namespace e2e {

using namespace korvax;

// One crosspoint as the user names it: card position, row, column.
struct Point {
    int card;
    int row;
    int column;
};

struct Geometry {
    int cards;     // card positions in a row of the point index
    int rows;
    int columns;
    int words;     // 32-bit words of a state array
};

inline Geometry userGeometry(uint16_t model, const sim::Config &c) {
    switch (model) {
    case sim::kRQ520:
    case sim::kRQ520B: return {5, 12, 10, sim::controllerVersion(c).major <= 1 ? 19 : 32};
    case sim::kRQ521: return {4, 10, 12, 15};
    case sim::kRQ522: return {21, 16, 96, 1008};
    default: return {1, 8, 12, 3};
    }
}

// State array closing exactly `points`: bit p of the words is point
// p = row * (cards * columns) + card * columns + column.
inline std::vector<uint32_t> stateOf(const Geometry &g, const std::vector<Point> &points) {
    std::vector<uint32_t> words(static_cast<std::size_t>(g.words), 0);
    for (const Point &p : points) {
        const int index = p.row * g.cards * g.columns + p.card * g.columns + p.column;
        words[static_cast<std::size_t>(index / 32)] |= 1u << (index % 32);
    }
    return words;
}

class Bench : public ::testing::Test {
protected:
    void SetUp() override { visa::clearDeclared(); }
    void TearDown() override { visa::clearDeclared(); }

    // Declares one chassis, runs discovery and connects to it.
    std::shared_ptr<sim::Chassis> attach(const std::string &rsrc, const sim::Config &config) {
        visa::declareSimulated(rsrc, config);
        std::array<RsrcEntry, KORVAX_MAX_CHASSIS> entries{};
        uint32_t count = 0;
        EXPECT_EQ(KORVAX_FindRsrc(entries.data(), &count), 0);
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(std::string(entries[0].rsrcName), rsrc);
        EXPECT_EQ(entries[0].typeCode, config.model);
        EXPECT_EQ(KORVAX_Connect(rsrc.c_str(), &handle), 0);
        return visa::simulated(rsrc);
    }

    // Identifies the cards of sub-unit 0 and opens every relay.
    void bringUp() {
        int64_t opened = -1;
        ASSERT_EQ(KORVAX_OpenSpecifiedCard(handle, 0, &opened), 0);
        ASSERT_EQ(opened, 0);
        ASSERT_EQ(KORVAX_Init(handle, 0), 0);
    }

    uint32_t handle = 0;
};

// Physical slot of each card position: the fitted slots in order.
inline std::vector<int> fittedSlots(const sim::Config &c, int boards) {
    std::vector<int> slots;
    for (int s = 0; s < boards; ++s)
        if (c.slots[static_cast<std::size_t>(s)].fitted) slots.push_back(s);
    return slots;
}

}  // namespace e2e
