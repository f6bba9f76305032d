#include "visa/simulated_transport.h"

namespace korvax::visa {

SimulatedTransport::SimulatedTransport(std::shared_ptr<sim::Chassis> chassis, bool serial)
    : chassis_(std::move(chassis)), serial_(serial) {}

bool SimulatedTransport::lineMatches() const {
    if (!serial_) return true;
    return line_.baud == chassis_->config().baudRate && line_.dataBits == 8 &&
           line_.parity == VI_ASRL_PAR_NONE && line_.stopBits == VI_ASRL_STOP_ONE;
}

bool SimulatedTransport::stopsAtTermChar() const {
    if (serial_) return line_.endIn == VI_ASRL_END_TERMCHAR || io_.termCharEnabled;
    return io_.termCharEnabled;
}

ViStatus SimulatedTransport::write(std::span<const ViByte> data, ViUInt32 &written) {
    // A new request makes the chassis drop an answer nobody read.
    answer_.clear();
    next_ = 0;
    written = static_cast<ViUInt32>(data.size());
    if (data.empty() || !lineMatches()) return VI_SUCCESS;
    if (auto reply = chassis_->receive(data)) answer_ = std::move(*reply);
    return VI_SUCCESS;
}

ViStatus SimulatedTransport::read(std::span<ViByte> buffer, ViUInt32 &got) {
    got = 0;
    if (next_ >= answer_.size()) return VI_ERROR_TMO;
    const bool termChar = stopsAtTermChar();
    while (got < buffer.size() && next_ < answer_.size()) {
        const ViByte b = answer_[next_++];
        buffer[got++] = b;
        if (termChar && b == io_.termChar && next_ < answer_.size()) return VI_SUCCESS_TERM_CHAR;
    }
    if (next_ >= answer_.size()) {
        answer_.clear();
        next_ = 0;
        return VI_SUCCESS;
    }
    return VI_SUCCESS_MAX_CNT;
}

ViStatus SimulatedTransport::flush(ViUInt16 mask) {
    if (const ViStatus st = checkFlushMask(mask); st < 0) return st;
    if (flushesInput(mask)) {
        answer_.clear();
        next_ = 0;
    }
    return VI_SUCCESS;
}

ViStatus SimulatedTransport::setAttribute(ViAttr attr, ViAttrState value) {
    const ViStatus st = io_.set(attr, value);
    if (st != VI_ERROR_NSUP_ATTR || !serial_) return st;
    return line_.set(attr, value);
}

ViStatus SimulatedTransport::getAttribute(ViAttr attr, void *value) const {
    const ViStatus st = io_.get(attr, value);
    if (st != VI_ERROR_NSUP_ATTR || !serial_) return st;
    return line_.get(attr, value);
}

}  // namespace korvax::visa
