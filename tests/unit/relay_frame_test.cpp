#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "KORVAX.h"
#include "api/compat.h"
#include "relay/point_model.h"
#include "relay/relay.h"
#include "support/open_matrix.h"

namespace {

using fakevisa::Bytes;
using testsupport::FakeChassis;
using testsupport::InstrumentState;
using testsupport::openMatrix;

struct ModelCase {
    const char *name;
    uint16_t model;
    uint8_t fwMajor;
    size_t frameLength;
};

const ModelCase kModels[] = {
    {"RQ520 fw1", KORVAX_MODEL_RQ520, 1, 134},  {"RQ520 fw2", KORVAX_MODEL_RQ520, 2, 124},
    {"RQ520B", KORVAX_MODEL_RQ520B, 3, 124},    {"RQ521", KORVAX_MODEL_RQ521, 3, 108},
    {"RQ522", KORVAX_MODEL_RQ522, 3, 2062},     {"RQ523", KORVAX_MODEL_RQ523, 3, 24},
    {"RQ523B", KORVAX_MODEL_RQ523B, 3, 24},
};

FakeChassis open(const ModelCase &m, uint32_t presence = 0x1FFFFF) {
    InstrumentState st;
    st.fwMajor = m.fwMajor;
    st.fwMinor = 6;
    st.presence = presence;
    return openMatrix(m.model, st);
}

Bytes lastFrame(const FakeChassis &f) {
    auto w = fakevisa::writes(f.rsrc);
    return w.empty() ? Bytes{} : w.back();
}

uint16_t wireWord(const Bytes &frame, int block, int wordsPerBoard, int slotWord) {
    const int pos = 4 + 2 * (block * wordsPerBoard + (wordsPerBoard - 1 - slotWord));
    return static_cast<uint16_t>(frame[pos] | frame[pos + 1] << 8);
}

TEST(RelayFrame, OneCrosspointOnEveryModelMatchesTheReference) {
    for (const auto &m : kModels) {
        FakeChassis f = open(m);
        std::array<uint32_t, 8> state{};
        state[0] = 1u << 3;  // row 0, card 0, column 3
        ASSERT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), 8), 0) << m.name;
        const Bytes frame = lastFrame(f);
        ASSERT_EQ(frame.size(), m.frameLength) << m.name;
        std::vector<uint8_t> ref;
        ASSERT_EQ(testsupport::referenceFrame(testsupport::geometryOf(*f.rec), state.data(), 8, ref), 0);
        EXPECT_EQ(frame, ref) << m.name;
        int ones = 0;
        for (size_t i = 4; i < frame.size(); ++i) ones += __builtin_popcount(frame[i]);
        // The crosspoint and its isolation relays: the RQ522 has no column
        // isolation, and the first two RQ523 rows none either.
        const bool two = m.model == KORVAX_MODEL_RQ522 || m.model == KORVAX_MODEL_RQ523 ||
                         m.model == KORVAX_MODEL_RQ523B;
        EXPECT_EQ(ones, two ? 2 : 3) << m.name;
    }
}

TEST(RelayFrame, Rq521CrosspointWithIsolationRelaysByteExact) {
    FakeChassis f = open(kModels[3], 0b0100);  // one card, in physical slot 2
    std::array<uint32_t, 15> state{};
    state[0] = 1u;  // row 0, card 0, column 0: wired as column 5
    ASSERT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), 15), 0);
    const Bytes frame = lastFrame(f);
    ASSERT_EQ(frame.size(), 108u);
    EXPECT_EQ(frame[0], 19);
    EXPECT_EQ(frame[1], 0);
    EXPECT_EQ(frame[2] | frame[3] << 8, 104);
    Bytes expected(108, 0);
    expected[0] = 19;
    expected[2] = 104;
    // Block 2: row word 0 carries crosspoint bit 5 and row isolation bit 6;
    // word 4 the column-isolation relay of column 5. Word w goes out at
    // position 12 - w.
    expected[4 + 2 * (2 * 13 + 12)] = 0x60;
    expected[4 + 2 * (2 * 13 + 8)] = 0x20;
    EXPECT_EQ(frame, expected);

    // Row 4 also closes its CV relay (word 6, bit 15).
    state[0] = 0;
    const int p = 4 * 48 + 7;  // row 4, card 0, column 7
    state[p / 32] = 1u << (p % 32);
    ASSERT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), 15), 0);
    EXPECT_TRUE(wireWord(lastFrame(f), 2, 13, 6) & 0x8000);
}

