// Cost of one switching call per chassis model: KORVAX_OpMatrix through a
// VISA that answers at once, against the plain reference encoder (every
// point walked, byte-per-relay image) measured in the same binary.
//
//   KORVAX_VISA_LIBRARY=build/lib/libkorvax_fakevisa.so build/bin/korvax_frame_bench
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "KORVAX.h"
#include "maps/KORVAX_common.h"
#include "support/fake_chassis.h"
#include "support/reference_encoder.h"
#include "support/scripted_instrument.h"

namespace {

struct Model {
    const char *name;
    uint16_t code;
    uint8_t fwMajor;
};

const Model kModels[] = {
    {"RQ520", KORVAX_MODEL_RQ520, 3}, {"RQ520B", KORVAX_MODEL_RQ520B, 3},
    {"RQ521", KORVAX_MODEL_RQ521, 3}, {"RQ522", KORVAX_MODEL_RQ522, 3},
    {"RQ523", KORVAX_MODEL_RQ523, 3}, {"RQ523B", KORVAX_MODEL_RQ523B, 3},
};

enum Pattern { kOne, kDense, kOpen };

struct Setup {
    uint32_t handle = 0;
    std::vector<uint32_t> state;
    testsupport::RefGeometry geometry;
};

Setup prepare(const Model &m, Pattern pattern) {
    testsupport::FakeChassis f = testsupport::installChassis(m.code);
    testsupport::InstrumentState st;
    st.fwMajor = m.fwMajor;
    st.rq520Layout = m.code == KORVAX_MODEL_RQ520 || m.code == KORVAX_MODEL_RQ520B;
    f.res->responder = testsupport::instrument(st);
    int64_t opened = 0;
    KORVAX_OpenSpecifiedCard(f.handle, 0, &opened);
    InitPointInfo();
    fakevisa::setLogging(false);
    const SubUnitInfo &s = f.rec->subUnits[0];
    Setup out;
    out.handle = f.handle;
    out.state.assign(s.userWords, 0);
    if (pattern == kOne) out.state[0] = 1;
    if (pattern == kDense) {
        // A dense state that every chassis accepts: a third of the
        // crosspoints of the first rows (RQ522: the four rows it carries),
        // kept under the relay budget of the limited chassis.
        const int rows = s.boardType == 2 ? 4 : s.rowCount;
        const int budget = s.boardType == 0 ? 120 : s.boardType == 1 ? 80 : 1 << 30;
        int closed = 0;
        for (int p = 0; p < rows * s.slotCount * s.colCount && closed < budget; p += 3, ++closed)
            out.state[p / 32] |= 1u << (p % 32);
    }
    out.geometry = testsupport::geometryOf(*f.rec);
    return out;
}

void opMatrix(benchmark::State &bs, const Model &m, Pattern pattern) {
    Setup s = prepare(m, pattern);
    if (KORVAX_OpMatrix(s.handle, 0, s.state.data(), static_cast<int32_t>(s.state.size())) != 0) {
        bs.SkipWithError("switching call refused");
        return;
    }
    for (auto _ : bs)
        benchmark::DoNotOptimize(KORVAX_OpMatrix(s.handle, 0, s.state.data(), static_cast<int32_t>(s.state.size())));
}

void reference(benchmark::State &bs, const Model &m, Pattern pattern) {
    Setup s = prepare(m, pattern);
    std::vector<uint8_t> frame;
    for (auto _ : bs) {
        benchmark::DoNotOptimize(
            testsupport::referenceFrame(s.geometry, s.state.data(), static_cast<int32_t>(s.state.size()), frame));
        benchmark::DoNotOptimize(frame.data());
    }
}

void registerAll() {
    const struct {
        const char *name;
        Pattern p;
    } patterns[] = {{"one", kOne}, {"dense", kDense}, {"open", kOpen}};
    for (const auto &m : kModels)
        for (const auto &p : patterns) {
            benchmark::RegisterBenchmark((std::string("OpMatrix/") + m.name + "/" + p.name).c_str(),
                                         [&m, pat = p.p](benchmark::State &bs) { opMatrix(bs, m, pat); });
            benchmark::RegisterBenchmark((std::string("Reference/") + m.name + "/" + p.name).c_str(),
                                         [&m, pat = p.p](benchmark::State &bs) { reference(bs, m, pat); });
        }
}

}  // namespace

int main(int argc, char **argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
