// SPI loop-back results per board and the one-line self-test verdict.
//
// The controller clocks a pattern through the serial driver chain of each
// board and reports which chains answered: one bit per board on most
// chassis, four lines per board on the RQ522 (two boards per reply byte),
// and per line on an RF board. A board whose chain does not loop back
// cannot be switched reliably.
#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "KORVAX.h"
#include "api/operations.h"
#include "base/build_policy.h"
#include "base/chassis_model.h"
#include "connection/VISAconnection.h"
#include "connection/board_replies.h"
#include "connection/chassis_lock.h"

namespace korvax {
namespace {

constexpr uint8_t kLoopBackArg[3] = {1, 2, 4};  // argument bit of each sub-unit
constexpr size_t kTextArea = BuildPolicy::kSelfTestTextArea;

// Lines of the RF board's chain that the loop-back tests, by card type;
// 0 for a type the controller does not test.
int rfLines(uint32_t boardType) {
    switch (boardType) {
    case 4: case 6: case 9: case 10: return 4;
    case 5: case 7: case 8: return 2;
    default: return 0;
    }
}

bool lacksMatrixLoopBack(const ChassisInfo &c) {
    return modelOf(c).withoutLoopBackAndPlate.contains(firmwareOf(c));
}

std::string_view openFailureLine(int32_t code) {
    switch (code) {
    case KORVAX_ERR_NOT_SUPPORTED:
        return "SelfTest:HardWare Version is not supported! please update MCU software!\n";
    case KORVAX_ERR_NO_TYPE0_CARD: return "SelfTest:No Card In Speified Slot!\n";
    case KORVAX_ERR_NO_TYPE1_CARD: return "SelfTest:No Card In QD2 Slot!\n";
    case KORVAX_ERR_NO_TYPE2_CARD: return "SelfTest:No Card In Adaptor Board Slot!\n";
    case KORVAX_ERR_UNKNOWN_CARD_TYPE: return "SelfTest:Card Type Error!\n";
    case KORVAX_ERR_RECEIVE:
    case KORVAX_ERR_SEND: return "SelfTest:Network Communicate Fail!\n";
    default: return "";
    }
}

constexpr std::string_view kNetworkLine = "SelfTest:Network Communicate Fail!\n";
constexpr std::string_view kSuccessLine = "SelfTest:SelfTest Success!\n";

struct Verdict {
    int32_t status;
    std::string_view line;
};

Verdict testSubUnit(ChassisInfo &c, int64_t subUnit) {
    if (subUnit == 0 && lacksMatrixLoopBack(c)) return {0, kSuccessLine};
    const SubUnitInfo &s = c.subUnits[subUnit];
    const int slots = std::min<int>(s.slotCount, KORVAX_SLOTS);
    const size_t fields =
        subUnit == 0 ? replies::loopBackBytes(modelOf(c).loopBack, slots) : replies::kByte2Bytes;
    if (replyHolding(query(c, kCmdLoopBackOrUpdate, kLoopBackArg[subUnit]), fields) < 0)
        return {KORVAX_ERR_RECEIVE, kNetworkLine};
    if (subUnit == 0) {
        for (int j = 0; j < slots; ++j) {
            if (s.slotPresent[j] != 1) continue;  // empty slots are not tested
            if (!replies::boardLoopsBack(c.rxBuf, modelOf(c).loopBack, j))
                return {KORVAX_ERR_SPI_LOOPBACK, "SelfTest:Spi Loop Back Fail\n"};
        }
        return {0, kSuccessLine};
    }
    if (subUnit == 1) {
        const int rfSlot = s.slotCount > 0 ? std::min<int>(s.slotCount - 1, KORVAX_SLOTS - 1) : 0;
        if (s.slotPresent[rfSlot] == 0xFF) return {0, kSuccessLine};  // no RF board fitted
        const int lines = rfLines(s.boardType);
        if (lines == 0) return {KORVAX_ERR_DEVICE_TYPE, ""};
        if (!replies::linesAnswered(c.rxBuf, lines))
            return {KORVAX_ERR_SPI_LOOPBACK, "SelfTest:RF Board Spi Loop Back Fail\n"};
        return {0, kSuccessLine};
    }
    if (!replies::byte2Bit(c.rxBuf, 0))
        return {KORVAX_ERR_SPI_LOOPBACK, "SelfTest:Adapter Plate Spi Loop Back Fail\n"};
    return {0, kSuccessLine};
}

// The whole usable area is written: the line (cut to fit), zeros after it,
// and a terminating zero in its last byte.
void copyOut(std::string_view line, char *text, size_t usable) {
    const size_t n = std::min(line.size(), usable - 1);
    std::memcpy(text, line.data(), n);
    std::memset(text + n, 0, usable - n);
}

}  // namespace
}  // namespace korvax

