#include "scpi/compact_tables.h"

#include <array>

namespace korvax {
namespace {

// The manual's spellings, oddities included (see scpi_parser.cpp). The
// control-mode setting takes its argument straight after the colon.
constexpr std::array<ScpiCommand, kCompactScpiCommandCount> kLongForms = {{
    {":SYSTem:VERSion?", SCPI_OP_FW_VERSION},
    {":SYSTem:MANF?", SCPI_OP_MANUFACTURER},
    {":SYSTem:MODule?", SCPI_OP_MODEL},
    {"*RST", SCPI_OP_RESET},
    {":SYSemT:COMMunication:LAN:IP:ADDRess ", SCPI_OP_SET_IP_ADDRESS},
    {":DIAGnostic:TEST:CARD:BIP?", SCPI_OP_BOARD_IN_PLACE},
    {":DIAGnostic:TEST:CARD:SPILOOP?", SCPI_OP_SPI_LOOP},
    {":DIAGnostic:TEST:CARD:STATe?", SCPI_OP_CARD_STATE},
    {":SYSTem:ConTRoL:MODE?", SCPI_OP_CONTROL_MODE},
    {":SYSTem:ConTRoL:SET:", SCPI_OP_SET_CONTROL_MODE},
    {"[:ROUTe]:OPEN ", SCPI_OP_OPEN},
    {"[:ROUTe]:OPEN:ALL", SCPI_OP_OPEN_ALL},
    {":OPEN ", SCPI_OP_OPEN},
    {":OPEN:ALL", SCPI_OP_OPEN_ALL},
    {"[:ROUTe]:CLOSe ", SCPI_OP_CLOSE},
    {"[:ROUTe]:CLOSe:ALL", SCPI_OP_CLOSE_ALL},
    {":CLOSe ", SCPI_OP_CLOSE},
    {":CLOSe:ALL", SCPI_OP_CLOSE_ALL},
}};

constexpr std::array<ScpiCommand, kCompactScpiCommandCount> kShortForms = {{
    {":SYST:VERS?", SCPI_OP_FW_VERSION},
    {":SYST:MANF?", SCPI_OP_MANUFACTURER},
    {":SYST:MOD?", SCPI_OP_MODEL},
    {"*RST", SCPI_OP_RESET},
    {":SYST:COMM:LAN:IP:ADDR ", SCPI_OP_SET_IP_ADDRESS},
    {":DIAG:TEST:CARD:BIP?", SCPI_OP_BOARD_IN_PLACE},
    {":DIAG:TEST:CARD:SPILOOP?", SCPI_OP_SPI_LOOP},
    {":DIAG:TEST:CARD:STAT?", SCPI_OP_CARD_STATE},
    {":SYST:CTRL:MODE?", SCPI_OP_CONTROL_MODE},
    {":SYST:CTRL:SET:", SCPI_OP_SET_CONTROL_MODE},
    {"[:ROUT]:OPEN ", SCPI_OP_OPEN},
    {"[:ROUT]:OPEN:ALL", SCPI_OP_OPEN_ALL},
    {":OPEN ", SCPI_OP_OPEN},
    {":OPEN:ALL", SCPI_OP_OPEN_ALL},
    {"[:ROUT]:CLOS ", SCPI_OP_CLOSE},
    {"[:ROUT]:CLOS:ALL", SCPI_OP_CLOSE_ALL},
    {":CLOS ", SCPI_OP_CLOSE},
    {":CLOS:ALL", SCPI_OP_CLOSE_ALL},
}};

}  // namespace

std::span<const ScpiCommand> compactScpiTable(bool longForms) {
    return longForms ? std::span<const ScpiCommand>(kLongForms)
                     : std::span<const ScpiCommand>(kShortForms);
}

}  // namespace korvax
