#include "visa/transport_factory.h"

#include "visa/serial_transport.h"
#include "visa/served_transport.h"
#include "visa/socket_transport.h"
#include "visa/usbtmc_transport.h"
#include "visa/vxi11_transport.h"

namespace korvax::visa {
namespace {

ViStatus openTcpip(const TransportRequest &request, std::unique_ptr<Transport> &out) {
    const auto address = networkAddress(request.parts);
    if (!address) return VI_ERROR_INV_RSRC_NAME;
    if (address->socket) return SocketTransport::open(address->host, address->port, out);
    if (request.socketPort) return SocketTransport::open(address->host, request.socketPort, out);
    return Vxi11Transport::open(address->host, address->device, request.portmapperPort, out);
}

}  // namespace

ViStatus openTransport(const TransportRequest &request, std::unique_ptr<Transport> &out) {
    if (request.served) {
        out = std::make_unique<ServedTransport>(request.served,
                                                request.parts.interfaceType == VI_INTF_ASRL);
        return VI_SUCCESS;
    }
    switch (request.parts.interfaceType) {
    case VI_INTF_TCPIP: return openTcpip(request, out);
    case VI_INTF_ASRL: {
        const auto path = serialDevicePath(request.name, hostRoots());
        return path ? SerialTransport::open(*path, out) : VI_ERROR_RSRC_NFOUND;
    }
    case VI_INTF_USB: {
        const auto node = usbtmcNodeOf(request.name, hostRoots());
        return node ? UsbtmcTransport::open(*node, out) : VI_ERROR_RSRC_NFOUND;
    }
    // GPIB, VXI and PXI need a vendor VISA: this library cannot find them.
    default: return VI_ERROR_RSRC_NFOUND;
    }
}

}  // namespace korvax::visa
