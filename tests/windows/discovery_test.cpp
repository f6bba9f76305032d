// Discovery and connection of KORVAX.dll: which identification answers name
// a chassis, what goes over the bus, and what every connect does.
#include <algorithm>
#include <cstring>
#include <string>

#include "windows/chassis.h"
#include "windows/runner.h"

using fakevisa::Op;

namespace {

int countOf(Op op, const std::string &rsrc = "") {
    const auto log = fakevisa::events();
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const fakevisa::Event &e) {
        return e.op == op && (rsrc.empty() || e.rsrc == rsrc);
    }));
}

}  // namespace

WIN_TEST(LibVersionIsTheWindowsOne) {
    char version[16];
    std::memset(version, 'x', sizeof version);
    KORVAX_GetLibVersion(version);
    CHECK_EQ(version, "1.0.1378");
    CHECK_EQ(version[9], 'x', "nine bytes written");
}

WIN_TEST(IdentificationAnswers) {
    struct Case {
        const char *what;
        std::string idn;
        int32_t status;
        uint32_t count;
        uint16_t model;
    };
    const Case cases[] = {
        {"QM and 41A", "QM,41A,12345678,3.06\n", 0, 1, KORVAX_MODEL_RQ520},
        {"leading zero", "QM,041B,1,1\n", 0, 1, KORVAX_MODEL_RQ520B},
        {"lower-case hex", "QM,42a,1,1\n", 0, 1, KORVAX_MODEL_RQ521},
        {"0x prefix", "QM,0x43A,1,1\n", 0, 1, KORVAX_MODEL_RQ522},
        {"RQ523", "QM,44A,1,1\n", 0, 1, KORVAX_MODEL_RQ523},
        {"RQ523B", "QM,44B,1,1\n", 0, 1, KORVAX_MODEL_RQ523B},
        {"full maker name", "Quillmark,41A,1,1\n", 0, 0, 0},
        {"other maker", "ACME,41A,1,1\n", 0, 0, 0},
        {"maker in lower case", "qm,41A,1,1\n", 0, 0, 0},
        {"one field only", "QM\n", 0, 0, 0},
        {"model name, not code", "QM,RQ520,1,1\n", KORVAX_ERR_NOT_SUPPORTED, 0, 0},
        {"unknown code", "QM,41C,1,1\n", KORVAX_ERR_NOT_SUPPORTED, 0, 0},
        {"code too wide", "QM,1041A,1,1\n", KORVAX_ERR_NOT_SUPPORTED, 0, 0},
        {"empty model", "QM,,1,1\n", KORVAX_ERR_NOT_SUPPORTED, 0, 0},
        {"fields within 255 bytes, long tail", "QM,41A," + std::string(400, 'z'), 0, 1,
         KORVAX_MODEL_RQ520},
        {"second comma beyond 255 bytes", "QM,41A" + std::string(300, ' ') + ",1", 0, 0, 0},
    };
    for (const Case &c : cases) {
        fakevisa::reset();
        fakevisa::add(wintest::kRsrc, c.idn);
        RsrcEntry entries[KORVAX_MAX_CHASSIS] = {};
        uint32_t count = 99;
        CHECK_EQ(KORVAX_FindRsrc(entries, &count), c.status, c.what);
        CHECK_EQ(count, c.count, c.what);
        if (c.count == 1) {
            CHECK_EQ(entries[0].typeCode, c.model, c.what);
            CHECK_EQ(entries[0].rsrcName, wintest::kRsrc, c.what);
        }
        // Whatever the answer, no session of the run stays open.
        CHECK_EQ(fakevisa::openSessions(), 0, c.what);
    }
}

WIN_TEST(DiscoveryTrafficPerResource) {
    struct Case {
        const char *rsrc;
    };
    const Case cases[] = {{"ASRL3::INSTR"}, {"GPIB0::7::INSTR"}, {"USB0::1::2::3::INSTR"},
                          {"TCPIP0::192.168.1.9::INSTR"}};
    for (const Case &c : cases) {
        fakevisa::reset();
        fakevisa::add(c.rsrc, "QM,42A,1,1\n");
        uint32_t count = 0;
        CHECK_EQ(KORVAX_FindRsrc(nullptr, &count), 0, c.rsrc);
        CHECK_EQ(count, 1u, c.rsrc);
        CHECK_EQ(fakevisa::lastExpression(), "(GPIB|USB|ASRL|TCPIP)?*", c.rsrc);
        // One "*IDN?" and one read of at most 255 bytes; no rate probing.
        CHECK_EQ(countOf(Op::Write, c.rsrc), 1, c.rsrc);
        CHECK_EQ(countOf(Op::Read, c.rsrc), 1, c.rsrc);
        CHECK_EQ(countOf(Op::SetAttribute) + countOf(Op::Flush), 0, c.rsrc);
        for (const auto &e : fakevisa::events()) {
            if (e.op == Op::Read) CHECK_EQ(e.value, 255u, c.rsrc);
            if (e.op == Op::Write) CHECK_EQ(std::string(e.bytes.begin(), e.bytes.end()), "*IDN?\n");
        }
        // The session used for identification is closed again.
        CHECK_EQ(countOf(Op::Close, c.rsrc), 1, c.rsrc);
        CHECK_EQ(fakevisa::openSessions(), 0, c.rsrc);
    }
}

