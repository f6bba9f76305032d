// TCPIP::host[::device]::INSTR over VXI-11: ONC RPC on TCP. The portmapper
// on the host (port 111, or the port of the resource file's
// `portmapper-port` key or of KORVAX_VXI11_PORTMAPPER_PORT) names the port
// of the device core; a link to the device (default "inst0") carries
// device_write with END on the last piece, device_read until END, the
// termination character or the requested count, device_readstb,
// device_trigger, device_clear, device_lock/unlock, and destroy_link when
// the session closes.
//
// viWrite waits for the answer to each device_write, so a write the device
// refuses (locked by another link, a message too long, a link it no longer
// knows) fails that viWrite with the device's reason, never the read after
// it: the library reports a write failure as one.
//
// Every call waits at most the session's timeout (VI_ATTR_TMO_VALUE, also
// handed to the device as its I/O timeout) plus a quarter of it for the
// network. A connection that breaks fails the call with VI_ERROR_CONN_LOST;
// the next viWrite asks the portmapper again and makes a new link, so an
// instrument that was power-cycled (or a server restarted) is reached again
// without a new discovery.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "visa/net/oncrpc.h"
#include "visa/net/vxi11.h"
#include "visa/net/socket_io.h"
#include "visa/transport.h"

namespace korvax::visa {

class Vxi11Transport final : public Transport {
public:
    // portmapperPort 0: KORVAX_VXI11_PORTMAPPER_PORT when set, else 111.
    static ViStatus open(const std::string &host, const std::string &device,
                         uint16_t portmapperPort, std::unique_ptr<Transport> &out);
    ~Vxi11Transport() override;

    ViStatus write(std::span<const ViByte> data, ViUInt32 &written) override;
    ViStatus read(std::span<ViByte> buffer, ViUInt32 &got) override;
    ViStatus flush(ViUInt16 mask) override;
    ViStatus setAttribute(ViAttr attr, ViAttrState value) override;
    ViStatus getAttribute(ViAttr attr, void *value) const override;
    ViStatus clear() override;
    ViStatus readStatusByte(ViUInt16 &stb) override;
    ViStatus trigger() override;
    ViStatus lockDevice(ViUInt32 timeoutMs) override;
    ViStatus unlockDevice() override;

    // The portmapper port when none is configured for the resource.
    static uint16_t defaultPortmapperPort();

private:
    Vxi11Transport(std::string host, std::string device, uint16_t portmapperPort)
        : host_(std::move(host)), device_(std::move(device)), portmapperPort_(portmapperPort) {}
    ViStatus connect();
    // One call on the device core; `reply` gets the result body.
    ViStatus call(uint32_t procedure, const net::Bytes &args, net::Deadline deadline,
                  net::Bytes &reply);
    // A call with its arguments and result as messages of the codec.
    template <typename Parms, typename Reply>
    ViStatus exchange(uint32_t procedure, const Parms &parms, net::Deadline deadline, Reply &reply);
    net::Deadline callDeadline() const;
    // A device_lock may wait for the holder up to its lock timeout.
    net::Deadline lockDeadline(ViUInt32 lockTimeoutMs) const;
    net::vxi11::GenericParms genericParms() const;
    // A call of Device_GenericParms that answers Device_Error.
    ViStatus generic(uint32_t procedure);
    ViStatus ensureLink();
    // Drops the connection after an error that leaves the stream unusable.
    ViStatus broken(ViStatus st);

    std::string host_;
    std::string device_;
    uint16_t portmapperPort_;
    uint16_t corePort_ = 0;
    net::UniqueFd fd_;
    std::optional<uint32_t> link_;
    uint32_t maxRecvSize_ = 1024;
    uint32_t xid_ = 1;
    IoSettings io_;
    net::RecordAssembler records_{net::vxi11::kMaxRecord};
};

// Maps a VXI-11 device error to a VISA status.
ViStatus statusOfDeviceError(uint32_t error);

}  // namespace korvax::visa
