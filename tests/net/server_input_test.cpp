// korvax-sim against bad input on each of its ports: every case gets an
// RPC error reply, a chassis error reply or a closed connection within a
// bounded wait, and the server goes on serving everyone else.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <array>
#include <random>

#include "support/sim_server.h"
#include "visa/net/oncrpc.h"
#include "visa/net/vxi11.h"
#include "visa/net/socket_io.h"

namespace {

using namespace korvax::net;
using korvax::testing::SimServer;

enum class Port { Portmapper, Core, Raw };

enum class Outcome {
    Accepted,     // an accepted RPC reply with `stat`
    Denied,       // an RPC reply denying the call (RPC version)
    Closed,       // the server closed the connection, no reply
    ChassisError  // a 400-byte answer starting FF FF FF FF
};

struct Case {
    const char *name;
    Port port;
    Bytes bytes;
    bool endOfInput;  // shut our side down after sending
    Outcome outcome;
    AcceptStat stat = AcceptStat::Success;
    uint32_t deviceError = 0;  // first word of the result, when checked
};

Bytes call(uint32_t program, uint32_t version, uint32_t procedure, std::initializer_list<uint32_t> args,
           uint32_t rpcVersion = 2) {
    XdrWriter w;
    writeCall(w, {42, program, version, procedure});
    for (uint32_t a : args) w.u32(a);
    Bytes body = w.take();
    body[11] = static_cast<uint8_t>(rpcVersion);
    return frameRecord(body);
}

Bytes recordOf(Bytes payload, uint32_t header) {
    Bytes out = {static_cast<uint8_t>(header >> 24), static_cast<uint8_t>(header >> 16),
                 static_cast<uint8_t>(header >> 8), static_cast<uint8_t>(header)};
    out.reserve(4 + payload.size());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

class ServerInput : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = std::make_unique<SimServer>(
            "[TCPIP0::127.0.0.1::inst0::INSTR]\nmodel = RQ521\n"
            "[TCPIP0::127.0.0.1::{raw}::SOCKET]\nmodel = RQ522\n",
            2);
        pmPort_ = server_->portmapperPort();
        rawPort_ = server_->rawPort();
        corePort_ = getPort();
        ASSERT_NE(corePort_, 0);
    }

    UniqueFd connectTo(uint16_t port) {
        UniqueFd fd;
        EXPECT_EQ(connectTcp("127.0.0.1", port, Deadline::after(2000), fd), IoResult::Ok);
        return fd;
    }

    // Reads one record, or nothing when the peer closes first (2 s at most).
    std::optional<Bytes> readRecord(int fd) {
        RecordAssembler assembler(1 << 20);
        const Deadline deadline = Deadline::after(2000);
        std::array<uint8_t, 4096> chunk;
        Bytes record;
        while (assembler.next(record) != RecordAssembler::Result::Record) {
            std::size_t n = 0;
            const IoResult r = receiveSome(fd, chunk, deadline, n);
            EXPECT_NE(r, IoResult::Timeout) << "the server neither answered nor closed";
            if (r != IoResult::Ok) return std::nullopt;
            assembler.feed({chunk.data(), n});
        }
        return record;
    }

    uint16_t getPort() {
        UniqueFd fd = connectTo(pmPort_);
        const Bytes c = call(portmap::kProgram, 2, portmap::kGetPort,
                             {vxi11::kCoreProgram, vxi11::kCoreVersion, portmap::kProtoTcp, 0});
        EXPECT_EQ(sendAll(fd.get(), c, Deadline::after(2000)), IoResult::Ok);
        const auto record = readRecord(fd.get());
        if (!record) return 0;
        XdrReader r(*record);
        readReply(r);
        return static_cast<uint16_t>(r.u32());
    }

    uint16_t pmPort_ = 0, rawPort_ = 0, corePort_ = 0;
    std::unique_ptr<SimServer> server_;
};

