// The keys of a simulated chassis in a resource file (format and meaning in
// sim/README.md): the `key = value` lines of one section turned into a
// Config. Both the built-in VISA library and korvax-sim read them through
// here, so a file means the same chassis to either.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>

#include "sim/config.h"
#include "sim/export.h"

namespace korvax::sim {

struct ConfigLine {
    int line;
    std::string key;  // in lower case
    std::string value;
};

using Complaint = std::function<void(int line, std::string message)>;

// The chassis a section describes. Every line is checked and each bad one
// complained about; the result is nullopt only when no model could be
// read (complained about at `sectionLine` when none is given), and is to be
// used only when nothing was complained about.
SIM_API std::optional<Config> configFromLines(std::span<const ConfigLine> lines, int sectionLine,
                                              const Complaint &complain);

}  // namespace korvax::sim
