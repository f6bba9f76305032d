// The network transports at the VISA level: when a socket read ends, how
// long a silent instrument is waited for, and what a refused connection
// says. The instruments are scripted TCP servers on loopback or korvax-sim.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "support/rpc_client.h"
#include "support/sim_server.h"
#include "visa/net/socket_io.h"
#include "visa-sim/simulation.h"
#include "visa/visa.h"

namespace {

using namespace korvax;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

long msSince(Clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// Answers the first request on one connection with pieces sent `gapMs`
// apart, then keeps the connection open until the test is done.
class ScriptedInstrument {
public:
    ScriptedInstrument(std::vector<Bytes> pieces, int gapMs) {
        listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        ::listen(listener_.get(), 1);
        socklen_t len = sizeof addr;
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr *>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this, pieces = std::move(pieces), gapMs] {
            net::UniqueFd c(::accept(listener_.get(), nullptr, nullptr));
            std::array<uint8_t, 4096> request;
            std::size_t n = 0;
            if (net::receiveSome(c.get(), request, net::Deadline::after(3000), n) != net::IoResult::Ok)
                return;
            for (const Bytes &p : pieces) {
                std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
                net::sendAll(c.get(), p, net::Deadline::after(1000));
            }
            // Hold the connection until the client is done (bounded).
            net::receiveSome(c.get(), request, net::Deadline::after(3000), n);
        });
    }
    ~ScriptedInstrument() { thread_.join(); }
    uint16_t port() const { return port_; }

private:
    net::UniqueFd listener_;
    uint16_t port_ = 0;
    std::thread thread_;
};

Bytes filled(std::size_t n, uint8_t value) {
    return Bytes(n, value);
}

class NetworkVisa : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(viOpenDefaultRM(&rm_), VI_SUCCESS); }
    void TearDown() override {
        viClose(rm_);
        visa::clearDeclared();
    }
    ViSession open(const std::string &rsrc, ViStatus expected = VI_SUCCESS) {
        ViSession vi = VI_NULL;
        EXPECT_EQ(viOpen(rm_, rsrc.c_str(), VI_NO_LOCK, 0, &vi), expected) << rsrc;
        return vi;
    }
    ViSession rm_ = VI_NULL;
};

TEST_F(NetworkVisa, SocketReadEndsAtTheFirstRuleThatHolds) {
    const Bytes binaryRequest = {11, 0, 0, 0};
    const Bytes textRequest = {'*', 'I', 'D', 'N', '?', '\n'};
    Bytes withLineFeed = filled(400, 0x11);
    withLineFeed[9] = '\n';
    struct Case {
        const char *name;
        Bytes request;
        std::vector<Bytes> pieces;
        int gapMs;
        bool termChar;
        ViUInt32 count;
        ViStatus status;
        ViUInt32 got;
    };
    const Case cases[] = {
        {"binary reply in three slow pieces", binaryRequest,
         {filled(100, 1), filled(250, 2), filled(50, 3)}, 40, false, 1000, VI_SUCCESS, 400},
        {"binary reply a byte at a time", binaryRequest,
         std::vector<Bytes>(400, Bytes{7}), 0, false, 1000, VI_SUCCESS, 400},
        {"binary reply with a line feed inside", binaryRequest, {withLineFeed}, 0, false, 1000,
         VI_SUCCESS, 400},
        {"termination character when enabled", binaryRequest, {withLineFeed}, 0, true, 1000,
         VI_SUCCESS_TERM_CHAR, 10},
        {"text reply split before its line feed", textRequest,
         {{'Q', 'M', ',', 'R', 'Q'}, {'5', '2', '2', '\n'}}, 40, false, 1000, VI_SUCCESS, 9},
        {"count reached first", binaryRequest, {filled(400, 5)}, 0, false, 100,
         VI_SUCCESS_MAX_CNT, 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedInstrument instrument(c.pieces, c.gapMs);
        const ViSession vi = open("TCPIP0::127.0.0.1::" + std::to_string(instrument.port()) + "::SOCKET");
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 3000), VI_SUCCESS);
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, c.termChar), VI_SUCCESS);
        ViUInt32 n = 0;
        ASSERT_EQ(viWrite(vi, c.request.data(), static_cast<ViUInt32>(c.request.size()), &n), VI_SUCCESS);
        std::vector<ViByte> buffer(c.count);
        const auto start = Clock::now();
        EXPECT_EQ(viRead(vi, buffer.data(), c.count, &n), c.status);
        EXPECT_EQ(n, c.got);
        // Never the timeout: the pieces take well under a second.
        EXPECT_LT(msSince(start), 2500);
        viClose(vi);
    }
}

