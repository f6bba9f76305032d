// The "simulated" transport: a session bound to an emulated chassis in this
// process. The link carries whole messages: each viWrite reaches the chassis
// as one request and each answer is one message that ends with END, on a
// serial resource as on the others. A read ends at END, at the requested
// count, or at the termination character when that is enabled (for a serial
// session: VI_ATTR_ASRL_END_IN set to VI_ASRL_END_TERMCHAR, or
// VI_ATTR_TERMCHAR_EN). The chassis answers at once, so a read that finds
// nothing pending fails with VI_ERROR_TMO without waiting out the timeout.
#pragma once

#include <memory>
#include <vector>

#include "sim/chassis.h"
#include "visa/transport.h"

namespace korvax::visa {

class SimulatedTransport final : public Transport {
public:
    // `serial`: the session is an ASRL resource, so its line settings must
    // match the chassis's (baud rate, 8 data bits, no parity, one stop bit)
    // or the chassis hears only noise and stays silent.
    SimulatedTransport(std::shared_ptr<sim::Chassis> chassis, bool serial);

    ViStatus write(std::span<const ViByte> data, ViUInt32 &written) override;
    ViStatus read(std::span<ViByte> buffer, ViUInt32 &got) override;
    ViStatus flush(ViUInt16 mask) override;
    ViStatus setAttribute(ViAttr attr, ViAttrState value) override;
    ViStatus getAttribute(ViAttr attr, void *value) const override;

private:
    bool lineMatches() const;
    bool stopsAtTermChar() const;

    std::shared_ptr<sim::Chassis> chassis_;
    bool serial_;
    IoSettings io_;
    SerialSettings line_;
    std::vector<ViByte> answer_;  // the chassis's answer not yet read
    std::size_t next_ = 0;
};

}  // namespace korvax::visa
