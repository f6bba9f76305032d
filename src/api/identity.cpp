// Identity of a chassis and its cards: model and maker codes, serial numbers,
// hardware and firmware versions, card names and sizes.
//
// The controller keeps the identity data in its slot-information block
// (command 8): one byte per 16-bit word, serial numbers most significant
// byte first. RQ520-family controllers older than firmware 3.06 use a shorter
// block with 7-digit serial numbers and no per-card data; every operation
// that needs the card data refuses those controllers.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "KORVAX.h"
#include "api/operations.h"
#include "base/build_policy.h"
#include "base/chassis_model.h"
#include "base/qmbase.h"
#include "connection/VISAconnection.h"
#include "connection/chassis_lock.h"
#include "relay/relay.h"

namespace {

// Every text result is built in a field of this size; version lists are
// handed out in slots of the same size.
constexpr size_t kTextField = 10;
using TextField = std::array<char, kTextField>;

// Slot information, current layout: serial words at bytes 0..6, hardware
// version at 8, model code 10-11, maker code at 12 and 14, then one 10-byte
// record per card slot (serial words 0..6, hardware version 8).
constexpr size_t kCurSerial = 0;
constexpr size_t kCurHwVersion = 8;
constexpr size_t kCurModel = 10;
constexpr size_t kCurMaker = 12;
constexpr size_t kCardRecords = 16;
constexpr size_t kCardRecordSize = 10;
// Old RQ520 layout: 3 serial words at bytes 0..4, model 6-7, maker at 8 and 10.
constexpr size_t kOldSerial = 0;
constexpr size_t kOldModel = 6;
constexpr size_t kOldMaker = 8;

constexpr uint32_t kSerial8Min = 10000000, kSerial8Max = 99999999;
constexpr uint32_t kSerial7Min = 1000000, kSerial7Max = 9999999;
// The Windows driver has always let a 7-digit chassis serial through; the
// instruments in the field that carry one must stay writable from there.
constexpr uint32_t kSetSerialMin = korvax::BuildPolicy::kChassisSerialMin;

// The card-data block of GetSN can describe at most this many entries.
constexpr uint32_t kMaxSerialEntries = 30;

// Hardware number and serial texts are converted by toInt, which only
// accepts texts that fit its 20-byte working copy.
constexpr size_t kMaxNumberText = 19;

// Serial number spread over `words` reply words (one byte each), most
// significant first.
uint32_t serialAt(const uint8_t *reply, size_t offset, int words) {
    uint32_t v = 0;
    for (int i = 0; i < words; ++i) v = (v << 8) | reply[offset + 2 * static_cast<size_t>(i)];
    return v;
}

uint16_t bigEndian16(const uint8_t *reply, size_t offset) {
    return static_cast<uint16_t>((reply[offset] << 8) | reply[offset + 1]);
}

// Firmware versions are two hex-coded bytes: 3.06 is sent as 3, 6 and
// 3.10 as 3, 0x10, so a minor byte of 10 really is version 3.0a.
TextField firmwareText(unsigned major, unsigned minor) {
    TextField t{};
    std::snprintf(t.data(), t.size(), "%x.%02x", major, minor);
    return t;
}

// Hardware versions are one decimal-coded byte: 21 is revision 2.1. The
// digits are printed in hex like every other version the instrument shows.
TextField hardwareText(uint8_t v) {
    TextField t{};
    std::snprintf(t.data(), t.size(), "%x.%x", static_cast<unsigned>(v / 10),
                  static_cast<unsigned>(v % 10));
    return t;
}

bool olderThan306(const ChassisInfo &c) {
    return korvax::modelOf(c).shortSlotInformation(korvax::firmwareOf(c));
}

bool validSerial(uint32_t v) { return v >= kSerial8Min && v <= kSerial8Max; }

// A version list of up to one slot per reply pair.
struct VersionList {
    std::array<TextField, KORVAX_RX_SIZE / 2> slots{};
    size_t count = 0;
    void add(const TextField &t) {
        if (count < slots.size()) slots[count++] = t;
    }
};

// Copies each slot that fits whole into the caller's size bytes: the text
// and its terminating zero at offset 10 * k.
void deliver(const VersionList &list, char *out, uint64_t size) {
    const uint64_t fitting = size / kTextField;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(list.count, fitting));
    for (size_t k = 0; k < n; ++k) {
        const TextField &t = list.slots[k];
        std::memcpy(out + k * kTextField, t.data(), std::strlen(t.data()) + 1);
    }
}

