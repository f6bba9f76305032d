// Command numbers of the chassis's binary protocol: byte 0 of every request
// frame. The library sends them; the chassis simulator (sim/) answers them,
// and takes the numbers from here so that the two cannot drift apart (what
// each command does is each side's own business).
#pragma once

#include <stdint.h>

namespace korvax {

enum Command : uint8_t {
    kCmdSetSerial = 2,
    kCmdGetControlMode = 5,
    kCmdSetControlMode = 6,
    kCmdSlotInfo = 8,
    kCmdBoardDetect = 10,
    kCmdVersion = 11,
    kCmdLoopBackOrUpdate = 12,
    kCmdSetIP = 13,
    kCmdReset = 14,
    kCmdRfCardKind = 17,
    kCmdRelayState = 19,
    kCmdSetGPIB = 20,
    kCmdSetBaud = 21,
    kCmdGetGPIB = 22,
    kCmdGetBaud = 23,
    kCmdGetIP = 24,
    kCmdGetLANMode = 25,
    kCmdSetCardSerialBase = 31,  // + slot 1..6
    kCmdSetLANMode = 48,
    kCmdCommVersion = 49,
    kCmdRelayStateLarge = 67,
};

}  // namespace korvax
