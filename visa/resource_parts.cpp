#include "visa/resource_parts.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <utility>

#include "visa/resource_name.h"
#include "visa/visa.h"

namespace korvax::visa {
namespace {

constexpr std::array<std::pair<std::string_view, uint16_t>, 7> kInterfaceTypes = {{
    {"GPIB-VXI", VI_INTF_GPIB_VXI},
    {"GPIB", VI_INTF_GPIB},
    {"VXI", VI_INTF_VXI},
    {"ASRL", VI_INTF_ASRL},
    {"TCPIP", VI_INTF_TCPIP},
    {"USB", VI_INTF_USB},
    {"PXI", VI_INTF_PXI},
}};

}  // namespace

std::optional<ResourceParts> splitResourceName(std::string_view name) {
    auto canonical = canonicalResourceName(name);
    if (!canonical) return std::nullopt;
    ResourceParts parts;
    parts.canonical = *canonical;
    // The canonical form has every field, so its field count decides where
    // the class is; the fields in between come from the text as written.
    const std::vector<std::string> upper = splitFields(*canonical);
    std::vector<std::string> written = splitFields(name);
    const std::string &head = upper.front();
    const auto type = std::find_if(kInterfaceTypes.begin(), kInterfaceTypes.end(),
                                   [&](const auto &t) { return head.starts_with(t.first); });
    if (type == kInterfaceTypes.end()) return std::nullopt;
    parts.interface = std::string(type->first);
    parts.interfaceType = type->second;
    const std::string_view board = std::string_view(head).substr(type->first.size());
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(board.data(), board.data() + board.size(), value);
    if (ec == std::errc{} && end == board.data() + board.size() && value <= 0xFFFF)
        parts.board = static_cast<uint16_t>(value);
    parts.resourceClass = upper.back();
    const std::size_t middle = upper.size() - 2;
    parts.fields.assign(written.begin() + 1,
                        written.begin() + 1 +
                            static_cast<std::ptrdiff_t>(std::min(middle, written.size() - 1)));
    // A LAN instrument without a device name is device inst0: both
    // spellings name one resource.
    if (parts.interfaceType == VI_INTF_TCPIP && parts.resourceClass == "INSTR" &&
        parts.fields.size() == 1) {
        parts.fields.emplace_back("inst0");
        parts.canonical = upper[0] + "::" + upper[1] + "::INST0::INSTR";
    }
    return parts;
}

std::optional<std::string> resourceKey(std::string_view name) {
    auto parts = splitResourceName(name);
    if (!parts) return std::nullopt;
    return std::move(parts->canonical);
}

std::optional<NetworkAddress> networkAddress(const ResourceParts &parts) {
    if (parts.interfaceType != VI_INTF_TCPIP || parts.fields.empty()) return std::nullopt;
    NetworkAddress a;
    a.host = parts.fields[0];
    if (parts.resourceClass == "SOCKET") {
        if (parts.fields.size() != 2) return std::nullopt;
        const std::string &p = parts.fields[1];
        unsigned port = 0;
        const auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), port);
        if (ec != std::errc{} || end != p.data() + p.size() || port == 0 || port > 65535)
            return std::nullopt;
        a.port = static_cast<uint16_t>(port);
        a.socket = true;
        return a;
    }
    if (parts.resourceClass != "INSTR" || parts.fields.size() > 2) return std::nullopt;
    a.device = parts.fields.size() == 2 ? parts.fields[1] : "inst0";
    return a;
}

}  // namespace korvax::visa