TEST_F(NetworkVisa, SocketReadOfTheRestAfterTheCount) {
    ScriptedInstrument instrument({filled(400, 9)}, 0);
    const ViSession vi = open("TCPIP0::127.0.0.1::" + std::to_string(instrument.port()) + "::SOCKET");
    const Bytes request = {8, 0, 0, 0};
    ViUInt32 n = 0;
    ASSERT_EQ(viWrite(vi, request.data(), 4, &n), VI_SUCCESS);
    std::array<ViByte, 1000> buffer{};
    EXPECT_EQ(viRead(vi, buffer.data(), 150, &n), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(n, 150u);
    EXPECT_EQ(viRead(vi, buffer.data(), 1000, &n), VI_SUCCESS);
    EXPECT_EQ(n, 250u);
    viClose(vi);
}

// A server that stopped (SIGSTOP) accepts nothing and answers nothing:
// the call fails with VI_ERROR_TMO after the timeout, and not much later.
TEST_F(NetworkVisa, SilentInstrumentTimesOutWithinTwiceTheTimeout) {
    korvax::testing::SimServer server("[TCPIP0::127.0.0.1::inst0::INSTR]\nmodel = RQ522\n"
                                      "[TCPIP0::127.0.0.1::{raw}::SOCKET]\nmodel = RQ522\n",
                                      2);
    const uint16_t pm = server.portmapperPort();
    const uint16_t raw = server.rawPort();
    visa::declareInstrument("TCPIP0::127.0.0.1::inst0::INSTR", pm);
    constexpr ViUInt32 kTimeout = 300;
    const std::string names[] = {"TCPIP0::127.0.0.1::inst0::INSTR",
                                 "TCPIP0::127.0.0.1::" + std::to_string(raw) + "::SOCKET"};
    for (const std::string &rsrc : names) {
        SCOPED_TRACE(rsrc);
        const ViSession vi = open(rsrc);
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, kTimeout), VI_SUCCESS);
        server.pause();
        const Bytes request = {11, 0, 0, 0};
        std::array<ViByte, 400> reply{};
        ViUInt32 n = 0;
        const auto start = Clock::now();
        ViStatus st = viWrite(vi, request.data(), 4, &n);
        if (st == VI_SUCCESS) st = viRead(vi, reply.data(), 400, &n);
        const long elapsed = msSince(start);
        EXPECT_EQ(st, VI_ERROR_TMO);
        EXPECT_GE(elapsed, static_cast<long>(kTimeout));
        EXPECT_LT(elapsed, static_cast<long>(2 * kTimeout));
        server.resume();
        viClose(vi);
    }
}