TEST_F(ServerInput, BadInputGetsAnErrorReplyOrAClosedConnection) {
    const uint32_t core = vxi11::kCoreProgram;
    Bytes longName = call(core, 1, vxi11::kCreateLink, {1, 0, 0, 1000});
    const Case cases[] = {
        {"portmapper: unknown program", Port::Portmapper, call(100003, 2, 3, {}), false,
         Outcome::Accepted, AcceptStat::ProgUnavail},
        {"portmapper: version 9", Port::Portmapper, call(portmap::kProgram, 9, 3, {}), false,
         Outcome::Accepted, AcceptStat::ProgMismatch},
        {"portmapper: unknown procedure", Port::Portmapper, call(portmap::kProgram, 2, 7, {}),
         false, Outcome::Accepted, AcceptStat::ProcUnavail},
        {"portmapper: GETPORT without arguments", Port::Portmapper,
         call(portmap::kProgram, 2, portmap::kGetPort, {core}), false, Outcome::Accepted,
         AcceptStat::GarbageArgs},
        {"portmapper: RPC version 3", Port::Portmapper, call(portmap::kProgram, 2, 3, {}, 3),
         false, Outcome::Denied},
        {"portmapper: text instead of records", Port::Portmapper,
         Bytes{'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', '\r', '\n'}, false,
         Outcome::Closed},
        {"portmapper: record header of 2 GiB", Port::Portmapper, Bytes{0xFF, 0xFF, 0xFF, 0xFF},
         false, Outcome::Closed},
        {"portmapper: truncated record", Port::Portmapper, recordOf({1, 2, 3}, 0x80000064),
         true, Outcome::Closed},
        {"portmapper: a reply instead of a call", Port::Portmapper,
         [] {
             XdrWriter w;
             writeAcceptedReply(w, 1, AcceptStat::Success);
             return frameRecord(w.bytes());
         }(),
         false, Outcome::Closed},
        {"core: unknown program", Port::Core, call(0x0607B0, 1, 1, {}), false, Outcome::Accepted,
         AcceptStat::ProgUnavail},
        {"core: version 2", Port::Core, call(core, 2, vxi11::kCreateLink, {}), false,
         Outcome::Accepted, AcceptStat::ProgMismatch},
        {"core: unknown procedure", Port::Core, call(core, 1, 99, {}), false, Outcome::Accepted,
         AcceptStat::ProcUnavail},
        {"core: device name longer than allowed", Port::Core, longName, false, Outcome::Accepted,
         AcceptStat::GarbageArgs},
        {"core: write of 1 GiB announced", Port::Core,
         call(core, 1, vxi11::kDeviceWrite, {1, 0, 0, 8, 0x40000000}), false, Outcome::Accepted,
         AcceptStat::GarbageArgs},
        {"core: write on a link never made", Port::Core,
         call(core, 1, vxi11::kDeviceWrite, {77, 0, 0, 8, 0}), false, Outcome::Accepted,
         AcceptStat::Success, vxi11::kInvalidLinkId},
        {"core: read on a link never made", Port::Core,
         call(core, 1, vxi11::kDeviceRead, {77, 400, 0, 0, 0, 0}), false, Outcome::Accepted,
         AcceptStat::Success, vxi11::kInvalidLinkId},
        {"core: unknown device", Port::Core,
         [&] {
             XdrWriter w;
             writeCall(w, {5, core, 1, vxi11::kCreateLink});
             w.i32(1);
             w.boolean(false);
             w.u32(0);
             w.string("nosuch");
             return frameRecord(w.bytes());
         }(),
         false, Outcome::Accepted, AcceptStat::Success, vxi11::kDeviceNotAccessible},
        {"raw: an unknown command byte", Port::Raw, Bytes{0xEE, 1, 2, 3}, false,
         Outcome::ChassisError},
        {"raw: a text line that never ends", Port::Raw,
         [] {
             Bytes b(300, 'A');
             b[0] = '*';
             return b;
         }(),
         false, Outcome::ChassisError},
        {"raw: half a relay frame, then gone", Port::Raw, Bytes{19, 0, 0x10, 0x00, 1, 2}, true,
         Outcome::Closed},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const uint16_t port = c.port == Port::Portmapper ? pmPort_ : c.port == Port::Core ? corePort_ : rawPort_;
        UniqueFd fd = connectTo(port);
        ASSERT_EQ(sendAll(fd.get(), c.bytes, Deadline::after(2000)), IoResult::Ok);
        if (c.endOfInput) ::shutdown(fd.get(), SHUT_WR);
        if (c.port == Port::Raw) {
            std::array<uint8_t, 400> reply{};
            std::size_t got = 0;
            const Deadline deadline = Deadline::after(2000);
            IoResult r = IoResult::Ok;
            while (got < reply.size() && r == IoResult::Ok) {
                std::size_t n = 0;
                r = receiveSome(fd.get(), std::span(reply).subspan(got), deadline, n);
                got += n;
            }
            if (c.outcome == Outcome::Closed) {
                EXPECT_EQ(r, IoResult::Closed);
                EXPECT_EQ(got, 0u);
            } else {
                ASSERT_EQ(got, 400u);
                EXPECT_EQ(reply[0] & reply[1] & reply[2] & reply[3], 0xFF);
            }
            continue;
        }
        const auto record = readRecord(fd.get());
        if (c.outcome == Outcome::Closed) {
            EXPECT_FALSE(record);
            continue;
        }
        ASSERT_TRUE(record);
        XdrReader r(*record);
        const auto header = readReply(r);
        ASSERT_TRUE(header);
        EXPECT_EQ(header->accepted, c.outcome == Outcome::Accepted);
        if (c.outcome != Outcome::Accepted) continue;
        EXPECT_EQ(header->stat, c.stat);
        if (c.stat == AcceptStat::Success) {
            EXPECT_EQ(r.u32(), c.deviceError);
        }
    }
    // Still serving, on every port.
    EXPECT_TRUE(server_->running());
    EXPECT_EQ(getPort(), corePort_);
    UniqueFd raw = connectTo(rawPort_);
    const Bytes idn = {'*', 'I', 'D', 'N', '?', '\n'};
    ASSERT_EQ(sendAll(raw.get(), idn, Deadline::after(2000)), IoResult::Ok);
    std::array<uint8_t, 64> answer{};
    std::size_t n = 0;
    ASSERT_EQ(receiveSome(raw.get(), answer, Deadline::after(2000), n), IoResult::Ok);
    EXPECT_EQ(std::string(answer.begin(), answer.begin() + 3), "QM,");
}

