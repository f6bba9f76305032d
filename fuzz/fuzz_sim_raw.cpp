// Fuzzes korvax-sim's raw-socket side: the splitting of a byte stream into
// text and binary requests, fed from memory through a local connection
// (no sockets). The first byte picks the chassis model; the rest is a
// string of pieces, each a length byte and that many bytes, fed to the
// stream one by one (a length byte of 0 makes the client hang up and
// connect afresh). Whatever came before, a fresh client's "*IDN?" is
// answered.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string_view>

#include "sim/server/server.h"

using namespace korvax;
using Kind = simserver::Server::Kind;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    constexpr const char *kRsrc = "TCPIP0::127.0.0.1::5025::SOCKET";
    simserver::Server server(111, false);
    server.addDetachedSocket(kRsrc, std::make_shared<sim::Chassis>(sim::Config::forModel(
                                        sim::kModels[data[0] % sim::kModels.size()])));
    int c = server.connectLocal(Kind::Raw, kRsrc);
    if (c == 0) std::abort();
    std::span<const uint8_t> rest(data + 1, size - 1);
    while (!rest.empty()) {
        const std::size_t n = std::min<std::size_t>(rest[0], rest.size() - 1);
        const auto piece = rest.subspan(1, n);
        rest = rest.subspan(1 + n);
        if (n == 0) {
            server.disconnectLocal(c);
            c = server.connectLocal(Kind::Raw, kRsrc);
            continue;
        }
        net::Bytes answers;
        if (!server.feedLocal(c, piece, answers)) c = server.connectLocal(Kind::Raw, kRsrc);
    }
    server.disconnectLocal(c);
    c = server.connectLocal(Kind::Raw, kRsrc);
    constexpr std::string_view kIdn = "*IDN?\n";
    net::Bytes answers;
    if (!server.feedLocal(c, {reinterpret_cast<const uint8_t *>(kIdn.data()), kIdn.size()}, answers) ||
        answers.empty())
        std::abort();
    return 0;
}
