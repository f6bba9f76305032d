// The built-in VISA library as a program sees it: the resource manager,
// resource searches, sessions on simulated chassis, reads, attributes and
// status codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "sim_support.h"
#include "visa-sim/simulation.h"
#include "visa/visa.h"

namespace {

using namespace korvax;
using simtest::Bytes;

class Visa : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("KORVAX_VISA_RESOURCES", "", 1);
        visa::clearDeclared();
        ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    }
    void TearDown() override {
        viClose(rm);
        visa::clearDeclared();
    }

    ViSession open(const std::string &name) {
        ViSession vi = VI_NULL;
        EXPECT_EQ(viOpen(rm, name.c_str(), VI_NO_LOCK, 0, &vi), VI_SUCCESS) << name;
        return vi;
    }

    static ViStatus send(ViSession vi, const Bytes &bytes) {
        ViUInt32 n = 0;
        return viWrite(vi, bytes.data(), static_cast<ViUInt32>(bytes.size()), &n);
    }

    static std::string readText(ViSession vi, ViStatus *status = nullptr, ViUInt32 max = 400) {
        std::vector<ViByte> buf(max);
        ViUInt32 n = 0;
        const ViStatus st = viRead(vi, buf.data(), max, &n);
        if (status) *status = st;
        return std::string(buf.begin(), buf.begin() + n);
    }

    ViSession rm = VI_NULL;
};

std::vector<std::string> findAll(ViSession rm, const char *expr, ViStatus &status) {
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    char desc[VI_FIND_BUFLEN];
    std::vector<std::string> names;
    status = viFindRsrc(rm, expr, &list, &count, desc);
    if (status < 0) return names;
    names.push_back(desc);
    for (ViUInt32 i = 1; i < count; ++i) {
        if (viFindNext(list, desc) != VI_SUCCESS) break;
        names.push_back(desc);
    }
    EXPECT_EQ(viFindNext(list, desc), VI_ERROR_RSRC_NFOUND);
    viClose(list);
    return names;
}

