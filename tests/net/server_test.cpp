// korvax-sim as a server that stays up for months and as a test bench:
// its limits (clients, idle connections, memory per connection, running
// out of descriptors) and what it prints with --log-relays.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <sstream>

#include "sim/sim_support.h"
#include "support/rpc_client.h"
#include "support/sim_server.h"
#include "visa/visa.h"

namespace {

using namespace korvax;
using korvax::testing::RpcClient;
using korvax::testing::SimServer;

net::UniqueFd connectTo(uint16_t port) {
    net::UniqueFd fd;
    EXPECT_EQ(net::connectTcp("127.0.0.1", port, net::Deadline::after(2000), fd), net::IoResult::Ok);
    return fd;
}

// What comes back within `ms`: Ok with bytes, Closed, or Timeout.
net::IoResult awaitAnswer(int fd, uint32_t ms) {
    std::array<uint8_t, 512> buffer{};
    std::size_t n = 0;
    return net::receiveSome(fd, buffer, net::Deadline::after(ms), n);
}

const net::Bytes kIdn = {'*', 'I', 'D', 'N', '?', '\n'};

TEST(SimServerLimits, ClientsPastTheLimitAreRefusedAndIdleOnesClosed) {
    SimServer server("[TCPIP0::127.0.0.1::{raw}::SOCKET]\nmodel = RQ523\n", 1,
                     {"--max-clients", "2", "--idle-timeout", "1"});
    net::UniqueFd silent = connectTo(server.rawPort());
    net::UniqueFd slow = connectTo(server.rawPort());
    // Half a request, then a byte now and then: never a whole one.
    ASSERT_EQ(net::sendAll(slow.get(), std::span(kIdn).first(2), net::Deadline::after(1000)),
              net::IoResult::Ok);
    net::UniqueFd third = connectTo(server.rawPort());
    EXPECT_EQ(awaitAnswer(third.get(), 1000), net::IoResult::Closed);
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        net::sendAll(slow.get(), std::span(kIdn).subspan(2, 1), net::Deadline::after(100));
    }
    EXPECT_EQ(awaitAnswer(silent.get(), 3000), net::IoResult::Closed);
    EXPECT_EQ(awaitAnswer(slow.get(), 3000), net::IoResult::Closed);
    // Room again.
    net::UniqueFd next = connectTo(server.rawPort());
    ASSERT_EQ(net::sendAll(next.get(), kIdn, net::Deadline::after(1000)), net::IoResult::Ok);
    EXPECT_EQ(awaitAnswer(next.get(), 2000), net::IoResult::Ok);
}

TEST(SimServerLimits, MemoryPerConnectionIsBounded) {
    SimServer server("[TCPIP0::127.0.0.1::inst0::INSTR]\nmodel = RQ523\n"
                     "[TCPIP0::127.0.0.1::{raw}::SOCKET]\nmodel = RQ523\n",
                     2);
    // Unfinished VXI-11 messages: all the links of a connection together
    // hold a bounded amount.
    RpcClient client("127.0.0.1", server.portmapperPort());
    const net::Bytes piece(100 * 1024, 'x');
    std::vector<uint32_t> errors;
    for (int i = 0; i < 3; ++i) {
        const uint32_t link = client.link("inst0");
        ASSERT_NE(link, 0u);
        net::vxi11::WriteResp taken;
        ASSERT_TRUE(client.call(net::vxi11::kDeviceWrite,
                                net::vxi11::WriteParms{link, 1000, 0, 0, piece}, taken));
        errors.push_back(taken.error);
    }
    EXPECT_EQ(errors, (std::vector<uint32_t>{0, 0, net::vxi11::kOutOfResources}));

    // A raw client that never reads its answers (each 100 times its
    // request): the server stops taking its requests once the kernel's
    // buffers are full, instead of queuing answers without end, and keeps
    // the connection.
    net::UniqueFd greedy = connectTo(server.rawPort());
    const net::Bytes requests(64 * 1024, 8);  // slot-information requests, 4 bytes each
    net::IoResult r = net::IoResult::Ok;
    for (int i = 0; i < 1024 && r == net::IoResult::Ok; ++i)
        r = net::sendAll(greedy.get(), requests, net::Deadline::after(300));
    EXPECT_EQ(r, net::IoResult::Timeout);
    EXPECT_EQ(awaitAnswer(greedy.get(), 1000), net::IoResult::Ok);
}

// Out of descriptors, accept() keeps failing while the listener stays
// readable: the server pauses instead of spinning on it.
TEST(SimServerLimits, AcceptPausesWhenDescriptorsRunOut) {
    SimServer server("[TCPIP0::127.0.0.1::{raw}::SOCKET]\nmodel = RQ523\n", 1, {}, 16);
    std::vector<net::UniqueFd> clients;
    for (int i = 0; i < 30; ++i) clients.push_back(connectTo(server.rawPort()));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto cpuTicks = [&] {
        std::ifstream stat("/proc/" + std::to_string(server.pid()) + "/stat");
        std::string field;
        long ticks = 0;
        // utime and stime are fields 14 and 15 (the name, field 2, has no blanks here).
        for (int i = 1; i <= 15 && stat >> field; ++i)
            if (i >= 14) ticks += std::stol(field);
        return ticks;
    };
    const long before = cpuTicks();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(cpuTicks() - before, ::sysconf(_SC_CLK_TCK) / 4) << "spinning on accept";
    EXPECT_TRUE(server.running());
    // Served again once descriptors are free.
    clients.clear();
    net::UniqueFd next = connectTo(server.rawPort());
    ASSERT_EQ(net::sendAll(next.get(), kIdn, net::Deadline::after(1000)), net::IoResult::Ok);
    EXPECT_EQ(awaitAnswer(next.get(), 3000), net::IoResult::Ok);
}

// --log-relays prints what each applied frame left closed, in the korvax
// command's numbering: an RQ520's third card starts at column 21.
TEST(SimServerRelayLog, OneLinePerAppliedFrame) {
    SimServer server("[TCPIP0::127.0.0.1::{raw}::SOCKET]\nmodel = RQ520\n", 1, {"--log-relays"});
    sim::Chassis model(sim::Config::forModel(sim::kRQ520));
    const auto a = model.relaysOf(2, 0, 3);
    const auto b = model.relaysOf(0, 11, 9);
    std::set<sim::RelayBit> both(a.begin(), a.end());
    both.insert(b.begin(), b.end());
    const sim::Geometry g = model.geometry();
    net::UniqueFd client = connectTo(server.rawPort());
    for (const auto &closed : {both, std::set<sim::RelayBit>{}}) {
        ASSERT_EQ(net::sendAll(client.get(), simtest::relayFrame(g, closed), net::Deadline::after(1000)),
                  net::IoResult::Ok);
        std::array<uint8_t, 400> reply{};
        std::size_t got = 0;
        while (got < reply.size()) {
            std::size_t n = 0;
            ASSERT_EQ(net::receiveSome(client.get(), std::span(reply).subspan(got),
                                       net::Deadline::after(2000), n),
                      net::IoResult::Ok);
            got += n;
        }
    }
    const std::string rsrc = "TCPIP0::127.0.0.1::" + std::to_string(server.rawPort()) + "::SOCKET";
    const std::string output = server.output();
    EXPECT_NE(output.find(rsrc + " closed: 1!24 12!10\n" + rsrc + " closed: none\n"), std::string::npos)
        << output;
}

}  // namespace
