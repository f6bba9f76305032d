// The fields of a resource string, for the code that has to reach the
// instrument it names and for viParseRsrc. Letter case is kept in the host
// and device fields (a host name or VXI-11 device name is passed on as the
// user wrote it); interface and class are upper case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvax::visa {

struct ResourceParts {
    // The name compared to tell resources apart: canonicalResourceName's,
    // with a LAN instrument's default device (inst0) filled in.
    std::string canonical;
    std::string interface;      // "TCPIP", "ASRL", "USB", "GPIB", ...
    uint16_t interfaceType = 0; // VI_INTF_*
    uint16_t board = 0;         // 0 for a serial port named by its device path
    std::string resourceClass;  // "INSTR", "SOCKET", ...
    std::vector<std::string> fields;  // between interface and class, as written
};

std::optional<ResourceParts> splitResourceName(std::string_view name);
// ResourceParts::canonical of a name; nullopt when it is not one.
std::optional<std::string> resourceKey(std::string_view name);

// Where a TCPIP resource lives.
struct NetworkAddress {
    std::string host;
    std::string device;  // VXI-11 device name (INSTR); "inst0" when not given
    uint16_t port = 0;   // SOCKET only
    bool socket = false;
};

// nullopt unless the resource is TCPIP::host[::device]::INSTR or
// TCPIP::host::port::SOCKET with a port 1..65535.
std::optional<NetworkAddress> networkAddress(const ResourceParts &parts);

}  // namespace korvax::visa
