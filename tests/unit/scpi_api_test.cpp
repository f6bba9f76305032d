#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "KORVAX.h"
#include "support/open_matrix.h"

namespace {

using fakevisa::Bytes;
using testsupport::FakeChassis;
using testsupport::installChassis;
using testsupport::InstrumentState;
using testsupport::openMatrix;
using testsupport::reply;

enum class Via { Write, Query };
constexpr Via kBoth[] = {Via::Write, Via::Query};
const char *name(Via v) { return v == Via::Write ? "Write" : "Query"; }

constexpr uint32_t kUnknownHandle = 0xDEAD;
constexpr char kCanary = '#';
constexpr size_t kQuerySize = 400;
const std::string kUnknownText = "Unknown SCPI Command, Please Refer to the User Manual And Try Again";
const std::string kDone = "Relays Operate Success";
const Bytes kAskMode = {5, 0, 0, 0};

// Runs one command through either entry point and returns its reply. Both
// buffers are followed by canary bytes that must survive.
std::string send(uint32_t handle, Via via, const std::string &command) {
    std::array<char, kQuerySize + 8> out;
    out.fill(kCanary);
    size_t size = kQuerySize;
    if (via == Via::Write) {
        size = KORVAX_SCPI_REPLY_SIZE;
        EXPECT_EQ(KORVAX_SCPIWrite(handle, command.c_str()), 0) << command;
        EXPECT_EQ(KORVAX_SCPIRead(handle, out.data()), 0) << command;
    } else {
        KORVAX_SCPIQuery(handle, command.c_str(), out.data());
    }
    for (size_t i = size; i < out.size(); ++i) EXPECT_EQ(out[i], kCanary) << command << ": wrote past " << size;
    return std::string(out.data(), strnlen(out.data(), size));
}

std::string errorText(int32_t code) {
    std::array<char, 100> text{};
    KORVAX_ErrorCodeToMessage(code, text.data(), text.size());
    return text.data();
}

uint32_t *image(const FakeChassis &f) { return f.rec->subUnits[0].userState; }

std::vector<uint32_t> imageCopy(const FakeChassis &f) { return {image(f), image(f) + KORVAX_USER_WORDS}; }

// An RQ521 relay-state frame with every relay open.
Bytes allOpenFrame() {
    Bytes frame(108, 0);
    frame[0] = 19;
    frame[2] = 104;
    return frame;
}

// An instrument that remembers the control mode it was last set to, and
// answers requests of command `refused` with its error report.
fakevisa::Responder modeKeeping(uint8_t mode, int refused = -1) {
    auto current = std::make_shared<uint8_t>(mode);
    auto base = testsupport::instrument({});
    return [current, base, refused](const Bytes &req) {
        if (!req.empty() && req[0] == refused) return fakevisa::Reply{Bytes{0xFF, 0xFF, 0xFF, 0xFF}};
        if (req.size() >= 6 && req[0] == 6) *current = req[4];
        if (!req.empty() && req[0] == 5) return fakevisa::Reply{reply({{2, *current}})};
        return base(req);
    };
}

TEST(ScpiApi, CloseThroughWriteSwitchesLikeOpMatrixAndReadEmptiesTheReply) {
    FakeChassis f = openMatrix(KORVAX_MODEL_RQ521);
    std::memset(image(f), 0, KORVAX_USER_WORDS * 4);
    ASSERT_EQ(KORVAX_SCPIWrite(f.handle, ":CLOS (@0(1!1))"), 0);
    char text[256];
    ASSERT_EQ(KORVAX_SCPIRead(f.handle, text), 0);
    EXPECT_STREQ(text, "Relays Operate Success");
    ASSERT_EQ(KORVAX_SCPIRead(f.handle, text), 0);
    EXPECT_STREQ(text, "");

    // The frame is the one KORVAX_OpMatrix sends for the same state array.
    const auto sent = fakevisa::writes(f.rsrc);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), 108u);
    std::vector<uint32_t> state(KORVAX_USER_WORDS, 0);
    state[0] = 1;
    fakevisa::clearEvents();
    ASSERT_EQ(KORVAX_OpMatrix(f.handle, 0, state.data(), KORVAX_USER_WORDS), 0);
    EXPECT_EQ(fakevisa::writes(f.rsrc), sent);
}