WIN_TEST(UnknownModelEndsDiscoveryAfterEarlierChassis) {
    fakevisa::reset();
    fakevisa::add("GPIB0::1::INSTR", "QM,42A,1,1\n");
    fakevisa::add("GPIB0::2::INSTR", "QM,777,1,1\n");
    fakevisa::add("GPIB0::3::INSTR", "QM,43A,1,1\n");
    RsrcEntry entries[KORVAX_MAX_CHASSIS] = {};
    uint32_t count = 0;
    CHECK_EQ(KORVAX_FindRsrc(entries, &count), KORVAX_ERR_NOT_SUPPORTED);
    CHECK_EQ(count, 1u);
    CHECK_EQ(fakevisa::openSessions(), 0);
}

WIN_TEST(EveryConnectOpensANewSession) {
    testsupport::InstrumentState st;
    st.loopBack = 0x01;
    wintest::Chassis c = wintest::connectOne(wintest::idnOf("42A"), st);
    CHECK_EQ(c.findStatus, 0);
    CHECK_EQ(c.connectStatus, 0);
    CHECK_EQ(c.handle, fakevisa::sessionOf(wintest::kRsrc));
    CHECK_EQ(fakevisa::openSessions(), 1);

    // Presence known on the first handle...
    char name[16] = {};
    CHECK_EQ(KORVAX_BoardInPlace(c.handle, 1), 0);
    CHECK_EQ(KORVAX_GetCardType(c.handle, 0, name), 0);

    // ...a second connect hands out a new session and forgets it again.
    uint32_t second = 0;
    CHECK_EQ(KORVAX_Connect(wintest::kRsrc, &second), 0);
    CHECK(second != c.handle, "new session");
    CHECK_EQ(second, fakevisa::sessionOf(wintest::kRsrc));
    CHECK_EQ(countOf(Op::Open, wintest::kRsrc), 1);
    CHECK_EQ(fakevisa::openSessions(), 1, "the previous session is closed");
    CHECK(KORVAX_GetCardType(second, 0, name) < 0, "presence reset");
    CHECK_EQ(KORVAX_GetCardType(c.handle, 0, name), KORVAX_ERR_HANDLE, "old handle");

    uint32_t third = 0;
    CHECK_EQ(KORVAX_Connect(wintest::kRsrc, &third), 0);
    CHECK(third != second, "third session");
}

WIN_TEST(ConnectFailures) {
    struct Case {
        const char *what;
        const char *name;
        ViStatus openStatus;
        int32_t status;
    };
    const Case cases[] = {
        {"name never discovered", "GPIB0::9::INSTR", VI_SUCCESS, KORVAX_ERR_RESOURCE_ABSENT},
        {"empty name", "", VI_SUCCESS, KORVAX_ERR_RESOURCE_ABSENT},
        {"session refused", wintest::kRsrc, VI_ERROR_RSRC_BUSY, VI_ERROR_RSRC_BUSY},
    };
    for (const Case &c : cases) {
        wintest::Chassis ch = wintest::connectOne(wintest::idnOf("42A"));
        ch.res->openStatus = c.openStatus;
        uint32_t handle = 12345;
        CHECK_EQ(KORVAX_Connect(c.name, &handle), c.status, c.what);
        CHECK_EQ(handle, 12345u, c.what);
        CHECK_EQ(KORVAX_Connect(c.name, nullptr), KORVAX_ERR_PARAMETER, c.what);
    }
}

WIN_TEST(DiscoveryStopsAtFiveChassis) {
    fakevisa::reset();
    for (int i = 1; i <= 7; ++i)
        fakevisa::add("GPIB0::" + std::to_string(i) + "::INSTR", "QM,42A,1,1\n");
    RsrcEntry entries[KORVAX_MAX_CHASSIS + 1] = {};
    std::strcpy(entries[KORVAX_MAX_CHASSIS].rsrcName, "untouched");
    uint32_t count = 0;
    CHECK_EQ(KORVAX_FindRsrc(entries, &count), 0);
    CHECK_EQ(count, static_cast<uint32_t>(KORVAX_MAX_CHASSIS));
    CHECK_EQ(entries[4].rsrcName, "GPIB0::5::INSTR");
    CHECK_EQ(entries[KORVAX_MAX_CHASSIS].rsrcName, "untouched");
    // Resources are probed side by side, so the sixth and seventh may have
    // been opened too; every session of an identified chassis is closed.
    int sessionCloses = 0;
    for (const auto &e : fakevisa::events())
        if (e.op == Op::Close && !e.rsrc.empty() && e.status == VI_SUCCESS) ++sessionCloses;
    CHECK_EQ(countOf(Op::Open), sessionCloses);
    CHECK_EQ(fakevisa::openSessions(), 0);
}

WIN_TEST(RediscoveryForgetsChassisNoLongerListed) {
    const char *a = "GPIB0::1::INSTR";
    const char *b = "GPIB0::2::INSTR";
    fakevisa::reset();
    fakevisa::add(a, "QM,42A,1,1\n");
    fakevisa::add(b, "QM,43A,1,1\n");
    uint32_t count = 0, handle = 0;
    CHECK_EQ(KORVAX_FindRsrc(nullptr, &count), 0);
    CHECK_EQ(count, 2u);
    CHECK_EQ(KORVAX_Connect(a, &handle), 0);

    fakevisa::reset();
    fakevisa::add(b, "QM,43A,1,1\n");
    CHECK_EQ(KORVAX_FindRsrc(nullptr, &count), 0);
    CHECK_EQ(count, 1u);
    CHECK_EQ(KORVAX_Connect(a, &handle), KORVAX_ERR_RESOURCE_ABSENT);
    CHECK_EQ(countOf(Op::Open, a), 0);
    CHECK_EQ(KORVAX_Connect(b, &handle), 0);
}
