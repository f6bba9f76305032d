// The command tables of the Windows driver: 18 spellings each, without the
// identity query and the IP-address, LAN-mode, GPIB-address and baud-rate
// commands, and with "*RST" (not "*RST>") as the reset.
#pragma once

#include <span>

#include "scpi/scpi_parser.h"

namespace korvax {

inline constexpr int kCompactScpiCommandCount = 18;

// Long forms (searched when the command holds a lower-case letter) or
// short forms.
std::span<const ScpiCommand> compactScpiTable(bool longForms);

}  // namespace korvax