TEST(ScpiApi, ChannelListsMapOntoFortyEightColumnsPerRow) {
    struct Bit {
        int word;
        uint32_t value;
    };
    const struct {
        std::vector<std::string> commands;
        std::vector<Bit> words;  // every other word stays 0
    } cases[] = {
        {{":CLOS (@0(2!1))"}, {{1, 1u << 16}}},
        {{":CLOS (@0(2!1))", ":OPEN (@0(2!1))"}, {}},
        {{":CLOS (@0(1!49))"}, {{1, 1u << 16}}},  // columns run on into the next row
        {{"[:ROUT]:CLOS (@0(1!32,1!33))"}, {{0, 1u << 31}, {1, 1u}}},
        {{":CLOSe (@0(1!1:2!2))"}, {{0, 0x3}, {1, 0x3u << 16}}},
        {{":CLOS (@0(1!1:2!2))", "[:ROUTe]:OPEN (@0(2!2))"}, {{0, 0x3}, {1, 1u << 16}}},
        {{":CLOS (@0(1000!48))"}, {{1499, 1u << 31}}},  // the last bit of the image
        {{":CLOS (@0(1!1))", ":CLOS @0"}, {{0, 1}}},    // '@' alone re-sends the image
    };
    for (const auto &c : cases) {
        FakeChassis f = openMatrix(KORVAX_MODEL_RQ521);
        std::memset(image(f), 0, KORVAX_USER_WORDS * 4);
        for (const auto &cmd : c.commands) EXPECT_EQ(send(f.handle, Via::Write, cmd), kDone) << cmd;
        std::vector<uint32_t> expected(KORVAX_USER_WORDS, 0);
        for (const auto &b : c.words) expected[b.word] = b.value;
        EXPECT_EQ(imageCopy(f), expected) << c.commands.back();
        EXPECT_EQ(fakevisa::writes(f.rsrc).size(), c.commands.size()) << c.commands.back();
    }
}

TEST(ScpiApi, RefusedRelayCommandsSendNothingAndKeepTheImage) {
    const std::string tooLong = ":CLOS (@0(" + std::string(200, '1') + "))";
    const struct {
        std::string command;
        std::string reply;
    } cases[] = {
        {":CLOS (@0(1!1)) ", "Invalid Relays Opearation Parameter"},
        {":CLOS (@0(1!1))\n", "Invalid Relays Opearation Parameter"},
        {":OPEN (@0(a!1))", "Invalid Relays Opearation Parameter"},
        {":CLOS (0(1!1))", "Error: Invalid subunit format\n"},
        {":CLOS (@0(1!1)", "Error: Unmatched parentheses in input."},
        {":CLOS (@0", "Error: Unmatched parentheses in input."},
        {":CLOS (@0())", "Error: Empty content in parentheses.\n"},
        {":CLOS (@0(0!1))", "Error: Invalid crosspoint format"},
        {":CLOS (@0(1!1,0!1))", "Error: Invalid crosspoint format"},
        {":CLOS (@0(1!1:2))", "Error: Invalid range format."},
        {tooLong, "Error: Parameter too long"},
        {":CLOS (@0(1001!1))", "Error: Crosspoint out of range"},
        {":CLOS (@0(1!48001))", "Error: Crosspoint out of range"},
        {":CLOS (@0(1!1,999999999!999999999))", "Error: Crosspoint out of range"},
    };
    for (Via via : kBoth) {
        for (const auto &c : cases) {
            FakeChassis f = openMatrix(KORVAX_MODEL_RQ521);
            std::memset(image(f), 0x5A, KORVAX_USER_WORDS * 4);
            const auto before = imageCopy(f);
            EXPECT_EQ(send(f.handle, via, c.command), c.reply) << name(via) << " " << c.command;
            EXPECT_TRUE(fakevisa::writes(f.rsrc).empty()) << c.command;
            EXPECT_EQ(imageCopy(f), before) << c.command;
        }
    }
}

