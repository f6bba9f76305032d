// libKORVAX on the built-in VISA library against korvax-sim on loopback,
// once over VXI-11 and once over a raw TCP socket: discovery, switching,
// queries and a firmware update; a server that dies mid-session and comes
// back; and what the application sees meanwhile.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "KORVAX.h"
#include "support/sim_server.h"
#include "visa-sim/simulation.h"

namespace {

using namespace korvax;
using Clock = std::chrono::steady_clock;

enum class Link { Vxi11, Socket };

class NetworkE2E : public ::testing::TestWithParam<Link> {
protected:
    void SetUp() override {
        unsetenv("KORVAX_VISA_LIBRARY");
        server_ = std::make_unique<korvax::testing::SimServer>(
            "[TCPIP0::127.0.0.1::inst0::INSTR]\nmodel = RQ522\nserial = 43210987\n"
            "[TCPIP0::127.0.0.1::{raw}::SOCKET]\nmodel = RQ522\nserial = 43210987\n",
            2);
        const uint16_t pm = server_->portmapperPort();
        const uint16_t raw = server_->rawPort();
        visa::clearDeclared();
        // Discovery lists INSTR resources only; a chassis on a raw port is
        // declared under an INSTR name with its socket port.
        if (GetParam() == Link::Vxi11)
            visa::declareInstrument(kName, pm);
        else
            visa::declareInstrument(kName, 0, raw);
    }
    void TearDown() override { visa::clearDeclared(); }

    uint32_t connectAndInit() {
        RsrcEntry found[KORVAX_MAX_CHASSIS]{};
        uint32_t count = 0;
        EXPECT_EQ(KORVAX_FindRsrc(found, &count), 0);
        EXPECT_EQ(count, 1u);
        EXPECT_STREQ(found[0].rsrcName, kName);
        EXPECT_EQ(found[0].typeCode, 0x043A);
        uint32_t handle = 0;
        EXPECT_EQ(KORVAX_Connect(kName, &handle), 0);
        int64_t opened = -1;
        EXPECT_EQ(KORVAX_OpenSpecifiedCard(handle, 0, &opened), 0);
        EXPECT_EQ(KORVAX_Init(handle, 0), 0);
        return handle;
    }

    static constexpr const char *kName = "TCPIP0::127.0.0.1::INSTR";
    std::unique_ptr<korvax::testing::SimServer> server_;
};

TEST_P(NetworkE2E, DiscoverySwitchingQueriesAndUpdate) {
    const uint32_t handle = connectAndInit();
    std::vector<uint32_t> state(1008, 0);
    state[0] = 0x5;
    state[63] = 1u << 13;  // row 1
    EXPECT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), static_cast<int32_t>(state.size())), 0);
    EXPECT_EQ(KORVAX_Clear(handle, 0), 400);

    uint32_t serials[30]{};
    EXPECT_EQ(KORVAX_GetSN(handle, serials, 30), 0);
    EXPECT_EQ(serials[0], 43210987u);
    char versions[40]{};
    EXPECT_EQ(KORVAX_GetSWVersion(handle, versions, sizeof versions), 0);
    EXPECT_STREQ(versions, "3.08");
    char reply[400]{};
    KORVAX_SCPIQuery(handle, "*IDN?", reply);
    EXPECT_NE(std::string(reply).find("RQ522"), std::string::npos) << reply;

    // One file per process: ctest runs the link variants side by side.
    const std::string image =
        ::testing::TempDir() + "korvax-net-fw-" + std::to_string(::getpid()) + ".bin";
    {
        std::ofstream out(image, std::ios::binary);
        for (int i = 0; i < 1000; ++i) out.put(static_cast<char>(i * 7));
    }
    EXPECT_EQ(KORVAX_OnlineUpdate(handle, image.c_str()), 0);
    std::remove(image.c_str());
}

// The server dies between two calls: the next exchange fails at once with
// a send or receive error, not after a hang. Once it runs again, the same
// handle works: the VISA session connects anew on its next write.
TEST_P(NetworkE2E, ServerKilledMidSessionThenBack) {
    const uint32_t handle = connectAndInit();
    std::vector<uint32_t> state(1008, 0);
    state[3] = 1;
    ASSERT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), 1008), 0);

    server_->stop(SIGKILL);
    const auto start = Clock::now();
    const int32_t st = KORVAX_OpMatrix(handle, 0, state.data(), 1008);
    EXPECT_TRUE(st == KORVAX_ERR_SEND || st == KORVAX_ERR_RECEIVE) << st;
    // Within the session's timeout (2 s by default).
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));

    server_->start();
    EXPECT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), 1008), 0);
    uint32_t serials[30]{};
    EXPECT_EQ(KORVAX_GetSN(handle, serials, 30), 0);
}

// Discovery skips a declared chassis that is not there, quickly.
TEST_P(NetworkE2E, DiscoveryPassesOverAnInstrumentThatIsGone) {
    server_->stop(SIGKILL);
    RsrcEntry found[KORVAX_MAX_CHASSIS]{};
    uint32_t count = 9;
    const auto start = Clock::now();
    EXPECT_EQ(KORVAX_FindRsrc(found, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
}

INSTANTIATE_TEST_SUITE_P(Links, NetworkE2E, ::testing::Values(Link::Vxi11, Link::Socket),
                         [](const auto &info) {
                             return info.param == Link::Vxi11 ? "Vxi11" : "Socket";
                         });

}  // namespace