using namespace korvax;

int32_t KORVAX_SPILoopTestInfo(uint32_t handle, uint32_t subUnit, uint32_t *results,
                               uint32_t *count) {
    const ChassisGuard c(handle);
    if (!c) return c.status();
    if (subUnit > 2) return KORVAX_ERR_BAD_SLOT;
    if (results == nullptr || count == nullptr) return KORVAX_ERR_PARAMETER;
    const SubUnitInfo &s = c->subUnits[subUnit];
    *count = s.slotCount;
    if (const int32_t st = refreshVersion(*c); st < 0) return st;

    if (subUnit == 0) {
        if (lacksMatrixLoopBack(*c)) return KORVAX_ERR_NOT_SUPPORTED;
        if (BuildPolicy::kRQ520BWithoutLoopBack && modelOf(*c).dllRefusesMatrixLoopBack)
            return KORVAX_ERR_NOT_SUPPORTED;
        const LoopBackLayout layout = modelOf(*c).loopBack;
        // The four-line layout always reports every slot; the one-bit layout
        // eight at most.
        const int n = layout == LoopBackLayout::FourLinesEach ? KORVAX_SLOTS
                                                              : std::min<int>(s.slotCount, 8);
        if (const int32_t st = replyHolding(query(*c, kCmdLoopBackOrUpdate, kLoopBackArg[0]),
                                            replies::loopBackBytes(layout, n));
            st < 0)
            return st;
        if (layout == LoopBackLayout::Unknown) return KORVAX_ERR_NOT_SUPPORTED;
        for (int j = 0; j < n; ++j) results[j] = replies::loopBackOf(c->rxBuf, layout, j);
        return 0;
    }
    if (subUnit == 1) {
        if (!modelOf(*c).hasRfBoard()) return KORVAX_ERR_NOT_SUPPORTED;
        if (const int32_t st = replyHolding(query(*c, kCmdLoopBackOrUpdate, kLoopBackArg[1]),
                                            replies::kByte2Bytes);
            st < 0)
            return st;
        const int lines = rfLines(s.boardType);
        if (lines == 0) return KORVAX_ERR_DEVICE_TYPE;
        results[0] = replies::linesAnswered(c->rxBuf, lines) ? 1 : 0;
        return 0;
    }
    if (const int32_t st = replyHolding(query(*c, kCmdLoopBackOrUpdate, kLoopBackArg[2]),
                                        replies::kByte2Bytes);
        st < 0)
        return st;
    if (!modelOf(*c).hasAdapterPlate()) return KORVAX_ERR_NOT_SUPPORTED;
    const int n = std::min<int>(s.slotCount, 8);
    for (int j = 0; j < n; ++j) results[j] = replies::byte2Bit(c->rxBuf, j);
    return 0;
}

int32_t KORVAX_SelfTest(uint32_t handle, int64_t subUnit, char *text, uint64_t size) {
    // Nothing is written into a buffer of no size (or none at all).
    if (text == nullptr || size == 0) return KORVAX_ERR_PARAMETER;
    const size_t usable = static_cast<size_t>(std::min<uint64_t>(size, kTextArea));
    const ChassisGuard c(handle);
    if (!c) return c.status();
    subUnit = effectiveSubUnit(*c, subUnit);

    int64_t opened = 0;
    const int32_t open = openSpecifiedCard(*c, subUnit, &opened);
    if (open < 0) {
        copyOut(openFailureLine(open), text, usable);
        return open;
    }
    std::memset(c->txBuf, 0, sizeof c->txBuf);
    const Verdict v = testSubUnit(*c, opened);
    copyOut(v.line, text, usable);
    return v.status;
}