TEST(RelayFrame, Rq521MirrorsTheFirstSixColumns) {
    FakeChassis f = open(kModels[3], 0b0001);
    struct {
        int col;
        int bit;
    } cases[] = {{0, 5}, {5, 0}, {6, 8}, {11, 13}};
    for (const auto &c : cases) {
        std::array<uint32_t, 15> state{};
        state[0] = 1u << c.col;
        ASSERT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), 15), 0);
        EXPECT_TRUE(wireWord(lastFrame(f), 0, 13, 0) & (1u << c.bit)) << "column " << c.col;
    }
}

TEST(RelayFrame, Rq520FirmwareOneKeepsTheTopNibbleOfTheFirstWireWordClear) {
    FakeChassis f = open(kModels[0]);
    std::array<uint32_t, 19> state;
    state.fill(0xFFFFFFFF);
    // Too many for the closure limit: pick one row of every card instead.
    state.fill(0);
    for (int p = 0; p < 50; ++p) state[p / 32] |= 1u << (p % 32);
    ASSERT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), 19), 0);
    const Bytes frame = lastFrame(f);
    ASSERT_EQ(frame.size(), 134u);
    for (int g = 0; g < 5; ++g) EXPECT_EQ(frame[4 + 2 * g * 13 + 1] & 0xF0, 0) << g;
}

TEST(RelayFrame, ClosureLimitSendsNothingAndKeepsTheState) {
    struct {
        const ModelCase &m;
        int words;
        int32_t expected;
    } cases[] = {
        {kModels[1], 32, KORVAX_ERR_CLOSURE_LIMIT},  // RQ520: 600 crosspoints
        {kModels[2], 32, KORVAX_ERR_CLOSURE_LIMIT},  // RQ520B
        {kModels[3], 15, KORVAX_ERR_CLOSURE_LIMIT},  // RQ521: 480
        {kModels[5], 3, 0},                          // RQ523 has no limit
    };
    for (const auto &c : cases) {
        FakeChassis f = open(c.m);
        std::memset(f.rec->subUnits[0].userState, 0x5A, sizeof f.rec->subUnits[0].userState);
        std::vector<uint32_t> state(c.words, 0xFFFFFFFF);
        EXPECT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), c.words), c.expected) << c.m.name;
        if (c.expected < 0) {
            EXPECT_TRUE(fakevisa::writes(f.rsrc).empty()) << c.m.name;
            EXPECT_EQ(f.rec->subUnits[0].userState[0], 0x5A5A5A5Au) << c.m.name;
        }
    }
    // RQ522 rows 0..3 of every card: 8064 crosspoints, no limit.
    FakeChassis f = open(kModels[4]);
    std::vector<uint32_t> state(1008, 0);
    for (int p = 0; p < 4 * 21 * 96; ++p) state[p / 32] |= 1u << (p % 32);
    EXPECT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), 1008), 0);
}

TEST(RelayFrame, ClosureLimitIsJudgedOnCrosspointsAndIsolationRelaysTogether) {
    // An RQ521 with four cards: 54 crosspoints of row 0 stay under 270 only
    // while their isolation relays are counted too.
    FakeChassis f = open(kModels[3]);
    std::array<uint32_t, 15> state{};
    std::vector<uint8_t> ref;
    int accepted = 0;
    for (int n = 1; n <= 480; ++n) {
        state[(n - 1) / 32] |= 1u << ((n - 1) % 32);
        const int32_t want = testsupport::referenceFrame(testsupport::geometryOf(*f.rec), state.data(), 15, ref);
        ASSERT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), 15), want) << n;
        if (want == 0) accepted = n;
    }
    EXPECT_GT(accepted, 60);
    EXPECT_LT(accepted, 270);
}

