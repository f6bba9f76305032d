// Resource strings such as "TCPIP0::192.168.1.5::INSTR", "GPIB::5" or
// "ASRL1::INSTR". VISA compares them without regard to letter case and
// lets the board number 0 and the class INSTR be left out, so
// "tcpip::sim-rq521" and "TCPIP0::sim-rq521::INSTR" name the same resource.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvax::visa {

// Longest resource string, as every VISA bounds it (VI_FIND_BUFLEN - 1).
inline constexpr std::size_t kMaxResourceNameLength = 255;

// The spelling a resource search reports: interface and class in upper case,
// board number and class filled in ("tcpip::host" gives
// "TCPIP0::host::INSTR"), the address fields as written. nullopt when the
// text is not a resource string (unknown interface, an empty field, a lone
// ':' inside a field, blanks or control characters, no address where the
// class needs one) or when the result would be longer than
// kMaxResourceNameLength. Applied to its own result it changes nothing.
std::optional<std::string> standardResourceName(std::string_view name);
// The one spelling used to compare names: the standard one in upper case.
std::optional<std::string> canonicalResourceName(std::string_view name);
// The resource is a serial port (interface ASRL).
bool isSerialResource(std::string_view name);

// Text helpers for names and the lines that carry them.
// The fields between "::" separators, as written ("" for empty ones).
std::vector<std::string> splitFields(std::string_view name);
std::string upperCase(std::string_view text);
std::string lowerCase(std::string_view text);
// Without the blanks (spaces, tabs, line ends) at either end.
std::string_view trimmed(std::string_view text);

}  // namespace korvax::visa
