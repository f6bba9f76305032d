// A simulated chassis as the built-in VISA library serves it: the
// simulator's Chassis behind the library's ServedInstrument interface.
#pragma once

#include <memory>

#include "sim/chassis.h"
#include "visa/instrument.h"

namespace korvax::visa {

class SimulatedInstrument final : public ServedInstrument {
public:
    explicit SimulatedInstrument(std::shared_ptr<sim::Chassis> chassis)
        : chassis_(std::move(chassis)) {}

    Answer take(std::span<const uint8_t> request) override;
    // The chassis listens at its configured baud rate, 8 data bits, no
    // parity, one stop bit.
    bool hears(const SerialSettings &line) const override;

    const std::shared_ptr<sim::Chassis> &chassis() const { return chassis_; }

private:
    std::shared_ptr<sim::Chassis> chassis_;
};

}  // namespace korvax::visa
