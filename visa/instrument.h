// An instrument served inside this process: what the built-in VISA library
// needs to know of it, and nothing more. The chassis simulator is one (the
// VISA library as built plugs it in, see visa-sim/); a test can bring its
// own. A session to a served instrument carries whole messages, as the
// transport in served_transport.h describes.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "visa/transport.h"

namespace korvax::visa {

class ServedInstrument {
public:
    virtual ~ServedInstrument() = default;

    // What the instrument does with one request.
    struct Answer {
        std::optional<std::vector<uint8_t>> reply;  // nullopt: it does not answer
        // How long after the request the answer is there to be read: a real
        // instrument needs time to operate its relays.
        std::chrono::milliseconds delay{0};
        // The instrument drops the link instead of taking the request: the
        // write fails as a broken connection does, the request is lost.
        bool hangUp = false;
    };
    virtual Answer take(std::span<const uint8_t> request) = 0;

    // Whether the instrument hears a serial line set this way (its baud
    // rate, data bits, parity, stop bits). At any other setting it hears
    // only noise and stays silent, as a real one does.
    virtual bool hears(const SerialSettings &line) const = 0;
};

}  // namespace korvax::visa
