// Simulated chassis in the resource file: its sections with a `model`, read
// by the VISA core's reader (visa/resource_file.h) and turned into chassis
// configurations by the simulator's keys (sim/config_keys.h). The built-in
// VISA library declares what it reads here; korvax-sim serves it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/config.h"
#include "visa/builtin_visa.h"
#include "visa/resource_file.h"

namespace korvax::visa {

struct ResourceDeclaration {
    std::string name;
    sim::Config config;
};
struct ParsedResourceFile {
    std::vector<ResourceDeclaration> resources;      // the well-formed chassis sections
    std::vector<InstrumentDeclaration> instruments;  // sections without a model
    std::vector<ResourceFileProblem> problems;       // in line order
};

// Reads the text of a resource file without declaring anything. A section
// with any bad line is left out as a whole, and the reasons are listed in
// `problems`.
KORVAX_VISA_API ParsedResourceFile parseResourceFile(std::string_view text);

// The chassis of one section; the problems go to the section's list, and the
// configuration is usable only when that stays empty.
std::optional<sim::Config> chassisConfigOf(ResourceFileSection &section);

}  // namespace korvax::visa
