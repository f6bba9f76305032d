// Fuzzes korvax-sim's VXI-11 side: the portmapper and device core of one
// address serving two chassis, fed from memory through local connections
// (no sockets). The input is a string of steps, each a header byte, a
// two-byte little-endian length and that many bytes. The header's low two
// bits pick the connection (portmapper, or one of two to the core); bit 7
// makes that client hang up and connect afresh first. The bytes go in as
// one piece of the stream, so records arrive split and joined anyhow.
//
// Whatever comes in, every answer is a whole record holding an RPC reply,
// and once all clients have gone no link or lock outlives them: a new
// client can take the lock of either device.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "sim/server/server.h"
#include "visa/net/vxi11.h"

using namespace korvax;
using Kind = simserver::Server::Kind;

namespace {

constexpr const char *kHost = "127.0.0.1";

void checkAnswers(const net::Bytes &answers) {
    net::RecordAssembler records(net::vxi11::kMaxRecord);
    records.feed(answers);
    net::Bytes record;
    for (;;) {
        const auto r = records.next(record);
        if (r == net::RecordAssembler::Result::Oversized) std::abort();
        if (r == net::RecordAssembler::Result::Incomplete) break;
        net::XdrReader in(record);
        if (!net::readReply(in)) std::abort();
    }
    if (records.buffered() != 0) std::abort();  // half a record went out
}

// create_link with the lock taken at once, then device_lock: both must
// succeed on a device nobody holds.
void checkUnlocked(simserver::Server &server, const char *device) {
    const int c = server.connectLocal(Kind::Core, kHost);
    net::XdrWriter call;
    net::writeCall(call, {7, net::vxi11::kCoreProgram, net::vxi11::kCoreVersion,
                          net::vxi11::kCreateLink});
    net::encode(call, net::vxi11::CreateLinkParms{1, true, 0, device});
    net::Bytes answers;
    if (!server.feedLocal(c, net::frameRecord(call.bytes()), answers)) std::abort();
    net::RecordAssembler records(net::vxi11::kMaxRecord);
    records.feed(answers);
    net::Bytes record;
    if (records.next(record) != net::RecordAssembler::Result::Record) std::abort();
    net::XdrReader in(record);
    const auto reply = net::readReply(in);
    net::vxi11::CreateLinkResp made;
    if (!reply || reply->stat != net::AcceptStat::Success || !net::decode(in, made) ||
        made.error != net::vxi11::kNoError)
        std::abort();
    server.disconnectLocal(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    simserver::Server server(111, false);
    const auto model = [](std::size_t i) {
        return std::make_shared<sim::Chassis>(sim::Config::forModel(sim::kModels[i % sim::kModels.size()]));
    };
    if (!server.addDetachedVxi11("TCPIP0::127.0.0.1::inst0::INSTR", kHost, "inst0", 1024, model(0))
             .empty() ||
        !server.addDetachedVxi11("TCPIP0::127.0.0.1::inst1::INSTR", kHost, "inst1", 1024, model(1))
             .empty())
        std::abort();
    const Kind kinds[3] = {Kind::Portmapper, Kind::Core, Kind::Core};
    int connections[3];
    for (int i = 0; i < 3; ++i) connections[i] = server.connectLocal(kinds[i], kHost);

    std::span<const uint8_t> rest(data, size);
    while (rest.size() >= 3) {
        const uint8_t header = rest[0];
        const std::size_t wanted = rest[1] | std::size_t{rest[2]} << 8;
        const std::size_t n = std::min(wanted, rest.size() - 3);
        const auto piece = rest.subspan(3, n);
        rest = rest.subspan(3 + n);
        const int k = (header & 3) % 3;
        if ((header & 0x80) != 0 || connections[k] == 0) {
            server.disconnectLocal(connections[k]);
            connections[k] = server.connectLocal(kinds[k], kHost);
        }
        net::Bytes answers;
        if (!server.feedLocal(connections[k], piece, answers)) connections[k] = 0;
        checkAnswers(answers);
    }
    for (int c : connections) server.disconnectLocal(c);
    checkUnlocked(server, "inst0");
    checkUnlocked(server, "inst1");
    return 0;
}
