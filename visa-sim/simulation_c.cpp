// The declarations of simulation.h for programs that cannot call C++: the
// Python package declares simulated chassis (Chassis.simulated) by handing
// over the text of resource-file sections.
#include <algorithm>
#include <cstring>
#include <string>

#include "visa-sim/simulation.h"

using namespace korvax::visa;

// Declares every section of `text` (resource-file syntax: "[NAME]" and
// "key = value" lines), replacing declarations of the same names. A text
// with any bad line declares nothing: its problems, one "line N: why" per
// line, go to `problems` (cut to `size`, terminated). Returns the number of
// resources declared, or -1.
extern "C" KORVAX_VISA_API int korvaxvisa_declare(const char *text, char *problems, size_t size) {
    if (problems != nullptr && size > 0) problems[0] = '\0';
    if (text == nullptr) return -1;
    try {
        const ParsedResourceFile parsed = parseResourceFile(text);
        if (!parsed.problems.empty()) {
            std::string why;
            for (const auto &p : parsed.problems)
                why += (why.empty() ? "" : "\n") + std::string("line ") + std::to_string(p.line) + ": " + p.message;
            if (problems != nullptr && size > 0) {
                const size_t n = std::min(why.size(), size - 1);
                std::memcpy(problems, why.data(), n);
                problems[n] = '\0';
            }
            return -1;
        }
        for (const auto &r : parsed.resources) declareSimulated(r.name, r.config);
        for (const auto &i : parsed.instruments) declareInstrument(i.name, i.portmapperPort, i.socketPort);
        return static_cast<int>(parsed.resources.size() + parsed.instruments.size());
    } catch (const std::exception &e) {
        if (problems != nullptr && size > 0) {
            const size_t n = std::min(std::strlen(e.what()), size - 1);
            std::memcpy(problems, e.what(), n);
            problems[n] = '\0';
        }
        return -1;
    }
}