TEST(RelayFrame, Rq522RowsBeyondTheFrameAreRefused) {
    FakeChassis f = open(kModels[4]);
    std::vector<uint32_t> state(1008, 0);
    const int p = 13 * 21 * 96 + 5;  // row 13, card 0, column 5
    state[p / 32] = 1u << (p % 32);
    std::memset(f.rec->subUnits[0].userState, 0, sizeof f.rec->subUnits[0].userState);
    EXPECT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), 1008), KORVAX_ERR_ROW_RANGE);
    EXPECT_TRUE(fakevisa::writes(f.rsrc).empty());
    EXPECT_EQ(f.rec->subUnits[0].userState[p / 32], 0u);

    // The byte-per-relay fill still folds row 13 onto table row 1, three
    // card blocks further on.
    std::vector<uint8_t> flags(korvax::kFlagCount, 0), data(korvax::kDataBytes, 0);
    flags[p] = 1;
    ASSERT_EQ(SetRelayStateDataType0(f.rec, flags.data(), data.data()), 0);
    PointLocation loc{};
    GetPoint(2, MATRIX, 1, 5, &loc);
    EXPECT_EQ(data[(0 * 200 + loc.word + 3 * 49) * 16 + loc.bit - 1], 1);
    EXPECT_EQ(SendRelayStateType0(f.rec, flags.data(), std::vector<uint8_t>(2062).data(), 1),
              KORVAX_ERR_ROW_RANGE);
}

TEST(RelayFrame, Rq523CascadeRelaysFollowTheStoredState) {
    for (uint16_t model : {KORVAX_MODEL_RQ523, KORVAX_MODEL_RQ523B}) {
        FakeChassis f = openMatrix(model);
        f.rec->subUnits[0].cascadeState[0] = 1;
        f.rec->subUnits[0].cascadeState[1] = 0;
        std::array<uint32_t, 3> state{};
        ASSERT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), 3), 0);
        const bool lt0 = wireWord(lastFrame(f), 0, 10, 0) & (1u << 14);
        EXPECT_EQ(lt0, model == KORVAX_MODEL_RQ523) << model;
    }
}

TEST(RelayFrame, SubUnitRules) {
    struct {
        const char *what;
        uint16_t model;
        long subUnit;
        uint32_t rfPresence;  // 1: RF card (sub-unit 1) present
        int32_t expected;
    } cases[] = {
        {"RQ521 sub-unit 2 switches sub-unit 0", KORVAX_MODEL_RQ521, 2, 0, 0},
        {"RQ522 sub-unit 1 switches sub-unit 0", KORVAX_MODEL_RQ522, 1, 0, 0},
        {"RQ523 sub-unit 2 switches sub-unit 0", KORVAX_MODEL_RQ523, 2, 0, 0},
        {"RQ520 sub-unit 1 with a card", KORVAX_MODEL_RQ520, 1, 1, KORVAX_ERR_UNKNOWN_CARD_TYPE},
        {"RQ520 sub-unit 1 without a card", KORVAX_MODEL_RQ520, 1, 0, KORVAX_ERR_NO_TYPE1_CARD},
        {"RQ520 sub-unit 2 without a card", KORVAX_MODEL_RQ520, 2, 0, KORVAX_ERR_NO_TYPE2_CARD},
        {"RQ523B sub-unit 1", KORVAX_MODEL_RQ523B, 1, 0, KORVAX_ERR_NO_TYPE1_CARD},
        {"RQ520 sub-unit 3", KORVAX_MODEL_RQ520, 3, 0, KORVAX_ERR_PARAMETER},
        {"RQ520 sub-unit -1", KORVAX_MODEL_RQ520, -1, 0, KORVAX_ERR_PARAMETER},
    };
    for (const auto &c : cases) {
        FakeChassis f = openMatrix(c.model);
        if (c.rfPresence) f.rec->subUnits[1].slotPresent[0] = 1;
        std::memset(f.rec->subUnits[0].userState, 0, sizeof f.rec->subUnits[0].userState);
        std::array<uint32_t, 4> state = {1, 0, 0, 0};
        EXPECT_EQ(KORVAX_OpMatrix(f.handle, c.subUnit, state.data(), 4), c.expected) << c.what;
        EXPECT_EQ(fakevisa::writes(f.rsrc).size(), c.expected == 0 ? 1u : 0u) << c.what;
        EXPECT_EQ(f.rec->subUnits[0].userState[0], c.expected == 0 ? 1u : 0u) << c.what;
    }
    EXPECT_EQ(KORVAX_OpMatrix(0x7777, 0, nullptr, 0), KORVAX_ERR_HANDLE);
}

