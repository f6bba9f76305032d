#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "KORVAX.h"
#include "relay/relay.h"
#include "support/fake_chassis.h"

namespace {

using fakevisa::Bytes;
using testsupport::installChassis;
using testsupport::reply;

constexpr uint32_t kUnknownHandle = 0xDEAD;
const Bytes kDetect = {10, 0, 0, 0};

using testsupport::Failure;
using testsupport::inject;
using testsupport::kFailures;

// Slots a sub-unit records as present, in slot order.
std::vector<int> presentSlots(const SubUnitInfo &s) {
    std::vector<int> slots;
    for (int j = 0; j < KORVAX_SLOTS; ++j) {
        if (s.slotPresent[j] == 1) slots.push_back(j);
        else EXPECT_EQ(s.slotPresent[j], 0xFF) << "slot " << j;
    }
    return slots;
}

// The card-to-slot map up to its first free entry; every later entry must be free too.
std::vector<int> cardSlots(const SubUnitInfo &s) {
    std::vector<int> slots;
    int k = 0;
    for (; k < KORVAX_SLOTS && s.cardSlot[k] != -1; ++k) slots.push_back(s.cardSlot[k]);
    for (; k < KORVAX_SLOTS; ++k) EXPECT_EQ(s.cardSlot[k], -1) << "entry " << k;
    return slots;
}

// Leaves a sub-unit looking fully populated, so that a rescan must clear it.
void markAllPresent(SubUnitInfo &s) {
    std::memset(s.slotPresent, 1, sizeof s.slotPresent);
    std::memset(s.cardSlot, 0, sizeof s.cardSlot);
}

TEST(BoardPresence, InfoDecodesTheSlotBitsOfEachModel) {
    const struct {
        uint16_t model;
        Bytes reply;
        std::vector<uint32_t> states;
    } cases[] = {
        // Slot 5 of an RQ520 is the RF board; byte 3 carries nothing for it.
        {KORVAX_MODEL_RQ520, reply({{2, 0b101001}, {3, 0xFF}}), {1, 0, 0, 1, 0, 1}},
        {KORVAX_MODEL_RQ520B, reply({{2, 0b011110}}), {0, 1, 1, 1, 1, 0}},
        {KORVAX_MODEL_RQ521, reply({{2, 0xFF}, {3, 0xFF}}), {1, 1, 1, 1}},
        // 24 bits over bytes 2..4; bits 21..23 have no slot.
        {KORVAX_MODEL_RQ522, reply({{2, 0x01}, {3, 0x80}, {4, 0xF0}}),
         {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}},
        {KORVAX_MODEL_RQ523, reply({{2, 0x03}}), {1}},
        {KORVAX_MODEL_RQ523B, reply({{2, 0x02}}), {0}},
    };
    constexpr uint32_t kSentinel = 0xEEEEEEEE;
    for (const auto &c : cases) {
        const auto f = installChassis(c.model);
        f.res->replies.push_back({c.reply});
        std::vector<uint32_t> states(32, kSentinel);
        uint32_t count = 0;
        EXPECT_EQ(KORVAX_BoardInPlaceInfo(f.handle, states.data(), &count),
                  static_cast<int32_t>(c.reply.size()))
            << std::hex << c.model;
        ASSERT_EQ(count, c.states.size()) << std::hex << c.model;
        EXPECT_EQ(std::vector<uint32_t>(states.begin(), states.begin() + count), c.states)
            << std::hex << c.model;
        for (size_t j = count; j < states.size(); ++j)
            EXPECT_EQ(states[j], kSentinel) << std::hex << c.model << " wrote entry " << j;
        EXPECT_EQ(fakevisa::writes(f.rsrc), std::vector<Bytes>{kDetect});
        EXPECT_EQ(presentSlots(f.rec->subUnits[0]), std::vector<int>{}) << "record changed";
    }
}

TEST(BoardPresence, InfoRefusalsAndFailures) {
    const auto f = installChassis(KORVAX_MODEL_RQ521);
    uint32_t states[21] = {};
    uint32_t count = 0;
    EXPECT_EQ(KORVAX_BoardInPlaceInfo(f.handle, nullptr, &count), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(KORVAX_BoardInPlaceInfo(f.handle, states, nullptr), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(KORVAX_BoardInPlaceInfo(kUnknownHandle, states, &count), KORVAX_ERR_HANDLE);
    EXPECT_TRUE(fakevisa::events().empty());
    EXPECT_EQ(count, 0u);
    for (const auto &fail : kFailures) {
        inject(*f.res, fail);
        EXPECT_EQ(KORVAX_BoardInPlaceInfo(f.handle, states, &count), fail.code) << fail.what;
        EXPECT_EQ(count, 4u);
    }
}

TEST(BoardPresence, HardwareScanOfEachSubUnit) {
    std::vector<int> everySlot;
    for (int j = 0; j < KORVAX_SLOTS; ++j) everySlot.push_back(j);
    const Bytes plateProbe = {12, 4, 0, 0};
    const struct {
        const char *what;
        uint16_t model;
        uint32_t subUnit;
        Bytes reply;
        int32_t expected;
        std::vector<int> present, cards;
        std::vector<Bytes> frames;
    } cases[] = {
        // Bit 5 is the RQ520's RF board, not a matrix board.
        {"RQ520 matrix", KORVAX_MODEL_RQ520, 0, reply({{2, 0b111010}}), 0, {1, 3, 4}, {1, 3, 4}, {kDetect}},
        {"RQ521 matrix", KORVAX_MODEL_RQ521, 0, reply({{2, 0xF2}}), 0, {1}, {1}, {kDetect}},
        {"RQ522 matrix", KORVAX_MODEL_RQ522, 0, reply({{2, 0x01}, {3, 0x01}, {4, 0xF0}}), 0, {0, 8, 20}, {0, 8, 20}, {kDetect}},
        {"RQ523 empty", KORVAX_MODEL_RQ523, 0, reply({{2, 0xFE}}), KORVAX_ERR_NO_TYPE0_CARD, {}, {}, {kDetect}},
        {"RF board in slot 5", KORVAX_MODEL_RQ520, 1, reply({{2, 0x20}}), 0, {0}, {0}, {kDetect}},
        {"no RF board", KORVAX_MODEL_RQ520B, 1, reply({{2, 0x1F}, {3, 0xFF}}), KORVAX_ERR_NO_TYPE1_CARD, {}, {}, {kDetect}},
        {"plate answers", KORVAX_MODEL_RQ520, 2, reply({{2, 0x01}}), 0, everySlot, {}, {plateProbe}},
        {"plate silent", KORVAX_MODEL_RQ520, 2, reply({{2, 0xFE}}), KORVAX_ERR_NO_TYPE2_CARD, {}, {}, {plateProbe}},
        {"RQ521 has no RF board", KORVAX_MODEL_RQ521, 1, {}, KORVAX_ERR_UNKNOWN_CARD_TYPE, {}, {}, {}},
        {"RQ522 has no plate", KORVAX_MODEL_RQ522, 2, {}, KORVAX_ERR_UNKNOWN_CARD_TYPE, {}, {}, {}},
    };
    for (const auto &c : cases) {
        const auto f = installChassis(c.model);
        SubUnitInfo &s = f.rec->subUnits[c.subUnit];
        markAllPresent(s);
        if (!c.reply.empty()) f.res->replies.push_back({c.reply});
        EXPECT_EQ(KORVAXBoardInPlaceHDW(f.handle, c.subUnit), c.expected) << c.what;
        EXPECT_EQ(presentSlots(s), c.present) << c.what;
        EXPECT_EQ(cardSlots(s), c.cards) << c.what;
        EXPECT_EQ(fakevisa::writes(f.rsrc), c.frames) << c.what;
    }
}

TEST(BoardPresence, HardwareScanRefusals) {
    const auto f = installChassis(KORVAX_MODEL_RQ520);
    EXPECT_EQ(KORVAXBoardInPlaceHDW(kUnknownHandle, 0), KORVAX_ERR_HANDLE);
    EXPECT_EQ(KORVAXBoardInPlaceHDW(f.handle, 3), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(BoardInPlaceHDW(nullptr, 0), KORVAX_ERR_PARAMETER);
    EXPECT_TRUE(fakevisa::events().empty());
}

TEST(BoardPresence, HardwareScanStaysInsideTheRecord) {
    // Geometries no discovery produces, as a damaged record could hold them:
    // more slots than the record has room for.
    const struct {
        const char *what;
        uint32_t subUnit;
        uint16_t slotTotal, matrixSlots;
        std::vector<int> present;
    } cases[] = {
        {"matrix of 40 slots", 0, 40, 40, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}},
        {"RF slots up to 40", 1, 40, 5, {0, 1, 2}},
        {"RF slots start past the end", 1, 6, 30, {}},
    };
    for (const auto &c : cases) {
        const auto f = installChassis(KORVAX_MODEL_RQ520);
        f.rec->slotTotal = c.slotTotal;
        f.rec->subUnits[0].slotCount = c.matrixSlots;
        SubUnitInfo &s = f.rec->subUnits[c.subUnit];
        const uint8_t cascade[2] = {s.cascadeState[0], s.cascadeState[1]};
        f.res->replies.push_back({reply({{2, 0xFF}, {3, 0xFF}, {4, 0xFF}, {5, 0xFF}, {6, 0xFF}})});
        BoardInPlaceHDW(f.rec, c.subUnit);
        EXPECT_EQ(presentSlots(s), c.present) << c.what;
        EXPECT_EQ(cardSlots(s), c.present) << c.what;
        EXPECT_EQ(s.cascadeState[0], cascade[0]) << c.what;
        EXPECT_EQ(s.cascadeState[1], cascade[1]) << c.what;
    }
}

TEST(BoardPresence, MaskNamesTheFittedMatrixBoards) {
    const Bytes loopBack = {12, 1, 0, 0};
    const struct {
        const char *what;
        uint16_t model;
        int32_t mask;
        uint8_t answered;
        int32_t expected;
        std::vector<int> cards;
        bool sent;
    } cases[] = {
        {"mask 0", KORVAX_MODEL_RQ520, 0, 0xFF, KORVAX_ERR_CARD_IN_PLACE_SET, {}, false},
        {"mask 32", KORVAX_MODEL_RQ520, 32, 0xFF, KORVAX_ERR_CARD_IN_PLACE_SET, {}, false},
        {"mask negative", KORVAX_MODEL_RQ520, -1, 0xFF, KORVAX_ERR_CARD_IN_PLACE_SET, {}, false},
        {"answering board left out", KORVAX_MODEL_RQ520, 0b00101, 0b00111, 0, {0, 2}, true},
        {"all five", KORVAX_MODEL_RQ520, 0b11111, 0b11111, 0, {0, 1, 2, 3, 4}, true},
        {"named board silent", KORVAX_MODEL_RQ520, 0b01000, 0b00111, KORVAX_ERR_CARD_IN_PLACE_SET, {}, true},
        {"stops at the silent board", KORVAX_MODEL_RQ520, 0b01001, 0b00001, KORVAX_ERR_CARD_IN_PLACE_SET, {0}, true},
        {"RQ522 board 4", KORVAX_MODEL_RQ522, 0b10000, 0xFF, 0, {4}, true},
        // The RQ521 has four slots: bit 4 names no board of it.
        {"RQ521 board 4", KORVAX_MODEL_RQ521, 0b10000, 0xFF, KORVAX_ERR_NO_TYPE0_CARD, {}, true},
    };
    for (const auto &c : cases) {
        const auto f = installChassis(c.model);
        markAllPresent(f.rec->subUnits[0]);
        f.res->replies.push_back({reply({{2, c.answered}})});
        EXPECT_EQ(KORVAX_BoardInPlace(f.handle, c.mask), c.expected) << c.what;
        EXPECT_EQ(fakevisa::writes(f.rsrc), c.sent ? std::vector<Bytes>{loopBack} : std::vector<Bytes>{})
            << c.what;
        if (!c.sent) continue;  // refused outright: the record is as it was
        EXPECT_EQ(presentSlots(f.rec->subUnits[0]), c.cards) << c.what;
        EXPECT_EQ(cardSlots(f.rec->subUnits[0]), c.cards) << c.what;
    }
    installChassis(KORVAX_MODEL_RQ520);
    EXPECT_EQ(KORVAX_BoardInPlace(kUnknownHandle, 1), KORVAX_ERR_HANDLE);
    EXPECT_TRUE(fakevisa::events().empty());
}

TEST(BoardPresence, ExchangeFailuresPassThrough) {
    // A hardware scan clears the record before it asks; the mask check
    // rebuilds it only from a reply, so a failure leaves it as it was.
    const struct {
        const char *what;
        uint32_t subUnit;
        std::function<int32_t(uint32_t)> call;
        bool clearedFirst;
    } cases[] = {
        {"scan matrix", 0, [](uint32_t h) { return KORVAXBoardInPlaceHDW(h, 0); }, true},
        {"scan RF board", 1, [](uint32_t h) { return KORVAXBoardInPlaceHDW(h, 1); }, true},
        {"scan plate", 2, [](uint32_t h) { return KORVAXBoardInPlaceHDW(h, 2); }, true},
        {"mask", 0, [](uint32_t h) { return KORVAX_BoardInPlace(h, 0b11111); }, false},
    };
    std::vector<int> everySlot;
    for (int j = 0; j < KORVAX_SLOTS; ++j) everySlot.push_back(j);
    for (const auto &c : cases) {
        for (const auto &fail : kFailures) {
            const auto f = installChassis(KORVAX_MODEL_RQ520);
            SubUnitInfo &s = f.rec->subUnits[c.subUnit];
            markAllPresent(s);
            inject(*f.res, fail);
            EXPECT_EQ(c.call(f.handle), fail.code) << c.what << ", " << fail.what;
            EXPECT_EQ(presentSlots(s), c.clearedFirst ? std::vector<int>{} : everySlot) << c.what;
        }
    }
}

}  // namespace
