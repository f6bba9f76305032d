// The whole road of an application on the scripted VISA: discovery,
// connection, card identification, initialisation, switching, clearing —
// every frame on the wire checked.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "KORVAX.h"
#include "support/open_matrix.h"

namespace {

using fakevisa::Bytes;

struct Road {
    const char *idnModel;
    uint16_t model;
    std::vector<int> openCommands;  // card identification
    std::vector<int> initCommands;  // initialisation
    int relayCommand;               // clear frames (RQ522: 67)
    size_t frameLength;
};

const Road kRoads[] = {
    {"RQ520", KORVAX_MODEL_RQ520, {11, 10}, {11, 19}, 19, 124},
    {"041B", KORVAX_MODEL_RQ520B, {11, 10}, {11, 19}, 19, 124},
    {"RQ521", KORVAX_MODEL_RQ521, {10}, {5, 5, 6, 19}, 19, 108},
    {"RQ522", KORVAX_MODEL_RQ522, {10}, {67}, 67, 2062},
    {"044A", KORVAX_MODEL_RQ523, {10}, {19}, 19, 24},
    {"RQ523B", KORVAX_MODEL_RQ523B, {10}, {19}, 19, 24},
};

bool allZero(const Bytes &frame) {
    for (size_t i = 4; i < frame.size(); ++i)
        if (frame[i]) return false;
    return true;
}

TEST(BringUp, FindConnectOpenInitSwitchClearOnEveryModel) {
    for (const auto &road : kRoads) {
        fakevisa::reset();
        std::memset(globalChassisInfo, 0, sizeof globalChassisInfo);
        first_findrsc = 1;
        defaultRM = 0;
        const std::string rsrc = std::string("TCPIP0::") + road.idnModel + "::INSTR";
        fakevisa::add("GPIB0::3::INSTR", "Other,Scope,1,1");
        auto &r = fakevisa::add(rsrc, std::string("QM,") + road.idnModel + ",12345678,3.06\n");
        testsupport::InstrumentState st;
        st.controlMode = 0;  // front panel: initialisation must take it over
        st.rq520Layout = road.model == KORVAX_MODEL_RQ520 || road.model == KORVAX_MODEL_RQ520B;
        st.presence = 0b0101;  // cards in slots 0 and 2
        r.responder = testsupport::instrument(st);

        RsrcEntry entries[KORVAX_MAX_CHASSIS];
        uint32_t count = 0;
        ASSERT_EQ(KORVAX_FindRsrc(entries, &count), 0);
        ASSERT_EQ(count, 1u);
        EXPECT_EQ(entries[0].typeCode, road.model);
        uint32_t handle = 0;
        ASSERT_EQ(KORVAX_Connect(rsrc.c_str(), &handle), 0);

        auto sent = [&] {
            std::vector<int> cmds;
            for (const auto &w : fakevisa::writes(rsrc)) cmds.push_back(w[0]);
            fakevisa::clearEvents();
            return cmds;
        };
        fakevisa::clearEvents();
        int64_t opened = -1;
        ASSERT_EQ(KORVAX_OpenSpecifiedCard(handle, 0, &opened), 0) << road.idnModel;
        EXPECT_EQ(sent(), road.openCommands) << road.idnModel;

        ASSERT_EQ(KORVAX_Init(handle, 0), 0) << road.idnModel;
        const auto initFrames = fakevisa::writes(rsrc);
        EXPECT_EQ(sent(), road.initCommands) << road.idnModel;
        ASSERT_FALSE(initFrames.empty());
        EXPECT_EQ(initFrames.back().size(), road.frameLength);
        EXPECT_TRUE(allZero(initFrames.back()));

        // Close the second card's crosspoint at row 1, column 2.
        const ChassisInfo &c = globalChassisInfo[0];
        const SubUnitInfo &s = c.subUnits[0];
        std::vector<uint32_t> state(s.userWords, 0);
        const int p = 1 * s.slotCount * s.colCount + 1 * s.colCount + 2;
        state[p / 32] = 1u << (p % 32);
        ASSERT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), s.userWords), 0) << road.idnModel;
        const auto frames = fakevisa::writes(rsrc);
        ASSERT_EQ(frames.size(), 1u);
        std::vector<uint8_t> ref;
        ASSERT_EQ(testsupport::referenceFrame(testsupport::geometryOf(c), state.data(), s.userWords, ref), 0);
        EXPECT_EQ(frames[0], ref) << road.idnModel;
        // The relays land in the block of the card's physical slot (the
        // second card sits in slot 2; a one-slot chassis has only slot 0).
        const int perBoard = s.wordsPerBoard;
        const int card = (p % (s.slotCount * s.colCount)) / s.colCount;
        const int slot = s.cardSlot[card];
        EXPECT_EQ(slot, s.slotCount > 1 ? 2 : 0);
        bool inSlot = false, elsewhere = false;
        for (int g = 0; g < s.boardCount; ++g)
            for (int w = 0; w < perBoard * 2; ++w)
                (g == slot ? inSlot : elsewhere) |= frames[0][4 + g * perBoard * 2 + w] != 0;
        EXPECT_TRUE(inSlot) << road.idnModel;
        EXPECT_FALSE(elsewhere) << road.idnModel;
        EXPECT_EQ(s.userState[p / 32], state[p / 32]);
        fakevisa::clearEvents();

        EXPECT_GE(KORVAX_Clear(handle, 0), 0);
        const auto clear = fakevisa::writes(rsrc);
        ASSERT_EQ(clear.size(), 1u);
        EXPECT_EQ(clear[0][0], road.relayCommand);
        EXPECT_EQ(clear[0].size(), road.frameLength);
        EXPECT_TRUE(allZero(clear[0]));
        EXPECT_EQ(s.userState[p / 32], 0u);
    }
}

}  // namespace