TEST_F(Visa, NothingDeclaredFindsNothing) {
    ViFindList list = 123;
    ViUInt32 count = 7;
    char desc[VI_FIND_BUFLEN] = "x";
    EXPECT_EQ(viFindRsrc(rm, "?*INSTR", &list, &count, desc), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(list, static_cast<ViFindList>(VI_NULL));
    EXPECT_STREQ(desc, "");
}

TEST_F(Visa, SearchExpressions) {
    const std::vector<std::string> declared = {
        "TCPIP0::sim-rq521::INSTR", "GPIB0::5::INSTR", "ASRL3::INSTR", "USB0::0x1234::0x5678::SN9::INSTR",
        "TCPIP1::10.0.0.2::5025::SOCKET", "GPIB1::12::INSTR",
    };
    for (std::size_t i = 0; i < declared.size(); ++i)
        visa::declareSimulated(declared[i], sim::Config::forModel(sim::kModels[i % sim::kModels.size()]));

    struct Case {
        const char *expr;
        std::vector<std::string> found;   // empty: VI_ERROR_RSRC_NFOUND
    };
    const Case cases[] = {
        {"(GPIB|USB|ASRL|TCPIP)?*INSTR",
         {"TCPIP0::sim-rq521::INSTR", "GPIB0::5::INSTR", "ASRL3::INSTR", "USB0::0x1234::0x5678::SN9::INSTR",
          "GPIB1::12::INSTR"}},
        {"?*", declared},
        {"?*SOCKET", {"TCPIP1::10.0.0.2::5025::SOCKET"}},
        {"gpib?*instr", {"GPIB0::5::INSTR", "GPIB1::12::INSTR"}},
        {"GPIB[0-9]::?*", {"GPIB0::5::INSTR", "GPIB1::12::INSTR"}},
        {"GPIB[^0]::?*", {"GPIB1::12::INSTR"}},
        {"GPIB0::5::INSTR", {"GPIB0::5::INSTR"}},
        {"GPIB0::5", {}},
        {"GPIB?::1+2::INSTR", {"GPIB1::12::INSTR"}},
        {"GPIB?::1*2::INSTR", {"GPIB1::12::INSTR"}},
        {"GPIB?::(12|5)::INSTR", {"GPIB0::5::INSTR", "GPIB1::12::INSTR"}},
        {"ASRL[0-9]+::INSTR", {"ASRL3::INSTR"}},
        {"ASRL[a-z]+::INSTR", {}},
        {"TCPIP0::sim\\-rq521::INSTR", {"TCPIP0::sim-rq521::INSTR"}},
        {"TCPIP?::sim?rq52[1-3]::INSTR", {"TCPIP0::sim-rq521::INSTR"}},
        {"(TCPIP|USB)0::?*", {"TCPIP0::sim-rq521::INSTR", "USB0::0x1234::0x5678::SN9::INSTR"}},
        {"USB0::0x1234::0x5678::sn9::instr", {"USB0::0x1234::0x5678::SN9::INSTR"}},
        {"?*::(5|12)::INSTR|ASRL?*", {"GPIB0::5::INSTR", "ASRL3::INSTR", "GPIB1::12::INSTR"}},
        {"((G)(P)IB)+0?*", {"GPIB0::5::INSTR"}},
        {"VXI?*", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expr);
        ViStatus st = VI_SUCCESS;
        const auto found = findAll(rm, c.expr, st);
        EXPECT_EQ(st, c.found.empty() ? VI_ERROR_RSRC_NFOUND : VI_SUCCESS);
        EXPECT_EQ(found, c.found);
    }
}

TEST_F(Visa, MalformedExpressionsAreRefused) {
    visa::declareSimulated("GPIB0::5::INSTR", sim::Config::forModel(sim::kRQ521));
    for (const char *expr : {"", "*INSTR", "+", "(GPIB", "GPIB)", "[0-9", "[]", "a||b", "|a", "a|", "()",
                             "GPIB\\", "[9-0]", "?*INSTR{VI_ATTR_GPIB_PRIMARY_ADDR==5}"}) {
        SCOPED_TRACE(expr);
        ViUInt32 count = 1;
        EXPECT_EQ(viFindRsrc(rm, expr, nullptr, &count, nullptr), VI_ERROR_INV_EXPR);
        EXPECT_EQ(count, 0u);
    }
    EXPECT_EQ(viFindRsrc(rm, nullptr, nullptr, nullptr, nullptr), VI_ERROR_INV_EXPR);
}

// Expressions built to make a backtracking matcher take exponential time or
// to exhaust a recursive parser's stack. Before the matcher ran as a state
// machine, the first case took minutes and the nesting case crashed.
TEST_F(Visa, HostileExpressionsAreCheapOrRefused) {
    visa::declareSimulated("GPIB0::5::INSTR", sim::Config::forModel(sim::kRQ521));
    visa::declareSimulated("TCPIP0::" + std::string(200, 'a') + "::INSTR", sim::Config::forModel(sim::kRQ522));
    const auto nested = [](int depth, const std::string &inner) {
        return std::string(static_cast<std::size_t>(depth), '(') + inner + std::string(static_cast<std::size_t>(depth), ')');
    };
    struct Case {
        std::string expr;
        ViStatus status;
        ViUInt32 count;
    };
    const Case cases[] = {
        {"?*" + std::string(60, '+'), VI_SUCCESS, 2},
        {"?*" + std::string(60, '+') + "X", VI_ERROR_RSRC_NFOUND, 0},
        {"(?*)*(a*)*(a|a|?)*(a*a*)*b", VI_ERROR_RSRC_NFOUND, 0},
        {"((?*)+)+((a+)+)+((?*)+)+::INSTR", VI_SUCCESS, 1},
        {nested(32, "GPIB0::5::INSTR"), VI_SUCCESS, 1},
        {nested(33, "GPIB0::5::INSTR"), VI_ERROR_INV_EXPR, 0},
        {nested(100000, "?*"), VI_ERROR_INV_EXPR, 0},
        {"?*" + std::string(254, '*'), VI_SUCCESS, 2},
        {"?*" + std::string(255, '*'), VI_ERROR_INV_EXPR, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expr.substr(0, 40));
        ViUInt32 count = 99;
        EXPECT_EQ(viFindRsrc(rm, c.expr.c_str(), nullptr, &count, nullptr), c.status);
        EXPECT_EQ(count, c.count);
    }
}

// Whatever spelling a resource was declared in, a search reports the one
// every VISA reports: interface and class in upper case, board number and
// class filled in, the address as written. That name opens the resource and
// is the session's resource name.
TEST_F(Visa, SearchesReportTheStandardSpelling) {
    struct Case {
        const char *declared;
        const char *reported;
    };
    const Case cases[] = {
        {"asrl7::INSTR", "ASRL7::INSTR"},
        {"GPIB0::7", "GPIB0::7::INSTR"},
        {"tcpip::sim-Lab::instr", "TCPIP0::sim-Lab::INSTR"},
        {"usb::0x1::0x2::sn9", "USB0::0x1::0x2::sn9::INSTR"},
        {"TCPIP1::10.0.0.2::5025::socket", "TCPIP1::10.0.0.2::5025::SOCKET"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.declared);
        visa::clearDeclared();
        visa::declareSimulated(c.declared, sim::Config::forModel(sim::kRQ521));
        ViStatus st = VI_SUCCESS;
        EXPECT_EQ(findAll(rm, "?*", st), std::vector<std::string>{c.reported});
        const ViSession vi = open(c.reported);
        char name[VI_FIND_BUFLEN] = {};
        EXPECT_EQ(viGetAttribute(vi, VI_ATTR_RSRC_NAME, name), VI_SUCCESS);
        EXPECT_STREQ(name, c.reported);
        viClose(vi);
    }
}

// Names that do not fit the resource-string grammar, or whose standard
// spelling would not fit in a VISA name buffer, are refused everywhere.
TEST_F(Visa, MalformedAndOverlongNamesAreRefused) {
    const std::string host = std::string(200, 'h');
    const std::string longest = "TCPIP0::" + host + "::" + std::string(255 - 17 - host.size(), 'x') + "::INSTR";
    ASSERT_EQ(longest.size(), 255u);
    struct Case {
        std::string name;
        bool valid;
    };
    const Case cases[] = {
        {"TCPIP0::a:", false},
        {"TCPIP0:a::INSTR", false},
        {"TCPIP0::a:::INSTR", false},
        {"TCPIP0::a::", false},
        {"GPIB", false},
        {"TCPIP0::INSTR", false},
        {"TCPIP::" + std::string(245, 'h'), false},   // 252 characters, 260 once filled in
        {"TCPIP::" + std::string(240, 'h'), true},    // 255 once filled in
        {longest, true},
        {longest + "x", false},
        {"GPIB0::INTFC", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.substr(0, 40));
        visa::clearDeclared();
        ViSession vi = 99;
        EXPECT_EQ(viOpen(rm, c.name.c_str(), VI_NO_LOCK, 0, &vi), c.valid ? VI_ERROR_RSRC_NFOUND : VI_ERROR_INV_RSRC_NAME);
        if (!c.valid) {
            EXPECT_THROW(visa::declareSimulated(c.name, sim::Config::forModel(sim::kRQ521)), std::invalid_argument);
            continue;
        }
        visa::declareSimulated(c.name, sim::Config::forModel(sim::kRQ521));
        ViStatus st = VI_SUCCESS;
        const auto found = findAll(rm, "?*", st);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_LE(found[0].size(), 255u);
        // Searching for the reported name finds it again, unchanged.
        EXPECT_EQ(findAll(rm, found[0].c_str(), st), found);
    }
}

TEST_F(Visa, OpenAcceptsEverySpellingOfAResource) {
    visa::declareSimulated("TCPIP0::sim-rq521::INSTR", sim::Config::forModel(sim::kRQ521));
    visa::declareSimulated("ASRL1::INSTR", sim::Config::forModel(sim::kRQ523));
    struct Case {
        const char *name;
        ViStatus status;
    };
    const Case cases[] = {
        {"TCPIP0::sim-rq521::INSTR", VI_SUCCESS},
        {"tcpip0::SIM-RQ521::instr", VI_SUCCESS},
        {"TCPIP::sim-rq521::INSTR", VI_SUCCESS},
        {"TCPIP0::sim-rq521", VI_SUCCESS},
        {"TCPIP::sim-rq521", VI_SUCCESS},
        {"asrl1::instr", VI_SUCCESS},
        {"ASRL1", VI_SUCCESS},
        // A LAN resource that is not declared is looked for on the
        // network (the network tests cover that); these never leave here.
        {"GPIB0::5::INSTR", VI_ERROR_RSRC_NFOUND},
        {"USB0::0x1234::0x5678::SN1::INSTR", VI_ERROR_RSRC_NFOUND},
        {"TCPIP0::sim-rq521::SOCKET", VI_ERROR_INV_RSRC_NAME},  // no port
        {"ASRL2::INSTR", VI_ERROR_RSRC_NFOUND},
        {"", VI_ERROR_INV_RSRC_NAME},
        {"FOO0::bar::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP0::::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP0::sim rq521::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"TCPIPx::sim-rq521::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"ASRL::INSTR", VI_ERROR_INV_RSRC_NAME},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ViSession vi = 99;
        EXPECT_EQ(viOpen(rm, c.name, VI_NO_LOCK, 0, &vi), c.status);
        if (c.status == VI_SUCCESS) {
            EXPECT_NE(vi, static_cast<ViSession>(VI_NULL));
            EXPECT_EQ(viClose(vi), VI_SUCCESS);
        } else {
            EXPECT_EQ(vi, static_cast<ViSession>(VI_NULL));
        }
    }
    EXPECT_EQ(visa::simulated("tcpip::SIM-rq521"), visa::simulated("TCPIP0::sim-rq521::INSTR"));
    EXPECT_EQ(visa::simulated("TCPIP0::nothing::INSTR"), nullptr);
}

TEST_F(Visa, StatusCodesOfMisuse) {
    visa::declareSimulated("TCPIP0::a::INSTR", sim::Config::forModel(sim::kRQ521));
    const ViSession vi = open("TCPIP0::a::INSTR");
    ViByte buf[8] = {};
    ViUInt32 n = 0;
    ViUInt32 value = 0;
    const ViSession bogus = 0xDEAD;
    struct Case {
        const char *name;
        ViStatus got;
        ViStatus expected;
    };
    const Case cases[] = {
        {"read from an unknown session", viRead(bogus, buf, 8, &n), VI_ERROR_INV_OBJECT},
        {"write to an unknown session", viWrite(bogus, buf, 1, &n), VI_ERROR_INV_OBJECT},
        {"flush an unknown session", viFlush(bogus, VI_READ_BUF_DISCARD), VI_ERROR_INV_OBJECT},
        {"attribute of an unknown session", viGetAttribute(bogus, VI_ATTR_TMO_VALUE, &value), VI_ERROR_INV_OBJECT},
        {"set attribute of an unknown session", viSetAttribute(bogus, VI_ATTR_TMO_VALUE, 5), VI_ERROR_INV_OBJECT},
        {"close an unknown object", viClose(bogus), VI_ERROR_INV_OBJECT},
        {"close nothing", viClose(VI_NULL), VI_WARN_NULL_OBJECT},
        {"search through an instrument session", viFindRsrc(vi, "?*", nullptr, nullptr, nullptr), VI_ERROR_NSUP_OPER},
        {"search through an unknown session", viFindRsrc(bogus, "?*", nullptr, nullptr, nullptr), VI_ERROR_INV_OBJECT},
        {"open through an instrument session", viOpen(vi, "TCPIP0::a::INSTR", 0, 0, &n), VI_ERROR_NSUP_OPER},
        {"read from the manager", viRead(rm, buf, 8, &n), VI_ERROR_NSUP_OPER},
        {"read with nothing pending", viRead(vi, buf, 8, &n), VI_ERROR_TMO},
        {"unknown access mode", viOpen(rm, "TCPIP0::a::INSTR", 0x100, 0, &n), VI_ERROR_INV_ACC_MODE},
        {"serial attribute on a LAN session", viSetAttribute(vi, VI_ATTR_ASRL_BAUD, 9600), VI_ERROR_NSUP_ATTR},
        {"get serial attribute on a LAN session", viGetAttribute(vi, VI_ATTR_ASRL_BAUD, &value), VI_ERROR_NSUP_ATTR},
        {"unknown attribute", viSetAttribute(vi, 0x3FFF1234, 1), VI_ERROR_NSUP_ATTR},
        {"resource name is read-only", viSetAttribute(vi, VI_ATTR_RSRC_NAME, 0), VI_ERROR_ATTR_READONLY},
        {"termination enable is a boolean", viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, 2), VI_ERROR_NSUP_ATTR_STATE},
        {"termination character is a byte", viSetAttribute(vi, VI_ATTR_TERMCHAR, 0x100), VI_ERROR_NSUP_ATTR_STATE},
        {"manager attributes", viSetAttribute(rm, VI_ATTR_TMO_VALUE, 5), VI_ERROR_NSUP_ATTR},
        {"empty flush mask", viFlush(vi, 0), VI_ERROR_INV_MASK},
        {"flush and discard at once", viFlush(vi, VI_READ_BUF | VI_READ_BUF_DISCARD), VI_ERROR_INV_MASK},
        {"write from no buffer", viWrite(vi, nullptr, 4, &n), VI_ERROR_USER_BUF},
    };
    for (const Case &c : cases) EXPECT_EQ(c.got, c.expected) << c.name;
}