TEST(ScpiApi, SwitchingFailuresBecomeErrorTextAndTheImageKeepsWhatWasApplied) {
    InstrumentState local;
    local.relayReply = {0xFF, 0, 0, 0};  // an RQ521 under local control refuses the frame
    const struct {
        const char *what;
        uint16_t model;
        InstrumentState st;
        std::string command;
        std::string reply;
        int frames;
    } cases[] = {
        {"RQ521 takes any sub-unit as 0", KORVAX_MODEL_RQ521, {}, ":CLOS (@7(1!1))", kDone, 1},
        {"RQ521 in local control", KORVAX_MODEL_RQ521, local, ":CLOS (@0(1!1))", "Local/Remote Control Mode Conflict", 1},
        {"RQ520 without RF card", KORVAX_MODEL_RQ520, {}, ":CLOS (@1(1!1))", "No Type1 card Exists", 0},
        {"RQ520 sub-unit 7", KORVAX_MODEL_RQ520, {}, ":CLOS (@7(1!1))", "parameter error", 0},
        {"close all past the limit", KORVAX_MODEL_RQ521, {}, ":CLOS:ALL", "Relay Closure Limit Exceeded", 0},
        {"long form", KORVAX_MODEL_RQ521, {}, "[:ROUT]:CLOS:ALL", "Relay Closure Limit Exceeded", 0},
        {"mixed case", KORVAX_MODEL_RQ521, {}, "[:ROUTe]:CLOSe:ALL", "Relay Closure Limit Exceeded", 0},
    };
    for (Via via : kBoth) {
        for (const auto &c : cases) {
            FakeChassis f = openMatrix(c.model, c.st);
            std::memset(image(f), 0, KORVAX_USER_WORDS * 4);
            EXPECT_EQ(send(f.handle, via, c.command), c.reply) << name(via) << " " << c.what;
            EXPECT_EQ(fakevisa::writes(f.rsrc).size(), static_cast<size_t>(c.frames)) << c.what;
            const bool applied = c.reply == kDone;
            EXPECT_EQ(image(f)[0], applied ? 1u : 0u) << c.what;
            EXPECT_EQ(image(f)[KORVAX_USER_WORDS - 1], 0u) << c.what;
            if (applied || c.model != KORVAX_MODEL_RQ521 || c.frames != 0) continue;
            // Nothing of the refused request is left for the next command
            // to send again, nor counted against the closure limit.
            fakevisa::clearEvents();
            EXPECT_EQ(send(f.handle, via, ":CLOS (@0(1!1))"), kDone) << c.what;
            EXPECT_EQ(image(f)[0], 1u) << c.what;
            EXPECT_EQ(image(f)[1], 0u) << c.what;
        }
    }
}

TEST(ScpiApi, CloseAllOnAnRq522ClosesTheRowsItsFrameReaches) {
    for (Via via : kBoth) {
        FakeChassis f = openMatrix(KORVAX_MODEL_RQ522);
        EXPECT_EQ(send(f.handle, via, ":CLOS:ALL"), kDone) << name(via);
        // Rows 1 to 4 of 21 cards of 96 columns: 8064 points, 252 words.
        std::vector<uint32_t> rows1to4(KORVAX_USER_WORDS, 0);
        std::fill_n(rows1to4.begin(), 252, UINT32_MAX);
        EXPECT_EQ(imageCopy(f), rows1to4) << name(via);
        std::vector<uint8_t> frame;
        ASSERT_EQ(testsupport::referenceFrame(testsupport::geometryOf(*f.rec), rows1to4.data(), 1008, frame), 0);
        EXPECT_EQ(fakevisa::writes(f.rsrc), std::vector<Bytes>{frame}) << name(via);
        // The whole state array from a caller still names rows 5 to 16.
        const std::vector<uint32_t> allOnes(1008, UINT32_MAX);
        EXPECT_EQ(KORVAX_OpMatrix(f.handle, 0, allOnes.data(), 1008), KORVAX_ERR_ROW_RANGE);
    }
}