TEST_F(NetworkVisa, RefusedOrAbsentInstrumentIsNotFound) {
    const uint16_t nobody = korvax::testing::freeLoopbackPort();
    visa::declareInstrument("TCPIP0::127.0.0.1::inst0::INSTR", nobody);
    korvax::testing::SimServer server("[TCPIP0::127.0.0.2::inst0::INSTR]\nmodel = RQ521\n", 1);
    const uint16_t pm = server.portmapperPort();
    visa::declareInstrument("TCPIP0::127.0.0.2::inst0::INSTR", pm);
    struct Case {
        std::string rsrc;
        ViStatus status;
    };
    const Case cases[] = {
        {"TCPIP0::127.0.0.1::" + std::to_string(nobody) + "::SOCKET", VI_ERROR_RSRC_NFOUND},
        {"TCPIP0::127.0.0.1::inst0::INSTR", VI_ERROR_RSRC_NFOUND},    // no portmapper
        {"TCPIP0::127.0.0.2::inst7::INSTR", VI_ERROR_RSRC_NFOUND},    // no such device
        {"TCPIP0::127.0.0.2::inst0::INSTR", VI_SUCCESS},
        {"TCPIP0::127.0.0.1::0::SOCKET", VI_ERROR_INV_RSRC_NAME},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rsrc);
        const auto start = Clock::now();
        const ViSession vi = open(c.rsrc, c.status);
        EXPECT_LT(msSince(start), 1000);
        if (vi != VI_NULL) viClose(vi);
    }
}

