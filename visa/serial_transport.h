// Serial (ASRL) instruments on the POSIX serial lines of this machine.
//
// Resource names and device files:
//   ASRL<n>::INSTR          <dev>/ttyS<n-1>: ASRL1 is the first on-board
//                            port, as on every PC since the days of COM1
//   ASRL<path>::INSTR        the device file at <path> as written, e.g.
//                            ASRL/dev/ttyUSB0::INSTR, ASRL/dev/pts/3::INSTR
// <dev> is /dev, or $KORVAX_DEV_ROOT when set; the scan that lists ports
// reads sysfs under /sys, or $KORVAX_SYSFS_ROOT.
//
// The line runs in raw mode (no echo, no character translation), 9600 baud
// 8N1 without flow control when opened; VI_ATTR_ASRL_* change it at once.
// Every blocking call waits at most VI_ATTR_TMO_VALUE.
//
// Where a read ends: at the requested count; at the termination character
// when VI_ATTR_ASRL_END_IN is VI_ASRL_END_TERMCHAR (or VI_ATTR_TERMCHAR_EN
// is set); otherwise, once bytes have come, when the line has stayed quiet
// for 50 ms or 20 character times, whichever is longer. An instrument sends
// its answer in one burst, so a quiet line means the answer is complete:
// without that rule a short answer read with END_IN none would always
// wait out the timeout. Nothing at all within the timeout is VI_ERROR_TMO.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "visa/net/socket_io.h"
#include "visa/transport.h"

namespace korvax::visa {

// Where the library looks for device files and for sysfs.
struct HostRoots {
    std::string dev = "/dev";
    std::string sysfs = "/sys";
};
// The roots as the environment sets them (KORVAX_DEV_ROOT, KORVAX_SYSFS_ROOT).
HostRoots hostRoots();

// The device file of a serial resource name (as the caller spelled it, so
// that a path keeps its letter case), or nullopt for a name that is not a
// serial resource or has no port number 1 or above.
std::optional<std::string> serialDevicePath(std::string_view rsrc, const HostRoots &roots);

// Resource names of the serial ports worth probing, in this order:
// ASRL<n>::INSTR for every ttyS port with a UART behind it (by number,
// only with `onBoard`), then ASRL<dev>/ttyUSB* and ASRL<dev>/ttyACM* (by
// name). A port is listed only when its device file opens as a terminal.
// Linux creates ttyS devices for the legacy 8250 driver whether or not a
// UART is fitted; such a placeholder is told by sysfs:
// class/tty/ttyS<n>/type reads 0 (PORT_UNKNOWN), or, on kernels without
// that file, its device sits on the platform bus. A ttyS port without a
// sysfs device is not listed either.
//
// On-board ports are left out unless asked for because a real UART with
// nothing attached stays silent: probing it costs every baud rate's
// timeout, seconds per discovery, for a port that is rarely a chassis's.
std::vector<std::string> listSerialPorts(const HostRoots &roots, bool onBoard);

class SerialTransport final : public Transport {
public:
    // Opens the device file and puts the line in raw mode. VI_ERROR_RSRC_NFOUND
    // when the file does not exist, cannot be opened or is not a terminal;
    // VI_ERROR_RSRC_BUSY when the port is locked.
    static ViStatus open(const std::string &path, std::unique_ptr<Transport> &out);
    ~SerialTransport() override;
    SerialTransport(const SerialTransport &) = delete;
    SerialTransport &operator=(const SerialTransport &) = delete;

    ViStatus write(std::span<const ViByte> data, ViUInt32 &written) override;
    ViStatus read(std::span<ViByte> buffer, ViUInt32 &got) override;
    ViStatus flush(ViUInt16 mask) override;
    ViStatus setAttribute(ViAttr attr, ViAttrState value) override;
    ViStatus getAttribute(ViAttr attr, void *value) const override;

private:
    explicit SerialTransport(int fd);
    ViStatus applyLine(const SerialSettings &line);
    ViStatus writeAll(std::span<const ViByte> data, ViUInt32 &written,
                      const net::Deadline &deadline);
    ViStatus drain(const net::Deadline &deadline);
    bool stopsAtTermChar() const;

    int fd_;
    IoSettings io_;
    SerialSettings line_;
    std::vector<ViByte> pending_;  // received after a termination character
};

}  // namespace korvax::visa