TEST(ScpiApi, OpenAllClearsTheImageAndSendsAnAllOpenFrame) {
    for (Via via : kBoth) {
        for (const char *cmd : {":OPEN:ALL", "[:ROUT]:OPEN:ALL", "[:ROUTe]:OPEN:ALL"}) {
            FakeChassis f = openMatrix(KORVAX_MODEL_RQ521);
            std::memset(image(f), 0x5A, KORVAX_USER_WORDS * 4);
            EXPECT_EQ(send(f.handle, via, cmd), kDone) << name(via) << " " << cmd;
            EXPECT_EQ(imageCopy(f), std::vector<uint32_t>(KORVAX_USER_WORDS, 0)) << cmd;
            EXPECT_EQ(fakevisa::writes(f.rsrc), std::vector<Bytes>{allOpenFrame()}) << cmd;
        }
    }
}

TEST(ScpiApi, UnknownCommandsAndBadHandlesTouchNothing) {
    const struct {
        uint32_t handle;  // 0: the installed chassis
        std::string command;
        std::string reply;
    } cases[] = {
        {0, ":SYST:COMM:RS232:BAUD 9600", kUnknownText},
        {0, ":SYSTem:COMMunicate:RS232:BAUD 9600", kUnknownText},
        {0, ":SYST:COMM:RS232:BAUD " + std::string(300, '9'), kUnknownText},
        {0, "*RST", kUnknownText},
        {0, ":SYSTEM:VERSION?", kUnknownText},
        {0, "", kUnknownText},
        {kUnknownHandle, ":SYST:VERS?", "Handle Error, Not Found This Handle or ResourceName"},
        {kUnknownHandle, "*IDN?", "Handle Error, Not Found This Handle or ResourceName"},
        {kUnknownHandle, "*RST>", "Handle Error, Not Found This Handle or ResourceName"},
        {kUnknownHandle, ":CLOS (@0(1!1))", "Handle Error, Not Found This Handle or ResourceName"},
        {kUnknownHandle, ":OPEN:ALL", "Handle Error, Not Found This Handle or ResourceName"},
        {kUnknownHandle, ":SYST:CTRL:SET: REMOTE", "Handle Error, Not Found This Handle or ResourceName"},
        {kUnknownHandle, ":CLOS (@0(1!1)) ", "Invalid Relays Opearation Parameter"},
    };
    for (const auto &c : cases) {
        FakeChassis f = installChassis(KORVAX_MODEL_RQ521);
        EXPECT_EQ(send(c.handle ? c.handle : f.handle, Via::Query, c.command), c.reply) << c.command;
        if (c.handle == 0) {
            EXPECT_EQ(send(f.handle, Via::Write, c.command), c.reply) << c.command;
        }
        EXPECT_TRUE(fakevisa::events().empty()) << c.command;
    }

    FakeChassis f = installChassis(KORVAX_MODEL_RQ521);
    char text[256] = "untouched";
    EXPECT_EQ(KORVAX_SCPIWrite(kUnknownHandle, "*IDN?"), KORVAX_ERR_HANDLE);
    EXPECT_EQ(KORVAX_SCPIRead(kUnknownHandle, text), KORVAX_ERR_HANDLE);
    EXPECT_EQ(KORVAX_SCPIWrite(f.handle, nullptr), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(KORVAX_SCPIRead(f.handle, nullptr), KORVAX_ERR_PARAMETER);
    KORVAX_SCPIQuery(f.handle, nullptr, text);
    EXPECT_STREQ(text, "untouched");
}

TEST(ScpiApi, IdentityAndResetTalkToTheSessionDirectly) {
    const Bytes idn = {'*', 'I', 'D', 'N', '?', '\n'};
    const std::string answer = "QM,RQ521,24681357,3.06\n";
    const std::string longAnswer(1000, 'A');
    const struct {
        const char *what;
        Via via;
        std::string command;
        std::string idnAnswer;
        int failWrites, failReads;
        Bytes written;
        uint32_t readCount;
        std::string reply;
    } cases[] = {
        {"identity", Via::Query, "*IDN?", answer, 0, 0, idn, 399, answer},
        {"identity", Via::Write, "*IDN?", answer, 0, 0, idn, 255, answer},
        {"long identity", Via::Query, "*IDN?", longAnswer, 0, 0, idn, 399, longAnswer.substr(0, 399)},
        {"long identity", Via::Write, "*IDN?", longAnswer, 0, 0, idn, 255, longAnswer.substr(0, 255)},
        {"identity unsent", Via::Query, "*IDN?", answer, 1, 0, {}, 0, "Send data failed!"},
        {"identity unanswered", Via::Write, "*IDN?", answer, 0, 1, idn, 255, "Receive data failed!"},
        {"reset", Via::Write, "*RST>", "", 0, 0, {14, 0}, 400, "Reset Success!"},
        {"reset", Via::Query, "*RST>", "", 0, 0, {14, 0}, 400, "Reset Success!Please Restart The Application!"},
        {"reset unsent", Via::Query, "*RST>", "", 1, 0, {}, 0, "send data failed!"},
        {"reset unanswered", Via::Write, "*RST>", "", 0, 1, {14, 0}, 400, "recv data failed!"},
    };
    for (const auto &c : cases) {
        FakeChassis f = installChassis(KORVAX_MODEL_RQ521);
        f.res->idn = c.idnAnswer;
        f.res->failWrites = c.failWrites;
        f.res->failReads = c.failReads;
        EXPECT_EQ(send(f.handle, c.via, c.command), c.reply) << name(c.via) << " " << c.what;
        std::vector<Bytes> written;
        uint32_t readCount = 0;
        for (const auto &e : fakevisa::events()) {
            if (e.op == fakevisa::Op::Write && e.status == VI_SUCCESS) written.push_back(e.bytes);
            if (e.op == fakevisa::Op::Read) readCount = static_cast<uint32_t>(e.value);
        }
        EXPECT_EQ(written, c.written.empty() ? std::vector<Bytes>{} : std::vector<Bytes>{c.written}) << c.what;
        EXPECT_EQ(readCount, c.readCount) << name(c.via) << " " << c.what;
    }
}

// The queries and settings served by the library's own operations, through
// both entry points. Replies are queued in request order; anything else is
// answered by the scripted instrument.
TEST(ScpiApi, OperationsAnswerInTheirFixedTexts) {
    Bytes slotInfo(400, 0);
    slotInfo[0] = 0x01, slotInfo[2] = 0x78, slotInfo[4] = 0x9B, slotInfo[6] = 0x8D;  // 24681357
    slotInfo[10] = 0x04, slotInfo[11] = 0x2A, slotInfo[12] = 'Q', slotInfo[14] = 'M';
    const Bytes version = reply({{2, 3}, {3, 6}});
    const std::string gpib = ":SYST:COMM:GPIB:RDEV:ADDR ";
    const std::string lan = ":SYST:COM:LAN:SET:MODE ";
    const std::string rxFail = "VISA_IO:Network communicate fail,Receive data fail";
    const fakevisa::Reply lost{{}, VI_ERROR_TMO};
    const struct {
        std::string command;
        uint16_t model;
        std::vector<fakevisa::Reply> replies;
        std::string reply;
        std::vector<Bytes> frames;
    } cases[] = {
        {":SYST:VERS?", KORVAX_MODEL_RQ521, {{version}, {reply({{2, 1}, {3, 2}})}}, "Fw Version: CTR 3.06, COM 1.02", {{11, 0, 0, 0}, {49, 0, 0, 0}}},
        {":SYSTem:VERSion?", KORVAX_MODEL_RQ520, {{reply({{4, 3}, {5, 0x10}})}}, "Fw Version: CTR 3.10, COM ", {{11, 0, 0, 0}}},
        {":SYST:MANF?", KORVAX_MODEL_RQ521, {{version}, {slotInfo}}, "QM", {{11, 0, 0, 0}, {8, 0, 0, 0}}},
        {":SYST:MOD?", KORVAX_MODEL_RQ521, {{version}, {slotInfo}}, "042A", {{11, 0, 0, 0}, {8, 0, 0, 0}}},
        {":SYST:COMM:LAN:IP:ADDR?", KORVAX_MODEL_RQ521, {{reply({{2, 192}, {4, 168}, {6, 1}, {8, 77}})}}, "192.168.1.77", {{24, 0, 0, 0}}},
        {":SYST:COMM:LAN:MODE?", KORVAX_MODEL_RQ521, {{reply({{2, 0}})}}, "LAN Mode: Manual", {{25, 0, 0, 0}}},
        {":SYST:COMM:LAN:MODE?", KORVAX_MODEL_RQ521, {{reply({{2, 1}})}}, "LAN Mode: AutoIP", {{25, 0, 0, 0}}},
        {":SYST:COMM:LAN:MODE?", KORVAX_MODEL_RQ521, {{reply({{2, 2}})}}, "Unknown IP Communication Mode", {{25, 0, 0, 0}}},
        {":SYST:CTRL:MODE?", KORVAX_MODEL_RQ521, {{reply({{2, 0}})}}, "Control Mode : Local", {kAskMode}},
        {":SYST:CTRL:MODE?", KORVAX_MODEL_RQ521, {{reply({{2, 5}})}}, "Control Mode : Remote", {kAskMode}},
        {":SYST:COMM:GPIB:RDEV:ADDR?", KORVAX_MODEL_RQ521, {{reply({{2, 7}})}}, "GPIB Address:7", {{22, 0, 0, 0}}},
        {":SYST:COMM:RS232:BAUD?", KORVAX_MODEL_RQ521, {{reply({{2, 0x00}, {3, 0xC2}, {4, 0x01}})}}, "RS232 Baudrate:115200", {{23, 0, 0, 0}}},
        {":DIAG:TEST:CARD:BIP?", KORVAX_MODEL_RQ521, {{reply({{2, 0b0011}})}}, "0011", {{10, 0, 0, 0}}},
        {":DIAG:TEST:CARD:SPILOOP?", KORVAX_MODEL_RQ521, {{version}, {reply({{2, 0b1101}})}}, "1101", {{11, 0, 0, 0}, {12, 1, 0, 0}}},
        {":DIAG:TEST:CARD:BIP?", KORVAX_MODEL_RQ522, {{reply({{2, 0xFF}, {3, 0xFF}, {4, 0x1F}})}}, "1111", {{10, 0, 0, 0}}},
        {":DIAG:TEST:CARD:STAT?", KORVAX_MODEL_RQ521, {}, "SelfTest:SelfTest Success!\n", {}},
        {":SYST:COMM:GPIB:RDEV:ADDR?", KORVAX_MODEL_RQ522, {}, "MCU Software Version is not Supported or Hardware Does Not Support This Function", {}},
        {":SYST:COMM:RS232:BAUD?", KORVAX_MODEL_RQ521, {lost}, rxFail, {{23, 0, 0, 0}}},
        {":SYST:COMM:LAN:IP:ADDR 192.168.1.10", KORVAX_MODEL_RQ521, {}, "Set IP Address Success! Please Restart The Application if Using Manual IP Mode!", {{13, 0, 0, 0, 192, 0, 168, 0, 1, 0, 10, 0, 192, 0, 168, 0, 1, 0, 1, 0}}},
        {":SYST:COMM:LAN:IP:ADDR 192.168.1.200", KORVAX_MODEL_RQ521, {}, "Bad IP Address", {}},
        {gpib + "7", KORVAX_MODEL_RQ521, {}, "Set GPIB Address Success! Please Restart The Application", {{20, 0, 0, 0, 7, 0}}},
        {gpib + "31", KORVAX_MODEL_RQ521, {}, "Invalid GPIB Address, Please check the GPIB address between 1~30", {}},
        {gpib, KORVAX_MODEL_RQ521, {}, "Invalid GPIB Address, Please check the GPIB address between 1~30", {}},
        {gpib + "4294967303", KORVAX_MODEL_RQ521, {}, "Invalid GPIB Address, Please check the GPIB address between 1~30", {}},
        {gpib + "7 ", KORVAX_MODEL_RQ521, {}, "Invalid GPIB Address Parameter", {}},
        {gpib + "-7", KORVAX_MODEL_RQ521, {}, "Invalid GPIB Address Parameter", {}},
        // A lost reply keeps SetLANMode from waiting for the network restart;
        // the frame still shows the mode the argument chose.
        {lan + "MANUAL", KORVAX_MODEL_RQ521, {lost}, rxFail, {{48, 0, 0, 0, 0, 0}}},
        {lan + "0", KORVAX_MODEL_RQ521, {lost}, rxFail, {{48, 0, 0, 0, 0, 0}}},
        {lan + "AUTO", KORVAX_MODEL_RQ521, {lost}, rxFail, {{48, 0, 0, 0, 1, 0}}},
        {lan + "1", KORVAX_MODEL_RQ521, {lost}, rxFail, {{48, 0, 0, 0, 1, 0}}},
        {lan + "AUTO ", KORVAX_MODEL_RQ521, {}, "Invalid LAN Mode Opearation Parameter", {}},
        {lan + "2", KORVAX_MODEL_RQ521, {}, "Invalid LAN Mode Opearation Parameter", {}},
        {lan, KORVAX_MODEL_RQ521, {}, "Invalid LAN Mode Opearation Parameter", {}},
        {":SYSemT:COMMunication:LAN:SET:MODE Auto", KORVAX_MODEL_RQ521, {}, "Invalid LAN Mode Opearation Parameter", {}},
        {lan + std::string(200, '1'), KORVAX_MODEL_RQ521, {}, "Error: Parameter too long", {}},
        {gpib + std::string(200, '1'), KORVAX_MODEL_RQ521, {}, "Error: Parameter too long", {}},
        {":SYST:COMM:LAN:IP:ADDR " + std::string(200, '1'), KORVAX_MODEL_RQ521, {}, "Error: Parameter too long", {}},
        {":SYST:CTRL:SET: " + std::string(200, 'R'), KORVAX_MODEL_RQ521, {}, "Error: Parameter too long", {}},
    };
    for (Via via : kBoth) {
        for (const auto &c : cases) {
            FakeChassis f = installChassis(c.model);
            f.res->responder = testsupport::instrument({});
            f.res->replies.assign(c.replies.begin(), c.replies.end());
            EXPECT_EQ(send(f.handle, via, c.command), c.reply) << name(via) << " " << c.command;
            // The self test's own requests have tests of their own.
            if (c.command.find("STAT?") == std::string::npos) {
                EXPECT_EQ(fakevisa::writes(f.rsrc), c.frames) << name(via) << " " << c.command;
            }
        }
    }
}

TEST(ScpiApi, SetControlModePassesThroughRemoteAndClearsTheRelays) {
    const Bytes allOpen = allOpenFrame();
    const struct {
        const char *what;
        uint8_t present;
        std::string command;
        std::string reply;
        std::vector<Bytes> frames;
        int refused = -1;
    } cases[] = {
        {"remote to local", 1, ":SYST:CTRL:SET: LOCAL", "Set Control Mode Success", {kAskMode, kAskMode, allOpen, kAskMode, {6, 0, 0, 0, 0, 0}}},
        {"local to remote", 0, ":SYSTem:ConTRoL:SET: REMOTE", "Set Control Mode Success", {kAskMode, kAskMode, {6, 0, 0, 0, 1, 0}, allOpen, kAskMode}},
        {"anything else asks for local", 1, ":SYST:CTRL:SET: REMOTE ", "Set Control Mode Success", {kAskMode, kAskMode, allOpen, kAskMode, {6, 0, 0, 0, 0, 0}}},
        {"already remote", 1, ":SYST:CTRL:SET: REMOTE", "Local/Remote Control Mode Conflict", {kAskMode}},
        {"already local", 0, ":SYST:CTRL:SET: XYZ", "Local/Remote Control Mode Conflict", {kAskMode}},
        // The first call that fails ends the command with its text.
        {"going remote refused", 0, ":SYST:CTRL:SET: REMOTE", errorText(KORVAX_ERR_USB_ADAPTER), {kAskMode, kAskMode, {6, 0, 0, 0, 1, 0}}, 6},
        {"clear refused", 1, ":SYST:CTRL:SET: LOCAL", errorText(KORVAX_ERR_USB_ADAPTER), {kAskMode, kAskMode, allOpen}, 19},
        {"going local refused", 1, ":SYST:CTRL:SET: LOCAL", errorText(KORVAX_ERR_USB_ADAPTER), {kAskMode, kAskMode, allOpen, kAskMode, {6, 0, 0, 0, 0, 0}}, 6},
    };
    for (Via via : kBoth) {
        for (const auto &c : cases) {
            FakeChassis f = openMatrix(KORVAX_MODEL_RQ521);
            f.res->responder = modeKeeping(c.present, c.refused);
            image(f)[0] = 1;
            EXPECT_EQ(send(f.handle, via, c.command), c.reply) << name(via) << " " << c.what;
            EXPECT_EQ(fakevisa::writes(f.rsrc), c.frames) << name(via) << " " << c.what;
        }
    }
    // Before the cards are identified the clear has nothing to open and
    // sends nothing; the mode is set all the same.
    const struct {
        uint8_t present;
        std::string command;
        std::vector<Bytes> frames;
    } unidentified[] = {
        {1, ":SYST:CTRL:SET: LOCAL", {kAskMode, kAskMode, kAskMode, {6, 0, 0, 0, 0, 0}}},
        {0, ":SYST:CTRL:SET: REMOTE", {kAskMode, kAskMode, {6, 0, 0, 0, 1, 0}, kAskMode}},
    };
    for (Via via : kBoth) {
        for (const auto &c : unidentified) {
            FakeChassis f = installChassis(KORVAX_MODEL_RQ521);
            f.res->responder = modeKeeping(c.present);
            EXPECT_EQ(send(f.handle, via, c.command), "Set Control Mode Success") << name(via) << " " << c.command;
            EXPECT_EQ(fakevisa::writes(f.rsrc), c.frames) << name(via) << " " << c.command;
        }
    }
    // The mode cannot be read: nothing is switched.
    FakeChassis f = openMatrix(KORVAX_MODEL_RQ521);
    f.res->failReads = 1;
    EXPECT_EQ(send(f.handle, Via::Query, ":SYST:CTRL:SET: REMOTE"), "VISA_IO:Network communicate fail,Receive data fail");
    EXPECT_EQ(fakevisa::writes(f.rsrc), std::vector<Bytes>{kAskMode});
}

}  // namespace
