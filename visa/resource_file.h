// The resource file, as the built-in VISA library reads it: INI-style
// sections headed by resource strings.
//
//   # comment (also ';'), on a line of its own
//   [TCPIP0::192.168.1.5::INSTR]      a real instrument, reached over its interface
//   portmapper-port = 1111
//
//   [TCPIP0::sim-rq521::INSTR]        a served instrument (a simulated chassis)
//   model = RQ521
//
// A section whose only keys are `portmapper-port` (VXI-11 hosts whose
// portmapper is not on port 111) and `socket-port` (a LAN instrument that
// speaks on a raw TCP port instead of VXI-11) names a real instrument; any
// other section declares a served instrument, and its keys are for the one
// that serves it to read (see ServedSectionReader in builtin_visa.h).
//
// Settings of the library itself go before the first section:
//
//   serial-scan = all      list every on-board serial port (ttyS*) with a
//                          UART behind it; "named" (the default) lists only
//                          those the file names, USB serial adapters always
//
// Everything is checked; a section with any bad line is left out whole,
// because an instrument that is half what the user wrote would mislead more
// than a missing one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvax::visa {

struct ResourceFileProblem {
    int line;  // 1-based
    std::string message;
};

// A real instrument named by the resource file.
struct InstrumentDeclaration {
    std::string name;
    uint16_t portmapperPort = 0;  // VXI-11: 0 for the usual one
    // A LAN instrument that speaks on a raw TCP port rather than VXI-11,
    // under an INSTR name (which discovery lists): 0 for VXI-11.
    uint16_t socketPort = 0;
};

struct ResourceFileEntry {
    int line;
    std::string key;  // in lower case
    std::string value;
};

// A section declaring a served instrument, its lines as written.
struct ResourceFileSection {
    int line = 0;  // of the header
    std::string name;
    std::vector<ResourceFileEntry> entries;
    // What is wrong with it already (header, keys given twice); the reader
    // of its keys adds its own.
    std::vector<ResourceFileProblem> problems;
};

struct ResourceFileContent {
    // serial-scan: true for "all", false for "named", nullopt when not given.
    std::optional<bool> scanAllSerialPorts;
    std::vector<InstrumentDeclaration> instruments;  // in file order
    std::vector<ResourceFileSection> served;         // in file order, problems included
    std::vector<ResourceFileProblem> problems;       // of everything else
};

// Reads the text of a resource file.
ResourceFileContent readResourceFile(std::string_view text);

// Moves a section's problems to `out`, each marked with the resource it
// leaves out.
void reportIgnored(ResourceFileSection &section, std::vector<ResourceFileProblem> &out);
// Problems in line order (a stable sort: those of one line stay in order).
void sortByLine(std::vector<ResourceFileProblem> &problems);

}  // namespace korvax::visa
