// USB instruments of the test-and-measurement class (USBTMC), through the
// Linux kernel's usbtmc driver: each device it binds gets /dev/usbtmc<N>,
// and sysfs tells which device that is:
//
//   <sysfs>/class/usbmisc/usbtmc<N>/device    the USB interface (a link)
//   <that>/bInterfaceNumber                   its number
//   <that>/../idVendor, idProduct, serial     the USB device it belongs to
//
// A device is named USB0::0x<vid>::0x<pid>::<serial>::INSTR (with
// ::<interface> before INSTR when it is not interface 0); names compare
// vendor and product by value and the serial number without regard to
// letter case. A device without a serial number cannot be named and is not
// listed. <sysfs> is /sys, or $KORVAX_SYSFS_ROOT; the device nodes are
// looked for in /dev, or $KORVAX_DEV_ROOT.
//
// The driver frames messages itself: one write() is one message sent with
// END, one read() returns one message of the instrument (or the part that
// fits). The driver's own timeout is set to VI_ATTR_TMO_VALUE. A node that
// is not the driver's (a pipe or terminal standing in for an instrument)
// is served the same way, with poll() keeping the timeout.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "visa/net/socket_io.h"
#include "visa/serial_transport.h"
#include "visa/transport.h"

namespace korvax::visa {

struct UsbtmcDevice {
    std::string rsrc;  // resource name as listed
    std::string node;  // device file
    unsigned vendor = 0;
    unsigned product = 0;
    std::string serial;
    unsigned interface = 0;
};

// The devices the usbtmc driver serves, by node number.
std::vector<UsbtmcDevice> listUsbtmcDevices(const HostRoots &roots);
// The device file of a USB INSTR resource name, or nullopt when no such
// device is attached (or the name is not one).
std::optional<std::string> usbtmcNodeOf(std::string_view rsrc, const HostRoots &roots);

class UsbtmcTransport final : public Transport {
public:
    // VI_ERROR_RSRC_NFOUND when the node cannot be opened, VI_ERROR_RSRC_BUSY
    // when another program holds it.
    static ViStatus open(const std::string &node, std::unique_ptr<Transport> &out);
    ~UsbtmcTransport() override;
    UsbtmcTransport(const UsbtmcTransport &) = delete;
    UsbtmcTransport &operator=(const UsbtmcTransport &) = delete;

    ViStatus write(std::span<const ViByte> data, ViUInt32 &written) override;
    ViStatus read(std::span<ViByte> buffer, ViUInt32 &got) override;
    ViStatus flush(ViUInt16 mask) override;
    ViStatus setAttribute(ViAttr attr, ViAttrState value) override;
    ViStatus getAttribute(ViAttr attr, void *value) const override;

private:
    UsbtmcTransport(int fd, bool driver);
    void configureDriver();
    // Waits for the node to be ready for `events`; VI_SUCCESS or the status.
    ViStatus await(short events, const net::Deadline &deadline) const;

    int fd_;
    bool driver_;  // the node is the usbtmc driver's (timeout kept by the kernel)
    IoSettings io_;
};

}  // namespace korvax::visa
