#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "KORVAX.h"
#include "support/fake_chassis.h"

namespace {

using fakevisa::Bytes;
using testsupport::installChassis;
using testsupport::reply;

constexpr uint32_t kUnknownHandle = 0xDEAD;
constexpr uint32_t kUntouched = 0xA5A5A5A5;

using testsupport::Failure;
using testsupport::inject;
using testsupport::kFailures;

// Every settings operation with valid arguments, its outputs going to
// `out` / `text`. SetLANMode is left out: it waits six seconds on success.
struct Op {
    const char *name;
    std::function<int32_t(uint32_t handle, uint32_t *out, char *text)> call;
};
const std::vector<Op> &rq521Ops() {
    static const std::vector<Op> ops = {
        {"GetCOMMIPAddr", [](uint32_t h, uint32_t *, char *t) { return KORVAX_GetCOMMIPAddr(h, t); }},
        {"GetLANMode", [](uint32_t h, uint32_t *o, char *) { return KORVAX_GetLANMode(h, o); }},
        {"SetGPIBAddress", [](uint32_t h, uint32_t *, char *) { return KORVAX_SetGPIBAddress(h, 7); }},
        {"GetGPIBAddress", [](uint32_t h, uint32_t *o, char *) { return KORVAX_GetGPIBAddress(h, o); }},
        {"SetBaudRate", [](uint32_t h, uint32_t *, char *) { return KORVAX_SetBaudRate(h, 19200); }},
        {"GetBaudRate", [](uint32_t h, uint32_t *o, char *) { return KORVAX_GetBaudRate(h, o); }},
        {"GetControlMode", [](uint32_t h, uint32_t *o, char *) { return KORVAX_GetControlMode(h, o); }},
        {"SetControlMode", [](uint32_t h, uint32_t *, char *) { return KORVAX_SetControlMode(h, 1); }},
    };
    return ops;
}

bool anyBaudChange(const std::vector<fakevisa::Event> &events) {
    for (const auto &e : events)
        if (e.op == fakevisa::Op::SetAttribute && e.attr == VI_ATTR_ASRL_BAUD) return true;
    return false;
}

TEST(Settings, ArgumentErrorsComeBeforeTheHandleAndSendNothing) {
    const auto f = installChassis(KORVAX_MODEL_RQ521);
    const struct {
        const char *what;
        std::function<int32_t(uint32_t)> call;
        int32_t expected;
    } cases[] = {
        {"IP 192.168.1.200", [](uint32_t h) { return KORVAX_SetIPAddress(h, "192.168.1.200"); }, KORVAX_ERR_BAD_IP},
        {"IP 192.168.1.255", [](uint32_t h) { return KORVAX_SetIPAddress(h, "192.168.1.255"); }, KORVAX_ERR_BAD_IP},
        {"IP 192.168.2.10", [](uint32_t h) { return KORVAX_SetIPAddress(h, "192.168.2.10"); }, KORVAX_ERR_BAD_IP},
        {"IP leading zero", [](uint32_t h) { return KORVAX_SetIPAddress(h, "192.168.01.10"); }, KORVAX_ERR_BAD_IP},
        {"IP three fields", [](uint32_t h) { return KORVAX_SetIPAddress(h, "192.168.1"); }, KORVAX_ERR_BAD_IP},
        {"IP null text", [](uint32_t h) { return KORVAX_SetIPAddress(h, nullptr); }, KORVAX_ERR_PARAMETER},
        {"LAN mode 2", [](uint32_t h) { return KORVAX_SetLANMode(h, 2); }, KORVAX_ERR_IP_MODE},
        {"GPIB 0", [](uint32_t h) { return KORVAX_SetGPIBAddress(h, 0); }, KORVAX_ERR_GPIB_ADDRESS},
        {"GPIB 31", [](uint32_t h) { return KORVAX_SetGPIBAddress(h, 31); }, KORVAX_ERR_GPIB_ADDRESS},
        {"baud 4800", [](uint32_t h) { return KORVAX_SetBaudRate(h, 4800); }, KORVAX_ERR_BAUDRATE},
        {"baud 115201", [](uint32_t h) { return KORVAX_SetBaudRate(h, 115201); }, KORVAX_ERR_BAUDRATE},
        {"null IP buffer", [](uint32_t h) { return KORVAX_GetCOMMIPAddr(h, nullptr); }, KORVAX_ERR_PARAMETER},
        {"null LAN mode", [](uint32_t h) { return KORVAX_GetLANMode(h, nullptr); }, KORVAX_ERR_PARAMETER},
        {"null GPIB", [](uint32_t h) { return KORVAX_GetGPIBAddress(h, nullptr); }, KORVAX_ERR_PARAMETER},
        {"null baud", [](uint32_t h) { return KORVAX_GetBaudRate(h, nullptr); }, KORVAX_ERR_PARAMETER},
        {"null control mode", [](uint32_t h) { return KORVAX_GetControlMode(h, nullptr); }, KORVAX_ERR_PARAMETER},
        // Valid arguments: now the handle decides.
        {"IP 192.168.1.10", [](uint32_t h) { return KORVAX_SetIPAddress(h, "192.168.1.10"); }, KORVAX_ERR_HANDLE},
        {"GPIB 30", [](uint32_t h) { return KORVAX_SetGPIBAddress(h, 30); }, KORVAX_ERR_HANDLE},
        {"control mode", [](uint32_t h) { return KORVAX_SetControlMode(h, 7); }, KORVAX_ERR_HANDLE},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.call(kUnknownHandle), c.expected) << c.what;
        EXPECT_TRUE(fakevisa::events().empty()) << c.what;
        fakevisa::clearEvents();
    }
}

