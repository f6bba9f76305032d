// Puts a chassis record in the registry without discovery: a session of the
// scripted VISA, the model's slot counts and card types, and the state the
// first connect leaves (presence unknown, cascade relays 0xFF). Tests of
// single operations start from here; discovery has tests of its own.
#pragma once

#include <cstring>
#include <string>

#include "base/chassis_model.h"
#include "base/records.h"
#include "fakevisa/fake_visa.h"
#include "support/sleep_recorder.h"

namespace testsupport {

struct FakeChassis {
    ChassisInfo *rec = nullptr;
    fakevisa::Resource *res = nullptr;
    uint32_t handle = 0;
    std::string rsrc;
};

// The library's profile row of one chassis model, entered as discovery
// enters it (a code no row has gets the RQ523's layout under its own code).
inline void applyModel(ChassisInfo &c, uint16_t model) {
    const korvax::ChassisModel *m = korvax::findModel(model);
    korvax::enterModel(c, m ? *m : *korvax::findModel(KORVAX_MODEL_RQ523));
    c.typeCode = c.deviceType = model;
}

// Installs one more chassis of the given model as record `index`, beside
// those already installed.
inline FakeChassis addChassis(uint16_t model, int index, const std::string &rsrc) {
    FakeChassis f;
    f.rsrc = rsrc;
    f.res = &fakevisa::add(rsrc);
    ViSession rm = 0;
    viOpenDefaultRM(&rm);
    viOpen(rm, rsrc.c_str(), 0, 0, &f.handle);
    ChassisInfo &c = globalChassisInfo[index];
    std::strncpy(c.rsrcName, rsrc.c_str(), sizeof c.rsrcName - 1);
    c.vi = f.handle;
    applyModel(c, model);
    for (auto &s : c.subUnits) {
        std::memset(s.slotPresent, 0xFF, sizeof s.slotPresent);
        std::memset(s.cardSlot, 0xFF, sizeof s.cardSlot);
        std::memset(s.cascadeState, 0xFF, sizeof s.cascadeState);
    }
    c.connected = 1;
    f.rec = &c;
    fakevisa::clearEvents();
    return f;
}

// Clears the registry and the scripted VISA, then installs one chassis of
// the given model as record `index`.
inline FakeChassis installChassis(uint16_t model, int index = 0,
                                  const std::string &rsrc = "TCPIP0::192.168.1.5::INSTR") {
    fakevisa::reset();
    std::memset(globalChassisInfo, 0, sizeof globalChassisInfo);
    return addChassis(model, index, rsrc);
}

// One way an exchange can fail, and the status the operation must pass on.
struct Failure {
    const char *what;
    int failWrites, failReads;
    bool errorReport;
    int32_t code;
};
constexpr Failure kFailures[] = {
    {"write fails", 1, 0, false, KORVAX_ERR_SEND},
    {"read fails", 0, 1, false, KORVAX_ERR_RECEIVE},
    {"error report", 0, 0, true, KORVAX_ERR_USB_ADAPTER},
};

// Makes the next exchange with r fail as f says.
inline void inject(fakevisa::Resource &r, const Failure &f) {
    r.failWrites = f.failWrites;
    r.failReads = f.failReads;
    r.replies.clear();
    if (f.errorReport) r.replies.push_back({fakevisa::Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0}});
}

// A reply of n bytes (default 16) with the given bytes set.
inline fakevisa::Bytes reply(std::initializer_list<std::pair<int, uint8_t>> bytes, size_t n = 16) {
    fakevisa::Bytes r(n, 0);
    for (auto [i, v] : bytes) {
        if (static_cast<size_t>(i) >= r.size()) r.resize(i + 1, 0);
        r[i] = v;
    }
    return r;
}

}  // namespace testsupport
