// A chassis behind the scripted VISA64.dll, reached the way a Windows
// program reaches it: discovery, then KORVAX_Connect.
#pragma once

#include <cstdint>
#include <string>

#include "KORVAX.h"
#include "fakevisa/fake_visa.h"
#include "support/scripted_instrument.h"

namespace wintest {

constexpr const char *kRsrc = "TCPIP0::192.168.1.5::INSTR";

struct Chassis {
    fakevisa::Resource *res = nullptr;
    uint32_t handle = 0;
    int32_t findStatus = 0;
    int32_t connectStatus = 0;
};

inline std::string idnOf(const char *model) { return std::string("QM,") + model + ",12345678,1\n"; }

// A fresh scripted VISA with one instrument answering idn, discovered and
// connected; the event log starts empty after the connect.
inline Chassis connectOne(const std::string &idn, const testsupport::InstrumentState &st = {},
                          const std::string &rsrc = kRsrc) {
    fakevisa::reset();
    Chassis c;
    c.res = &fakevisa::add(rsrc, idn);
    c.res->responder = testsupport::instrument(st);
    RsrcEntry entries[KORVAX_MAX_CHASSIS] = {};
    uint32_t count = 0;
    c.findStatus = KORVAX_FindRsrc(entries, &count);
    c.connectStatus = KORVAX_Connect(rsrc.c_str(), &c.handle);
    fakevisa::clearEvents();
    return c;
}

}  // namespace wintest