TEST(Settings, OnlyTheRQ521ServesAnythingButTheIPAddress) {
    for (uint16_t model : {KORVAX_MODEL_RQ520, KORVAX_MODEL_RQ520B, KORVAX_MODEL_RQ522,
                           KORVAX_MODEL_RQ523, KORVAX_MODEL_RQ523B}) {
        const auto f = installChassis(model);
        uint32_t out = kUntouched;
        char text[16] = "untouched";
        for (const auto &op : rq521Ops())
            EXPECT_EQ(op.call(f.handle, &out, text), KORVAX_ERR_NOT_SUPPORTED) << op.name;
        EXPECT_EQ(KORVAX_SetLANMode(f.handle, 1), KORVAX_ERR_NOT_SUPPORTED);
        EXPECT_TRUE(fakevisa::events().empty()) << std::hex << model;
        EXPECT_EQ(out, kUntouched);
        EXPECT_STREQ(text, "untouched");
        EXPECT_EQ(KORVAX_SetIPAddress(f.handle, "192.168.1.10"), 0) << std::hex << model;
    }
}

TEST(Settings, SetIPAddressSendsAddressAndGatewayThenResetsAllButTheRQ521) {
    const Bytes ip10 = {13, 0, 0, 0, 192, 0, 168, 0, 1, 0, 10, 0, 192, 0, 168, 0, 1, 0, 1, 0};
    const Bytes ip254 = {13, 0, 0, 0, 192, 0, 168, 0, 1, 0, 254, 0, 192, 0, 168, 0, 1, 0, 1, 0};
    const Bytes reset = {14, 0};
    const struct {
        uint16_t model;
        const char *address;
        std::vector<Bytes> frames;
    } cases[] = {
        {KORVAX_MODEL_RQ520, "192.168.1.10", {ip10, reset}},
        {KORVAX_MODEL_RQ521, "192.168.1.10", {ip10}},
        {KORVAX_MODEL_RQ522, "192.168.1.254", {ip254, reset}},
        {KORVAX_MODEL_RQ523B, "192.168.1.10", {ip10, reset}},
    };
    for (const auto &c : cases) {
        const auto f = installChassis(c.model);
        EXPECT_EQ(KORVAX_SetIPAddress(f.handle, c.address), 0) << std::hex << c.model;
        EXPECT_EQ(fakevisa::writes(f.rsrc), c.frames) << std::hex << c.model;
    }
}

TEST(Settings, SetIPAddressJudgesTheAddressExchangeOnly) {
    const Bytes ip = {13, 0, 0, 0, 192, 0, 168, 0, 1, 0, 10, 0, 192, 0, 168, 0, 1, 0, 1, 0};
    for (const auto &fail : kFailures) {
        const auto f = installChassis(KORVAX_MODEL_RQ520);
        inject(*f.res, fail);
        EXPECT_EQ(KORVAX_SetIPAddress(f.handle, "192.168.1.10"), fail.code) << fail.what;
        const auto sent = fakevisa::writes(f.rsrc);
        EXPECT_TRUE(sent.empty() || sent == std::vector<Bytes>{ip}) << fail.what;
    }
    // The controller restarts on the reset; a lost reply to it is no failure.
    const auto f = installChassis(KORVAX_MODEL_RQ520);
    f.res->replies = {{reply({})}, {{}, VI_ERROR_TMO}};
    EXPECT_EQ(KORVAX_SetIPAddress(f.handle, "192.168.1.10"), 0);
    EXPECT_EQ(fakevisa::writes(f.rsrc).size(), 2u);
}

