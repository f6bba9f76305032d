// Card identification, initialisation and clearing of a sub-unit.
#include <array>
#include <vector>
#include <cstring>

#include "api/operations.h"
#include "connection/VISAconnection.h"
#include "maps/KORVAX_common.h"
#include "relay/relay.h"
#include "relay/relay_frame.h"

namespace korvax {
namespace {

// Operations on the single-sub-unit chassis take every sub-unit as 0.
int64_t effectiveSubUnit(const ChassisInfo &c, int64_t subUnit) {
    return isSingleSubUnitModel(c) ? 0 : subUnit;
}

void setMatrixGeometry(ChassisInfo &c, SubUnitInfo &s) {
    switch (s.boardType) {
    case 0:
        // Firmware 2 and later drops the unused thirteenth driver word.
        if (c.fwMajor >= 2) {
            s.userWords = 32;
            s.wordsPerBoard = 12;
        } else {
            s.userWords = 19;
            s.wordsPerBoard = 13;
        }
        s.slotCount = s.boardCount = 5;
        s.rowCount = 12;
        s.colCount = 10;
        s.pointCount = 600;
        s.cardParamF = 6;
        s.cardParamG = 5;
        break;
    case 1:
        s.userWords = 15;
        s.slotCount = s.boardCount = 4;
        s.wordsPerBoard = 13;
        s.rowCount = 10;
        s.colCount = 12;
        s.pointCount = 480;
        break;
    case 2:
        s.userWords = 1008;
        s.slotCount = s.boardCount = 21;
        s.wordsPerBoard = 49;
        s.rowCount = 16;
        s.colCount = 96;
        s.pointCount = 32256;
        break;
    case 3:
        s.userWords = 3;
        s.slotCount = s.boardCount = 1;
        s.wordsPerBoard = 10;
        s.rowCount = 8;
        s.colCount = 12;
        s.pointCount = 96;
        s.cascadeCount = 2;
        break;
    default:
        break;
    }
}

struct RfCard {
    uint8_t kind;
    uint32_t boardType;
    uint16_t boardCount, wordsPerBoard, rowCount, pointCount, userWords;
};

// The RF card of sub-unit 1, by the kind code the chassis reports.
constexpr RfCard kRfCards[] = {
    {0, 6, 8, 20, 16, 800, 25},  {1, 10, 4, 20, 16, 800, 25}, {3, 5, 4, 20, 8, 400, 25},
    {9, 9, 4, 12, 16, 800, 25},  {11, 8, 2, 12, 8, 400, 25},  {12, 4, 4, 10, 8, 400, 13},
};

int32_t openRfCard(ChassisInfo &c, int64_t *opened) {
    *opened = 1;
    // Older slot-6 controllers cannot identify an RF card.
    if (GetSlotHW(&c, 6) <= 9) return KORVAX_ERR_NOT_SUPPORTED;
    const int32_t st = query(c, kCmdRfCardKind);
    if (st < 0) return st;
    const uint8_t kind = c.rxBuf[2];
    for (const auto &card : kRfCards) {
        if (card.kind != kind) continue;
        SubUnitInfo &s = c.subUnits[1];
        s.boardType = card.boardType;
        s.userWords = card.userWords;
        s.boardCount = card.boardCount;
        s.wordsPerBoard = card.wordsPerBoard;
        s.rowCount = card.rowCount;
        s.colCount = 50;
        s.pointCount = card.pointCount;
        if (card.kind == 1) s.cardParamA = 12;
        s.cardParamF = 4;
        s.cardParamG = 7;
        s.cardParamB = s.cardParamC = 13;
        s.cardParamD = s.cardParamE = 12;
        return 0;
    }
    return KORVAX_ERR_DEVICE_TYPE;
}

int32_t openAdapterPlate(ChassisInfo &c, int64_t *opened) {
    const int32_t st = query(c, kCmdSlotInfo);
    if (st < 0) return st;
    // Firmware 3.06 moved the adapter code behind the chassis identity.
    const int at = IsNewVer_3_06(&c) ? 10 : 6;
    const uint16_t code = static_cast<uint16_t>(c.rxBuf[at] << 8 | c.rxBuf[at + 1]);
    *opened = 2;
    SubUnitInfo &s = c.subUnits[2];
    if (code == 0x041A || code == 0x041B) {
        s.boardType = code == 0x041A ? 11 : 12;
        s.userWords = 4;
        s.slotCount = 1;
        s.wordsPerBoard = 8;
        s.pointCount = code == 0x041A ? 112 : 100;
        return 0;
    }
    return KORVAX_ERR_DEVICE_TYPE2;
}

}  // namespace
}  // namespace korvax

