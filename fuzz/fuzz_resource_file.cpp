// Fuzzes the resource file parser with whole files. Every resource it
// accepts must be one the built-in VISA library can declare: its name a
// resource string, its configuration one a simulated chassis takes (no
// exception from either), and a chassis made from it answers its own
// identity query.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "sim/chassis.h"
#include "visa-sim/simulation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto parsed = korvax::visa::parseResourceFile(text);
    for (const auto &p : parsed.problems)
        if (p.line < 1 || p.message.empty()) std::abort();
    for (const auto &res : parsed.resources) {
        try {
            korvax::visa::declareSimulated(res.name, res.config);
        } catch (const std::exception &) {
            std::abort();
        }
        const auto chassis = korvax::visa::simulated(res.name);
        if (!chassis) std::abort();
        static constexpr uint8_t idn[] = {'*', 'I', 'D', 'N', '?', '\n'};
        const auto reply = chassis->receive(idn);
        if (!reply || reply->empty() || reply->size() > korvax::sim::kReplySize) std::abort();
    }
    korvax::visa::clearDeclared();
    return 0;
}