TEST_F(Visa, ClosingTheManagerClosesItsSessionsAndLists) {
    visa::declareSimulated("TCPIP0::a::INSTR", sim::Config::forModel(sim::kRQ521));
    ViSession other = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&other), VI_SUCCESS);
    ViSession survivor = VI_NULL;
    ASSERT_EQ(viOpen(other, "TCPIP0::a::INSTR", 0, 0, &survivor), VI_SUCCESS);
    const ViSession vi = open("TCPIP0::a::INSTR");
    ViFindList list = VI_NULL;
    ASSERT_EQ(viFindRsrc(rm, "?*", &list, nullptr, nullptr), VI_SUCCESS);

    ASSERT_EQ(viClose(rm), VI_SUCCESS);
    char desc[VI_FIND_BUFLEN];
    EXPECT_EQ(viFindNext(list, desc), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(send(vi, simtest::text("*IDN?\n")), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viClose(vi), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(send(survivor, simtest::text("*IDN?\n")), VI_SUCCESS);
    EXPECT_EQ(viClose(other), VI_SUCCESS);
    EXPECT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
}

// The serial probe: the chassis answers only at its own baud rate.
TEST_F(Visa, SerialChassisAnswersOnlyAtItsBaudRate) {
    sim::Config config = sim::Config::forModel(sim::kRQ521);
    config.baudRate = 38400;
    config.serial = 20240001;
    config.firmware = {{3, 6}};
    visa::declareSimulated("ASRL4::INSTR", config);
    const ViSession vi = open("ASRL4::INSTR");
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_ASRL_END_IN, VI_ASRL_END_NONE), VI_SUCCESS);
    for (const ViUInt32 baud : {115200u, 9600u, 19200u, 38400u, 57600u}) {
        SCOPED_TRACE(baud);
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_ASRL_BAUD, baud), VI_SUCCESS);
        ASSERT_EQ(viFlush(vi, VI_READ_BUF_DISCARD), VI_SUCCESS);
        ASSERT_EQ(send(vi, simtest::text("*IDN?\n")), VI_SUCCESS);
        ViStatus st = VI_SUCCESS;
        const std::string reply = readText(vi, &st);
        if (baud == 38400) {
            EXPECT_EQ(st, VI_SUCCESS);
            EXPECT_EQ(reply, "QM,RQ521,20240001,3.06\n");
        } else {
            EXPECT_EQ(st, VI_ERROR_TMO);
            EXPECT_EQ(reply, "");
        }
    }
    ViUInt32 baud = 0;
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_ASRL_BAUD, &baud), VI_SUCCESS);
    EXPECT_EQ(baud, 57600u);
    char name[VI_FIND_BUFLEN];
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_RSRC_NAME, name), VI_SUCCESS);
    EXPECT_STREQ(name, "ASRL4::INSTR");

    // A baud-rate change over the wire is answered at the old rate; the
    // session follows afterwards.
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_ASRL_BAUD, 38400), VI_SUCCESS);
    ASSERT_EQ(send(vi, simtest::request(21, 0, {9600, 0})), VI_SUCCESS);
    ViStatus st = VI_SUCCESS;
    EXPECT_EQ(readText(vi, &st).size(), sim::kReplySize);
    EXPECT_EQ(st, VI_SUCCESS);
    ASSERT_EQ(send(vi, simtest::text("*IDN?\n")), VI_SUCCESS);
    EXPECT_EQ(viRead(vi, nullptr, 0, nullptr), VI_ERROR_TMO);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_ASRL_BAUD, 9600), VI_SUCCESS);
    ASSERT_EQ(send(vi, simtest::text("*IDN?\n")), VI_SUCCESS);
    EXPECT_EQ(readText(vi), "QM,RQ521,20240001,3.06\n");
}

