// KORVAX_SCPIQuery of KORVAX.dll: its two 18-entry command tables, the
// commands they leave out, and the answers that differ.
#include <array>
#include <string>
#include <vector>

#include "windows/chassis.h"
#include "windows/runner.h"

namespace {

// An RQ521 with a programmed identity block (serial 12345678, maker "QM").
testsupport::InstrumentState rq521(uint8_t controlMode) {
    testsupport::InstrumentState st;
    st.controlMode = controlMode;
    st.presence = 0b0001;
    st.loopBack = 0x01;
    return st;
}

void withIdentityBlock(fakevisa::Resource &r) {
    auto base = r.responder;
    r.responder = [base](const fakevisa::Bytes &req) {
        fakevisa::Reply reply = base(req);
        if (!req.empty() && req[0] == 8) {
            const uint32_t sn = 12345678;
            for (int i = 0; i < 4; ++i) reply.bytes[2 * i] = (sn >> (24 - 8 * i)) & 0xFF;
            reply.bytes[10] = 0x04;
            reply.bytes[11] = 0x2A;
            reply.bytes[12] = 'Q';
            reply.bytes[14] = 'M';
        }
        return reply;
    };
}

std::string query(uint32_t handle, const std::string &command) {
    std::array<char, 400> reply{};
    KORVAX_SCPIQuery(handle, command.c_str(), reply.data());
    return reply.data();
}

std::string message(int32_t code) {
    std::array<char, 100> text{};
    KORVAX_ErrorCodeToMessage(code, text.data(), text.size());
    return text.data();
}

std::vector<int> commandsSent() {
    std::vector<int> cmds;
    for (const auto &w : fakevisa::writes(wintest::kRsrc)) cmds.push_back(w.empty() ? -1 : w[0]);
    return cmds;
}

}  // namespace

WIN_TEST(ScpiAnswers) {
    struct Case {
        std::string command;
        uint8_t controlMode;
        std::string reply;
        std::vector<int> commands;  // first byte of each request sent
    };
    const Case cases[] = {
        {":SYST:VERS?", 1, "3.06", {11, 8}},
        {":SYSTem:VERSion?", 1, "3.06", {11, 8}},
        {":SYST:MANF?", 1, "QM", {11, 8}},
        {":SYSTem:MODule?", 1, "042A", {11, 8}},
        {"*RST", 1, "Reset Success!", {14}},
        {":SYST:COMM:LAN:IP:ADDR 192.168.1.255", 1, "Set IP Address Success!", {13}},
        {":SYSemT:COMMunication:LAN:IP:ADDRess 192.168.1.7", 1, "Set IP Address Success!", {13}},
        {":SYST:COMM:LAN:IP:ADDR 192.168.1.200", 1, message(KORVAX_ERR_BAD_IP), {}},
        {":SYST:CTRL:MODE?", 1, "Control Mode : Remote", {5}},
        {":SYST:CTRL:SET:LOCAL", 1, "Set Control Mode Success", {5, 6}},
        {":SYSTem:ConTRoL:SET:REMOTE", 0, "Set Control Mode Success", {5, 6}},
        {":SYST:CTRL:SET:REMOTE", 1, message(KORVAX_ERR_SAME_MODE), {5}},
        // Left out of the Windows tables.
        {"*IDN?", 1, "Unknown Command", {}},
        {":SYST:COMM:LAN:IP:ADDR?", 1, "Unknown Command", {}},
        {":SYSemT:COMMunication:LAN:MODE?", 1, "Unknown Command", {}},
        {":SYST:COMM:GPIB:RDEV:ADDR?", 1, "Unknown Command", {}},
        {":SYST:COMM:GPIB:RDEV:ADDR 5", 1, "Unknown Command", {}},
        {":SYST:COMM:RS232:BAUD?", 1, "Unknown Command", {}},
        {":SYST:COMM:RS232:BAUD 9600", 1, "Unknown Command", {}},
        // Only the exact word REMOTE asks for remote control.
        {":SYST:CTRL:SET: REMOTE", 1, "Set Control Mode Success", {5, 6}},
        {"", 1, "Unknown Command", {}},
        // An argument too long to be meant is refused, not cut.
        {":SYST:COMM:LAN:IP:ADDR " + std::string(250, '1'), 1, "Error: Parameter too long", {}},
    };
    for (const Case &c : cases) {
        wintest::Chassis ch = wintest::connectOne(wintest::idnOf("42A"), rq521(c.controlMode));
        withIdentityBlock(*ch.res);
        CHECK_EQ(query(ch.handle, c.command), c.reply, c.command);
        std::string sent, wanted;
        for (int x : commandsSent()) sent += std::to_string(x) + " ";
        for (int x : c.commands) wanted += std::to_string(x) + " ";
        CHECK_EQ(sent, wanted, c.command);
    }
}

