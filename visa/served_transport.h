// A session to an instrument served in this process (instrument.h). The
// link carries whole messages: each viWrite reaches the instrument as one
// request and each answer is one message that ends with END, on a serial
// resource as on the others. A read ends at END, at the requested count,
// or at the termination character when that is enabled (for a serial
// session: VI_ATTR_ASRL_END_IN set to VI_ASRL_END_TERMCHAR, or
// VI_ATTR_TERMCHAR_EN).
//
// A read that finds no answer coming fails with VI_ERROR_TMO at once; an
// answer the instrument gives after a delay is waited for, up to the
// session's timeout (VI_ERROR_TMO when it is not there by then; it can
// still be read later, until the next request). A new request drops an
// answer nobody read. When the instrument hangs up, the write fails with
// VI_ERROR_CONN_LOST and the next write reaches it again, as a network
// link that reconnects does.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "visa/instrument.h"
#include "visa/transport.h"

namespace korvax::visa {

class ServedTransport final : public Transport {
public:
    // `serial`: the session is an ASRL resource, so its line settings must
    // be ones the instrument hears.
    ServedTransport(std::shared_ptr<ServedInstrument> instrument, bool serial);

    ViStatus write(std::span<const ViByte> data, ViUInt32 &written) override;
    ViStatus read(std::span<ViByte> buffer, ViUInt32 &got) override;
    ViStatus flush(ViUInt16 mask) override;
    ViStatus setAttribute(ViAttr attr, ViAttrState value) override;
    ViStatus getAttribute(ViAttr attr, void *value) const override;

private:
    using Clock = std::chrono::steady_clock;
    bool stopsAtTermChar() const;
    void dropAnswer();

    std::shared_ptr<ServedInstrument> instrument_;
    bool serial_;
    IoSettings io_;
    SerialSettings line_;
    std::vector<ViByte> answer_;  // the instrument's answer not yet read
    std::size_t next_ = 0;
    Clock::time_point due_{};  // when the answer is there to be read
};

}  // namespace korvax::visa
