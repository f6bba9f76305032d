#include "visa/served_transport.h"

#include <thread>

namespace korvax::visa {

ServedTransport::ServedTransport(std::shared_ptr<ServedInstrument> instrument, bool serial)
    : instrument_(std::move(instrument)), serial_(serial) {}

bool ServedTransport::stopsAtTermChar() const {
    if (serial_) return line_.endIn == VI_ASRL_END_TERMCHAR || io_.termCharEnabled;
    return io_.termCharEnabled;
}

void ServedTransport::dropAnswer() {
    answer_.clear();
    next_ = 0;
}

ViStatus ServedTransport::write(std::span<const ViByte> data, ViUInt32 &written) {
    // A new request makes the instrument drop an answer nobody read.
    dropAnswer();
    written = static_cast<ViUInt32>(data.size());
    if (data.empty() || (serial_ && !instrument_->hears(line_))) return VI_SUCCESS;
    ServedInstrument::Answer answer = instrument_->take(data);
    if (answer.hangUp) {
        written = 0;
        return VI_ERROR_CONN_LOST;
    }
    if (answer.reply) answer_ = std::move(*answer.reply);
    due_ = Clock::now() + answer.delay;
    return VI_SUCCESS;
}

ViStatus ServedTransport::read(std::span<ViByte> buffer, ViUInt32 &got) {
    got = 0;
    if (next_ >= answer_.size()) return VI_ERROR_TMO;
    // Only this session waits: other sessions, to this instrument or any
    // other, go on meanwhile.
    if (const auto now = Clock::now(); now < due_) {
        if (io_.timeoutMs != VI_TMO_INFINITE && due_ - now > std::chrono::milliseconds(io_.timeoutMs)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(io_.timeoutMs));
            return VI_ERROR_TMO;
        }
        std::this_thread::sleep_until(due_);
    }
    const bool termChar = stopsAtTermChar();
    while (got < buffer.size() && next_ < answer_.size()) {
        const ViByte b = answer_[next_++];
        buffer[got++] = b;
        if (termChar && b == io_.termChar && next_ < answer_.size()) return VI_SUCCESS_TERM_CHAR;
    }
    if (next_ >= answer_.size()) {
        dropAnswer();
        return VI_SUCCESS;
    }
    return VI_SUCCESS_MAX_CNT;
}

ViStatus ServedTransport::flush(ViUInt16 mask) {
    if (const ViStatus st = checkFlushMask(mask); st < 0) return st;
    if (flushesInput(mask)) dropAnswer();
    return VI_SUCCESS;
}

ViStatus ServedTransport::setAttribute(ViAttr attr, ViAttrState value) {
    const ViStatus st = io_.set(attr, value);
    if (st != VI_ERROR_NSUP_ATTR || !serial_) return st;
    return line_.set(attr, value);
}

ViStatus ServedTransport::getAttribute(ViAttr attr, void *value) const {
    const ViStatus st = io_.get(attr, value);
    if (st != VI_ERROR_NSUP_ATTR || !serial_) return st;
    return line_.get(attr, value);
}

}  // namespace korvax::visa