WIN_TEST(ScpiEverySpellingIsServed) {
    // Both forms of all 18 entries; none may fall through to "Unknown Command".
    const char *spellings[][2] = {
        {":SYSTem:VERSion?", ":SYST:VERS?"},
        {":SYSTem:MANF?", ":SYST:MANF?"},
        {":SYSTem:MODule?", ":SYST:MOD?"},
        {"*RST", "*RST"},
        {":SYSemT:COMMunication:LAN:IP:ADDRess 192.168.1.9", ":SYST:COMM:LAN:IP:ADDR 192.168.1.9"},
        {":DIAGnostic:TEST:CARD:BIP?", ":DIAG:TEST:CARD:BIP?"},
        {":DIAGnostic:TEST:CARD:SPILOOP?", ":DIAG:TEST:CARD:SPILOOP?"},
        {":DIAGnostic:TEST:CARD:STATe?", ":DIAG:TEST:CARD:STAT?"},
        {":SYSTem:ConTRoL:MODE?", ":SYST:CTRL:MODE?"},
        {":SYSTem:ConTRoL:SET:LOCAL", ":SYST:CTRL:SET:LOCAL"},
        {"[:ROUTe]:OPEN (@0(1!1))", "[:ROUT]:OPEN (@0(1!1))"},
        {"[:ROUTe]:OPEN:ALL", "[:ROUT]:OPEN:ALL"},
        {":OPEN (@0(1!1))", ":OPEN (@0(1!1))"},
        {":OPEN:ALL", ":OPEN:ALL"},
        {"[:ROUTe]:CLOSe (@0(1!1))", "[:ROUT]:CLOS (@0(1!1))"},
        {"[:ROUTe]:CLOSe:ALL", "[:ROUT]:CLOS:ALL"},
        {":CLOSe (@0(1!1))", ":CLOS (@0(1!1))"},
        {":CLOSe:ALL", ":CLOS:ALL"},
    };
    for (const auto &pair : spellings) {
        for (const char *spelling : pair) {
            wintest::Chassis ch = wintest::connectOne(wintest::idnOf("42A"), rq521(1));
            withIdentityBlock(*ch.res);
            const std::string reply = query(ch.handle, spelling);
            CHECK(reply != "Unknown Command" && !reply.empty(), std::string(spelling) + " -> " + reply);
        }
    }
}

WIN_TEST(ScpiRelayCommandsSwitchAfterInit) {
    wintest::Chassis ch = wintest::connectOne(wintest::idnOf("42A"), rq521(1));
    int64_t opened = -1;
    CHECK_EQ(KORVAX_OpenSpecifiedCard(ch.handle, 0, &opened), 0);
    CHECK_EQ(KORVAX_Init(ch.handle, 0), 0);
    fakevisa::clearEvents();
    CHECK_EQ(query(ch.handle, ":CLOS (@0(1!1))"), "Relays Operate Success");
    CHECK_EQ(query(ch.handle, ":OPEN:ALL"), "Relays Operate Success");
    const auto frames = fakevisa::writes(wintest::kRsrc);
    if (CHECK_EQ(frames.size(), 2u)) {
        CHECK_EQ(frames[0][0], 19);
        CHECK_EQ(frames[1][0], 19);
        // The close frame carries a relay bit, the open-all frame none.
        bool any0 = false, any1 = false;
        for (size_t i = 4; i < frames[0].size(); ++i) any0 = any0 || frames[0][i] != 0;
        for (size_t i = 4; i < frames[1].size(); ++i) any1 = any1 || frames[1][i] != 0;
        CHECK(any0, "close sets a relay");
        CHECK(!any1, "open all clears every relay");
    }
}
