// Switching end to end: the crosspoints an application closes are the
// crosspoints the chassis closes, with their isolation relays, on every
// chassis model.
#include <algorithm>

#include "bench.h"

namespace {

using namespace e2e;

struct ModelCase {
    const char *name;
    uint16_t model;
    std::vector<sim::Version> firmware;
    std::vector<int> emptySlots;
    std::vector<Point> points;
};

const std::vector<ModelCase> &modelCases() {
    static const std::vector<ModelCase> cases = {
        {"RQ520", sim::kRQ520, {{3, 8}}, {}, {{0, 0, 0}, {4, 11, 9}, {2, 6, 5}, {1, 5, 4}}},
        {"RQ520 firmware 1.x (13-word boards)", sim::kRQ520, {{1, 2}}, {}, {{0, 0, 0}, {3, 7, 8}, {4, 11, 9}}},
        {"RQ520B with slot 2 empty", sim::kRQ520B, {{0, 0}, {3, 6}}, {1}, {{0, 1, 1}, {1, 2, 2}, {3, 11, 0}}},
        {"RQ521", sim::kRQ521, {{3, 8}}, {}, {{0, 0, 0}, {1, 4, 6}, {3, 5, 11}, {2, 9, 3}, {0, 2, 5}}},
        {"RQ521 with slot 1 empty", sim::kRQ521, {{3, 8}}, {0}, {{0, 0, 0}, {2, 5, 0}}},
        {"RQ522", sim::kRQ522, {{3, 8}}, {}, {{0, 0, 0}, {10, 3, 95}, {20, 1, 48}, {7, 2, 24}}},
        {"RQ523", sim::kRQ523, {{3, 8}}, {}, {{0, 0, 0}, {0, 7, 11}, {0, 3, 6}}},
        {"RQ523B", sim::kRQ523B, {{3, 8}}, {}, {{0, 1, 1}, {0, 6, 0}}},
    };
    return cases;
}

sim::Config configOf(const ModelCase &m) {
    sim::Config c = sim::Config::forModel(m.model);
    c.firmware = m.firmware;
    for (int s : m.emptySlots) c.slots[static_cast<std::size_t>(s)].fitted = false;
    return c;
}

class Switching : public Bench {
protected:
    // What the chassis must show for `points`: the crosspoints by slot and
    // card, and every relay they switch.
    void expectClosed(const sim::Chassis &chassis, const sim::Config &c, const std::vector<Point> &points) {
        const auto slots = fittedSlots(c, chassis.geometry().boards);
        std::vector<sim::Crosspoint> crosspoints;
        std::set<sim::RelayBit> relays;
        for (const Point &p : points) {
            const int slot = slots[static_cast<std::size_t>(p.card)];
            crosspoints.push_back({slot, p.card, p.row, p.column});
            for (const auto &r : chassis.relaysOf(slot, p.row, p.column)) relays.insert(r);
        }
        std::sort(crosspoints.begin(), crosspoints.end());
        EXPECT_EQ(chassis.closedCrosspoints(), crosspoints);
        const auto closed = chassis.closedRelays();
        EXPECT_EQ(std::set<sim::RelayBit>(closed.begin(), closed.end()), relays);
        EXPECT_TRUE(chassis.strayRelays().empty());
    }
};

TEST_F(Switching, ChosenCrosspointsCloseWithTheirIsolationRelays) {
    for (const ModelCase &m : modelCases()) {
        SCOPED_TRACE(m.name);
        const sim::Config config = configOf(m);
        const auto chassis = attach("TCPIP0::bench::INSTR", config);
        ASSERT_NE(chassis, nullptr);
        bringUp();
        EXPECT_TRUE(chassis->closedRelays().empty());

        const Geometry g = userGeometry(m.model, config);
        auto state = stateOf(g, m.points);
        ASSERT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), g.words), 0);
        expectClosed(*chassis, config, m.points);

        // A second state replaces the first as a whole.
        const std::vector<Point> second(m.points.begin(), m.points.begin() + 1);
        state = stateOf(g, second);
        ASSERT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), g.words), 0);
        expectClosed(*chassis, config, second);

        EXPECT_GE(KORVAX_Clear(handle, 0), 0);
        EXPECT_TRUE(chassis->closedRelays().empty());
        EXPECT_EQ(chassis->counters().errorReplies, 0u);
    }
}