TEST_F(NetworkVisa, Vxi11SessionFeaturesAndAttributes) {
    korvax::testing::SimServer server("[TCPIP0::127.0.0.1::inst0::INSTR]\nmodel = RQ521\n", 1);
    const uint16_t pm = server.portmapperPort();
    setenv("KORVAX_VXI11_PORTMAPPER_PORT", std::to_string(pm).c_str(), 1);
    const ViSession a = open("TCPIP::127.0.0.1::INSTR");
    const ViSession b = open("TCPIP0::127.0.0.1::inst0::INSTR");
    unsetenv("KORVAX_VXI11_PORTMAPPER_PORT");
    ViUInt16 stb = 0xFFFF;
    EXPECT_EQ(viReadSTB(a, &stb), VI_SUCCESS);
    EXPECT_EQ(stb, 0);
    const Bytes idn = {'*', 'I', 'D', 'N', '?', '\n'};
    ViUInt32 n = 0;
    ASSERT_EQ(viWrite(a, idn.data(), 6, &n), VI_SUCCESS);
    EXPECT_EQ(viReadSTB(a, &stb), VI_SUCCESS);
    EXPECT_EQ(stb, 0x10);  // message available
    EXPECT_EQ(viClear(a), VI_SUCCESS);
    std::array<ViByte, 64> buf{};
    EXPECT_EQ(viRead(a, buf.data(), 64, &n), VI_ERROR_TMO);  // cleared: nothing to read
    EXPECT_EQ(viAssertTrigger(a, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);

    // An exclusive lock keeps the other session out, here and on the device.
    ViChar key[256];
    EXPECT_EQ(viLock(a, VI_EXCLUSIVE_LOCK, 0, nullptr, key), VI_SUCCESS);
    EXPECT_EQ(viWrite(b, idn.data(), 6, &n), VI_ERROR_RSRC_LOCKED);
    EXPECT_EQ(viLock(b, VI_EXCLUSIVE_LOCK, 50, nullptr, key), VI_ERROR_TMO);
    EXPECT_EQ(viUnlock(a), VI_SUCCESS);
    EXPECT_EQ(viUnlock(a), VI_ERROR_SESN_NLOCKED);
    EXPECT_EQ(viWrite(b, idn.data(), 6, &n), VI_SUCCESS);

    ViChar text[256];
    ViUInt16 type = 0, port = 0;
    EXPECT_EQ(viGetAttribute(a, VI_ATTR_RSRC_CLASS, text), VI_SUCCESS);
    EXPECT_STREQ(text, "INSTR");
    EXPECT_EQ(viGetAttribute(a, VI_ATTR_TCPIP_DEVICE_NAME, text), VI_SUCCESS);
    EXPECT_STREQ(text, "inst0");
    EXPECT_EQ(viGetAttribute(a, VI_ATTR_INTF_TYPE, &type), VI_SUCCESS);
    EXPECT_EQ(type, VI_INTF_TCPIP);
    EXPECT_EQ(viGetAttribute(a, VI_ATTR_TCPIP_PORT, &port), VI_SUCCESS);
    EXPECT_NE(port, 0);
    EXPECT_EQ(viStatusDesc(a, VI_ERROR_TMO, text), VI_SUCCESS);
    EXPECT_EQ(std::string(text).rfind("VI_ERROR_TMO", 0), 0u);
    viClose(a);
    viClose(b);
}

// A device_write the device refuses fails the viWrite itself, which the
// library reports as a send failure, not as a receive failure of the read
// after it.
TEST_F(NetworkVisa, Vxi11WriteTheDeviceRefusesFailsTheWrite) {
    korvax::testing::SimServer server("[TCPIP0::127.0.0.1::inst0::INSTR]\nmodel = RQ521\n", 1);
    visa::declareInstrument("TCPIP0::127.0.0.1::inst0::INSTR", server.portmapperPort());
    const ViSession vi = open("TCPIP0::127.0.0.1::inst0::INSTR");
    korvax::testing::RpcClient other("127.0.0.1", server.portmapperPort());
    ASSERT_NE(other.link("inst0", /*lock=*/true), 0u);
    const Bytes idn = {'*', 'I', 'D', 'N', '?', '\n'};
    ViUInt32 n = 99;
    EXPECT_EQ(viWrite(vi, idn.data(), 6, &n), VI_ERROR_RSRC_LOCKED);
    EXPECT_EQ(n, 0u);
    viClose(vi);
}

// viLock with a timeout waits for another client's device lock; while it
// waits, korvax-sim goes on serving everyone else.
TEST_F(NetworkVisa, Vxi11LockWaitsForTheHolder) {
    korvax::testing::SimServer server("[TCPIP0::127.0.0.1::inst0::INSTR]\nmodel = RQ521\n"
                                      "[TCPIP0::127.0.0.1::inst1::INSTR]\nmodel = RQ523\n",
                                      2);
    visa::declareInstrument("TCPIP0::127.0.0.1::inst0::INSTR", server.portmapperPort());
    const ViSession vi = open("TCPIP0::127.0.0.1::inst0::INSTR");
    korvax::testing::RpcClient holder("127.0.0.1", server.portmapperPort());
    const uint32_t held = holder.link("inst0", /*lock=*/true);
    ASSERT_NE(held, 0u);
    ViStatus locked = VI_ERROR_SYSTEM_ERROR;
    std::thread waiter([&] { locked = viLock(vi, VI_EXCLUSIVE_LOCK, 5000, nullptr, nullptr); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    korvax::testing::RpcClient other("127.0.0.1", server.portmapperPort());
    EXPECT_NE(other.link("inst1"), 0u);
    net::vxi11::ErrorResp unlocked;
    ASSERT_TRUE(holder.call(net::vxi11::kDeviceUnlock, net::vxi11::LinkParms{held}, unlocked));
    EXPECT_EQ(unlocked.error, net::vxi11::kNoError);
    waiter.join();
    EXPECT_EQ(locked, VI_SUCCESS);
    // Now the holder waits in vain, up to its lock timeout.
    net::vxi11::ErrorResp again;
    ASSERT_TRUE(holder.call(net::vxi11::kDeviceLock,
                            net::vxi11::LockParms{held, net::vxi11::kFlagWaitLock, 100}, again));
    EXPECT_EQ(again.error, net::vxi11::kDeviceLocked);
    viClose(vi);
}

// A chassis with a reply delay, served by korvax-sim: its answer is waited
// for up to the session's timeout and can still be read after a timed-out
// read; a chassis with drop-after drops the connection once, and the next
// write gets through on a new one.
TEST_F(NetworkVisa, DelayedRepliesAndADroppedConnectionOverTheNetwork) {
    const char *chassis = "model = RQ523\nreply-delay-ms = 300\ndrop-after = 1\n";
    korvax::testing::SimServer server(std::string("[TCPIP0::127.0.0.1::inst0::INSTR]\n") + chassis +
                                          "[TCPIP0::127.0.0.1::{raw}::SOCKET]\n" + chassis,
                                      2);
    visa::declareInstrument("TCPIP0::127.0.0.1::inst0::INSTR", server.portmapperPort());
    const std::string names[] = {"TCPIP0::127.0.0.1::inst0::INSTR",
                                 "TCPIP0::127.0.0.1::" + std::to_string(server.rawPort()) + "::SOCKET"};
    const Bytes idn = {'*', 'I', 'D', 'N', '?', '\n'};
    for (const std::string &rsrc : names) {
        SCOPED_TRACE(rsrc);
        const ViSession vi = open(rsrc);
        std::array<ViByte, 400> reply{};
        ViUInt32 n = 0;
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 50), VI_SUCCESS);
        ASSERT_EQ(viWrite(vi, idn.data(), 6, &n), VI_SUCCESS);
        EXPECT_EQ(viRead(vi, reply.data(), 400, &n), VI_ERROR_TMO);
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 3000), VI_SUCCESS);
        EXPECT_EQ(viRead(vi, reply.data(), 400, &n), VI_SUCCESS);
        EXPECT_EQ(std::string(reply.begin(), reply.begin() + 3), "QM,");
        // The second request is dropped with its connection: over VXI-11
        // the write fails, over a raw socket the read after it.
        ViStatus st = viWrite(vi, idn.data(), 6, &n);
        if (st == VI_SUCCESS) st = viRead(vi, reply.data(), 400, &n);
        EXPECT_EQ(st, VI_ERROR_CONN_LOST);
        ASSERT_EQ(viWrite(vi, idn.data(), 6, &n), VI_SUCCESS);
        EXPECT_EQ(viRead(vi, reply.data(), 400, &n), VI_SUCCESS);
        viClose(vi);
    }
}

