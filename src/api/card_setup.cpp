// Card identification, initialisation and clearing of a sub-unit.
#include <array>
#include <vector>
#include <cstring>

#include "api/operations.h"
#include "base/chassis_model.h"
#include "connection/VISAconnection.h"
#include "connection/chassis_lock.h"
#include "connection/relay_frame_codec.h"
#include "maps/KORVAX_common.h"
#include "relay/relay.h"
#include "relay/relay_frame.h"

namespace korvax {
namespace {

void setMatrixGeometry(const ChassisInfo &c, SubUnitInfo &s) {
    const ChassisModel &m = modelOf(c);
    const MatrixGeometry &g = m.geometry(firmwareOf(c));
    // A record whose card type is not its model's (or a model nobody knows)
    // keeps what it has.
    if (m.slots[0] == 0 || g.boardType != s.boardType) return;
    s.userWords = g.userWords;
    s.slotCount = s.boardCount = g.slots;
    s.wordsPerBoard = g.wordsPerBoard;
    s.rowCount = g.rowCount;
    s.colCount = g.colCount;
    s.pointCount = g.pointCount;
    // Only the fields a family defines are written; the others keep what
    // they held.
    if (g.paramF) s.cardParamF = g.paramF;
    if (g.paramG) s.cardParamG = g.paramG;
    if (g.cascadeCount) s.cascadeCount = g.cascadeCount;
}

int32_t openRfCard(ChassisInfo &c, int64_t *opened) {
    *opened = 1;
    // Older slot-6 controllers cannot identify an RF card.
    const int32_t hardware = GetSlotHW(&c, 6);
    if (hardware < 0) return hardware;
    if (hardware <= 9) return KORVAX_ERR_NOT_SUPPORTED;
    const int32_t st = replyHolding(query(c, kCmdRfCardKind), 3);
    if (st < 0) return st;
    const uint8_t kind = c.rxBuf[2];
    for (const RfCard &card : modelOf(c).rfCards) {
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
    // The current layout moved the adapter code behind the chassis identity.
    const int at = modelOf(c).shortSlotInformation(firmwareOf(c)) ? 6 : 10;
    const int32_t st = replyHolding(query(c, kCmdSlotInfo), at + 2);
    if (st < 0) return st;
    const uint16_t code = static_cast<uint16_t>(c.rxBuf[at] << 8 | c.rxBuf[at + 1]);
    *opened = 2;
    SubUnitInfo &s = c.subUnits[2];
    for (const AdapterPlate &plate : modelOf(c).plates) {
        if (plate.code != code) continue;
        s.boardType = plate.boardType;
        s.userWords = 4;
        s.slotCount = 1;
        s.wordsPerBoard = 8;
        s.pointCount = plate.pointCount;
        return 0;
    }
    return KORVAX_ERR_DEVICE_TYPE2;
}

}  // namespace
}  // namespace korvax

using namespace korvax;

int32_t korvax::openSpecifiedCard(ChassisInfo &chassis, int64_t subUnit, int64_t *openedSubUnit) {
    ChassisInfo *c = &chassis;
    if (openedSubUnit == nullptr) return KORVAX_ERR_PARAMETER;
    subUnit = effectiveSubUnit(*c, subUnit);
    const ChassisModel &m = modelOf(*c);
    if (m.firmwareFirst) {
        const int32_t st = refreshVersion(*c);
        if (st < 0) return st;
        if (subUnit == 2 && m.withoutLoopBackAndPlate.contains(firmwareOf(*c)))
            return KORVAX_ERR_NOT_SUPPORTED;
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

int32_t KORVAX_OpenSpecifiedCard(uint32_t handle, int64_t subUnit, int64_t *openedSubUnit) {
    const ChassisGuard c(handle);
    if (!c) return c.status();
    return openSpecifiedCard(*c, subUnit, openedSubUnit);
}

int32_t KORVAX_Init(uint32_t handle, int64_t subUnit) {
    const ChassisGuard c(handle);
    if (!c) return c.status();
    subUnit = effectiveSubUnit(*c, subUnit);
    InitPointInfo();
    const ChassisModel &m = modelOf(*c);
    if (m.firmwareFirst) {
        const int32_t st = refreshVersion(*c);
        if (st < 0) return st;
    }
    if (m.remoteSwitching) {
        // Relays switch only under remote control.
        uint32_t mode = 0;
        int32_t st = controlModeOf(*c, mode);
        if (st < 0) return st;
        if (mode == 0 && (st = changeControlMode(*c, 1)) < 0) return st;
    }
    const int32_t st = clearSubUnit(*c, subUnit);
    return st < 0 ? st : 0;
}

int32_t KORVAX_Clear(uint32_t handle, int64_t subUnit) {
    const ChassisGuard c(handle);
    if (!c) return c.status();
    return clearSubUnit(*c, subUnit);
}

int32_t korvax::clearSubUnit(ChassisInfo &chassis, int64_t subUnit) {
    ChassisInfo *c = &chassis;
    subUnit = effectiveSubUnit(*c, subUnit);
    if (subUnit < 0 || subUnit > 2) return KORVAX_ERR_PARAMETER;
    const int32_t present = IsBoardExists(c, static_cast<int32_t>(subUnit));
    if (present < 0) return present;
    SubUnitInfo &s = c->subUnits[subUnit];
    const uint16_t payload = static_cast<uint16_t>(s.boardCount * s.wordsPerBoard * 2);
    std::memset(c->txBuf, 0, sizeof c->txBuf);
    // No relay of the card sub-units is ever switched by a frame: their
    // state is forgotten, and there is nothing to send.
    if (subUnit != 0) {
        std::memset(s.userState, 0, sizeof s.userState);
        return KORVAX_ERR_UNKNOWN_CARD_TYPE;
    }
    if (payload == 0) return KORVAX_ERR_PARAMETER;  // cards never identified: nothing to open
    // All relays open: a frame of zero words. The RQ522 frame is longer
    // than the request buffer, so it is built in a buffer of its own.
    std::vector<uint8_t> frame(4 + payload, 0);
    putRelayFrameHeader(frame.data(), modelOf(*c).clearCommand, payload);
    // The remembered state turns "all open" only once the instrument took
    // the frame, judged as a switching frame is: after a failed or refused
    // clear (a chassis in local control answers 0xFF) its relays may still
    // be closed.
    const int32_t st = exchangeRelayFrame(*c, frame.data(), 4 + payload, 1);
    if (st < 0) return st;
    std::memset(s.userState, 0, sizeof s.userState);
    return st;
}
