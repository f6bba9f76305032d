// Which boards are physically in place, and the presence record of each
// sub-unit that the relay engine lays its frames out by.
//
// The controller reports presence in two ways: the board-detection request
// (one bit per chassis slot; the RF board of an RQ520 sits behind the matrix
// slots) and the SPI loop-back, where a board answers only when its driver
// chain is alive. The adapter plate of sub-unit 2 has no slot bit and is
// found by its loop-back alone. Every rebuild first marks the sub-unit
// absent, so a failed scan leaves nothing for the relay engine to drive.
#include <algorithm>
#include <cstring>

#include "KORVAX.h"
#include "base/chassis_model.h"
#include "connection/VISAconnection.h"
#include "connection/chassis_lock.h"
#include "connection/board_replies.h"
#include "relay/relay.h"

namespace {

// Loop-back argument bits: one per sub-unit.
constexpr uint8_t kLoopBackSubUnit0 = 1;
constexpr uint8_t kLoopBackSubUnit2 = 4;
// The loop-back reply has one bit per matrix board the mask can name.
constexpr int kLoopBackBoards = 5;

void markAbsent(SubUnitInfo &s) {
    std::memset(s.slotPresent, 0xFF, sizeof s.slotPresent);
    std::memset(s.cardSlot, 0xFF, sizeof s.cardSlot);
}

bool bit(uint32_t value, int j) { return j >= 0 && j < 32 && ((value >> j) & 1u) != 0; }

// Records slot `slot` as present and as the next card in slot order.
void recordCard(SubUnitInfo &s, int &k, int slot) {
    s.cardSlot[k++] = static_cast<int8_t>(slot);
    s.slotPresent[slot] = 1;
}

}  // namespace

int32_t BoardInPlaceHDW(ChassisInfo *chassis, uint32_t subUnit) {
    if (chassis == nullptr || subUnit > 2) return KORVAX_ERR_PARAMETER;
    ChassisInfo &c = *chassis;
    SubUnitInfo &s = c.subUnits[subUnit];
    markAbsent(s);
    std::memset(c.txBuf, 0, sizeof c.txBuf);

    if (subUnit == 0) {
        if (const int32_t st = korvax::replyHolding(korvax::query(c, korvax::kCmdBoardDetect),
                                                    korvax::replies::kDetectionBytes);
            st < 0)
            return st;
        const int slots = std::min<int>(s.slotCount, KORVAX_SLOTS);
        int k = 0;
        for (int j = 0; j < slots; ++j)
            if (korvax::replies::detectedSlot(c.rxBuf, j)) recordCard(s, k, j);
        return 0;
    }

    // Only the models with an RF board have the adapter plate too.
    const korvax::ChassisModel &m = korvax::modelOf(c);
    if (!m.hasRfBoard() || !m.hasAdapterPlate()) return KORVAX_ERR_UNKNOWN_CARD_TYPE;

    if (subUnit == 1) {
        if (const int32_t st = korvax::replyHolding(korvax::query(c, korvax::kCmdBoardDetect),
                                                    korvax::replies::kByte2Bytes);
            st < 0)
            return st;
        // The RF slots follow the matrix slots in the detection bits (slot 5
        // on an RQ520); they are numbered from 0 again within sub-unit 1.
        // Only byte 2 carries them, and the record holds 21 slots at most.
        const int first = c.subUnits[0].slotCount;
        const int end = std::min<int>({c.slotTotal, 8, first + KORVAX_SLOTS});
        int k = 0;
        for (int j = first; j < end; ++j)
            if (korvax::replies::byte2Bit(c.rxBuf, j)) recordCard(s, k, j - first);
        return 0;
    }

    if (const int32_t st = korvax::replyHolding(
            korvax::query(c, korvax::kCmdLoopBackOrUpdate, kLoopBackSubUnit2),
            korvax::replies::kByte2Bytes);
        st < 0)
        return st;
    // The plate is one piece that spans the whole sub-unit.
    if (korvax::replies::byte2Bit(c.rxBuf, 0)) std::memset(s.slotPresent, 1, sizeof s.slotPresent);
    return 0;
}

