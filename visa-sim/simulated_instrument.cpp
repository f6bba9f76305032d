#include "visa-sim/simulated_instrument.h"

namespace korvax::visa {

ServedInstrument::Answer SimulatedInstrument::take(std::span<const uint8_t> request) {
    sim::Exchange exchange = chassis_->serve(request);
    return Answer{std::move(exchange.reply), exchange.delay, exchange.hangUp};
}

bool SimulatedInstrument::hears(const SerialSettings &line) const {
    return line.baud == chassis_->config().baudRate && line.dataBits == 8 &&
           line.parity == VI_ASRL_PAR_NONE && line.stopBits == VI_ASRL_STOP_ONE;
}

}  // namespace korvax::visa
