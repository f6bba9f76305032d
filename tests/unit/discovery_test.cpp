#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "KORVAX.h"
#include "base/records.h"
#include "fakevisa/fake_visa.h"

namespace {

using fakevisa::Op;

class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        fakevisa::reset();
        std::memset(globalChassisInfo, 0, sizeof globalChassisInfo);
        defaultRM = 0;
        first_findrsc = 1;
    }
    std::vector<RsrcEntry> find(int32_t expect = 0, uint32_t *countOut = nullptr) {
        std::vector<RsrcEntry> entries(KORVAX_MAX_CHASSIS + 2);
        std::memset(entries.data(), 0x77, entries.size() * sizeof(RsrcEntry));
        uint32_t count = 99;
        EXPECT_EQ(KORVAX_FindRsrc(entries.data(), &count), expect);
        if (countOut) *countOut = count;
        entries.resize(KORVAX_MAX_CHASSIS + 2);
        return entries;
    }
};

TEST_F(Discovery, MakerAndModelSpellings) {
    static const std::string longMaker = std::string(60, 'Q') + ",RQ521,1,1";
    struct {
        const char *idn;
        bool accepted;
        uint16_t model;
    } cases[] = {
        {"Quillmark,041A,12345678,3.06\n", true, 0x041A},
        {"QM,RQ523B,12345678,3.06", true, 0x044B},
        {"QM,RQ520,1,1", true, 0x041A},   {"QM,RQ520B,1,1", true, 0x041B},
        {"QM,041B,1,1", true, 0x041B},    {"QM,RQ521,1,1", true, 0x042A},
        {"QM,042A,1,1", true, 0x042A},    {"QM,RQ522,1,1", true, 0x043A},
        {"QM,043A,1,1", true, 0x043A},    {"QM,RQ523,1,1", true, 0x044A},
        {"QM,044A,1,1", true, 0x044A},    {"QM,044B,1,1", true, 0x044B},
        {"qm,RQ521,1,1", false, 0},       {"QMX,RQ521,1,1", false, 0},
        {"Quillmarks,RQ521,1,1", false, 0}, {"quillmark,RQ521,1,1", false, 0},
        {" QM,RQ521,1,1", false, 0},      {"QM,RQ521", false, 0},
        {"QM", false, 0},                 {"", false, 0},
        {"Other,RQ521,1,1", false, 0},
        // Fields wider than the identity buffers never name an instrument.
        {"QM,RQ521XXXXXXXXXXXXXXXXXXXXXXX,1,1", false, 0},
        {longMaker.c_str(), false, 0},
    };
    for (const auto &c : cases) {
        SetUp();
        fakevisa::add("TCPIP0::10.0.0.2::INSTR", c.idn);
        uint32_t count = 0;
        auto entries = find(0, &count);
        ASSERT_EQ(count, c.accepted ? 1u : 0u) << c.idn;
        if (c.accepted) {
            EXPECT_STREQ(entries[0].rsrcName, "TCPIP0::10.0.0.2::INSTR");
            EXPECT_EQ(entries[0].typeCode, c.model) << c.idn;
            EXPECT_EQ(globalChassisInfo[0].deviceType, c.model);
        } else {
            EXPECT_EQ(fakevisa::openSessions(), 0) << "refused instrument left open: " << c.idn;
        }
    }
}