TEST_F(NetworkVisa, ParseRsrcFillsEveryField) {
    struct Case {
        const char *name;
        ViStatus status;
        ViUInt16 type, board;
        const char *cls, *expanded;
    };
    const Case cases[] = {
        {"TCPIP::10.1.2.3::INSTR", VI_SUCCESS, VI_INTF_TCPIP, 0, "INSTR", "TCPIP0::10.1.2.3::inst0::INSTR"},
        {"tcpip3::host::gpib0,5", VI_SUCCESS, VI_INTF_TCPIP, 3, "INSTR", "TCPIP3::host::gpib0,5::INSTR"},
        {"TCPIP0::h::5025::SOCKET", VI_SUCCESS, VI_INTF_TCPIP, 0, "SOCKET", "TCPIP0::h::5025::SOCKET"},
        {"ASRL2::INSTR", VI_SUCCESS, VI_INTF_ASRL, 2, "INSTR", "ASRL2::INSTR"},
        {"GPIB1::12", VI_SUCCESS, VI_INTF_GPIB, 1, "INSTR", "GPIB1::12::INSTR"},
        {"USB0::0x1::0x2::SN::INSTR", VI_SUCCESS, VI_INTF_USB, 0, "INSTR", "USB0::0x1::0x2::SN::INSTR"},
        {"NOPE::1", VI_ERROR_INV_RSRC_NAME, 0, 0, "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ViUInt16 type = 0, board = 0;
        ViChar cls[256] = "", expanded[256] = "", alias[256] = "x";
        ASSERT_EQ(viParseRsrcEx(rm_, c.name, &type, &board, cls, expanded, alias), c.status);
        if (c.status != VI_SUCCESS) continue;
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(board, c.board);
        EXPECT_STREQ(cls, c.cls);
        EXPECT_STREQ(expanded, c.expanded);
        EXPECT_STREQ(alias, "");
    }
}

}  // namespace