TEST(RelayFrame, WordCountsAndTheRememberedState) {
    FakeChassis f = open(kModels[4]);  // RQ522 takes 1008 words
    SubUnitInfo &s = f.rec->subUnits[0];
    std::vector<uint32_t> state(2000, 0);
    state[0] = 1;
    state[1499] = 0xABCD;
    state[1500] = 0x1234;
    std::memset(s.userState, 0xEE, sizeof s.userState);
    // Above 1500 words: switched as usual, the first 1500 remembered.
    ASSERT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), 2000), 0);
    EXPECT_EQ(s.userState[0], 1u);
    EXPECT_EQ(s.userState[1499], 0xABCDu);

    for (int32_t count : {0, -5}) {
        std::memset(s.userState, 0xEE, sizeof s.userState);
        fakevisa::clearEvents();
        EXPECT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), count), 0) << count;
        const Bytes frame = lastFrame(f);
        ASSERT_EQ(frame.size(), 2062u);
        for (size_t i = 4; i < frame.size(); ++i) ASSERT_EQ(frame[i], 0) << "all relays open";
        EXPECT_EQ(s.userState[0], 0xEEEEEEEEu) << "nothing remembered for count " << count;
    }
    EXPECT_EQ(KORVAX_OpMatrix(f.handle, 0, nullptr, 0), 0);
    EXPECT_EQ(KORVAX_OpMatrix(f.handle, 0, nullptr, 3), KORVAX_ERR_PARAMETER);
}

TEST(RelayFrame, ExchangeFailuresPassThroughAndKeepTheState) {
    struct {
        const char *what;
        int failWrites, failReads;
        Bytes reply;
        uint16_t model;
        int32_t expected;
    } cases[] = {
        {"write", 1, 0, {}, KORVAX_MODEL_RQ520, KORVAX_ERR_SEND},
        {"read", 0, 1, {}, KORVAX_MODEL_RQ520, KORVAX_ERR_RECEIVE},
        {"error report", 0, 0, {0xFF, 0xFF, 0xFF, 0xFF}, KORVAX_MODEL_RQ520, KORVAX_ERR_USB_ADAPTER},
        {"RQ521 local control", 0, 0, {0xFF, 0, 0, 0}, KORVAX_MODEL_RQ521, KORVAX_ERR_MODE_CONFLICT},
        {"0xFF elsewhere is fine", 0, 0, {0xFF, 0, 0, 0}, KORVAX_MODEL_RQ522, 0},
    };
    for (const auto &c : cases) {
        FakeChassis f = openMatrix(c.model);
        f.res->failWrites = c.failWrites;
        f.res->failReads = c.failReads;
        if (!c.reply.empty()) f.res->replies.push_back({c.reply});
        std::memset(f.rec->subUnits[0].userState, 0, sizeof f.rec->subUnits[0].userState);
        std::array<uint32_t, 3> state = {1, 0, 0};
        EXPECT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), 3), c.expected) << c.what;
        EXPECT_EQ(f.rec->subUnits[0].userState[0], c.expected == 0 ? 1u : 0u) << c.what;
        // The exchange lock is free again: the next call goes through.
        f.res->replies.clear();
        std::thread t([&] { EXPECT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), 3), 0) << c.what; });
        t.join();
    }
}

