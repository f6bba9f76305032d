// Switching rate of several chassis switched at once, each from a thread of
// its own, against one chassis from one thread. Every chassis answers a
// relay frame after 5 ms, about what a real one needs to operate its relays
// (the scripted VISA waits outside its own lock, as a real VISA waits on
// the wire). With a lock per chassis the rates add up; a lock shared by all
// chassis and held over the wait would keep the total at one chassis's rate.
//
//   KORVAX_VISA_LIBRARY=build/lib/libkorvax_fakevisa.so build/bin/korvax_parallel_chassis_bench
#include <benchmark/benchmark.h>

#include <array>
#include <string>

#include "KORVAX.h"
#include "maps/KORVAX_common.h"
#include "support/fake_chassis.h"
#include "support/scripted_instrument.h"

namespace {

constexpr int kChassis = 4;
constexpr int kReplyDelayMs = 5;
std::array<uint32_t, kChassis> handles{};

// Four RQ521 chassis, sub-unit 0 identified, each answering after the delay.
bool install() {
    for (int i = 0; i < kChassis; ++i) {
        const std::string rsrc = "TCPIP0::192.168.1." + std::to_string(10 + i) + "::INSTR";
        const testsupport::FakeChassis f = i == 0 ? testsupport::installChassis(KORVAX_MODEL_RQ521, 0, rsrc)
                                                  : testsupport::addChassis(KORVAX_MODEL_RQ521, i, rsrc);
        f.res->responder = testsupport::instrument({});
        int64_t opened = 0;
        if (KORVAX_OpenSpecifiedCard(f.handle, 0, &opened) != 0) return false;
        f.res->readDelayMs = kReplyDelayMs;
        handles[i] = f.handle;
    }
    InitPointInfo();
    fakevisa::setLogging(false);
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
