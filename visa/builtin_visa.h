// The C++ interface of the built-in VISA library, for programs that link
// libkorvaxvisa (tools, tests): which resources it knows besides those it
// finds on this machine, and the resource file it reads them from.
//
// Declarations come from this interface or from the resource file:
//
//   KORVAX_VISA_RESOURCES         path of the file; set but empty: no file
//   otherwise $XDG_CONFIG_HOME/korvax/resources.conf,
//   or ~/.config/korvax/resources.conf when XDG_CONFIG_HOME is unset.
//
// The file is read when the first resource-manager session opens (and
// again after clearDeclared()); see sim/README.md for its format.
//
// Besides what is declared, viFindRsrc lists the instruments attached to
// this machine: USB serial adapters (ttyUSB*, ttyACM*) and USBTMC devices,
// and the on-board serial ports (ttyS*) only when asked to scan them all
// (resource file: `serial-scan = all`; environment:
// KORVAX_VISA_SERIAL_SCAN=all, or =named to leave them out whatever the
// file says). An on-board port the file names (`[ASRL1::INSTR]`, a section
// without a model) is listed as declared. A served
// instrument lives until clearDeclared() or the end of the process, so its
// state survives closing and reopening sessions, as a real instrument's
// does. Simulated chassis are declared through visa-sim/simulation.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "visa/instrument.h"
#include "visa/resource_file.h"

#define KORVAX_VISA_API __attribute__((visibility("default")))

namespace korvax::visa {

// Declares (or replaces) a real instrument: discovery lists it, viOpen
// reaches it over its interface. portmapperPort 0: the usual one;
// socketPort: a LAN instrument on a raw TCP port under an INSTR name.
// Throws std::invalid_argument for a malformed resource string.
KORVAX_VISA_API void declareInstrument(const std::string &rsrc, uint16_t portmapperPort = 0,
                                       uint16_t socketPort = 0);
// Declares (or replaces) an instrument served in this process under a
// resource string of the caller's choosing. Sessions already open keep
// talking to the instrument they were opened on. Throws
// std::invalid_argument for a malformed resource string.
KORVAX_VISA_API void declareServed(const std::string &rsrc,
                                   std::shared_ptr<ServedInstrument> instrument);
// The served instrument behind a resource string (any spelling VISA
// accepts), or null.
KORVAX_VISA_API std::shared_ptr<ServedInstrument> servedInstrument(const std::string &rsrc);
// Forgets every declaration; the resource file is read again when the next
// resource-manager session opens.
KORVAX_VISA_API void clearDeclared();
// Declared resource strings in the order viFindRsrc reports them.
KORVAX_VISA_API std::vector<std::string> declaredResources();

// Restricts what viFindRsrc lists to these resources, in this order (those
// the search expression matches): a declared one as declared, any other
// LAN (TCPIP INSTR or SOCKET), serial (ASRL) or USB resource as named, even
// when nothing declares it; nothing else, and no port of this machine is
// scanned. So a program that wants one chassis probes exactly that
// resource. An empty list lifts the restriction; then, and until the first
// call, the environment's KORVAX_VISA_ONLY (names separated by ';')
// restricts the search the same way when it is set. Throws
// std::invalid_argument for a name that is not a resource string.
KORVAX_VISA_API void restrictSearch(std::vector<std::string> names);

// Makes the served instrument of a resource-file section (one that is not
// a bare real instrument); null when the section cannot be used, with the
// reasons added to the section's problems.
using ServedSectionReader = std::function<std::shared_ptr<ServedInstrument>(ResourceFileSection &)>;
// The reader of such sections; without one they are reported and left out.
KORVAX_VISA_API void setServedSectionReader(ServedSectionReader reader);

// Where the library looks for the resource file; "" for nowhere.
KORVAX_VISA_API std::string resourceFilePath();
// Declares the resources of a file (names already declared are kept as
// they are) and reports its problems on stderr. Returns the number of
// resources declared, or -1 when the file cannot be read.
KORVAX_VISA_API int loadResourceFile(const std::string &path);

}  // namespace korvax::visa