// A query's answer as text, so that numbers and the IP address share one table.
using TextQuery = std::function<int32_t(uint32_t handle, std::string &answer)>;
TextQuery number(int32_t (*fn)(uint32_t, uint32_t *)) {
    return [fn](uint32_t h, std::string &answer) {
        uint32_t v = kUntouched;
        const int32_t st = fn(h, &v);
        answer = std::to_string(v);
        return st;
    };
}
int32_t ipText(uint32_t h, std::string &answer) {
    char text[17];
    std::memset(text, '#', sizeof text);
    const int32_t st = KORVAX_GetCOMMIPAddr(h, text);
    EXPECT_EQ(text[16], '#') << "wrote past 16 bytes";
    text[16] = 0;
    answer = text;
    return st;
}

TEST(Settings, QueriesSendFourBytesAndDecodeTheirField) {
    const struct {
        const char *what;
        TextQuery call;
        uint8_t command;
        Bytes reply;
        std::string expected;
    } cases[] = {
        {"LAN mode auto", number(KORVAX_GetLANMode), 25, reply({{2, 1}, {3, 0xEE}}), "1"},
        {"LAN mode manual", number(KORVAX_GetLANMode), 25, reply({{2, 0}, {3, 0xEE}}), "0"},
        {"GPIB 30", number(KORVAX_GetGPIBAddress), 22, reply({{2, 30}, {3, 0xEE}}), "30"},
        {"baud 115200", number(KORVAX_GetBaudRate), 23, reply({{2, 0x00}, {3, 0xC2}, {4, 0x01}, {5, 0x00}}), "115200"},
        {"baud 9600", number(KORVAX_GetBaudRate), 23, reply({{2, 0x80}, {3, 0x25}, {6, 0xEE}}), "9600"},
        {"remote", number(KORVAX_GetControlMode), 5, reply({{2, 1}, {3, 0xEE}}), "1"},
        // The octets sit in the low bytes of four words.
        {"IP", ipText, 24, reply({{2, 192}, {3, 0xEE}, {4, 168}, {5, 0xEE}, {6, 1}, {7, 0xEE}, {8, 77}, {9, 0xEE}}), "192.168.1.77"},
        {"widest IP text", ipText, 24, reply({{2, 255}, {4, 255}, {6, 255}, {8, 255}}), "255.255.255.255"},
    };
    for (const auto &c : cases) {
        const auto f = installChassis(KORVAX_MODEL_RQ521);
        f.res->replies.push_back({c.reply});
        std::string answer;
        EXPECT_EQ(c.call(f.handle, answer), 0) << c.what;
        EXPECT_EQ(answer, c.expected) << c.what;
        EXPECT_EQ(fakevisa::writes(f.rsrc), std::vector<Bytes>{Bytes({c.command, 0, 0, 0})}) << c.what;
    }
}

TEST(Settings, SettingFramesCarryTheirValueInWord2) {
    const struct {
        const char *what;
        std::function<int32_t(uint32_t)> call;
        std::vector<Bytes> frames;
    } cases[] = {
        {"GPIB 30", [](uint32_t h) { return KORVAX_SetGPIBAddress(h, 30); }, {{20, 0, 0, 0, 30, 0}}},
        {"GPIB 1", [](uint32_t h) { return KORVAX_SetGPIBAddress(h, 1); }, {{20, 0, 0, 0, 1, 0}}},
        {"baud 115200", [](uint32_t h) { return KORVAX_SetBaudRate(h, 115200); }, {{21, 0, 0, 0, 0x00, 0xC2, 0x01, 0x00}}},
        {"baud 9600", [](uint32_t h) { return KORVAX_SetBaudRate(h, 9600); }, {{21, 0, 0, 0, 0x80, 0x25, 0, 0}}},
        {"remote", [](uint32_t h) { return KORVAX_SetControlMode(h, 1); }, {{5, 0, 0, 0}, {6, 0, 0, 0, 1, 0}}},
        // Not checked by the library: only the low 16 bits go out.
        {"mode 0x20003", [](uint32_t h) { return KORVAX_SetControlMode(h, 0x20003); }, {{5, 0, 0, 0}, {6, 0, 0, 0, 3, 0}}},
        // The one successful LAN-mode change of the suite: it waits for the
        // controller's network restart.
        {"LAN auto", [](uint32_t h) { return KORVAX_SetLANMode(h, 1); }, {{48, 0, 0, 0, 1, 0}}},
    };
    testsupport::takeSleeps();
    for (const auto &c : cases) {
        const auto f = installChassis(KORVAX_MODEL_RQ521);
        EXPECT_EQ(c.call(f.handle), 0) << c.what;
        EXPECT_EQ(fakevisa::writes(f.rsrc), c.frames) << c.what;
    }
    // Only the LAN-mode change waits, six seconds for the network restart.
    EXPECT_EQ(testsupport::takeSleeps(), std::vector<uint32_t>{6});
}

