// Switching round trips over loopback against korvax-sim serving an RQ522:
// KORVAX_OpMatrix through the built-in VISA library over a raw TCP socket
// and over VXI-11, side by side with a minimal raw-socket client in C
// sending a frame of the same command and length to the same server.
//
//   build/bin/korvax_network_bench   (finds korvax-sim next to itself)
#include <benchmark/benchmark.h>

#include <fcntl.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "KORVAX.h"
#include "minimal_client.h"
#include "support/sim_server.h"
#include "visa/net/socket_io.h"
#include "visa-sim/simulation.h"
#include "visa/visa.h"

namespace {

using namespace korvax;

struct Served {
    std::unique_ptr<testing::SimServer> server;
    uint16_t portmapper = 0;
    uint16_t raw = 0;
};

Served &served() {
    static Served s = [] {
        Served out;
        out.server = std::make_unique<testing::SimServer>(
            "[TCPIP0::127.0.0.1::inst0::INSTR]\nmodel = RQ522\n"
            "[TCPIP0::127.0.0.1::{raw}::SOCKET]\nmodel = RQ522\n",
            2);
        out.portmapper = out.server->portmapperPort();
        out.raw = out.server->rawPort();
        return out;
    }();
    return s;
}

// A handle on the served RQ522, reached the way `socket` says.
uint32_t connectRq522(bool socket) {
    Served &s = served();
    visa::clearDeclared();
    if (socket)
        visa::declareInstrument("TCPIP0::127.0.0.1::INSTR", 0, s.raw);
    else
        visa::declareInstrument("TCPIP0::127.0.0.1::INSTR", s.portmapper);
    // The discovery before each case probes this chassis alone, never the
    // machine's own ports.
    visa::restrictSearch({"TCPIP0::127.0.0.1::INSTR"});
    RsrcEntry found[KORVAX_MAX_CHASSIS]{};
    uint32_t count = 0;
    uint32_t handle = 0;
    int64_t opened = 0;
    if (KORVAX_FindRsrc(found, &count) != 0 || count != 1 ||
        KORVAX_Connect("TCPIP0::127.0.0.1::INSTR", &handle) != 0 ||
        KORVAX_OpenSpecifiedCard(handle, 0, &opened) != 0 || KORVAX_Init(handle, 0) != 0)
        return 0;
    return handle;
}

void OpMatrix(benchmark::State &state, bool socket) {
    const uint32_t handle = connectRq522(socket);
    if (handle == 0) {
        state.SkipWithError("cannot reach korvax-sim");
        return;
    }
    std::vector<uint32_t> words(1008, 0);
    words[0] = 1;  // one closed crosspoint
    for (auto _ : state) {
        if (KORVAX_OpMatrix(handle, 0, words.data(), 1008) != 0) {
            state.SkipWithError("switching failed");
            return;
        }
    }
}

void BM_OpMatrixRawSocket(benchmark::State &state) {
    OpMatrix(state, true);
}
void BM_OpMatrixVxi11(benchmark::State &state) {
    OpMatrix(state, false);
}

void BM_MinimalClientRawSocket(benchmark::State &state) {
    Served &s = served();
    net::UniqueFd fd;
    if (net::connectTcp("127.0.0.1", s.raw, net::Deadline::after(2000), fd) != net::IoResult::Ok) {
        state.SkipWithError("cannot reach korvax-sim");
        return;
    }
    // The minimal client blocks in recv like any plain program.
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    // Command 19, payload of 21 boards of 49 words, one relay bit set.
    std::vector<unsigned char> frame(4 + 21 * 49 * 2, 0);
    frame[0] = 19;
    frame[2] = static_cast<unsigned char>((21 * 49 * 2) & 0xFF);
    frame[3] = static_cast<unsigned char>((21 * 49 * 2) >> 8);
    frame[4 + 48 * 2] = 1;
    unsigned char reply[400];
    for (auto _ : state) {
        if (minimal_roundtrip(fd.get(), frame.data(), frame.size(), reply) != 0) {
            state.SkipWithError("round trip failed");
            return;
        }
    }
}

// The same frame through viWrite/viRead of the built-in VISA library alone.
void BM_VisaRawSocket(benchmark::State &state) {
    Served &s = served();
    ViSession rm = VI_NULL, vi = VI_NULL;
    viOpenDefaultRM(&rm);
    const std::string name = "TCPIP0::127.0.0.1::" + std::to_string(s.raw) + "::SOCKET";
    if (viOpen(rm, name.c_str(), VI_NO_LOCK, 0, &vi) != VI_SUCCESS) {
        state.SkipWithError("cannot reach korvax-sim");
        return;
    }
    std::vector<unsigned char> frame(4 + 21 * 49 * 2, 0);
    frame[0] = 19;
    frame[2] = static_cast<unsigned char>((21 * 49 * 2) & 0xFF);
    frame[3] = static_cast<unsigned char>((21 * 49 * 2) >> 8);
    frame[4 + 48 * 2] = 1;
    unsigned char reply[400];
    ViUInt32 n = 0;
    for (auto _ : state) {
        viWrite(vi, frame.data(), static_cast<ViUInt32>(frame.size()), &n);
        if (viRead(vi, reply, 400, &n) < 0) {
            state.SkipWithError("round trip failed");
            return;
        }
    }
    viClose(rm);
}

BENCHMARK(BM_MinimalClientRawSocket)->UseRealTime();
BENCHMARK(BM_VisaRawSocket)->UseRealTime();
BENCHMARK(BM_OpMatrixRawSocket)->UseRealTime();
BENCHMARK(BM_OpMatrixVxi11)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
    unsetenv("KORVAX_VISA_LIBRARY");
    setenv("KORVAX_VISA_RESOURCES", "", 1);
    // Off this machine's own serial and USB ports, as the tests are: the
    // discovery of each case names its chassis (restrictSearch), and these
    // keep any other search from reaching a real port.
    setenv("KORVAX_DEV_ROOT", "/nonexistent", 1);
    setenv("KORVAX_SYSFS_ROOT", "/nonexistent", 1);
    setenv("KORVAX_VISA_SERIAL_SCAN", "named", 1);
    if (!std::getenv("KORVAX_SIM")) {
        const auto here = std::filesystem::canonical("/proc/self/exe").parent_path();
        setenv("KORVAX_SIM", (here / "korvax-sim").c_str(), 1);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    served().server.reset();
    return 0;
}