int32_t GetSlotHW(ChassisInfo *chassis, int32_t slot) {
    if (chassis == nullptr) return KORVAX_ERR_PARAMETER;
    // One 10-byte record per slot from byte 16; the hardware code is its
    // ninth byte.
    const int64_t index = 24 + 10 * (static_cast<int64_t>(slot) - 1);
    if (index < 0 || index > 199) return KORVAX_ERR_PARAMETER;
    const int32_t st = korvax::replyHolding(korvax::query(*chassis, korvax::kCmdSlotInfo),
                                            static_cast<size_t>(index + 1));
    if (st < 0) return st;
    return chassis->rxBuf[index];
}

extern "C" KORVAX_API int32_t KORVAXBoardInPlaceHDW(uint32_t handle, uint32_t subUnit) {
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();
    if (const int32_t st = BoardInPlaceHDW(c.get(), subUnit); st < 0) return st;
    const int32_t exists = IsBoardExists(c.get(), static_cast<int32_t>(subUnit));
    return exists < 0 ? exists : 0;
}

extern "C" KORVAX_API int32_t KORVAX_BoardInPlace(uint32_t handle, int32_t mask) {
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();
    if (mask < 1 || mask >= (1 << kLoopBackBoards)) return KORVAX_ERR_CARD_IN_PLACE_SET;

    const int32_t st = korvax::replyHolding(
        korvax::query(*c, korvax::kCmdLoopBackOrUpdate, kLoopBackSubUnit0, /*clearReply=*/true),
        korvax::replies::kByte2Bytes);
    if (st < 0) return st;

    // The mask is the user's word for which boards are fitted; a board that
    // answers but is left out of the mask is not driven. Slots beyond the
    // loop-back's reach cannot be named by the mask and stay absent.
    SubUnitInfo &s = c->subUnits[0];
    markAbsent(s);
    const int slots = std::min<int>({s.slotCount, kLoopBackBoards, KORVAX_SLOTS});
    int k = 0;
    for (int j = 0; j < slots; ++j) {
        if (!bit(static_cast<uint32_t>(mask), j)) continue;
        if (!korvax::replies::byte2Bit(c->rxBuf, j)) return KORVAX_ERR_CARD_IN_PLACE_SET;
        recordCard(s, k, j);
    }
    const int32_t exists = IsBoardExists(c.get(), 0);
    return exists < 0 ? exists : 0;
}

extern "C" KORVAX_API int32_t KORVAX_BoardInPlaceInfo(uint32_t handle, uint32_t *states,
                                                      uint32_t *count) {
    if (states == nullptr || count == nullptr) return KORVAX_ERR_PARAMETER;
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();
    *count = c->slotTotal;

    const korvax::PresenceLayout layout = korvax::modelOf(*c).presence;
    const int32_t st = korvax::replyHolding(korvax::query(*c, korvax::kCmdBoardDetect),
                                            layout == korvax::PresenceLayout::SlotBits
                                                ? korvax::replies::kDetectionBytes
                                                : korvax::replies::kByte2Bytes);
    // Decoded whatever the outcome: the caller looks at the states only when
    // the status is not negative. Never more than slotTotal entries are
    // written, which is what the caller was told to provide.
    if (layout == korvax::PresenceLayout::Unknown) {
        states[0] = c->rxBuf[2];
        return st;
    }
    // The one-byte layout reports eight slots at most.
    const int reach = layout == korvax::PresenceLayout::SlotBits ? KORVAX_SLOTS : 8;
    const int n = std::min<int>(c->slotTotal, reach);
    for (int j = 0; j < n; ++j) states[j] = korvax::replies::presentSlot(c->rxBuf, layout, j) ? 1 : 0;
    return st;
}
