// Simulated chassis in the built-in VISA library.
//
// A simulated chassis is declared under a resource string of the user's
// choosing (say "TCPIP0::sim-rq521::INSTR") and from then on is found by
// viFindRsrc, opened by viOpen and talked to by viWrite/viRead like any
// instrument; nothing above VISA can tell it from hardware. Declarations
// come from this C++ interface (tools, tests) or from the resource file
// (sections with a `model`; where the file is and what else it declares:
// visa/builtin_visa.h, whose calls this header brings along).
#pragma once

#include <memory>
#include <string>

#include "sim/chassis.h"
#include "sim/config.h"
#include "visa-sim/chassis_file.h"
#include "visa/builtin_visa.h"

namespace korvax::visa {

// Declares (or replaces) the simulated chassis of a resource string.
// Sessions already open keep talking to the chassis they were opened on.
// Throws std::invalid_argument for a malformed resource string or a
// configuration the chassis refuses (unknown model, wrong slot count).
KORVAX_VISA_API void declareSimulated(const std::string &rsrc, sim::Config config);
// The simulated chassis behind a resource string (any spelling VISA
// accepts), or null.
KORVAX_VISA_API std::shared_ptr<sim::Chassis> simulated(const std::string &rsrc);

}  // namespace korvax::visa
