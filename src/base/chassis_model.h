// What the library knows about each chassis model, one row per model.
//
// Every difference between the models lives here: slot totals, the matrix
// geometry of sub-unit 0 per firmware generation, the coil-supply budget,
// how the controller lays out its presence and loop-back replies, which
// optional boards and settings a controller serves, and the firmware a few
// operations need; beside the rows, the cards those boards can be and their
// names. Operations read the row of their chassis instead of asking which
// model it is. The table is header-only so that the test doubles install
// their chassis from the very same rows.
#pragma once

#include <array>
#include <span>
#include <stdint.h>
#include <string_view>

#include "base/records.h"

namespace korvax {

// A controller firmware version as the instrument reports it (two bytes).
struct Firmware {
    uint16_t major = 0, minor = 0;
    friend constexpr bool operator<(Firmware a, Firmware b) {
        return a.major != b.major ? a.major < b.major : a.minor < b.minor;
    }
};

// Inclusive range of firmware versions; the default range holds none.
struct FirmwareRange {
    Firmware first{0xFFFF, 0xFFFF}, last{0, 0};
    constexpr bool contains(Firmware v) const { return !(v < first) && !(last < v); }
};

inline Firmware firmwareOf(const ChassisInfo &c) { return {c.fwMajor, c.fwMinor}; }

// Sub-unit 0's matrix of one card family. Fields a family leaves at 0
// (paramF, paramG, cascadeCount) are not written into the record.
struct MatrixGeometry {
    uint32_t boardType;
    uint16_t userWords, slots, wordsPerBoard, rowCount, colCount, pointCount;
    uint16_t paramF, paramG, cascadeCount;
};

// The RF card of sub-unit 1, by the kind code the chassis reports.
struct RfCard {
    uint8_t kind;
    uint32_t boardType;
    uint16_t boardCount, wordsPerBoard, rowCount, pointCount, userWords;
};

// An adapter plate of sub-unit 2, by the code the slot information reports.
struct AdapterPlate {
    uint16_t code;
    uint32_t boardType;
    uint16_t pointCount;
};

// A card model's name and its rows * columns.
struct CardName {
    std::string_view name;
    std::string_view size;
};

// How the board-detection reply carries the slot bits.
enum class PresenceLayout : uint8_t {
    Unknown,   // a model this library does not know: byte 2 handed over raw
    SlotByte,  // byte 2, one bit per slot, eight slots at most
    SlotBits,  // bytes 2..4, one bit per slot (21 slots)
};

// How the matrix loop-back reply carries each board's answer.
enum class LoopBackLayout : uint8_t {
    Unknown,        // not served
    BitPerBoard,    // byte 2, one bit per board
    FourLinesEach,  // four lines per board, two boards per byte from byte 2
};

// Which firmware versions a version query hands out.
enum class VersionReport : uint8_t {
    Controller,            // the controller's own version (command 11)
    ControllerAndComm,     // controller, then the communication board (49)
    EveryImage,            // every pair command 11 reports, up to a zero
};

// A row names every fact that sets its model apart; the defaults are what
// most controllers do.
struct ChassisModel {
    uint16_t code = 0;           // model code 0x041A..0x044B
    std::string_view name{};     // as "*IDN?" may report it
    std::string_view codeText{};
    uint16_t slotTotal = 0;      // card slots of the whole chassis
    // Slots and card type of each sub-unit as discovery enters them; 0
    // slots: the record keeps what it held.
    uint16_t slots[3] = {0, 0, 0};
    uint32_t boardType0 = 0, boardType2 = 0;
    // Sub-unit 0 before and from firmware 2.00 (kMatrixFirmware).
    MatrixGeometry matrix{}, matrixFw2{};
    int32_t closureLimit = -1;   // relays the coil supply holds at once; -1 no budget
    PresenceLayout presence = PresenceLayout::SlotByte;
    LoopBackLayout loopBack = LoopBackLayout::BitPerBoard;
    bool singleSubUnit = false;  // every sub-unit number means 0
    bool mirroredColumns = false;  // the card wires its first six columns in reverse
    bool cascadeRelays = false;    // LT relays driven from cascadeState
    bool remoteSwitching = false;  // switches only under remote control (Init asks for it)
    bool servesSettings = false;   // GPIB, baud rate, LAN mode, control mode, IP query
    bool appliesIpAtOnce = false;  // no restart after an IP address change
    bool versionInSecondPair = false;  // command 11 reports the controller in bytes 4-5
    // Card set-up depends on the controller firmware: ask it before
    // identifying or initialising cards.
    bool firmwareFirst = false;
    VersionReport versions = VersionReport::EveryImage;
    uint8_t clearCommand = 19;   // command of the all-open frame
    // Rows of a card that a relay-state frame reaches; 0: all of them. The
    // RQ522 folds its 16 rows in groups of four onto the 49 driver words a
    // card's block carries, so only rows 1 to 4 can be switched.
    uint16_t switchableRows = 0;
    std::span<const RfCard> rfCards{};       // empty: no RF board in sub-unit 1
    std::span<const AdapterPlate> plates{};  // empty: no adapter plate in sub-unit 2
    // Firmware without the matrix loop-back and the adapter plate.
    FirmwareRange withoutLoopBackAndPlate{};
    // KORVAX.dll refuses this model's matrix loop-back whatever its firmware.
    bool dllRefusesMatrixLoopBack = false;
    // Firmware from which the controller keeps card data (serials, hardware
    // versions) and answers in the current slot-information layout.
    Firmware cardData{};