TEST(RelayFrame, FastBuilderMatchesTheReferenceOnRandomStates) {
    std::mt19937 rng(20261208);
    for (const auto &m : kModels) {
        for (int round = 0; round < 60; ++round) {
            // Random card fitting, random density, sometimes the whole array.
            const uint32_t presence = (round % 3 == 0) ? 0x1FFFFF : (rng() & 0x1FFFFF) | 1u;
            FakeChassis f = open(m, presence);
            const SubUnitInfo &s = f.rec->subUnits[0];
            if (m.model == KORVAX_MODEL_RQ523) {
                f.rec->subUnits[0].cascadeState[0] = rng() & 1;
                f.rec->subUnits[0].cascadeState[1] = rng() & 1;
            }
            const int words = s.userWords + static_cast<int>(rng() % 3);
            std::vector<uint32_t> state(words, 0);
            const int density = 1 + static_cast<int>(rng() % 64);
            const int rowsUsed = m.model == KORVAX_MODEL_RQ522 && round % 4 != 0 ? 4 : s.rowCount;
            for (int p = 0; p < rowsUsed * s.slotCount * s.colCount; ++p)
                if (static_cast<int>(rng() % 512) < density) state[p / 32] |= 1u << (p % 32);
            std::vector<uint8_t> ref;
            const int32_t want = testsupport::referenceFrame(testsupport::geometryOf(*f.rec), state.data(), words, ref);
            const int32_t got = KORVAX_OpMatrix(f.handle, 0, state.data(), words);
            ASSERT_EQ(got, want) << m.name << " round " << round;
            const auto sent = fakevisa::writes(f.rsrc);
            if (want == 0) {
                ASSERT_EQ(sent.size(), 1u);
                ASSERT_EQ(sent[0], ref) << m.name << " round " << round;
            } else {
                ASSERT_TRUE(sent.empty());
            }
            // The byte-per-relay path must agree too.
            if (want != KORVAX_ERR_ROW_RANGE) {
                std::vector<uint8_t> flags(korvax::kFlagCount, 0), request(10004, 0);
                UserArrayToMatrixPoints(state.data(), s.userWords, words, flags.data());
                fakevisa::clearEvents();
                ASSERT_EQ(SendRelayStateType0(f.rec, flags.data(), request.data(), 1), want) << m.name;
                if (want == 0) {
                    ASSERT_EQ(lastFrame(f), ref) << m.name << " literal, round " << round;
                }
            }
        }
    }
}

TEST(RelayFrame, TwoThreadsSwitchTwoChassisAtOnce) {
    // Two RQ521 chassis in records 0 and 1, switched concurrently: each must
    // get exactly its own frames.
    FakeChassis a = open(kModels[3]);
    fakevisa::Resource &rb = fakevisa::add("TCPIP0::192.168.1.6::INSTR");
    rb.responder = testsupport::instrument({});
    ViSession rm = 0, vb = 0;
    viOpenDefaultRM(&rm);
    viOpen(rm, rb.name.c_str(), 0, 0, &vb);
    ChassisInfo &b = globalChassisInfo[1];
    b = *a.rec;
    b.vi = vb;
    std::strcpy(b.rsrcName, rb.name.c_str());
    fakevisa::clearEvents();

    auto run = [](uint32_t handle, int first) {
        for (int i = 0; i < 100; ++i) {
            std::array<uint32_t, 15> state{};
            const int p = (first + i) % 480;
            state[p / 32] = 1u << (p % 32);
            ASSERT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), 15), 0);
        }
    };
    std::thread ta(run, a.handle, 0), tb(run, vb, 200);
    ta.join();
    tb.join();
    const auto wa = fakevisa::writes(a.rsrc), wb = fakevisa::writes(rb.name);
    ASSERT_EQ(wa.size(), 100u);
    ASSERT_EQ(wb.size(), 100u);
    testsupport::RefGeometry g = testsupport::geometryOf(*a.rec);
    for (int i = 0; i < 100; ++i) {
        for (auto [frames, first] : {std::pair{&wa, 0}, std::pair{&wb, 200}}) {
            std::array<uint32_t, 15> state{};
            const int p = (first + i) % 480;
            state[p / 32] = 1u << (p % 32);
            std::vector<uint8_t> ref;
            testsupport::referenceFrame(g, state.data(), 15, ref);
            ASSERT_EQ((*frames)[i], ref) << i;
        }
    }
}