// How a read ends: at the end of the answer, at the count, or at the
// termination character when enabled.
TEST_F(Visa, ReadsEndAtCountTerminatorOrEnd) {
    sim::Config config = sim::Config::forModel(sim::kRQ523);
    config.serial = 12345678;
    config.firmware = {{3, 6}};
    config.idnModel = "R\nQ";
    visa::declareSimulated("TCPIP0::t::INSTR", config);
    visa::declareSimulated("ASRL9::INSTR", config);
    struct Step {
        ViUInt32 count;
        ViStatus status;
        const char *text;
    };
    struct Case {
        const char *name;
        const char *rsrc;
        bool termCharEnabled;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"whole answer", "TCPIP0::t::INSTR", false, {{400, VI_SUCCESS, "QM,R\nQ,12345678,3.06\n"}}},
        {"split by count", "TCPIP0::t::INSTR", false,
         {{5, VI_SUCCESS_MAX_CNT, "QM,R\n"}, {4, VI_SUCCESS_MAX_CNT, "Q,12"}, {400, VI_SUCCESS, "345678,3.06\n"},
          {400, VI_ERROR_TMO, ""}}},
        {"termination character enabled", "TCPIP0::t::INSTR", true,
         {{400, VI_SUCCESS_TERM_CHAR, "QM,R\n"}, {400, VI_SUCCESS, "Q,12345678,3.06\n"}}},
        {"serial port ends at the terminator by default", "ASRL9::INSTR", false,
         {{400, VI_SUCCESS_TERM_CHAR, "QM,R\n"}, {3, VI_SUCCESS_MAX_CNT, "Q,1"}, {400, VI_SUCCESS, "2345678,3.06\n"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ViSession vi = open(c.rsrc);
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, c.termCharEnabled ? VI_TRUE : VI_FALSE), VI_SUCCESS);
        if (std::string(c.rsrc).starts_with("ASRL")) {
            ASSERT_EQ(viSetAttribute(vi, VI_ATTR_ASRL_BAUD, 115200), VI_SUCCESS);
        }
        ASSERT_EQ(send(vi, simtest::text("*IDN?\n")), VI_SUCCESS);
        for (const Step &s : c.steps) {
            ViStatus st = VI_SUCCESS;
            EXPECT_EQ(readText(vi, &st, s.count), s.text);
            EXPECT_EQ(st, s.status);
        }
        viClose(vi);
    }
}