// Checks shared by the two serial-number writers, before anything is sent.
int32_t checkSerialTexts(const char *serial, const char *hwNumber) {
    if (serial == nullptr || hwNumber == nullptr) return KORVAX_ERR_PARAMETER;
    if (!isdigitstr(serial)) return KORVAX_ERR_SN_INPUT;
    if (!isdigitstr(hwNumber) || std::strlen(hwNumber) > kMaxNumberText)
        return KORVAX_ERR_BAD_HW_NUMBER;
    return 0;
}

// Payload of both serial writers: the four serial bytes, most significant
// first, then the low byte of the hardware number, one byte per word.
void putSerial(ChassisInfo &c, uint32_t serial, const char *hwNumber) {
    for (int i = 0; i < 4; ++i)
        korvax::setWord(c.txBuf, 2 + i, static_cast<uint16_t>((serial >> (24 - 8 * i)) & 0xFF));
    korvax::setWord(c.txBuf, 6, static_cast<uint16_t>(toInt(hwNumber) & 0xFF));
}

constexpr std::string_view kUnknown = "Unknown";

void copyText(std::string_view text, char *out) {
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
}

}  // namespace

extern "C" KORVAX_API int32_t KORVAX_GetDeviceInfo(uint32_t handle, char *model,
                                                   char *manufacturer, char *serial,
                                                   char *firmware, uint64_t maxLen) {
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();
    if (!model || !manufacturer || !serial || !firmware) return KORVAX_ERR_PARAMETER;

    int32_t st = korvax::refreshVersion(*c);
    if (st < 0) return st;
    const TextField fwText = firmwareText(c->fwMajor, c->fwMinor);

    const size_t fields = olderThan306(*c) ? kOldMaker + 3 : kCurMaker + 3;
    st = korvax::replyHolding(korvax::query(*c, korvax::kCmdSlotInfo), fields);
    if (st < 0) return st;
    const uint8_t *rx = c->rxBuf;

    uint16_t modelCode;
    uint8_t maker0, maker1;
    uint32_t sn;
    if (olderThan306(*c)) {
        modelCode = bigEndian16(rx, kOldModel);
        maker0 = rx[kOldMaker];
        maker1 = rx[kOldMaker + 2];
        sn = serialAt(rx, kOldSerial, 3);
        if (sn < kSerial7Min || sn > kSerial7Max) return KORVAX_ERR_SN_UNSET;
    } else {
        modelCode = bigEndian16(rx, kCurModel);
        maker0 = rx[kCurMaker];
        maker1 = rx[kCurMaker + 2];
        sn = serialAt(rx, kCurSerial, 4);
        if (!validSerial(sn)) return KORVAX_ERR_SN_UNSET;
    }

    TextField modelText{}, makerText{}, serialText{};
    std::snprintf(modelText.data(), modelText.size(), "%04X", static_cast<unsigned>(modelCode));
    std::snprintf(makerText.data(), makerText.size(), "%c%c", maker0, maker1);
    std::snprintf(serialText.data(), serialText.size(), "%8u", static_cast<unsigned>(sn));

    // Texts are cut to maxLen characters; each buffer then needs maxLen + 1.
    const std::array<std::pair<const TextField *, char *>, 4> outputs = {{
        {&modelText, model},
        {&makerText, manufacturer},
        {&serialText, serial},
        {&fwText, firmware},
    }};
    for (const auto &[text, out] : outputs) {
        const size_t len = std::min<uint64_t>(std::strlen(text->data()), maxLen);
        copyText(std::string_view(text->data(), len), out);
    }
    return 0;
}

