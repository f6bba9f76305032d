// Fuzzes the SCPI text interface: every input becomes one command text and
// goes through KORVAX_SCPIQuery and KORVAX_SCPIWrite + KORVAX_SCPIRead on an
// RQ521 and an RQ520 of the scripted VISA, each opened and initialised once.
//
// The reply buffers are heap blocks of exactly the sizes the interface
// promises to stay within (400 bytes for a query, 256 for a read), so the
// address sanitizer reports a single byte written past either.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "KORVAX.h"
#include "support/fake_chassis.h"
#include "support/scripted_instrument.h"

namespace {

constexpr size_t kQueryReplySize = 400;

struct Target {
    uint16_t model;
    int index;
    const char *rsrc;
    const char *idn;
    uint32_t handle = 0;
};

// The RQ520 answers with an identity longer than any reply buffer, so that
// every identity query runs into the bound.
const std::string kLongIdn = "QM,RQ520,12345678,3.06," + std::string(600, 'X') + "\n";

Target targets[] = {
    {KORVAX_MODEL_RQ521, 0, "TCPIP0::192.168.1.21::INSTR", "QM,RQ521,24681357,3.06\n"},
    {KORVAX_MODEL_RQ520, 1, "TCPIP0::192.168.1.20::INSTR", kLongIdn.c_str()},
};

// The scripted instrument, except that a LAN-mode change goes unanswered: a
// successful one waits six seconds for the controller's network restart,
// which would stall the fuzzer on every input that finds the command.
fakevisa::Responder fuzzInstrument(uint16_t model) {
    testsupport::InstrumentState st;
    st.rq520Layout = model == KORVAX_MODEL_RQ520;
    auto base = testsupport::instrument(st);
    return [base](const fakevisa::Bytes &request) {
        if (!request.empty() && request[0] == 48) return fakevisa::Reply{{}, VI_ERROR_TMO};
        return base(request);
    };
}

// A registry record for each target, as the first connect leaves it.
void install(Target &t) {
    fakevisa::Resource &res = fakevisa::add(t.rsrc, t.idn);
    res.responder = fuzzInstrument(t.model);
    ViSession rm = 0;
    viOpenDefaultRM(&rm);
    viOpen(rm, t.rsrc, 0, 0, &t.handle);
    ChassisInfo &c = globalChassisInfo[t.index];
    std::strncpy(c.rsrcName, t.rsrc, sizeof c.rsrcName - 1);
    c.vi = t.handle;
    testsupport::applyModel(c, t.model);
    for (auto &s : c.subUnits) {
        std::memset(s.slotPresent, 0xFF, sizeof s.slotPresent);
        std::memset(s.cardSlot, 0xFF, sizeof s.cardSlot);
        std::memset(s.cascadeState, 0xFF, sizeof s.cascadeState);
    }
    c.connected = 1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // libKORVAX loads its VISA library on the first call; it must be the
    // scripted one this program links.
    setenv("KORVAX_VISA_LIBRARY", KORVAX_FAKE_VISA_PATH, 1);
    fakevisa::reset();
    std::memset(globalChassisInfo, 0, sizeof globalChassisInfo);
    for (Target &t : targets) install(t);
    for (Target &t : targets) {
        int64_t opened = -1;
        if (KORVAX_OpenSpecifiedCard(t.handle, 0, &opened) != 0 || KORVAX_Init(t.handle, 0) != 0)
            std::abort();
    }
    // The event log would grow with every input.
    fakevisa::setLogging(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string command(reinterpret_cast<const char *>(data), size);
    const auto query = std::make_unique<char[]>(kQueryReplySize);
    const auto read = std::make_unique<char[]>(KORVAX_SCPI_REPLY_SIZE);
    for (const Target &t : targets) {
        // Every input starts from all relays open, so that a crash replays
        // from its input alone.
        std::memset(globalChassisInfo[t.index].subUnits[0].userState, 0,
                    sizeof globalChassisInfo[t.index].subUnits[0].userState);
        KORVAX_SCPIQuery(t.handle, command.c_str(), query.get());
        if (KORVAX_SCPIWrite(t.handle, command.c_str()) != 0) std::abort();
        if (KORVAX_SCPIRead(t.handle, read.get()) != 0) std::abort();
        if (strnlen(query.get(), kQueryReplySize) == kQueryReplySize) std::abort();
        if (strnlen(read.get(), KORVAX_SCPI_REPLY_SIZE) == KORVAX_SCPI_REPLY_SIZE) std::abort();
    }
    return 0;
}
