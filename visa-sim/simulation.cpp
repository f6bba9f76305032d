// The simulator plugged into the built-in VISA library: simulated chassis
// declared from C++ or read from resource-file sections with a model.
#include "visa-sim/simulation.h"

#include <stdexcept>

#include "visa-sim/simulated_instrument.h"
#include "visa/resource_name.h"

namespace korvax::visa {
namespace {

// The library reads the file's chassis sections through here: registered
// when the library is loaded, before any resource manager can open.
[[maybe_unused]] const bool kReaderSet = [] {
    setServedSectionReader([](ResourceFileSection &section) -> std::shared_ptr<ServedInstrument> {
        auto config = chassisConfigOf(section);
        if (!config || !section.problems.empty()) return nullptr;
        return std::make_shared<SimulatedInstrument>(
            std::make_shared<sim::Chassis>(std::move(*config)));
    });
    return true;
}();

}  // namespace

void declareSimulated(const std::string &rsrc, sim::Config config) {
    // The name first: a bad one must not cost a chassis.
    if (!canonicalResourceName(rsrc))
        throw std::invalid_argument("\"" + rsrc + "\" is not a VISA resource string");
    declareServed(rsrc, std::make_shared<SimulatedInstrument>(
                            std::make_shared<sim::Chassis>(std::move(config))));
}

std::shared_ptr<sim::Chassis> simulated(const std::string &rsrc) {
    const auto served = std::dynamic_pointer_cast<SimulatedInstrument>(servedInstrument(rsrc));
    return served ? served->chassis() : nullptr;
}

}  // namespace korvax::visa