TEST(RelayFrame, SwitchingBeforeInitialisationStillUsesTheWiring) {
    // Needs relay maps nobody has built yet: runs in a freshly started copy
    // of this program ("threadsafe" death-test style re-executes it).
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto child = [] {
            FakeChassis f = testsupport::installChassis(KORVAX_MODEL_RQ521);
            f.res->responder = testsupport::instrument({});
            int64_t opened = -1;
            if (KORVAX_OpenSpecifiedCard(f.handle, 0, &opened) != 0) std::exit(2);
            if (RQ521_matrixLocation[4][6].word != 0) std::exit(3);  // not built yet
            fakevisa::clearEvents();
            std::array<uint32_t, 15> state{};
            const int p = 4 * 48 + 6;
            state[p / 32] = 1u << (p % 32);
            if (KORVAX_OpMatrix(f.handle, 0, state.data(), 15) != 0) std::exit(4);
            std::vector<uint8_t> ref;
            testsupport::referenceFrame(testsupport::geometryOf(*f.rec), state.data(), 15, ref);
            std::exit(lastFrame(f) == ref && RQ521_matrixLocation[4][6].word == 6 ? 0 : 5);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

TEST(PointModel, CheckPointParam) {
    struct {
        int32_t row, col, state;
        int32_t expected;
    } cases[] = {
        {-1, 0, 0, KORVAX_ERR_ROW_RANGE}, {10, 0, 0, KORVAX_ERR_ROW_RANGE},
        {9, 12, 0, KORVAX_ERR_COLUMN_RANGE}, {9, -1, 0, KORVAX_ERR_COLUMN_RANGE},
        {9, 11, 2, KORVAX_ERR_STATE_RANGE}, {-1, -1, 2, KORVAX_ERR_ROW_RANGE},
        {9, 11, 1, 0}, {0, 0, 0, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CheckPointParam(c.row, c.col, c.state, 10, 12), c.expected)
            << c.row << "," << c.col << "," << c.state;
}

TEST(PointModel, UserArrayToMatrixPoints) {
    std::vector<uint32_t> words(1500, 0xFFFFFFFF);
    struct {
        int32_t limit, count;
        int32_t result;
        int flagsSet;
    } cases[] = {{15, 1500, 0, 480}, {15, 2, 0, 64}, {15, 0, -1, 0}, {15, -3, -1, 0}, {5000, 5000, 0, 40000}};
    for (const auto &c : cases) {
        std::vector<uint8_t> flags(40000 + 64, 0);
        EXPECT_EQ(UserArrayToMatrixPoints(words.data(), c.limit, c.count, flags.data()), c.result);
        int set = 0;
        for (uint8_t f : flags) set += f;
        EXPECT_EQ(set, c.flagsSet) << c.limit << "/" << c.count;
    }
    EXPECT_EQ(UserArrayToMatrixPoints(words.data(), 15, 5, nullptr), -1);
    const uint32_t one = 0x80000001u;
    std::vector<uint8_t> flags(64, 7);
    ASSERT_EQ(UserArrayToMatrixPoints(&one, 1, 1, flags.data()), 0);
    EXPECT_EQ(flags[0], 1);
    EXPECT_EQ(flags[1], 0);
    EXPECT_EQ(flags[31], 1);
    EXPECT_EQ(flags[32], 7) << "flags beyond the words are not touched";
}

TEST(PointModel, Predicates) {
    ChassisInfo c{};
    struct {
        uint16_t major, minor;
        bool newer;
    } versions[] = {{3, 5, false}, {3, 6, true}, {4, 0, true}, {2, 99, false}, {3, 0x10, true}};
    for (const auto &v : versions) {
        c.fwMajor = v.major;
        c.fwMinor = v.minor;
        EXPECT_EQ(IsNewVer_3_06(&c), v.newer) << v.major << "." << v.minor;
    }
    EXPECT_FALSE(IsNewVer_3_06(nullptr));
    for (auto &s : c.subUnits) std::memset(s.slotPresent, 0xFF, sizeof s.slotPresent);
    EXPECT_EQ(IsBoardExists(&c, 0), KORVAX_ERR_NO_TYPE0_CARD);
    EXPECT_EQ(IsBoardExists(&c, 1), KORVAX_ERR_NO_TYPE1_CARD);
    EXPECT_EQ(IsBoardExists(&c, 2), KORVAX_ERR_NO_TYPE2_CARD);
    EXPECT_EQ(IsBoardExists(&c, 3), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(IsBoardExists(nullptr, 0), KORVAX_ERR_PARAMETER);
    c.subUnits[2].slotPresent[20] = 0;
    EXPECT_EQ(IsBoardExists(&c, 2), 1);
}

}  // namespace
