#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "KORVAX.h"
#include "relay/relay.h"
#include "support/open_matrix.h"

namespace {

using fakevisa::Bytes;
using testsupport::FakeChassis;
using testsupport::InstrumentState;

FakeChassis withInstrument(uint16_t model, InstrumentState st) {
    FakeChassis f = testsupport::installChassis(model);
    st.rq520Layout = model == KORVAX_MODEL_RQ520 || model == KORVAX_MODEL_RQ520B;
    f.res->responder = testsupport::instrument(st);
    return f;
}

std::vector<int> commands(const FakeChassis &f) {
    std::vector<int> out;
    for (const auto &w : fakevisa::writes(f.rsrc)) out.push_back(w[0]);
    return out;
}

TEST(CardSetup, MatrixGeometryShowsInTheClearFrame) {
    struct {
        const char *what;
        uint16_t model;
        uint8_t fwMajor;
        int command;
        size_t length;
        uint16_t userWords;
    } rows[] = {
        {"RQ520 firmware 1", KORVAX_MODEL_RQ520, 1, 19, 134, 19},
        {"RQ520 firmware 2", KORVAX_MODEL_RQ520, 2, 19, 124, 32},
        {"RQ520B firmware 3", KORVAX_MODEL_RQ520B, 3, 19, 124, 32},
        {"RQ521", KORVAX_MODEL_RQ521, 3, 19, 108, 15},
        {"RQ522", KORVAX_MODEL_RQ522, 3, 67, 2062, 1008},
        {"RQ523", KORVAX_MODEL_RQ523, 3, 19, 24, 3},
        {"RQ523B", KORVAX_MODEL_RQ523B, 3, 19, 24, 3},
    };
    for (const auto &r : rows) {
        InstrumentState st;
        st.fwMajor = r.fwMajor;
        FakeChassis f = withInstrument(r.model, st);
        int64_t opened = -1;
        ASSERT_EQ(KORVAX_OpenSpecifiedCard(f.handle, 0, &opened), 0) << r.what;
        EXPECT_EQ(opened, 0);
        EXPECT_EQ(f.rec->subUnits[0].userWords, r.userWords) << r.what;
        f.rec->subUnits[0].userState[7] = 99;
        fakevisa::clearEvents();
        EXPECT_EQ(KORVAX_Clear(f.handle, 0), 16) << r.what << ": the reply's byte count";
        const auto w = fakevisa::writes(f.rsrc);
        ASSERT_EQ(w.size(), 1u);
        ASSERT_EQ(w[0].size(), r.length) << r.what;
        EXPECT_EQ(w[0][0], r.command) << r.what;
        EXPECT_EQ(w[0][2] | w[0][3] << 8, static_cast<int>(r.length - 4)) << r.what;
        for (size_t i = 4; i < w[0].size(); ++i) ASSERT_EQ(w[0][i], 0) << r.what;
        EXPECT_EQ(f.rec->subUnits[0].userState[7], 0u);
        EXPECT_EQ(f.rec->subUnits[0].cascadeCount, r.model == KORVAX_MODEL_RQ523 || r.model == KORVAX_MODEL_RQ523B ? 2 : 0);
    }
}

TEST(CardSetup, SingleSubUnitChassisOpenSubUnitZero) {
    for (uint16_t model : {KORVAX_MODEL_RQ521, KORVAX_MODEL_RQ522, KORVAX_MODEL_RQ523}) {
        FakeChassis f = withInstrument(model, {});
        int64_t opened = -1;
        EXPECT_EQ(KORVAX_OpenSpecifiedCard(f.handle, 2, &opened), 0) << model;
        EXPECT_EQ(opened, 0) << model;
    }
    // The RQ523B reports its sub-units like an RQ520: sub-unit 2 is absent.
    FakeChassis f = withInstrument(KORVAX_MODEL_RQ523B, {});
    int64_t opened = -1;
    EXPECT_EQ(KORVAX_OpenSpecifiedCard(f.handle, 2, &opened), KORVAX_ERR_UNKNOWN_CARD_TYPE);
}

TEST(CardSetup, RfCardKinds) {
    struct {
        uint8_t kind;
        int32_t result;
        uint32_t boardType;
        uint16_t boardCount, wordsPerBoard, rowCount, pointCount, userWords, paramA;
    } rows[] = {
        {0, 0, 6, 8, 20, 16, 800, 25, 0},  {1, 0, 10, 4, 20, 16, 800, 25, 12},
        {3, 0, 5, 4, 20, 8, 400, 25, 0},   {9, 0, 9, 4, 12, 16, 800, 25, 0},
        {11, 0, 8, 2, 12, 8, 400, 25, 0},  {12, 0, 4, 4, 10, 8, 400, 13, 0},
        {2, KORVAX_ERR_DEVICE_TYPE, 0, 0, 0, 0, 0, 0, 0},       {4, KORVAX_ERR_DEVICE_TYPE, 0, 0, 0, 0, 0, 0, 0},
        {10, KORVAX_ERR_DEVICE_TYPE, 0, 0, 0, 0, 0, 0, 0},      {13, KORVAX_ERR_DEVICE_TYPE, 0, 0, 0, 0, 0, 0, 0},
        {255, KORVAX_ERR_DEVICE_TYPE, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const auto &r : rows) {
        InstrumentState st;
        st.rfKind = r.kind;
        FakeChassis f = withInstrument(KORVAX_MODEL_RQ520, st);
        int64_t opened = -1;
        ASSERT_EQ(KORVAX_OpenSpecifiedCard(f.handle, 1, &opened), r.result) << int(r.kind);
        EXPECT_EQ(opened, 1);
        if (r.result != 0) continue;
        const SubUnitInfo &s = f.rec->subUnits[1];
        EXPECT_EQ(s.boardType, r.boardType) << int(r.kind);
        EXPECT_EQ(s.boardCount, r.boardCount) << int(r.kind);
        EXPECT_EQ(s.wordsPerBoard, r.wordsPerBoard) << int(r.kind);
        EXPECT_EQ(s.rowCount, r.rowCount) << int(r.kind);
        EXPECT_EQ(s.colCount, 50);
        EXPECT_EQ(s.pointCount, r.pointCount) << int(r.kind);
        EXPECT_EQ(s.userWords, r.userWords) << int(r.kind);
        EXPECT_EQ(s.cardParamA, r.paramA) << int(r.kind);
        EXPECT_EQ(s.cardParamF, 4);
        EXPECT_EQ(s.cardParamG, 7);
        EXPECT_EQ(s.cardParamB, 13);
        EXPECT_EQ(s.cardParamE, 12);
    }
    InstrumentState old;
    old.slot6Hw = 9;  // controller too old to identify the RF card
    FakeChassis f = withInstrument(KORVAX_MODEL_RQ520, old);
    int64_t opened = -1;
    EXPECT_EQ(KORVAX_OpenSpecifiedCard(f.handle, 1, &opened), KORVAX_ERR_NOT_SUPPORTED);
}

TEST(CardSetup, AdapterPlateByFirmware) {
    struct {
        const char *what;
        uint8_t major, minor;
        uint16_t atOld, atNew;  // codes placed at bytes 6-7 and 10-11
        int32_t result;
        uint32_t boardType;
    } rows[] = {
        {"2.06 has no adapter support", 2, 6, 0x041A, 0x041A, KORVAX_ERR_NOT_SUPPORTED, 0},
        {"2.00", 2, 0, 0x041A, 0x041A, KORVAX_ERR_NOT_SUPPORTED, 0},
        {"2.07 reads bytes 6-7", 2, 7, 0x041A, 0x041B, 0, 11},
        {"3.05 reads bytes 6-7", 3, 5, 0x041B, 0x041A, 0, 12},
        {"3.06 reads bytes 10-11", 3, 6, 0x041A, 0x041B, 0, 12},
        {"unknown code", 3, 6, 0x041A, 0x1234, KORVAX_ERR_DEVICE_TYPE2, 0},
    };
    for (const auto &r : rows) {
        FakeChassis f = testsupport::installChassis(KORVAX_MODEL_RQ520);
        InstrumentState st;
        st.fwMajor = r.major;
        st.fwMinor = r.minor;
        st.rq520Layout = true;
        auto base = testsupport::instrument(st);
        f.res->responder = [&, base](const Bytes &req) {
            fakevisa::Reply reply = base(req);
            if (req[0] == 8) {
                reply.bytes[6] = r.atOld >> 8;
                reply.bytes[7] = r.atOld & 0xFF;
                reply.bytes[10] = r.atNew >> 8;
                reply.bytes[11] = r.atNew & 0xFF;
            }
            return reply;
        };
        int64_t opened = -1;
        EXPECT_EQ(KORVAX_OpenSpecifiedCard(f.handle, 2, &opened), r.result) << r.what;
        if (r.result == 0) {
            EXPECT_EQ(opened, 2);
            const SubUnitInfo &s = f.rec->subUnits[2];
            EXPECT_EQ(s.boardType, r.boardType) << r.what;
            EXPECT_EQ(s.pointCount, r.boardType == 11 ? 112 : 100);
            EXPECT_EQ(s.wordsPerBoard, 8);
            EXPECT_EQ(s.userWords, 4);
        }
    }
}

TEST(CardSetup, ClearOfTheCardSubUnitsForgetsTheirStateAndSendsNothing) {
    FakeChassis f = withInstrument(KORVAX_MODEL_RQ520, {});
    int64_t opened = -1;
    ASSERT_EQ(KORVAX_OpenSpecifiedCard(f.handle, 1, &opened), 0);
    f.rec->subUnits[1].userState[3] = 5;
    fakevisa::clearEvents();
    EXPECT_EQ(KORVAX_Clear(f.handle, 1), KORVAX_ERR_UNKNOWN_CARD_TYPE);
    EXPECT_EQ(f.rec->subUnits[1].userState[3], 0u);
    EXPECT_TRUE(fakevisa::writes(f.rsrc).empty());
    EXPECT_EQ(KORVAX_Clear(f.handle, 2), KORVAX_ERR_NO_TYPE2_CARD);
    EXPECT_EQ(KORVAX_Clear(f.handle, 3), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(KORVAX_Clear(0xDEAD, 0), KORVAX_ERR_HANDLE);
    EXPECT_EQ(KORVAX_Init(0xDEAD, 0), KORVAX_ERR_HANDLE);
    EXPECT_EQ(KORVAX_OpenSpecifiedCard(0xDEAD, 0, &opened), KORVAX_ERR_HANDLE);
    EXPECT_EQ(KORVAX_OpenSpecifiedCard(f.handle, 0, nullptr), KORVAX_ERR_PARAMETER);
}

TEST(CardSetup, ClearIsJudgedAsASwitchingFrameAndARefusalKeepsTheStoredState) {
    const struct {
        const char *what;
        uint16_t model;
        int32_t result;
    } rows[] = {
        {"an RQ521 in local control refuses", KORVAX_MODEL_RQ521, KORVAX_ERR_MODE_CONFLICT},
        {"0xFF in byte 0 means nothing to an RQ522", KORVAX_MODEL_RQ522, 16},
    };
    for (const auto &r : rows) {
        InstrumentState st;
        st.relayReply[0] = 0xFF;
        FakeChassis f = withInstrument(r.model, st);
        int64_t opened = -1;
        ASSERT_EQ(KORVAX_OpenSpecifiedCard(f.handle, 0, &opened), 0) << r.what;
        f.rec->subUnits[0].userState[0] = 1;
        EXPECT_EQ(KORVAX_Clear(f.handle, 0), r.result) << r.what;
        EXPECT_EQ(f.rec->subUnits[0].userState[0], r.result < 0 ? 1u : 0u) << r.what;
    }
}

TEST(CardSetup, InitTakesAnRq521IntoRemoteControlAndClears) {
    struct {
        uint16_t model;
        uint8_t mode;
        std::vector<int> sent;
    } rows[] = {
        {KORVAX_MODEL_RQ521, 0, {5, 5, 6, 19}},
        {KORVAX_MODEL_RQ521, 1, {5, 19}},
        {KORVAX_MODEL_RQ520, 1, {11, 19}},
        {KORVAX_MODEL_RQ522, 1, {67}},
        {KORVAX_MODEL_RQ523B, 1, {19}},
    };
    for (const auto &r : rows) {
        InstrumentState st;
        st.controlMode = r.mode;
        FakeChassis f = withInstrument(r.model, st);
        int64_t opened = -1;
        ASSERT_EQ(KORVAX_OpenSpecifiedCard(f.handle, 0, &opened), 0);
        fakevisa::clearEvents();
        EXPECT_EQ(KORVAX_Init(f.handle, 0), 0) << r.model;
        EXPECT_EQ(commands(f), r.sent) << r.model;
    }
    // Failures of the steps are passed on.
    FakeChassis f = withInstrument(KORVAX_MODEL_RQ520, {});
    f.res->failReads = 1;
    EXPECT_EQ(KORVAX_Init(f.handle, 0), KORVAX_ERR_RECEIVE);
    FakeChassis g = withInstrument(KORVAX_MODEL_RQ523, {});
    EXPECT_EQ(KORVAX_Init(g.handle, 0), KORVAX_ERR_NO_TYPE0_CARD) << "never opened: no card known";
}

TEST(CardSetup, SwitchingCardsThatWereNeverIdentifiedIsRefused) {
    // Presence declared by hand, geometry never set: a frame would carry no
    // relay, so neither switching nor clearing may report success.
    FakeChassis f = withInstrument(KORVAX_MODEL_RQ521, {});
    ASSERT_EQ(KORVAX_BoardInPlace(f.handle, 0b1), 0);
    fakevisa::clearEvents();
    const uint32_t state[15] = {1};
    EXPECT_EQ(KORVAX_OpMatrix(f.handle, 0, state, 15), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(KORVAX_Clear(f.handle, 0), KORVAX_ERR_PARAMETER);
    EXPECT_TRUE(fakevisa::writes(f.rsrc).empty());
}

TEST(CardSetup, GetSlotHW) {
    FakeChassis f = withInstrument(KORVAX_MODEL_RQ520, {});
    EXPECT_EQ(GetSlotHW(f.rec, 6), 10);
    EXPECT_EQ(GetSlotHW(f.rec, 1), 0);
    EXPECT_EQ(GetSlotHW(f.rec, 18), 0);                     // last byte in range: 194
    EXPECT_EQ(GetSlotHW(f.rec, -2), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(GetSlotHW(f.rec, 19), KORVAX_ERR_PARAMETER);  // index 204
    EXPECT_EQ(GetSlotHW(nullptr, 6), KORVAX_ERR_PARAMETER);
    f.res->failWrites = 1;
    EXPECT_EQ(GetSlotHW(f.rec, 6), KORVAX_ERR_SEND);
}

}  // namespace
