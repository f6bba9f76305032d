// Simulated instruments of the built-in VISA library.
//
// A simulated chassis is declared under a resource string of the user's
// choosing (say "TCPIP0::sim-rq521::INSTR") and from then on is found by
// viFindRsrc, opened by viOpen and talked to by viWrite/viRead like any
// instrument; nothing above VISA can tell it from hardware. Declarations
// come from this C++ interface (tools, tests) or from the resource file:
//
//   KORVAX_VISA_RESOURCES         path of the file; set but empty: no file
//   otherwise $XDG_CONFIG_HOME/korvax/resources.conf,
//   or ~/.config/korvax/resources.conf when XDG_CONFIG_HOME is unset.
//
// The file is read when the first resource-manager session opens (and
// again after clearDeclared()); see sim/README.md for its format. A
// chassis lives until clearDeclared() or the end of the process, so its
// relays and settings survive closing and reopening sessions, as a real
// instrument's do.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/chassis.h"
#include "sim/config.h"

#define KORVAX_VISA_API __attribute__((visibility("default")))

namespace korvax::visa {

// Declares (or replaces) the simulated chassis of a resource string.
// Sessions already open keep talking to the chassis they were opened on.
// Throws std::invalid_argument for a malformed resource string or a
// configuration the chassis refuses (unknown model, wrong slot count).
KORVAX_VISA_API void declareSimulated(const std::string &rsrc, sim::Config config);
// Declares (or replaces) a real instrument: discovery lists it, viOpen
// reaches it over its interface. portmapperPort 0: the usual one.
KORVAX_VISA_API void declareInstrument(const std::string &rsrc, uint16_t portmapperPort = 0,
                                       uint16_t socketPort = 0);
// The chassis behind a resource string (any spelling VISA accepts), or null.
KORVAX_VISA_API std::shared_ptr<sim::Chassis> simulated(const std::string &rsrc);
// Forgets every declaration; the resource file is read again when the next
// resource-manager session opens.
KORVAX_VISA_API void clearDeclared();
// Declared resource strings in the order viFindRsrc reports them.
KORVAX_VISA_API std::vector<std::string> declaredResources();

struct ResourceDeclaration {
    std::string name;
    sim::Config config;
};
// A real instrument named by the resource file (a section without model).
struct InstrumentDeclaration {
    std::string name;
    uint16_t portmapperPort = 0;  // VXI-11: 0 for the usual one
    // A LAN instrument that speaks on a raw TCP port rather than VXI-11,
    // under an INSTR name (which discovery lists): 0 for VXI-11.
    uint16_t socketPort = 0;
};
struct ResourceFileProblem {
    int line;  // 1-based
    std::string message;
};
struct ParsedResourceFile {
    std::vector<ResourceDeclaration> resources;  // the well-formed sections
    std::vector<InstrumentDeclaration> instruments;  // sections without a model
    std::vector<ResourceFileProblem> problems;   // in line order
};

// Reads the text of a resource file. A section with any bad line is left
// out as a whole, and the reasons are listed in `problems`.
KORVAX_VISA_API ParsedResourceFile parseResourceFile(std::string_view text);
// Where the library looks for the resource file; "" for nowhere.
KORVAX_VISA_API std::string resourceFilePath();
// Declares the resources of a file (names already declared are kept as
// they are) and reports its problems on stderr. Returns the number of
// resources declared, or -1 when the file cannot be read.
KORVAX_VISA_API int loadResourceFile(const std::string &path);

}  // namespace korvax::visa
