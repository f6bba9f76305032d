// Resource strings such as "TCPIP0::192.168.1.5::INSTR", "GPIB::5" or
// "ASRL1::INSTR". VISA compares them without regard to letter case and
// lets the board number 0 and the class INSTR be left out, so
// "tcpip::sim-rq521" and "TCPIP0::sim-rq521::INSTR" name the same resource.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvax::visa {

// The one spelling of a resource string used to compare names: upper case,
// board number and class filled in. nullopt when the text is not a resource
// string (unknown interface, an empty field, blanks or control characters).
std::optional<std::string> canonicalResourceName(std::string_view name);
// The resource is a serial port (interface ASRL).
bool isSerialResource(std::string_view name);

}  // namespace korvax::visa