TEST(Settings, SetControlModeAsksFirstAndSwitchesOnlyOnAChange) {
    const Bytes ask = {5, 0, 0, 0};
    const struct {
        const char *what;
        fakevisa::Reply current;
        uint32_t requested;
        int32_t expected;
        std::vector<Bytes> frames;
    } cases[] = {
        {"already remote", {reply({{2, 1}})}, 1, KORVAX_ERR_SAME_MODE, {ask}},
        {"already local", {reply({{2, 0}})}, 0, KORVAX_ERR_SAME_MODE, {ask}},
        {"remote to local", {reply({{2, 1}})}, 0, 0, {ask, {6, 0, 0, 0, 0, 0}}},
        {"ask not answered", {{}, VI_ERROR_TMO}, 1, KORVAX_ERR_RECEIVE, {ask}},
        {"ask refused", {Bytes{0xFF, 0xFF, 0xFF, 0xFF}}, 1, KORVAX_ERR_USB_ADAPTER, {ask}},
    };
    for (const auto &c : cases) {
        const auto f = installChassis(KORVAX_MODEL_RQ521);
        f.res->replies.push_back(c.current);
        EXPECT_EQ(KORVAX_SetControlMode(f.handle, c.requested), c.expected) << c.what;
        EXPECT_EQ(fakevisa::writes(f.rsrc), c.frames) << c.what;
    }
}

TEST(Settings, ExchangeFailuresPassThroughAndLeaveOutputsAlone) {
    for (const auto &op : rq521Ops()) {
        for (const auto &fail : kFailures) {
            const auto f = installChassis(KORVAX_MODEL_RQ521);
            inject(*f.res, fail);
            uint32_t out = kUntouched;
            char text[16] = "untouched";
            EXPECT_EQ(op.call(f.handle, &out, text), fail.code) << op.name << ", " << fail.what;
            EXPECT_EQ(out, kUntouched) << op.name;
            EXPECT_STREQ(text, "untouched") << op.name;
            EXPECT_FALSE(anyBaudChange(fakevisa::events())) << op.name;
        }
    }
    // A failed LAN-mode change returns at once (no wait for a restart).
    for (const auto &fail : kFailures) {
        const auto f = installChassis(KORVAX_MODEL_RQ521);
        inject(*f.res, fail);
        EXPECT_EQ(KORVAX_SetLANMode(f.handle, 0), fail.code) << fail.what;
    }
}

TEST(Settings, SessionFollowsTheBaudRateOnlyAfterTheInstrumentTookIt) {
    const auto f = installChassis(KORVAX_MODEL_RQ521);
    // Even a session that refuses the rate does not undo the instrument's change.
    f.res->refusedBauds = {38400};
    for (uint32_t rate : {57600u, 38400u}) {
        fakevisa::clearEvents();
        EXPECT_EQ(KORVAX_SetBaudRate(f.handle, rate), 0);
        const auto ev = fakevisa::events();
        ASSERT_EQ(ev.size(), 3u);
        EXPECT_EQ(ev[0].op, fakevisa::Op::Write);
        EXPECT_EQ(ev[1].op, fakevisa::Op::Read);
        EXPECT_EQ(ev[2].op, fakevisa::Op::SetAttribute);
        EXPECT_EQ(ev[2].session, f.handle);
        EXPECT_EQ(ev[2].attr, VI_ATTR_ASRL_BAUD);
        EXPECT_EQ(ev[2].value, rate);
    }
}

TEST(Settings, BaudRateLockIsFreeAfterEveryOutcome) {
    auto f = installChassis(KORVAX_MODEL_RQ521);
    const struct {
        const char *what;
        std::function<int32_t()> call;
        int32_t expected;
    } cases[] = {
        {"rate 4800", [&] { return KORVAX_SetBaudRate(f.handle, 4800); }, KORVAX_ERR_BAUDRATE},
        {"unknown handle", [&] { return KORVAX_SetBaudRate(kUnknownHandle, 9600); }, KORVAX_ERR_HANDLE},
        {"other model", [&] {
             f.rec->deviceType = KORVAX_MODEL_RQ522;
             const int32_t st = KORVAX_SetBaudRate(f.handle, 9600);
             f.rec->deviceType = KORVAX_MODEL_RQ521;
             return st;
         }, KORVAX_ERR_NOT_SUPPORTED},
        {"write fails", [&] { f.res->failWrites = 1; return KORVAX_SetBaudRate(f.handle, 9600); }, KORVAX_ERR_SEND},
        {"success", [&] { return KORVAX_SetBaudRate(f.handle, 9600); }, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.call(), c.expected) << c.what;
        // A lock left held would block this thread for good (the test hangs).
        int32_t other = 1;
        std::thread t([&] { other = KORVAX_SetBaudRate(f.handle, 19200); });
        t.join();
        EXPECT_EQ(other, 0) << "after " << c.what;
    }
}

}  // namespace