// The closure limit stops the call before anything reaches the chassis.
TEST_F(Switching, ClosureLimitLeavesTheInstrumentAsItWas) {
    struct Case {
        const char *name;
        uint16_t model;
    };
    for (const Case &m : {Case{"RQ520", sim::kRQ520}, Case{"RQ520B", sim::kRQ520B}, Case{"RQ521", sim::kRQ521}}) {
        SCOPED_TRACE(m.name);
        const sim::Config config = sim::Config::forModel(m.model);
        const auto chassis = attach("GPIB0::7::INSTR", config);
        bringUp();
        const Geometry g = userGeometry(m.model, config);
        const std::vector<Point> few = {{0, 0, 0}, {1, 2, 3}};
        auto state = stateOf(g, few);
        ASSERT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), g.words), 0);
        const auto framesBefore = chassis->counters().relayFrames;

        std::vector<Point> all;
        for (int k = 0; k < g.cards; ++k)
            for (int r = 0; r < g.rows; ++r)
                for (int c = 0; c < g.columns; ++c) all.push_back({k, r, c});
        state = stateOf(g, all);
        EXPECT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), g.words), KORVAX_ERR_CLOSURE_LIMIT);
        EXPECT_EQ(chassis->counters().relayFrames, framesBefore);
        expectClosed(*chassis, config, few);
    }
}

// Chassis without a closure limit take every crosspoint a frame can carry.
TEST_F(Switching, ChassisWithoutLimitCloseEverything) {
    for (const uint16_t model : {sim::kRQ522, sim::kRQ523, sim::kRQ523B}) {
        SCOPED_TRACE(sim::modelName(model));
        const sim::Config config = sim::Config::forModel(model);
        const auto chassis = attach("USB0::0x1::0x2::SN::INSTR", config);
        bringUp();
        const Geometry g = userGeometry(model, config);
        // The RQ522 frame carries the first four rows of each card.
        const int rows = model == sim::kRQ522 ? 4 : g.rows;
        std::vector<Point> all;
        for (int k = 0; k < g.cards; ++k)
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < g.columns; ++c) all.push_back({k, r, c});
        const auto state = stateOf(g, all);
        ASSERT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), g.words), 0);
        expectClosed(*chassis, config, all);
    }
}

TEST_F(Switching, RQ522RowsBeyondTheFrameAreRefused) {
    const sim::Config config = sim::Config::forModel(sim::kRQ522);
    const auto chassis = attach("TCPIP0::rq522::INSTR", config);
    bringUp();
    const Geometry g = userGeometry(sim::kRQ522, config);
    auto state = stateOf(g, {{0, 1, 1}});
    ASSERT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), g.words), 0);
    state = stateOf(g, {{0, 1, 1}, {3, 4, 0}});
    EXPECT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), g.words), KORVAX_ERR_ROW_RANGE);
    expectClosed(*chassis, config, {{0, 1, 1}});
}

// An RQ521 taken back to local control refuses frames; the library says so
// and the relays stay as they were.
TEST_F(Switching, RQ521InLocalControlKeepsItsRelays) {
    const sim::Config config = sim::Config::forModel(sim::kRQ521);
    ASSERT_EQ(config.controlMode, 0);
    const auto chassis = attach("TCPIP0::rq521::INSTR", config);
    bringUp();
    EXPECT_EQ(chassis->config().controlMode, 1);   // taken into remote control
    const Geometry g = userGeometry(sim::kRQ521, config);
    auto state = stateOf(g, {{2, 3, 4}});
    ASSERT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), g.words), 0);

    chassis->reconfigure([](sim::Config &c) { c.controlMode = 0; });
    state = stateOf(g, {{0, 0, 0}});
    EXPECT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), g.words), KORVAX_ERR_MODE_CONFLICT);
    expectClosed(*chassis, config, {{2, 3, 4}});
    EXPECT_EQ(chassis->counters().refusedFrames, 1u);
}

// Repeated switching wears the relays it closes, and only those.
TEST_F(Switching, RelayWearFollowsTheSwitchingCalls) {
    const sim::Config config = sim::Config::forModel(sim::kRQ523);
    const auto chassis = attach("TCPIP0::rq523::INSTR", config);
    bringUp();
    const Geometry g = userGeometry(sim::kRQ523, config);
    const auto on = stateOf(g, {{0, 4, 4}});
    const auto off = stateOf(g, {});
    constexpr int kCycles = 5;
    for (int i = 0; i < kCycles; ++i) {
        ASSERT_EQ(KORVAX_OpMatrix(handle, 0, on.data(), g.words), 0);
        ASSERT_EQ(KORVAX_OpMatrix(handle, 0, off.data(), g.words), 0);
    }
    const auto relays = chassis->relaysOf(0, 4, 4);
    ASSERT_FALSE(relays.empty());
    for (const auto &r : relays) EXPECT_EQ(chassis->closures(r), static_cast<uint64_t>(kCycles));
    EXPECT_EQ(chassis->wear().size(), relays.size());
}

}  // namespace
