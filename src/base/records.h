// Chassis registry records shared by every module of the library.
//
// One ChassisInfo per discovered chassis; the public handle is its VISA
// session (`vi`). The records are plain data owned by the library: nobody
// allocates or frees them, and the layout is part of what tests and tools
// in other languages read through the exported `globalChassisInfo`.
#pragma once

#include <stdint.h>

#include "KORVAX.h"
#include "base/export.h"

#define KORVAX_REGISTRY_SIZE 32   // records in globalChassisInfo
#define KORVAX_TX_SIZE 1600       // request buffer of a record
#define KORVAX_RX_SIZE 400        // reply buffer; every read asks for 400 bytes
#define KORVAX_SLOTS 21           // presence entries per sub-unit
#define KORVAX_USER_WORDS 1500    // state words kept per sub-unit
#define KORVAX_SCPI_REPLY_SIZE 256

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SubUnitInfo {
    uint32_t boardType;                 // card model code 0..12, selects the relay maps
    uint8_t slotPresent[KORVAX_SLOTS];  // per physical slot: 1 present, 0xFF none / not scanned
    int8_t cardSlot[KORVAX_SLOTS];      // physical slot of the k-th present card, -1 none
    uint8_t cascadeState[2];            // RQ523 LT relays: 1 closes; 0xFF after connect
    uint32_t userState[KORVAX_USER_WORDS]; // state of the last accepted switching call
    uint16_t userWords;                 // 32-bit words of a state array that hold points
    uint16_t slotCount;                 // card slots of the sub-unit
    uint16_t boardCount;                // board blocks in a relay-state frame
    uint16_t wordsPerBoard;             // 16-bit driver words per board block
    uint16_t cardParamA;
    uint16_t rowCount;                  // rows per card
    uint16_t colCount;                  // columns per card
    uint16_t cardParamB, cardParamC, cardParamD, cardParamE;
    uint16_t pointCount;                // crosspoints of the sub-unit
    uint16_t cardParamF, cardParamG;
    uint16_t cardParamH;
    uint16_t cascadeCount;              // LT relays (2 on RQ523 chassis)
} SubUnitInfo;

typedef struct ChassisInfo {
    char rsrcName[KORVAX_RSRC_NAME_SIZE]; // resource string as discovered (NUL-terminated)
    uint16_t typeCode;                    // model code; with rsrcName the leading RsrcEntry
    char model[64];                       // model field of the "*IDN?" reply
    uint32_t vi;                          // VISA session = public handle; 0 = unused record
    uint16_t fwMajor;                     // controller firmware, refreshed by command 11
    uint16_t fwMinor;
    uint16_t slotTotal;                   // card slots of the whole chassis
    uint16_t deviceType;                  // model code 0x041A..0x044B
    uint8_t txBuf[KORVAX_TX_SIZE];
    uint8_t rxBuf[KORVAX_RX_SIZE];
    SubUnitInfo subUnits[3];
    uint8_t connected;                    // 1 once KORVAX_Connect initialised the record
    uint32_t baudRate;                    // serial chassis: rate that answered discovery
    char scpiReply[KORVAX_SCPI_REPLY_SIZE]; // pending SCPI reply text
} ChassisInfo;

KORVAX_INTERNAL ChassisInfo globalChassisInfo[KORVAX_REGISTRY_SIZE];
KORVAX_INTERNAL RsrcEntry tmp[KORVAX_MAX_CHASSIS];
KORVAX_INTERNAL uint32_t defaultRM;
KORVAX_INTERNAL uint8_t first_findrsc;
KORVAX_INTERNAL uint8_t currentOpSwitch;

// Record of a handle: its index 0..4 and *chassis set, or -10023. A bare
// lookup: operations reach their record through korvax::ChassisGuard
// (connection/chassis_lock.h), which also takes the record's lock.
KORVAX_INTERNAL int32_t FindChassis(uint32_t handle, ChassisInfo **chassis);

#ifdef __cplusplus
}
#endif