TEST_F(Discovery, ModelTableRows) {
    struct {
        const char *model;
        uint16_t code, slotTotal, slots0, board0, slots1, slots2, board2;
    } rows[] = {
        {"RQ520", 0x041A, 6, 5, 0, 1, 1, 11}, {"RQ520B", 0x041B, 6, 5, 0, 1, 1, 12},
        {"RQ521", 0x042A, 4, 4, 1, 0, 0, 0},  {"RQ522", 0x043A, 21, 21, 2, 0, 0, 0},
        {"RQ523", 0x044A, 1, 1, 3, 0, 0, 0},  {"RQ523B", 0x044B, 1, 1, 3, 0, 0, 0},
    };
    for (const auto &r : rows) {
        SetUp();
        fakevisa::add("USB0::1::2::3::INSTR", std::string("QM,") + r.model + ",87654321,3.06");
        uint32_t count = 0;
        find(0, &count);
        ASSERT_EQ(count, 1u);
        const ChassisInfo &c = globalChassisInfo[0];
        EXPECT_EQ(c.typeCode, r.code);
        EXPECT_EQ(c.deviceType, r.code);
        EXPECT_EQ(c.slotTotal, r.slotTotal) << r.model;
        EXPECT_EQ(c.subUnits[0].slotCount, r.slots0) << r.model;
        EXPECT_EQ(c.subUnits[0].boardType, r.board0) << r.model;
        EXPECT_EQ(c.subUnits[1].slotCount, r.slots1) << r.model;
        EXPECT_EQ(c.subUnits[2].slotCount, r.slots2) << r.model;
        EXPECT_EQ(c.subUnits[2].boardType, r.board2) << r.model;
        EXPECT_STREQ(c.model, r.model);
        EXPECT_EQ(c.connected, 0);
        EXPECT_EQ(c.vi, fakevisa::sessionOf("USB0::1::2::3::INSTR"));
    }
    EXPECT_EQ(fakevisa::lastExpression(), "(GPIB|USB|ASRL|TCPIP)?*INSTR");
}

TEST_F(Discovery, UnknownModelOfOurMakerStopsDiscoveryAndClosesItsSession) {
    fakevisa::add("TCPIP0::a::INSTR", "QM,RQ521,1,1");
    fakevisa::add("TCPIP0::b::INSTR", "QM,RQ999,1,1");
    fakevisa::add("TCPIP0::c::INSTR", "QM,RQ522,1,1");
    uint32_t count = 0;
    auto entries = find(KORVAX_ERR_NOT_SUPPORTED, &count);
    EXPECT_EQ(count, 1u) << "the RQ521 before it was entered";
    EXPECT_EQ(first_findrsc, 1);
    EXPECT_EQ(entries[0].typeCode, 0x7777) << "caller's array not filled";
    EXPECT_EQ(fakevisa::openSessions(), 1) << "only the accepted RQ521 stays open";
    EXPECT_STRNE(globalChassisInfo[1].rsrcName, "TCPIP0::c::INSTR") << "discovery stopped";
}

TEST_F(Discovery, CountIsBoundedByTheHandlesTheLibraryCanHandOut) {
    for (int i = 0; i < 8; ++i) fakevisa::add("TCPIP0::10.0.0." + std::to_string(i) + "::INSTR", "QM,RQ523,1,1");
    uint32_t count = 0;
    auto entries = find(0, &count);
    EXPECT_EQ(count, static_cast<uint32_t>(KORVAX_MAX_CHASSIS));
    EXPECT_EQ(entries[KORVAX_MAX_CHASSIS].typeCode, 0x7777) << "wrote past the caller's entries";
    EXPECT_EQ(globalChassisInfo[KORVAX_MAX_CHASSIS].vi, 0u);
    EXPECT_EQ(fakevisa::openSessions(), KORVAX_MAX_CHASSIS);
    for (int i = 0; i < KORVAX_MAX_CHASSIS; ++i)
        EXPECT_EQ(std::string(entries[i].rsrcName), "TCPIP0::10.0.0." + std::to_string(i) + "::INSTR");
}

TEST_F(Discovery, LongResourceNamesAreCutWhenStoredAndStillConnect) {
    const std::string name = "TCPIP0::" + std::string(200, 'h') + "::INSTR";
    fakevisa::add(name, "QM,RQ521,1,1");
    uint32_t count = 0;
    auto entries = find(0, &count);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(std::string(entries[0].rsrcName), name.substr(0, 63));
    EXPECT_NE(fakevisa::sessionOf(name), 0u) << "opened under its full name";
    uint32_t handle = 0;
    EXPECT_EQ(KORVAX_Connect(name.c_str(), &handle), 0);
    EXPECT_EQ(handle, fakevisa::sessionOf(name));
}