extern "C" KORVAX_API int32_t KORVAX_GetSN(uint32_t handle, uint32_t *serials, uint32_t count) {
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();
    if (serials == nullptr) return KORVAX_ERR_PARAMETER;

    int32_t st = korvax::refreshVersion(*c);
    if (st < 0) return st;
    st = korvax::query(*c, korvax::kCmdSlotInfo);
    if (st < 0) return st;
    if (olderThan306(*c)) return KORVAX_ERR_NOT_SUPPORTED;
    const uint32_t slots = std::min<uint32_t>(c->slotTotal, kMaxSerialEntries - 1);
    // The last serial read is the fourth word of the last card record.
    const size_t fields =
        slots == 0 ? kCurSerial + 7 : kCardRecords + kCardRecordSize * (slots - 1) + 7;
    if ((st = korvax::replyHolding(st, fields)) < 0) return st;

    const uint8_t *rx = c->rxBuf;
    std::array<uint32_t, kMaxSerialEntries> entries{};
    entries[0] = serialAt(rx, kCurSerial, 4);
    if (!validSerial(entries[0])) return KORVAX_ERR_SN_UNSET;
    for (uint32_t s = 1; s <= slots; ++s) {
        // An empty slot reports serial 0; an unprogrammed card reports FFFFFFFF.
        const uint32_t v = serialAt(rx, kCardRecords + kCardRecordSize * (s - 1), 4);
        if (v != 0 && !validSerial(v)) return KORVAX_ERR_SN_UNSET;
        entries[s] = v;
    }
    std::memcpy(serials, entries.data(),
                sizeof(uint32_t) * std::min<uint32_t>(count, kMaxSerialEntries));
    return 0;
}

extern "C" KORVAX_API int32_t KORVAX_SetSN(uint32_t handle, const char *serial,
                                           const char *hwNumber) {
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();
    if (const int32_t st = checkSerialTexts(serial, hwNumber); st < 0) return st;
    const uint32_t sn = static_cast<uint32_t>(toInt(serial));
    if (sn < kSetSerialMin || sn > kSerial8Max) return KORVAX_ERR_SN_INPUT;

    korvax::beginRequest(*c, korvax::kCmdSetSerial);
    putSerial(*c, sn, hwNumber);
    if (const int32_t st = korvax::exchange(*c, 24); st < 0) return st;

    // The chassis is restarted so that it comes up with the new identity;
    // whether the restart request got an answer tells nothing.
    (void)korvax::restartController(*c);
    SLEEP(1);
    return 0;
}

extern "C" KORVAX_API int32_t KORVAX_SetCardSN(uint32_t handle, const char *serial,
                                               const char *hwNumber, uint32_t slot) {
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();
    if (const int32_t st = checkSerialTexts(serial, hwNumber); st < 0) return st;
    // The controller has card serial-number commands for slots 1 to 6 only.
    if (slot < 1 || slot > 6) return KORVAX_ERR_BAD_SLOT;

    if (const int32_t st = korvax::refreshVersion(*c); st < 0) return st;
    if (olderThan306(*c)) return KORVAX_ERR_NOT_SUPPORTED;

    korvax::beginRequest(*c, static_cast<uint8_t>(korvax::kCmdSetCardSerialBase + slot));
    const uint32_t sn = static_cast<uint32_t>(toInt(serial));
    if (!validSerial(sn)) return KORVAX_ERR_SN_INPUT;
    putSerial(*c, sn, hwNumber);
    const int32_t st = korvax::exchange(*c, 20);
    return st < 0 ? st : 0;
}

