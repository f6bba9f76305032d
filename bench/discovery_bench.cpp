// How long KORVAX_FindRsrc takes on the built-in VISA library when serial
// ports are listed that nobody answers on. korvax-sim serves an RQ520 on a
// pseudo-terminal at 57600 baud (the last rate discovery tries, so it costs
// four timeouts before it answers) and an RQ522 and an RQ521 over VXI-11 on
// loopback; k more pseudo-terminals are opened here and never answered
// (each costs a timeout at every rate). Every discovery is timed once with
// one probe at a time and once with the probes side by side, next to the
// slowest single ports: the 57600 chassis alone and one silent port alone.
// With k = 16 there are 17 serial ports and 2 LAN chassis: fewer than the
// probe threads discovery may start (32), so every port gets its own.
//
//   build/bin/korvax_discovery_bench   (finds korvax-sim next to itself)
//
// Each discovery waits out the VISA's default timeout (2 s) many times, so
// every case runs once; --benchmark_repetitions=N repeats them.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "KORVAX.h"
#include "api/operations.h"
#include "support/host_support.h"
#include "support/sim_server.h"
#include "visa-sim/simulation.h"

namespace {

using namespace korvax;
namespace fs = std::filesystem;

constexpr int kMaxSilent = 16;

// A silent port: a pseudo-terminal whose master stays open (so the line
// does not hang up) and is never answered.
using SilentPty = hosttest::Pty;

struct Served {
    std::unique_ptr<testing::SimServer> server;
    std::string chassisPty;  // where the 57600 baud RQ520 answers
    std::vector<std::unique_ptr<SilentPty>> silent;
    fs::path dir;
};

bool servedStarted = false;

Served &served() {
    static Served s = [] {
        servedStarted = true;
        Served out;
        out.server = std::make_unique<testing::SimServer>(
            "[ASRL1::INSTR]\nmodel = RQ520\nbaud = 57600\n"
            "[TCPIP0::127.0.0.1::inst0::INSTR]\nmodel = RQ522\n"
            "[TCPIP0::127.0.0.1::inst1::INSTR]\nmodel = RQ521\n",
            3);
        std::istringstream lines(out.server->output());
        const std::string marker = "serving ASRL1::INSTR on ";
        for (std::string line; std::getline(lines, line);)
            if (line.rfind(marker, 0) == 0) out.chassisPty = line.substr(marker.size());
        for (int i = 0; i < kMaxSilent; ++i) out.silent.push_back(std::make_unique<SilentPty>());
        char dir[] = "/tmp/korvax-discovery-bench-XXXXXX";
        if (!::mkdtemp(dir)) throw std::runtime_error("mkdtemp");
        out.dir = dir;
        return out;
    }();
    return s;
}

// What the client's resource file lists, in this order.
struct Listing {
    bool lan = false;      // the two VXI-11 chassis
    int silent = 0;        // silent pseudo-terminals
    bool chassis = false;  // the 57600 baud chassis
    uint32_t expected() const { return (lan ? 2 : 0) + (chassis ? 1 : 0); }
};

// Makes the next resource manager read a file listing exactly `what`.
void listOnly(const Listing &what) {
    Served &s = served();
    std::ostringstream text;
    if (what.lan)
        for (const char *device : {"inst0", "inst1"})
            text << "[TCPIP0::127.0.0.1::" << device << "::INSTR]\nportmapper-port = "
                 << s.server->portmapperPort() << "\n";
    for (int i = 0; i < what.silent; ++i) text << "[ASRL" << s.silent[i]->path() << "::INSTR]\n";
    if (what.chassis) text << "[ASRL" << s.chassisPty << "::INSTR]\n";
    const fs::path file = s.dir / "resources.conf";
    std::ofstream(file) << text.str();
    setenv("KORVAX_VISA_RESOURCES", file.c_str(), 1);
    visa::clearDeclared();
}

void discover(benchmark::State &state, const Listing &what, uint32_t threads) {
    Served &s = served();
    if (s.chassisPty.empty()) {
        state.SkipWithError("korvax-sim printed no pseudo-terminal");
        return;
    }
    listOnly(what);
    SetDiscoveryThreads(threads);
    for (auto _ : state) {
        state.PauseTiming();
        // Drop the identity requests piled up by earlier discoveries.
        for (const auto &p : s.silent) ::tcflush(p->master(), TCIFLUSH);
        state.ResumeTiming();
        std::array<RsrcEntry, KORVAX_MAX_CHASSIS> entries{};
        uint32_t count = 0;
        if (KORVAX_FindRsrc(entries.data(), &count) != 0 || count != what.expected()) {
            state.SkipWithError("discovery did not find the served chassis");
            return;
        }
    }
    state.counters["ports"] = what.silent + (what.chassis ? 1 : 0);
}

// range(0): silent ports k; range(1): probe threads (1: one by one).
void BM_Discovery(benchmark::State &state) {
    discover(state, {true, static_cast<int>(state.range(0)), true},
             static_cast<uint32_t>(state.range(1)));
}

// The slowest single ports: the chassis answering at the last rate tried,
// and a port where nothing answers at any rate.
void BM_SlowestPortChassisAt57600(benchmark::State &state) {
    discover(state, {false, 0, true}, 1);
}
void BM_SlowestPortSilent(benchmark::State &state) {
    discover(state, {false, 1, false}, 1);
}

BENCHMARK(BM_SlowestPortChassisAt57600)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SlowestPortSilent)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Discovery)
    ->ArgNames({"k", "threads"})
    ->ArgsProduct({{0, 4, kMaxSilent}, {32, 1}})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char **argv) {
    unsetenv("KORVAX_VISA_LIBRARY");
    unsetenv("KORVAX_VXI11_PORTMAPPER_PORT");
    // Only the ports named in the resource file: never this machine's own.
    setenv("KORVAX_DEV_ROOT", "/nonexistent", 1);
    setenv("KORVAX_SYSFS_ROOT", "/nonexistent", 1);
    if (!std::getenv("KORVAX_SIM")) {
        const auto here = fs::canonical("/proc/self/exe").parent_path();
        setenv("KORVAX_SIM", (here / "korvax-sim").c_str(), 1);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (servedStarted) {  // nothing to stop when no case ran
        Served &s = served();
        s.server.reset();
        s.silent.clear();
        fs::remove_all(s.dir);
    }
    return 0;
}