TEST_F(Discovery, SerialProbeTriesTheRatesInOrder) {
    auto &r = fakevisa::add("ASRL1::INSTR", "QM,RQ521,1,1");
    r.baud = 38400;
    r.refusedBauds = {9600};
    uint32_t count = 0;
    find(0, &count);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(globalChassisInfo[0].baudRate, 38400u);
    std::vector<std::string> seen;
    for (const auto &e : fakevisa::events()) {
        if (e.rsrc != "ASRL1::INSTR") continue;
        if (e.op == Op::SetAttribute)
            seen.push_back((e.attr == VI_ATTR_ASRL_END_IN ? "end=" : "baud=") + std::to_string(e.value));
        if (e.op == Op::Flush) seen.push_back("flush=" + std::to_string(e.value));
        if (e.op == Op::Write) seen.push_back("idn");
    }
    const std::vector<std::string> expected = {
        "end=0",    "baud=115200", "flush=4", "idn", "baud=9600",  // refused: next rate
        "baud=19200", "flush=4", "idn", "baud=38400", "flush=4", "idn"};
    EXPECT_EQ(seen, expected);
}

TEST_F(Discovery, SerialProbeAbandonRules) {
    // Nothing answers at any rate: one session, closed once.
    fakevisa::add("ASRL2::INSTR", "QM,RQ521,1,1").baud = 4800;
    // A write failure abandons the resource at once.
    fakevisa::add("ASRL3::INSTR", "QM,RQ521,1,1").failWrites = 1;
    uint32_t count = 0;
    find(0, &count);
    EXPECT_EQ(count, 0u);
    int writes2 = 0, writes3 = 0, closes = 0;
    for (const auto &e : fakevisa::events()) {
        if (e.op == Op::Write && e.rsrc == "ASRL2::INSTR") ++writes2;
        if (e.op == Op::Write && e.rsrc == "ASRL3::INSTR") ++writes3;
        if (e.op == Op::Close && !e.rsrc.empty()) ++closes;
    }
    EXPECT_EQ(writes2, 5);
    EXPECT_EQ(writes3, 1);
    EXPECT_EQ(closes, 2);
    EXPECT_EQ(fakevisa::openSessions(), 0);
}

TEST_F(Discovery, FailingResourcesAreSkipped) {
    fakevisa::add("TCPIP0::open::INSTR", "QM,RQ521,1,1").openStatus = VI_ERROR_RSRC_BUSY;
    fakevisa::add("TCPIP0::write::INSTR", "QM,RQ521,1,1").failWrites = 1;
    fakevisa::add("TCPIP0::read::INSTR", "QM,RQ521,1,1").failReads = 1;
    fakevisa::add("TCPIP0::good::INSTR", "QM,RQ522,1,1");
    uint32_t count = 0;
    auto entries = find(0, &count);
    ASSERT_EQ(count, 1u);
    EXPECT_STREQ(entries[0].rsrcName, "TCPIP0::good::INSTR");
    EXPECT_EQ(fakevisa::openSessions(), 1);
}

