#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "base/records.h"
#include "fakevisa/fake_visa.h"
#include "korvax/extensions.h"
#include "support/open_matrix.h"

namespace {

using testsupport::openMatrix;

TEST(Extensions, GeometryOfEveryModelOnceTheCardsAreIdentified) {
    struct {
        uint16_t model;
        uint32_t presence;  // presence bits the chassis reports
        KORVAX_Geometry want;
    } rows[] = {
        {KORVAX_MODEL_RQ520, 0x1F, {KORVAX_MODEL_RQ520, 3, 12, 12, 5, 10, 50, 5, 32, 400}},
        {KORVAX_MODEL_RQ520B, 0x03, {KORVAX_MODEL_RQ520B, 3, 12, 12, 5, 10, 50, 2, 32, 400}},
        {KORVAX_MODEL_RQ521, 0x0F, {KORVAX_MODEL_RQ521, 1, 10, 10, 4, 12, 48, 4, 15, 270}},
        {KORVAX_MODEL_RQ522, 0x07, {KORVAX_MODEL_RQ522, 1, 16, 4, 21, 96, 2016, 3, 1008, -1}},
        {KORVAX_MODEL_RQ523, 0x01, {KORVAX_MODEL_RQ523, 1, 8, 8, 1, 12, 12, 1, 3, -1}},
        {KORVAX_MODEL_RQ523B, 0x01, {KORVAX_MODEL_RQ523B, 1, 8, 8, 1, 12, 12, 1, 3, -1}},
    };
    for (const auto &r : rows) {
        auto f = openMatrix(r.model, {.presence = r.presence});
        KORVAX_Geometry g{};
        ASSERT_EQ(KORVAX_GetGeometry(f.handle, 0, &g), 0) << r.model;
        const KORVAX_Geometry &w = r.want;
        EXPECT_EQ(std::vector<int>({g.model, g.subUnits, g.rows, g.switchableRows, g.positions,
                                    g.cardColumns, g.columns, g.cardsFitted, g.stateWords,
                                    g.closureLimit}),
                  std::vector<int>({w.model, w.subUnits, w.rows, w.switchableRows, w.positions,
                                    w.cardColumns, w.columns, w.cardsFitted, w.stateWords,
                                    w.closureLimit}))
            << r.model;
    }
}

TEST(Extensions, GeometryRefusals) {
    auto f = testsupport::installChassis(KORVAX_MODEL_RQ520);
    KORVAX_Geometry g{};
    // Before identification the model's facts are there, no card is fitted.
    ASSERT_EQ(KORVAX_GetGeometry(f.handle, 0, &g), 0);
    EXPECT_EQ(g.rows, 12);
    EXPECT_EQ(g.cardsFitted, 0);
    EXPECT_EQ(KORVAX_GetGeometry(f.handle, 1, &g), KORVAX_ERR_UNKNOWN_CARD_TYPE);
    EXPECT_EQ(KORVAX_GetGeometry(f.handle, 7, &g), KORVAX_ERR_UNKNOWN_CARD_TYPE);
    EXPECT_EQ(KORVAX_GetGeometry(f.handle, 0, nullptr), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(KORVAX_GetGeometry(f.handle + 99, 0, &g), KORVAX_ERR_HANDLE);
    auto u = testsupport::installChassis(0x0999);
    EXPECT_EQ(KORVAX_GetGeometry(u.handle, 0, &g), KORVAX_ERR_NOT_SUPPORTED);
}

TEST(Extensions, StoredStateFollowsWhatTheChassisAcknowledged) {
    auto f = openMatrix(KORVAX_MODEL_RQ521);
    const int32_t words = KORVAX_GetStoredState(f.handle, 0, nullptr, 0);
    ASSERT_EQ(words, 15);
    std::vector<uint32_t> want(words, 0), got(words + 2, 0xDEADBEEF);
    want[0] = 0x5;
    want[14] = 0x1;
    ASSERT_EQ(KORVAX_OpMatrix(f.handle, 0, want.data(), words), 0);
    ASSERT_EQ(KORVAX_GetStoredState(f.handle, 0, got.data(), words + 2), words);
    EXPECT_EQ(std::vector<uint32_t>(got.begin(), got.begin() + words), want);
    EXPECT_EQ(got[words], 0xDEADBEEFu);  // only the sub-unit's words are written

    // A refused frame leaves it; SCPI relay commands add to it.
    std::vector<uint32_t> tooMany(words, 0xFFFFFFFF);
    EXPECT_EQ(KORVAX_OpMatrix(f.handle, 0, tooMany.data(), words), KORVAX_ERR_CLOSURE_LIMIT);
    char reply[400];
    KORVAX_SCPIQuery(f.handle, ":CLOS (@0(1!2))", reply);
    KORVAX_GetStoredState(f.handle, 0, got.data(), words);
    EXPECT_EQ(got[0], 0x7u) << reply;

    EXPECT_EQ(KORVAX_GetStoredState(f.handle, 0, nullptr, 1), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(KORVAX_GetStoredState(f.handle, 0, got.data(), -1), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(KORVAX_GetStoredState(f.handle + 99, 0, got.data(), 1), KORVAX_ERR_HANDLE);
}

// The names are what tools print and bindings raise: they must be the
// header's own, code for code.
TEST(Extensions, ErrorNamesAreTheHeadersEnumerators) {
    std::ifstream in(KORVAX_PUBLIC_HEADER);
    std::stringstream text;
    text << in.rdbuf();
    const std::string header = text.str();
    // Lines "    KORVAX_ERR_HANDLE = -10023, /**< ... */" (read without
    // std::regex, whose inlined code g++ 12 warns about under the sanitizers).
    int seen = 0;
    std::istringstream lines(header);
    for (std::string line; std::getline(lines, line);) {
        const auto start = line.find_first_not_of(' ');
        const auto equals = line.find(" = ");
        const auto comma = line.find(',');
        if (start == std::string::npos || equals == std::string::npos || comma == std::string::npos || comma < equals)
            continue;
        const std::string name = line.substr(start, equals - start);
        const std::string number = line.substr(equals + 3, comma - equals - 3);
        const bool named = (name == "KORVAX_OK" || name.starts_with("KORVAX_ERR_")) &&
                           name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") == std::string::npos;
        const bool numeric = !number.empty() && number.find_first_not_of("-0123456789") == std::string::npos;
        if (!named || !numeric) continue;
        EXPECT_STREQ(KORVAX_ErrorName(std::stoll(number)), name.c_str());
        ++seen;
    }
    EXPECT_EQ(seen, 54);  // KORVAX_OK and every code but the last, which has no comma
    EXPECT_STREQ(KORVAX_ErrorName(KORVAX_ERR_VISA_API), "KORVAX_ERR_VISA_API");
    for (int64_t outside : {int64_t{-9999}, int64_t{-10054}, int64_t{1}, INT64_MIN})
        EXPECT_STREQ(KORVAX_ErrorName(outside), "") << outside;
}

void freshDiscovery() {
    fakevisa::reset();
    std::memset(globalChassisInfo, 0, sizeof globalChassisInfo);
    defaultRM = 0;
    first_findrsc = 1;
}

std::vector<KORVAX_ProbeReport> report() {
    std::vector<KORVAX_ProbeReport> out(KORVAX_GetDiscoveryReport(0, nullptr));
    for (uint32_t i = 0; i < out.size(); ++i) EXPECT_EQ(KORVAX_GetDiscoveryReport(i, &out[i]), int32_t(out.size()));
    return out;
}

// Every way a listed resource can fail to become a chassis, as a user hears
// of it: which step, what VISA said, what the instrument answered.
TEST(Extensions, DiscoveryReportSaysWhatHappenedAtEachResource) {
    freshDiscovery();
    struct Row {
        std::string name, idn;
        std::function<void(fakevisa::Resource &)> setUp;
        int32_t outcome, status;
        uint16_t model;
    };
    const std::vector<Row> rows = {
        {"TCPIP0::refused::INSTR", "QM,RQ521,1,1", [](auto &r) { r.openStatus = VI_ERROR_RSRC_NFOUND; },
         KORVAX_PROBE_OPEN_FAILED, VI_ERROR_RSRC_NFOUND, 0},
        {"TCPIP0::write::INSTR", "QM,RQ521,1,1", [](auto &r) { r.failWrites = 1; }, KORVAX_PROBE_WRITE_FAILED,
         VI_ERROR_IO, 0},
        {"TCPIP0::silent::INSTR", "QM,RQ521,1,1", [](auto &r) { r.failReads = 1; }, KORVAX_PROBE_NO_ANSWER,
         VI_ERROR_TMO, 0},
        {"ASRL4::INSTR", "QM,RQ521,1,1", [](auto &r) { r.baud = 4800; }, KORVAX_PROBE_NO_ANSWER, VI_ERROR_TMO, 0},
        {"TCPIP0::dmm::INSTR", "Other,DMM,1,1", nullptr, KORVAX_PROBE_NOT_OURS, 0, 0},
        {"TCPIP0::a::INSTR", "QM,RQ523,1,1", nullptr, KORVAX_PROBE_ACCEPTED, 0, KORVAX_MODEL_RQ523},
        {"TCPIP0::b::INSTR", "QM,RQ523,1,1", nullptr, KORVAX_PROBE_ACCEPTED, 0, KORVAX_MODEL_RQ523},
        {"TCPIP0::c::INSTR", "QM,RQ523,1,1", nullptr, KORVAX_PROBE_ACCEPTED, 0, KORVAX_MODEL_RQ523},
        {"TCPIP0::d::INSTR", "QM,RQ523,1,1", nullptr, KORVAX_PROBE_ACCEPTED, 0, KORVAX_MODEL_RQ523},
        {"TCPIP0::e::INSTR", "QM,RQ521,1,1", nullptr, KORVAX_PROBE_ACCEPTED, 0, KORVAX_MODEL_RQ521},
        {"TCPIP0::sixth::INSTR", "QM,RQ522,1,1", nullptr, KORVAX_PROBE_BEYOND_LIMIT, 0, KORVAX_MODEL_RQ522},
    };
    for (const auto &r : rows) {
        auto &res = fakevisa::add(r.name, r.idn);
        if (r.setUp) r.setUp(res);
    }
    RsrcEntry entries[KORVAX_MAX_CHASSIS];
    uint32_t count = 0;
    ASSERT_EQ(KORVAX_FindRsrc(entries, &count), 0);
    const auto seen = report();
    ASSERT_EQ(seen.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_STREQ(seen[i].resource, rows[i].name.c_str());
        EXPECT_EQ(seen[i].outcome, rows[i].outcome) << rows[i].name;
        EXPECT_EQ(seen[i].status, rows[i].status) << rows[i].name;
        // A resource beyond the limit is reported with its model when its
        // probe was under way by then (the probes run side by side).
        if (rows[i].outcome != KORVAX_PROBE_BEYOND_LIMIT || seen[i].model != 0) {
            EXPECT_EQ(seen[i].model, rows[i].model) << rows[i].name;
        }
    }
    EXPECT_STREQ(seen[4].reply, "Other,DMM,1,1");

    // An unknown model of our maker ends discovery: what follows is not looked at.
    freshDiscovery();
    fakevisa::add("TCPIP0::a::INSTR", "QM,RQ521,1,1");
    fakevisa::add("TCPIP0::b::INSTR", "QM,RQ999,1,1");
    fakevisa::add("TCPIP0::c::INSTR", "QM,RQ522,1,1");
    EXPECT_EQ(KORVAX_FindRsrc(entries, &count), KORVAX_ERR_NOT_SUPPORTED);
    const auto stopped = report();
    ASSERT_EQ(stopped.size(), 3u);
    EXPECT_EQ(std::vector<int32_t>({stopped[0].outcome, stopped[1].outcome, stopped[2].outcome}),
              std::vector<int32_t>({KORVAX_PROBE_ACCEPTED, KORVAX_PROBE_UNKNOWN_MODEL, KORVAX_PROBE_NOT_PROBED}));
}

TEST(Extensions, TimeoutReachesEverySessionDiscoveryOpensAndOneChassis) {
    freshDiscovery();
    fakevisa::add("TCPIP0::a::INSTR", "QM,RQ521,1,1");
    ASSERT_EQ(KORVAX_SetTimeout(0, 1234), 0);
    uint32_t handle = 0;
    ASSERT_EQ(KORVAX_Connect("TCPIP0::a::INSTR", &handle), 0);
    EXPECT_EQ(KORVAX_SetTimeout(handle, 250), 0);
    EXPECT_EQ(KORVAX_SetTimeout(handle + 99, 250), KORVAX_ERR_HANDLE);
    KORVAX_SetTimeout(0, 0);
    std::vector<ViAttrState> set;
    for (const auto &e : fakevisa::events())
        if (e.op == fakevisa::Op::SetAttribute && e.attr == VI_ATTR_TMO_VALUE) set.push_back(e.value);
    EXPECT_EQ(set, (std::vector<ViAttrState>{1234, 250}));
}

TEST(Extensions, ModelNames) {
    EXPECT_STREQ(KORVAX_ModelName(KORVAX_MODEL_RQ520B), "RQ520B");
    EXPECT_STREQ(KORVAX_ModelName(KORVAX_MODEL_RQ522), "RQ522");
    EXPECT_STREQ(KORVAX_ModelName(0x0999), "");
}

}  // namespace