    static constexpr Firmware kMatrixFirmware{2, 0};

    bool hasRfBoard() const { return !rfCards.empty(); }
    uint16_t rowsSwitched() const { return switchableRows ? switchableRows : matrix.rowCount; }
    bool hasAdapterPlate() const { return !plates.empty(); }
    const MatrixGeometry &geometry(Firmware fw) const {
        return fw < kMatrixFirmware ? matrix : matrixFw2;
    }
    // The controller answers the slot-information request in the short
    // layout (no card data).
    bool shortSlotInformation(Firmware fw) const { return fw < cardData; }
};

namespace models {

// Base family: firmware 2 and later drops the unused thirteenth driver word
// of every card.
inline constexpr MatrixGeometry kBase{0, 19, 5, 13, 12, 10, 600, 6, 5, 0};
inline constexpr MatrixGeometry kBaseFw2{0, 32, 5, 12, 12, 10, 600, 6, 5, 0};
inline constexpr MatrixGeometry kRq521Card{1, 15, 4, 13, 10, 12, 480, 0, 0, 0};
inline constexpr MatrixGeometry kRq522Card{2, 1008, 21, 49, 16, 96, 32256, 0, 0, 0};
inline constexpr MatrixGeometry kRq523Card{3, 3, 1, 10, 8, 12, 96, 0, 0, 2};

inline constexpr RfCard kRfCards[] = {
    {0, 6, 8, 20, 16, 800, 25},  {1, 10, 4, 20, 16, 800, 25}, {3, 5, 4, 20, 8, 400, 25},
    {9, 9, 4, 12, 16, 800, 25},  {11, 8, 2, 12, 8, 400, 25},  {12, 4, 4, 10, 8, 400, 13},
};

inline constexpr AdapterPlate kPlates[] = {
    {0x041A, 11, 112},
    {0x041B, 12, 100},
};

// Card model codes 0..12 (the boardType of a sub-unit) as the controller
// reports them.
inline constexpr std::array<std::string_view, 13> kCardTypeNames = {
    "Y8340",   "Y8342",    "Y8343",   "Y8344",    "QD2", "Y8341-P", "Y8341-QQ",
    "Y8341-Q", "Y8341-Q", "Y8341-QQ", "Y8341-PQ", "K44", "K30",
};

// Rows * columns of each card model. "Y8341-PP" exists as a product but the
// controller never reports it as a card type.
inline constexpr std::array<CardName, 12> kCardSizes = {{
    {"Y8340", "12*10"},
    {"QD2", "8*50"},
    {"Y8341-P", "8*50"},
    {"Y8341-PP", "16*50"},
    {"Y8341-PQ", "16*50"},
    {"Y8341-QQ", "16*50"},
    {"Y8341-Q", "8*50"},
    {"K44", "14*8"},
    {"K30", "10*10"},
    {"Y8342", "10*12"},
    {"Y8343", "16*96"},
    {"Y8344", "8*12"},
}};

inline constexpr FirmwareRange kEarlyFw2{{2, 0}, {2, 6}};
inline constexpr Firmware kCardDataFw{3, 6};

// clang-format off
inline constexpr ChassisModel kTable[] = {
    {.code = KORVAX_MODEL_RQ520, .name = "RQ520", .codeText = "041A", .slotTotal = 6,
     .slots = {5, 1, 1}, .boardType0 = 0, .boardType2 = 11,
     .matrix = kBase, .matrixFw2 = kBaseFw2, .closureLimit = 400,
     .versionInSecondPair = true, .firmwareFirst = true, .versions = VersionReport::Controller,
     .rfCards = kRfCards, .plates = kPlates,
     .withoutLoopBackAndPlate = kEarlyFw2, .cardData = kCardDataFw},
    {.code = KORVAX_MODEL_RQ520B, .name = "RQ520B", .codeText = "041B", .slotTotal = 6,
     .slots = {5, 1, 1}, .boardType0 = 0, .boardType2 = 12,
     .matrix = kBase, .matrixFw2 = kBaseFw2, .closureLimit = 400,
     .versionInSecondPair = true, .firmwareFirst = true, .versions = VersionReport::Controller,
     .rfCards = kRfCards, .plates = kPlates,
     .withoutLoopBackAndPlate = kEarlyFw2, .dllRefusesMatrixLoopBack = true,
     .cardData = kCardDataFw},
    {.code = KORVAX_MODEL_RQ521, .name = "RQ521", .codeText = "042A", .slotTotal = 4,
     .slots = {4, 0, 0}, .boardType0 = 1,
     .matrix = kRq521Card, .matrixFw2 = kRq521Card, .closureLimit = 270,
     .singleSubUnit = true, .mirroredColumns = true, .remoteSwitching = true,
     .servesSettings = true, .appliesIpAtOnce = true,
     .versions = VersionReport::ControllerAndComm},
    {.code = KORVAX_MODEL_RQ522, .name = "RQ522", .codeText = "043A", .slotTotal = 21,
     .slots = {21, 0, 0}, .boardType0 = 2,
     .matrix = kRq522Card, .matrixFw2 = kRq522Card,
     .presence = PresenceLayout::SlotBits, .loopBack = LoopBackLayout::FourLinesEach,
     .singleSubUnit = true,
     .clearCommand = 67,  // the all-open frame is longer than a request buffer
     .switchableRows = 4},
    {.code = KORVAX_MODEL_RQ523, .name = "RQ523", .codeText = "044A", .slotTotal = 1,
     .slots = {1, 0, 0}, .boardType0 = 3,
     .matrix = kRq523Card, .matrixFw2 = kRq523Card,
     .singleSubUnit = true, .cascadeRelays = true},
    // The RQ523B is deliberately not single-sub-unit: its firmware reports
    // sub-units like an RQ520.
    {.code = KORVAX_MODEL_RQ523B, .name = "RQ523B", .codeText = "044B", .slotTotal = 1,
     .slots = {1, 0, 0}, .boardType0 = 3,
     .matrix = kRq523Card, .matrixFw2 = kRq523Card},
};
// clang-format on

// What a record of a model code nobody knows behaves like: no optional
// board, no setting, no layout.
inline constexpr ChassisModel kUnknown{.presence = PresenceLayout::Unknown,
                                       .loopBack = LoopBackLayout::Unknown};

}  // namespace models

// Row of a model code, or nullptr.
constexpr const ChassisModel *findModel(uint16_t code) {
    for (const ChassisModel &m : models::kTable)
        if (m.code == code) return &m;
    return nullptr;
}

// Row of a model as "*IDN?" names it (name or code text), or nullptr.
constexpr const ChassisModel *findModel(std::string_view field) {
    for (const ChassisModel &m : models::kTable)
        if (field == m.name || field == m.codeText) return &m;
    return nullptr;
}

// Row of a record's chassis; models::kUnknown for a code no row has.
inline const ChassisModel &modelOf(const ChassisInfo &c) {
    const ChassisModel *m = findModel(c.deviceType);
    return m ? *m : models::kUnknown;
}

// Enters a model's codes, slot totals and card types into a record, as
// discovery does when a chassis answers.
inline void enterModel(ChassisInfo &c, const ChassisModel &m) {
    c.typeCode = c.deviceType = m.code;
    c.slotTotal = m.slotTotal;
    c.subUnits[0].slotCount = m.slots[0];
    c.subUnits[0].boardType = m.boardType0;
    if (m.slots[1]) c.subUnits[1].slotCount = m.slots[1];
    if (m.slots[2]) {
        c.subUnits[2].slotCount = m.slots[2];
        c.subUnits[2].boardType = m.boardType2;
    }
}

// Sub-unit number an operation works on: 0 on the single-sub-unit models.
inline int64_t effectiveSubUnit(const ChassisInfo &c, int64_t subUnit) {
    return modelOf(c).singleSubUnit ? 0 : subUnit;
}

}  // namespace korvax