extern "C" KORVAX_API int32_t KORVAX_GetHWVersion(uint32_t handle, char *versions,
                                                  uint64_t size) {
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();
    if (versions == nullptr || size < kTextField) return KORVAX_ERR_PARAMETER;

    int32_t st = korvax::refreshVersion(*c);
    if (st < 0) return st;
    if (olderThan306(*c)) return KORVAX_ERR_NOT_SUPPORTED;
    const size_t slots = std::min<size_t>(
        c->slotTotal, (KORVAX_RX_SIZE - kCardRecords) / kCardRecordSize);
    const size_t fields =
        slots == 0 ? kCurHwVersion + 1 : kCardRecords + kCardRecordSize * (slots - 1) + 9;
    st = korvax::replyHolding(korvax::query(*c, korvax::kCmdSlotInfo), fields);
    if (st < 0) return st;

    const uint8_t *rx = c->rxBuf;
    VersionList list;
    list.add(hardwareText(rx[kCurHwVersion]));
    for (size_t s = 1; s <= slots; ++s)
        list.add(hardwareText(rx[kCardRecords + kCardRecordSize * (s - 1) + 8]));
    deliver(list, versions, size);
    return 0;
}

extern "C" KORVAX_API int32_t KORVAX_GetSWVersion(uint32_t handle, char *versions,
                                                  uint64_t size) {
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();
    if (versions == nullptr || size < kTextField) return KORVAX_ERR_PARAMETER;

    VersionList list;
    const korvax::VersionReport report = korvax::modelOf(*c).versions;
    if (report == korvax::VersionReport::Controller) {
        if (const int32_t st = korvax::refreshVersion(*c); st < 0) return st;
        list.add(firmwareText(c->fwMajor, c->fwMinor));
    } else if (report == korvax::VersionReport::ControllerAndComm) {
        // The RQ521 has a controller and a separate communication board, each
        // with its own firmware. Neither answer is the version the relay
        // engine decides on, so fwMajor / fwMinor stay as they are.
        int32_t st =
            korvax::replyHolding(korvax::query(*c, korvax::kCmdVersion, 0, /*clearReply=*/true), 4);
        if (st < 0) return st;
        list.add(firmwareText(c->rxBuf[2], c->rxBuf[3]));
        st = korvax::replyHolding(
            korvax::query(*c, korvax::kCmdCommVersion, 0, /*clearReply=*/true), 4);
        if (st < 0) return st;
        list.add(firmwareText(c->rxBuf[2], c->rxBuf[3]));
    } else {
        // One pair per firmware image of the chassis (controller, then the
        // card controllers); the list ends at the first pair with a zero.
        // At least the controller's pair; the rest of the cleared reply
        // ends the list.
        const int32_t st =
            korvax::replyHolding(korvax::query(*c, korvax::kCmdVersion, 0, /*clearReply=*/true), 4);
        if (st < 0) return st;
        for (size_t i = 2; i + 1 < KORVAX_RX_SIZE && c->rxBuf[i] != 0 && c->rxBuf[i + 1] != 0;
             i += 2)
            list.add(firmwareText(c->rxBuf[i], c->rxBuf[i + 1]));
    }
    deliver(list, versions, size);
    return 0;
}

extern "C" KORVAX_API int32_t KORVAX_GetCardType(uint32_t handle, int64_t subUnit, char *name) {
    const korvax::ChassisGuard c(handle);
    if (!c) return c.status();
    if (name == nullptr || subUnit < 0 || subUnit > 2) return KORVAX_ERR_PARAMETER;
    const int32_t present = IsBoardExists(c.get(), static_cast<int32_t>(subUnit));
    if (present < 0) return present;
    const uint32_t type = c->subUnits[subUnit].boardType;
    copyText(type < korvax::models::kCardTypeNames.size() ? korvax::models::kCardTypeNames[type]
                                                        : kUnknown,
             name);
    return 0;
}

extern "C" KORVAX_API int32_t KORVAX_GetCardSize(const char *name, char *size) {
    if (name == nullptr || size == nullptr) return KORVAX_ERR_PARAMETER;
    const std::string_view wanted(name);
    const auto &sizes = korvax::models::kCardSizes;
    const auto it = std::find_if(sizes.begin(), sizes.end(),
                                 [&](const korvax::CardName &e) { return e.name == wanted; });
    copyText(it != sizes.end() ? it->size : kUnknown, size);
    return 0;
}
