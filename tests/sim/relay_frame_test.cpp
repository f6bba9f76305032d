// Relay-state frames: sizes per model and firmware, word order on the wire,
// local-control refusal, closure counting, and decoding back into
// crosspoints through the card wiring.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "sim_support.h"

namespace {

using namespace korvax::sim;
using simtest::relayFrame;

struct ModelCase {
    const char *name;
    uint16_t model;
    std::vector<Version> firmware;
    std::size_t frameBytes;   // header included
    uint8_t command;
};

const ModelCase kModelCases[] = {
    {"RQ520 firmware 3", kRQ520, {{3, 8}}, 124, 19},
    {"RQ520 firmware 1 drives 13 words", kRQ520, {{1, 4}}, 134, 19},
    {"RQ520B firmware 2", kRQ520B, {{0, 0}, {2, 0}}, 124, 19},
    {"RQ521", kRQ521, {{3, 8}}, 108, 19},
    {"RQ522", kRQ522, {{3, 8}}, 2062, 19},
    {"RQ522 clear command", kRQ522, {{3, 8}}, 2062, 67},
    {"RQ523", kRQ523, {{3, 8}}, 24, 19},
    {"RQ523B", kRQ523B, {{3, 8}}, 24, 19},
};

Config remoteConfig(uint16_t model, std::vector<Version> firmware = {{3, 8}}) {
    Config c = Config::forModel(model);
    c.firmware = std::move(firmware);
    c.controlMode = 1;
    return c;
}

TEST(RelayFrames, OnlyTheChassisOwnFrameSizeIsTaken) {
    for (const ModelCase &m : kModelCases) {
        SCOPED_TRACE(m.name);
        Chassis chassis(remoteConfig(m.model, m.firmware));
        const Geometry g = chassis.geometry();
        const Bytes good = relayFrame(g, {{0, 1, 2}}, m.command);
        ASSERT_EQ(good.size(), m.frameBytes);

        Bytes shortField = good;          // length field 2 short of the payload
        shortField[2] = static_cast<uint8_t>(shortField[2] - 2);
        Bytes truncated = good;           // payload 2 short of the length field
        truncated.erase(truncated.end() - 2, truncated.end());
        Bytes otherSize = relayFrame({g.slotTotal, g.boards, g.wordsPerBoard == 12 ? 13 : 12, 0, 0}, {}, m.command);
        for (const Bytes *bad : {&shortField, &truncated, &otherSize}) {
            EXPECT_TRUE(simtest::isErrorReport(*chassis.receive(*bad)));
            EXPECT_TRUE(chassis.closedRelays().empty());
        }

        const auto reply = chassis.receive(good);
        EXPECT_FALSE(simtest::isErrorReport(*reply));
        EXPECT_EQ((*reply)[0], m.command);
        EXPECT_EQ(chassis.closedRelays(), (std::vector<RelayBit>{{0, 1, 2}}));
        EXPECT_EQ(chassis.counters().relayFrames, 1u);
    }
}

// Position w of block g on the wire is word (wordsPerBoard - 1 - w) of slot g.
TEST(RelayFrames, BlocksFollowSlotsAndWordsArriveHighestFirst) {
    Chassis chassis(remoteConfig(kRQ521));
    Bytes frame = relayFrame(chassis.geometry(), {});
    const std::size_t wpb = 13;
    auto put = [&](std::size_t block, std::size_t position, uint16_t value) {
        frame[4 + 2 * (block * wpb + position)] = static_cast<uint8_t>(value & 0xFF);
        frame[5 + 2 * (block * wpb + position)] = static_cast<uint8_t>(value >> 8);
    };
    put(0, 0, 0x8001);
    put(2, 12, 0x0100);
    put(3, 5, 0x0020);
    ASSERT_FALSE(simtest::isErrorReport(*chassis.receive(frame)));
    EXPECT_EQ(chassis.relayWords(0)[12], 0x8001);
    EXPECT_EQ(chassis.relayWords(2)[0], 0x0100);
    EXPECT_EQ(chassis.relayWords(3)[7], 0x0020);
    EXPECT_EQ(chassis.relayWords(1), std::vector<uint16_t>(13, 0));
}

TEST(RelayFrames, RQ521InLocalControlRefusesAndKeepsItsRelays) {
    Config config = Config::forModel(kRQ521);
    config.controlMode = 0;
    Chassis chassis(config);
    const auto refused = chassis.receive(relayFrame(chassis.geometry(), {{1, 0, 0}}));
    EXPECT_EQ((*refused)[0], 0xFF);
    EXPECT_FALSE(simtest::isErrorReport(*refused));
    EXPECT_TRUE(chassis.closedRelays().empty());
    EXPECT_EQ(chassis.counters().refusedFrames, 1u);

    ASSERT_FALSE(simtest::isErrorReport(*chassis.receive(simtest::request(6, 0, {1}))));
    const auto taken = chassis.receive(relayFrame(chassis.geometry(), {{1, 0, 0}}));
    EXPECT_EQ((*taken)[0], 19);
    EXPECT_EQ(chassis.closedRelays().size(), 1u);
}

// Wear counts a relay each time it goes from open to closed.
TEST(RelayFrames, ClosuresAreCountedPerRelay) {
    Chassis chassis(remoteConfig(kRQ523));
    const Geometry g = chassis.geometry();
    const RelayBit a{0, 4, 3}, b{0, 9, 15};
    const std::vector<std::set<RelayBit>> sequence = {{a}, {a}, {a, b}, {}, {b}, {a, b}};
    for (const auto &closed : sequence) ASSERT_FALSE(simtest::isErrorReport(*chassis.receive(relayFrame(g, closed))));
    EXPECT_EQ(chassis.closures(a), 2u);
    EXPECT_EQ(chassis.closures(b), 2u);
    EXPECT_EQ(chassis.closures({0, 0, 0}), 0u);
    EXPECT_EQ(chassis.wear().size(), 2u);
    ASSERT_FALSE(simtest::isErrorReport(*chassis.receive(Bytes{14, 0})));
    ASSERT_FALSE(simtest::isErrorReport(*chassis.receive(relayFrame(g, {a}))));
    EXPECT_EQ(chassis.closures(a), 3u);
}

// Telling relays of each card family: crosspoint relay first, then its
// isolation relays (row, column, CV), as the boards are wired.
TEST(CardWiring, TellingCrosspoints) {
    struct Case {
        const char *name;
        uint16_t model;
        int row, column;
        std::vector<std::pair<int, int>> relays;   // (word, bit)
    };
    const Case cases[] = {
        {"RQ520 first crosspoint", kRQ520, 0, 0, {{0, 0}, {2, 7}, {0, 6}}},
        {"RQ520 column 5 starts the second row-isolation half", kRQ520, 0, 5, {{3, 6}, {3, 0}, {3, 12}}},
        {"RQ520 last crosspoint", kRQ520, 11, 9, {{11, 13}, {9, 5}, {11, 7}}},
        {"RQ521 front column 0 is wired as column 5", kRQ521, 0, 0, {{0, 5}, {0, 6}, {4, 5}}},
        {"RQ521 front column 5 is wired as column 0", kRQ521, 0, 5, {{0, 0}, {0, 6}, {4, 0}}},
        {"RQ521 row 4 column 6 adds CV", kRQ521, 4, 6, {{6, 8}, {6, 7}, {5, 6}, {6, 15}}},
        {"RQ521 row 5 column 0", kRQ521, 5, 0, {{7, 5}, {7, 6}, {5, 5}, {6, 14}}},
        {"RQ521 row 9 no CV", kRQ521, 9, 11, {{12, 13}, {12, 7}, {8, 11}}},
        {"RQ522 bits count from 1 in its tables", kRQ522, 0, 0, {{0, 7}, {48, 4}}},
        {"RQ522 row 2 column 1", kRQ522, 2, 1, {{0, 2}, {48, 6}}},
        {"RQ522 last column", kRQ522, 3, 95, {{47, 7}, {48, 7}}},
        {"RQ522 row 4 folds past the board's words", kRQ522, 4, 0, {}},
        {"RQ523 row 0 has no column isolation", kRQ523, 0, 11, {{0, 13}, {0, 7}}},
        {"RQ523 row 2", kRQ523, 2, 3, {{3, 3}, {3, 6}, {2, 3}}},
        {"RQ523 row 6 adds CV", kRQ523, 6, 0, {{8, 0}, {8, 6}, {2, 0}, {7, 0}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Chassis chassis(remoteConfig(c.model));
        std::vector<RelayBit> expected;
        for (const auto &[word, bit] : c.relays) expected.push_back({2 % chassis.geometry().boards, word, bit});
        EXPECT_EQ(chassis.relaysOf(2 % chassis.geometry().boards, c.row, c.column), expected);
    }
}

// A frame built from the wiring of chosen crosspoints decodes back into
// exactly those crosspoints, their isolation relays and nothing stray.
TEST(RelayFrames, DecodeGivesBackTheClosedCrosspoints) {
    struct Case {
        const char *name;
        uint16_t model;
        std::vector<Version> firmware;
        std::vector<int> emptySlots;
        std::vector<std::array<int, 3>> points;   // slot, row, column
    };
    const Case cases[] = {
        {"RQ520", kRQ520, {{3, 8}}, {}, {{0, 0, 0}, {4, 11, 9}, {2, 6, 5}}},
        {"RQ520 firmware 1", kRQ520, {{1, 0}}, {}, {{1, 3, 3}, {3, 7, 8}}},
        {"RQ520B with slot 2 empty", kRQ520B, {{3, 8}}, {1}, {{0, 1, 1}, {2, 2, 2}}},
        {"RQ521", kRQ521, {{3, 8}}, {}, {{0, 0, 0}, {1, 4, 6}, {3, 5, 11}}},
        {"RQ522", kRQ522, {{3, 8}}, {}, {{0, 0, 0}, {10, 3, 95}, {20, 1, 48}}},
        {"RQ523", kRQ523, {{3, 8}}, {}, {{0, 0, 0}, {0, 7, 11}}},
        {"RQ523B", kRQ523B, {{3, 8}}, {}, {{0, 6, 2}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Config config = remoteConfig(c.model, c.firmware);
        for (int s : c.emptySlots) config.slots[static_cast<std::size_t>(s)].fitted = false;
        Chassis chassis(config);
        std::set<RelayBit> closed;
        std::vector<Crosspoint> expected;
        for (const auto &[slot, row, column] : c.points) {
            const auto relays = chassis.relaysOf(slot, row, column);
            ASSERT_FALSE(relays.empty());
            closed.insert(relays.begin(), relays.end());
            const int card = static_cast<int>(std::count_if(config.slots.begin(), config.slots.begin() + slot,
                                                            [](const Slot &s) { return s.fitted; }));
            expected.push_back({slot, card, row, column});
        }
        std::sort(expected.begin(), expected.end());
        ASSERT_FALSE(simtest::isErrorReport(*chassis.receive(relayFrame(chassis.geometry(), closed))));
        EXPECT_EQ(chassis.closedCrosspoints(), expected);
        EXPECT_TRUE(chassis.strayRelays().empty());
        const auto isolation = chassis.closedIsolationRelays();
        EXPECT_EQ(isolation.size() + expected.size(), closed.size());
        for (const auto &iso : isolation) EXPECT_NE(iso.kind, RelayKind::Crosspoint);
    }
}

TEST(RelayFrames, BitsThatDriveNothingAreReportedStray) {
    Chassis chassis(remoteConfig(kRQ520));
    // Bits 14 and 15 of every word drive no relay of this card.
    ASSERT_FALSE(simtest::isErrorReport(*chassis.receive(relayFrame(chassis.geometry(), {{3, 5, 14}}))));
    EXPECT_EQ(chassis.strayRelays(), (std::vector<RelayBit>{{3, 5, 14}}));
    EXPECT_TRUE(chassis.closedCrosspoints().empty());
}

}  // namespace

namespace {

using namespace korvax::sim;
using simtest::relayFrame;

// The faults a resource file can give a chassis: relay frames refused after
// the Nth, each model with its own refusal (an RQ521 as in local control,
// the others with their error report); one connection dropped after the
// Nth request; a delay before every reply.
TEST(Faults, FramesRefusedAfterTheNthWithTheModelsRefusal) {
    for (const uint16_t model : {kRQ521, kRQ523}) {
        SCOPED_TRACE(modelName(model));
        Config config = remoteConfig(model);
        config.refuseFramesAfter = 2;
        Chassis chassis(config);
        const Bytes open = relayFrame(chassis.geometry(), {});
        const Bytes close = relayFrame(chassis.geometry(), {{0, 1, 2}});
        EXPECT_TRUE(chassis.serve(close).framesApplied);
        EXPECT_TRUE(chassis.serve(open).framesApplied);
        const Exchange refused = chassis.serve(close);
        EXPECT_FALSE(refused.framesApplied);
        EXPECT_EQ((*refused.reply)[0], 0xFF);
        EXPECT_EQ(simtest::isErrorReport(*refused.reply), model != kRQ521);
        EXPECT_TRUE(chassis.closedRelays().empty());
        EXPECT_EQ(chassis.counters().refusedFrames, 1u);
    }
}

TEST(Faults, OneConnectionDroppedAfterTheNthRequestAndEveryReplyDelayed) {
    Config config = remoteConfig(kRQ523);
    config.dropAfter = 2;
    config.replyDelayMs = 7;
    Chassis chassis(config);
    const Bytes idn = simtest::text("*IDN?\n");
    std::vector<bool> hangUps;
    for (int i = 0; i < 4; ++i) {
        const Exchange e = chassis.serve(idn);
        hangUps.push_back(e.hangUp);
        EXPECT_EQ(e.reply.has_value(), !e.hangUp);
        EXPECT_EQ(e.delay, std::chrono::milliseconds(e.hangUp ? 0 : 7));
    }
    EXPECT_EQ(hangUps, (std::vector<bool>{false, false, true, false}));
    EXPECT_EQ(chassis.counters().requests, 3u);  // the dropped one was not taken
}

}  // namespace