TEST_F(Discovery, ManagerFailureAndEmptyBus) {
    fakevisa::failOpenDefaultRM(VI_ERROR_SYSTEM_ERROR);
    uint32_t count = 5;
    EXPECT_EQ(KORVAX_FindRsrc(nullptr, &count), VI_ERROR_SYSTEM_ERROR);
    EXPECT_EQ(count, 0u);
    fakevisa::failOpenDefaultRM(VI_SUCCESS);
    EXPECT_EQ(KORVAX_FindRsrc(nullptr, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(first_findrsc, 1) << "nothing found: the next connect tries again";
    EXPECT_EQ(KORVAX_FindRsrc(nullptr, nullptr), KORVAX_ERR_PARAMETER);
}

TEST_F(Discovery, EveryDiscoveryReplacesTheManagerAndForgetsVanishedChassis) {
    // How the second run ends: fewer chassis, none at all, an unknown model
    // of ours ahead of b, or no manager.
    struct {
        const char *what;
        const char *aIdn;
        ViStatus manager;
        int32_t status;
        uint32_t found;
    } rows[] = {
        {"a still answers", "QM,RQ521,1,1", VI_SUCCESS, 0, 1},
        {"nobody answers", "Other,X,1,1", VI_SUCCESS, 0, 0},
        {"a turned unknown", "QM,RQ999,1,1", VI_SUCCESS, KORVAX_ERR_NOT_SUPPORTED, 0},
        {"no manager", "QM,RQ521,1,1", VI_ERROR_SYSTEM_ERROR, VI_ERROR_SYSTEM_ERROR, 0},
    };
    for (const auto &r : rows) {
        SetUp();
        fakevisa::add("TCPIP0::a::INSTR", "QM,RQ521,1,1");
        fakevisa::add("TCPIP0::b::INSTR", "QM,RQ522,1,1");
        find();
        uint32_t handle = 0;
        ASSERT_EQ(KORVAX_Connect("TCPIP0::b::INSTR", &handle), 0) << r.what;
        const uint32_t firstRM = defaultRM;
        fakevisa::find("TCPIP0::a::INSTR")->idn = r.aIdn;
        fakevisa::find("TCPIP0::b::INSTR")->idn = "Other,X,1,1";
        fakevisa::failOpenDefaultRM(r.manager);
        uint32_t count = 0;
        find(r.status, &count);
        fakevisa::failOpenDefaultRM(VI_SUCCESS);
        EXPECT_EQ(count, r.found) << r.what;
        if (r.manager == VI_SUCCESS) {
            EXPECT_NE(defaultRM, firstRM) << r.what;
        }
        EXPECT_EQ(fakevisa::openSessions(), static_cast<int>(r.found))
            << r.what << ": the first run's sessions closed with its manager";
        EXPECT_EQ(FindChassis(handle, nullptr), KORVAX_ERR_HANDLE) << r.what << ": b's old handle";
        for (uint32_t i = r.found; i < KORVAX_MAX_CHASSIS; ++i) {
            EXPECT_EQ(globalChassisInfo[i].vi, 0u) << r.what << " record " << i;
            EXPECT_STREQ(globalChassisInfo[i].rsrcName, "") << r.what << " record " << i;
        }
        if (r.manager != VI_SUCCESS) continue;  // a connect would run discovery again
        EXPECT_EQ(KORVAX_Connect("TCPIP0::b::INSTR", &handle), KORVAX_ERR_RESOURCE_ABSENT) << r.what;
    }
}

// The state kept for a chassis is what it was last told; another chassis
// landing in its record must not inherit it (a SCPI relay command would send
// it), and the chassis itself keeps it in whatever record it lands.
TEST_F(Discovery, KeptRelayStateFollowsTheResourceNotTheRecord) {
    fakevisa::add("TCPIP0::a::INSTR", "QM,RQ521,1,1");
    fakevisa::add("TCPIP0::b::INSTR", "QM,RQ521,1,1");
    find();
    globalChassisInfo[0].subUnits[0].userState[0] = 0xA;
    globalChassisInfo[1].subUnits[0].userState[0] = 0xB;
    fakevisa::find("TCPIP0::a::INSTR")->idn = "Other,X,1,1";
    fakevisa::add("TCPIP0::c::INSTR", "QM,RQ521,1,1");
    uint32_t count = 0;
    find(0, &count);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(globalChassisInfo[0].rsrcName, "TCPIP0::b::INSTR");
    EXPECT_EQ(globalChassisInfo[0].subUnits[0].userState[0], 0xBu);
    EXPECT_STREQ(globalChassisInfo[1].rsrcName, "TCPIP0::c::INSTR");
    EXPECT_EQ(globalChassisInfo[1].subUnits[0].userState[0], 0u);
}

TEST_F(Discovery, ConnectRunsDiscoveryOnceAndMatchesNamesExactly) {
    fakevisa::add("TCPIP0::a::INSTR", "QM,RQ521,1,1");
    uint32_t handle = 0;
    ASSERT_EQ(KORVAX_Connect("TCPIP0::a::INSTR", &handle), 0);
    EXPECT_EQ(handle, fakevisa::sessionOf("TCPIP0::a::INSTR"));
    ChassisInfo &c = globalChassisInfo[0];
    EXPECT_EQ(c.connected, 1);
    EXPECT_EQ(c.subUnits[2].slotPresent[20], 0xFF);
    EXPECT_EQ(c.subUnits[0].cardSlot[0], -1);
    EXPECT_EQ(c.subUnits[0].cascadeState[1], 0xFF);

    // A second connect hands out the same handle and leaves the record alone.
    c.subUnits[0].slotPresent[0] = 1;
    std::strcpy(c.scpiReply, "pending");
    uint32_t again = 0;
    ASSERT_EQ(KORVAX_Connect("TCPIP0::a::INSTR", &again), 0);
    EXPECT_EQ(again, handle);
    EXPECT_EQ(c.subUnits[0].slotPresent[0], 1);
    EXPECT_STREQ(c.scpiReply, "pending");
    int finds = 0;
    for (const auto &e : fakevisa::events()) finds += e.op == Op::Find;
    EXPECT_EQ(finds, 1);

    uint32_t other = 42;
    for (const char *name : {"tcpip0::a::INSTR", "TCPIP0::a::INSTR ", "", "TCPIP0::b::INSTR"}) {
        EXPECT_EQ(KORVAX_Connect(name, &other), KORVAX_ERR_RESOURCE_ABSENT) << '"' << name << '"';
        EXPECT_EQ(other, 42u);
    }
    EXPECT_EQ(KORVAX_Connect(nullptr, &other), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(KORVAX_Connect("TCPIP0::a::INSTR", nullptr), KORVAX_ERR_PARAMETER);
}

TEST_F(Discovery, ConnectPassesDiscoveryErrorsOnAndRetriesLater) {
    fakevisa::failOpenDefaultRM(VI_ERROR_SYSTEM_ERROR);
    uint32_t handle = 0;
    EXPECT_EQ(KORVAX_Connect("TCPIP0::a::INSTR", &handle), VI_ERROR_SYSTEM_ERROR);
    fakevisa::failOpenDefaultRM(VI_SUCCESS);
    fakevisa::add("TCPIP0::a::INSTR", "QM,RQ521,1,1");
    EXPECT_EQ(KORVAX_Connect("TCPIP0::a::INSTR", &handle), 0);
}

TEST(VisaSeam, MissingVisaLibraryIsReported) {
    // Runs under ctest with KORVAX_VISA_LIBRARY naming a file that does not exist.
    const char *lib = std::getenv("KORVAX_VISA_LIBRARY");
    struct stat st {};
    if (lib == nullptr || stat(lib, &st) == 0) GTEST_SKIP() << "a VISA library is present";
    RsrcEntry entries[KORVAX_MAX_CHASSIS];
    uint32_t count = 7;
    EXPECT_EQ(KORVAX_FindRsrc(entries, &count), VI_ERROR_LIBRARY_NFOUND);
    EXPECT_EQ(count, 0u);
    char text[64];
    KORVAX_ErrorCodeToMessage(VI_ERROR_LIBRARY_NFOUND, text, sizeof text);
    EXPECT_STREQ(text, "Error caused by VISA API");
    uint32_t handle = 0;
    EXPECT_EQ(KORVAX_Connect("TCPIP0::a::INSTR", &handle), VI_ERROR_LIBRARY_NFOUND);
}

}  // namespace