TEST_F(Visa, UnreadAnswersAreDroppedByFlushAndByTheNextRequest) {
    visa::declareSimulated("TCPIP0::a::INSTR", sim::Config::forModel(sim::kRQ521));
    const ViSession vi = open("TCPIP0::a::INSTR");
    ASSERT_EQ(send(vi, simtest::text("*IDN?\n")), VI_SUCCESS);
    ASSERT_EQ(viFlush(vi, VI_READ_BUF_DISCARD), VI_SUCCESS);
    EXPECT_EQ(viRead(vi, nullptr, 0, nullptr), VI_ERROR_TMO);

    ASSERT_EQ(send(vi, simtest::text("*IDN?\n")), VI_SUCCESS);
    ASSERT_EQ(readText(vi, nullptr, 3), "QM,");
    ASSERT_EQ(send(vi, simtest::request(22)), VI_SUCCESS);
    const std::string reply = readText(vi);
    ASSERT_EQ(reply.size(), sim::kReplySize);
    EXPECT_EQ(static_cast<uint8_t>(reply[0]), 22);
    EXPECT_EQ(static_cast<uint8_t>(reply[2]), 5);   // the GPIB address
}

// Sessions are views on one chassis: relays set through one are what the
// next session, and the simulation interface, see.
TEST_F(Visa, ChassisStateOutlivesSessionsAndManagers) {
    sim::Config config = sim::Config::forModel(sim::kRQ523);
    visa::declareSimulated("USB0::1::2::3::INSTR", config);
    ViSession vi = open("USB0::1::2::3::INSTR");
    const auto chassis = visa::simulated("USB0::1::2::3::INSTR");
    ASSERT_NE(chassis, nullptr);
    const auto relays = chassis->relaysOf(0, 2, 3);
    ASSERT_EQ(send(vi, simtest::relayFrame(chassis->geometry(), {relays.begin(), relays.end()})), VI_SUCCESS);
    ASSERT_EQ(readText(vi).size(), sim::kReplySize);
    ASSERT_EQ(viClose(rm), VI_SUCCESS);
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    EXPECT_EQ(chassis->closedCrosspoints(), (std::vector<sim::Crosspoint>{{0, 0, 2, 3}}));
    EXPECT_EQ(visa::declaredResources(), (std::vector<std::string>{"USB0::1::2::3::INSTR"}));
}

