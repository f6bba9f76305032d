// Switching rate of several chassis switched at once, each from a thread of
// its own, against one chassis from one thread. The chassis are simulated
// RQ521s of the built-in VISA library that answer every request after 5 ms
// (resource-file key reply-delay-ms), about what a real chassis needs to
// operate its relays; only the session that waits for a reply waits. With a
// lock per chassis the rates add up; a lock shared by all chassis and held
// over the wait would keep the total at one chassis's rate.
//
//   build/bin/korvax_parallel_chassis_bench
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <array>
#include <string>

#include "KORVAX.h"
#include "visa-sim/simulation.h"

namespace {

constexpr int kChassis = 4;
constexpr uint32_t kReplyDelayMs = 5;
std::array<uint32_t, kChassis> handles{};

// Four simulated RQ521 chassis in remote control, sub-unit 0 identified and
// initialised, and nothing else for discovery to probe.
bool install() {
    setenv("KORVAX_VISA_RESOURCES", "", 1);
    // Off this machine's own serial and USB ports, as the tests are.
    setenv("KORVAX_DEV_ROOT", "/nonexistent", 1);
    setenv("KORVAX_SYSFS_ROOT", "/nonexistent", 1);
    setenv("KORVAX_VISA_SERIAL_SCAN", "named", 1);
    std::array<std::string, kChassis> names;
    for (int i = 0; i < kChassis; ++i) {
        names[i] = "TCPIP0::bench-" + std::to_string(i) + "::INSTR";
        korvax::sim::Config config = korvax::sim::Config::forModel(KORVAX_MODEL_RQ521);
        config.controlMode = 1;
        config.replyDelayMs = kReplyDelayMs;
        korvax::visa::declareSimulated(names[i], config);
    }
    korvax::visa::restrictSearch({names.begin(), names.end()});
    for (int i = 0; i < kChassis; ++i) {
        int64_t opened = 0;
        if (KORVAX_Connect(names[i].c_str(), &handles[i]) != 0 ||
            KORVAX_OpenSpecifiedCard(handles[i], 0, &opened) != 0 || KORVAX_Init(handles[i], 0) != 0)
            return false;
    }
    return true;
}

// Thread k switches chassis k.
void switching(benchmark::State &bs) {
    const uint32_t handle = handles[bs.thread_index()];
    std::array<uint32_t, 15> state{};
    int64_t frames = 0;
    for (auto _ : bs) {
        state[0] ^= 1u;
        if (KORVAX_OpMatrix(handle, 0, state.data(), 15) != 0) {
            bs.SkipWithError("switching call refused");
            break;
        }
        ++frames;
    }
    // Summed over the threads and divided by the wall time: the total rate.
    bs.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char **argv) {
    if (!install()) return 1;
    benchmark::RegisterBenchmark("Switching/chassis", switching)
        ->ThreadRange(1, kChassis)
        ->UseRealTime()
        ->MinTime(2.0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