TEST_F(ServerInput, ManyClientsAtOnceAndOneThatVanishesMidRequest) {
    // A client stuck half-way through a record holds nobody else up.
    UniqueFd stuck = connectTo(corePort_);
    const Bytes half = call(vxi11::kCoreProgram, 1, vxi11::kCreateLink, {1, 0, 0});
    ASSERT_EQ(sendAll(stuck.get(), std::span(half).first(half.size() - 4), Deadline::after(1000)),
              IoResult::Ok);
    std::vector<UniqueFd> clients;
    for (int i = 0; i < 20; ++i) clients.push_back(connectTo(rawPort_));
    const Bytes idn = {'*', 'I', 'D', 'N', '?', '\n'};
    for (auto &c : clients) ASSERT_EQ(sendAll(c.get(), idn, Deadline::after(1000)), IoResult::Ok);
    stuck.reset();  // gone without a word
    for (auto &c : clients) {
        std::array<uint8_t, 64> answer{};
        std::size_t n = 0;
        ASSERT_EQ(receiveSome(c.get(), answer, Deadline::after(2000), n), IoResult::Ok);
        EXPECT_EQ(answer[0], 'Q');
    }
    EXPECT_TRUE(server_->running());
}

TEST_F(ServerInput, StopsCleanlyOnSigterm) {
    server_->stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(server_->exitStatus()));
    EXPECT_EQ(WEXITSTATUS(server_->exitStatus()), 0);
}

}  // namespace

namespace {

// Calls of every device-core procedure with random arguments, and random
// bytes on the raw port: each call is answered (or its connection closed),
// and the server is still there at the end.
TEST_F(ServerInput, RandomArgumentsNeverBringItDown) {
    std::mt19937 random(12345);
    auto byte = [&] { return static_cast<uint8_t>(random() & 0xFF); };
    for (int i = 0; i < 300; ++i) {
        SCOPED_TRACE(i);
        XdrWriter w;
        const uint32_t procedure = 10 + static_cast<uint32_t>(random() % 17);
        writeCall(w, {static_cast<uint32_t>(i), vxi11::kCoreProgram, 1, procedure});
        // Small words make plausible link ids and lengths now and then.
        const int words = static_cast<int>(random() % 10);
        for (int k = 0; k < words; ++k)
            w.u32(random() % 3 == 0 ? random() % 8 : static_cast<uint32_t>(random()));
        UniqueFd core = connectTo(corePort_);
        ASSERT_EQ(sendAll(core.get(), frameRecord(w.bytes()), Deadline::after(1000)), IoResult::Ok);
        if (const auto record = readRecord(core.get())) {
            XdrReader r(*record);
            const auto header = readReply(r);
            ASSERT_TRUE(header);
            EXPECT_EQ(header->xid, static_cast<uint32_t>(i));
        }

        Bytes noise(1 + random() % 64);
        for (auto &b : noise) b = byte();
        UniqueFd raw = connectTo(rawPort_);
        ASSERT_EQ(sendAll(raw.get(), noise, Deadline::after(1000)), IoResult::Ok);
    }
    EXPECT_TRUE(server_->running());
    EXPECT_EQ(getPort(), corePort_);
}

}  // namespace