// A slow chassis's answer is waited for up to the session's timeout, and
// can still be read after a read that timed out; a dropped connection
// fails the write that brought the request, and the next write gets
// through.
TEST_F(Visa, DelayedRepliesAndADroppedConnection) {
    sim::Config config = sim::Config::forModel(sim::kRQ523);
    config.replyDelayMs = 200;
    config.dropAfter = 1;
    visa::declareSimulated("TCPIP0::slow::INSTR", config);
    const ViSession vi = open("TCPIP0::slow::INSTR");
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 20), VI_SUCCESS);
    ASSERT_EQ(send(vi, simtest::text("*IDN?\n")), VI_SUCCESS);
    ViStatus st = VI_SUCCESS;
    EXPECT_EQ(readText(vi, &st), "");
    EXPECT_EQ(st, VI_ERROR_TMO);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
    EXPECT_EQ(readText(vi, &st).substr(0, 9), "QM,RQ523,");
    EXPECT_EQ(st, VI_SUCCESS);
    EXPECT_EQ(send(vi, simtest::text("*IDN?\n")), VI_ERROR_CONN_LOST);
    EXPECT_EQ(send(vi, simtest::text("*IDN?\n")), VI_SUCCESS);
}

TEST_F(Visa, DeclarationsAreChecked) {
    EXPECT_THROW(visa::declareSimulated("not a resource", sim::Config::forModel(sim::kRQ521)), std::invalid_argument);
    sim::Config wrongSlots = sim::Config::forModel(sim::kRQ521);
    wrongSlots.slots.resize(7);
    EXPECT_THROW(visa::declareSimulated("TCPIP0::a::INSTR", wrongSlots), std::invalid_argument);
    sim::Config unknownModel = sim::Config::forModel(sim::kRQ521);
    unknownModel.model = 0x1234;
    EXPECT_THROW(visa::declareSimulated("TCPIP0::a::INSTR", unknownModel), std::invalid_argument);
    EXPECT_TRUE(visa::declaredResources().empty());
    // An empty slot list gets the model's slots.
    sim::Config bare;
    bare.model = sim::kRQ522;
    visa::declareSimulated("TCPIP0::b::INSTR", bare);
    EXPECT_EQ(visa::simulated("TCPIP0::b::INSTR")->config().slots.size(), 21u);
}

}  // namespace
