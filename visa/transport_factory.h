// Picks the transport that reaches a resource. The only place that knows
// every transport: a declared served instrument is reached in process; any
// other resource goes by its interface and class.
#pragma once

#include <memory>

#include "visa/instrument.h"
#include "visa/resource_parts.h"
#include "visa/transport.h"

namespace korvax::visa {

struct TransportRequest {
    std::string name;  // as declared or as the caller wrote it (device paths keep their case)
    ResourceParts parts;
    std::shared_ptr<ServedInstrument> served;  // set: an instrument in this process
    uint16_t portmapperPort = 0;            // VXI-11; 0 for the usual one
    uint16_t socketPort = 0;                // an INSTR reached on a raw TCP port
};

// VI_ERROR_RSRC_NFOUND when the instrument is not there (connection
// refused, no such device) and for interfaces this library cannot reach
// (GPIB needs a vendor VISA); VI_ERROR_TMO when it does not answer in time.
ViStatus openTransport(const TransportRequest &request, std::unique_ptr<Transport> &out);

}  // namespace korvax::visa