using namespace korvax;

int32_t GetSlotHW(ChassisInfo *chassis, int32_t slot) {
    if (chassis == nullptr) return KORVAX_ERR_PARAMETER;
    const int64_t index = 24 + 10 * (static_cast<int64_t>(slot) - 1);
    if (index < 0 || index > 199) return KORVAX_ERR_PARAMETER;
    const int32_t st = query(*chassis, kCmdSlotInfo);
    if (st < 0) return st;
    return chassis->rxBuf[index];
}

int32_t KORVAX_OpenSpecifiedCard(uint32_t handle, int64_t subUnit, int64_t *openedSubUnit) {
    ChassisInfo *c = chassisOf(handle);
    if (c == nullptr) return KORVAX_ERR_HANDLE;
    if (openedSubUnit == nullptr) return KORVAX_ERR_PARAMETER;
    subUnit = effectiveSubUnit(*c, subUnit);
    if (isRQ520Family(*c)) {
        const int32_t st = refreshVersion(*c);
        if (st < 0) return st;
        // The adapter plate needs firmware newer than 2.06.
        if (subUnit == 2 && c->fwMajor == 2 && c->fwMinor <= 6) return KORVAX_ERR_NOT_SUPPORTED;
    }
    if (subUnit < 0 || subUnit > 2) return KORVAX_ERR_PARAMETER;
    const int32_t scan = BoardInPlaceHDW(c, static_cast<uint32_t>(subUnit));
    if (scan < 0) return scan;
    const int32_t present = IsBoardExists(c, static_cast<int32_t>(subUnit));
    if (present < 0) return present;
    switch (subUnit) {
    case 0:
        *openedSubUnit = 0;
        setMatrixGeometry(*c, c->subUnits[0]);
        return 0;
    case 1:
        return openRfCard(*c, openedSubUnit);
    default:
        return openAdapterPlate(*c, openedSubUnit);
    }
}

int32_t KORVAX_Init(uint32_t handle, int64_t subUnit) {
    ChassisInfo *c = chassisOf(handle);
    if (c == nullptr) return KORVAX_ERR_HANDLE;
    subUnit = effectiveSubUnit(*c, subUnit);
    InitPointInfo();
    if (isRQ520Family(*c)) {
        const int32_t st = refreshVersion(*c);
        if (st < 0) return st;
    }
    if (c->deviceType == kRQ521) {
        // Relays switch only under remote control.
        uint32_t mode = 0;
        int32_t st = KORVAX_GetControlMode(handle, &mode);
        if (st < 0) return st;
        if (mode == 0 && (st = KORVAX_SetControlMode(handle, 1)) < 0) return st;
    }
    const int32_t st = KORVAX_Clear(handle, subUnit);
    return st < 0 ? st : 0;
}

int32_t KORVAX_Clear(uint32_t handle, int64_t subUnit) {
    ChassisInfo *c = chassisOf(handle);
    if (c == nullptr) return KORVAX_ERR_HANDLE;
    subUnit = effectiveSubUnit(*c, subUnit);
    if (subUnit < 0 || subUnit > 2) return KORVAX_ERR_PARAMETER;
    const int32_t present = IsBoardExists(c, static_cast<int32_t>(subUnit));
    if (present < 0) return present;
    SubUnitInfo &s = c->subUnits[subUnit];
    const uint16_t payload = static_cast<uint16_t>(s.boardCount * s.wordsPerBoard * 2);
    std::memset(c->txBuf, 0, sizeof c->txBuf);
    std::memset(s.userState, 0, sizeof s.userState);
    if (subUnit != 0) return KORVAX_ERR_UNKNOWN_CARD_TYPE;
    if (payload == 0) return KORVAX_ERR_PARAMETER;  // cards never identified: nothing to open
    // All relays open: a frame of zero words. The RQ522 frame is longer
    // than the request buffer, so it is built in a buffer of its own.
    std::vector<uint8_t> frame(4 + payload, 0);
    frame[0] = c->deviceType == kRQ522 ? kCmdRelayStateLarge : kCmdRelayState;
    frame[2] = static_cast<uint8_t>(payload & 0xFF);
    frame[3] = static_cast<uint8_t>(payload >> 8);
    return SendRecvMsgLock(c->vi, frame.data(), 4 + payload, c->rxBuf);
}
