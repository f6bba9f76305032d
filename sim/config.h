// What an emulated chassis is: its model, identity, firmware, cards and
// communication settings. A Config is plain data; Config::forModel gives a
// fully fitted chassis of a model with plausible values, which a test or a
// resource file then changes where it needs to.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/export.h"

namespace korvax::sim {

// Chassis model codes, as the chassis reports them.
inline constexpr uint16_t kRQ520 = 0x041A;
inline constexpr uint16_t kRQ520B = 0x041B;
inline constexpr uint16_t kRQ521 = 0x042A;
inline constexpr uint16_t kRQ522 = 0x043A;
inline constexpr uint16_t kRQ523 = 0x044A;
inline constexpr uint16_t kRQ523B = 0x044B;
inline constexpr std::array<uint16_t, 6> kModels = {kRQ520, kRQ520B, kRQ521,
                                                    kRQ522, kRQ523,  kRQ523B};

// Serial numbers the chassis stores as all ones read back as "never set".
inline constexpr uint32_t kSerialUnset = 0xFFFFFFFFu;
// Chassis serial numbers: 8 digits, except on chassis that answer the
// slot-information request in the old layout (see usesOldSlotLayout), which
// carries 7. A chassis left at the default serial gets the 7-digit default
// there.
inline constexpr uint32_t kDefaultSerial = 12345678;
inline constexpr uint32_t kDefaultOldLayoutSerial = 1234567;
inline constexpr uint32_t kOldLayoutSerialMax = 9999999;

// A firmware version as the chassis sends it: two bytes. They are shown in
// hexadecimal ("%x.%02x"), so version 3.10 is minor byte 0x10.
struct Version {
    uint8_t major = 0;
    uint8_t minor = 0;
    friend constexpr auto operator<=>(const Version &, const Version &) = default;
};

// One card slot of the chassis.
struct Slot {
    bool fitted = true;
    uint32_t serial = 0;     // 0 = none stored, kSerialUnset = all ones
    uint8_t hwVersion = 10;  // decimal-coded: 21 is version 2.1
    // SPI lines of the board that answer its loop-back test, one bit per
    // line (four lines, 0x0F = all). A matrix board passes only with all
    // four; the RF board reports the mask itself.
    uint8_t loopback = 0x0F;
};

struct SIM_API Config {
    uint16_t model = kRQ521;

    // "*IDN?" answer: maker, model, serial, controller version.
    std::string idnMaker = "QM";
    std::string idnModel;  // empty: the model's name ("RQ521")

    uint32_t serial = kDefaultSerial;  // chassis serial number
    uint8_t hwVersion = 21;      // chassis hardware version, decimal-coded
    std::array<char, 2> makerCode = {'Q', 'M'};
    // The model field of the slot-information reply; on an RQ520/RQ520B it
    // names the adapter plate fitted. 0 reports the chassis model code.
    uint16_t adapterCode = 0;

    // Version pairs of the version reply, in reply order. On an RQ520 or
    // RQ520B the second pair, when nonzero, is the controller's; on every
    // other model the first.
    std::vector<Version> firmware = {{3, 8}};
    Version commFirmware = {1, 2};  // RQ521 communication board

    // Physical slots of the whole chassis, slot 1 first (6 on RQ520/RQ520B:
    // five matrix cards and the RF card; 4, 21, 1 on the others). On an
    // RQ520/RQ520B the hardware code of slot 6 identifies the RF card.
    std::vector<Slot> slots;
    uint8_t rfCardKind = 0;     // RQ520/RQ520B: card kind of the RF card (0..12)
    bool adapterFitted = true;  // RQ520/RQ520B: the adapter plate answers

    uint8_t controlMode = 0;  // RQ521: 0 local (front panel), 1 remote
    std::array<uint8_t, 4> ip = {192, 168, 1, 10};
    uint8_t lanMode = 0;  // 0 manual IP, 1 automatic IP
    uint8_t gpibAddress = 5;
    uint32_t baudRate = 115200;  // RS-232 rate; a serial session must match it

    // Timing and faults, for trying programs against a chassis that is slow
    // or misbehaves (resource-file keys reply-delay-ms, refuse-after,
    // drop-after).
    uint32_t replyDelayMs = 0;  // before each reply: relays take time to operate
    // Relay frames applied before the chassis refuses every later one with
    // its model's refusal: an RQ521 the reply of local control (0xFF in byte
    // 0), the others their error report (FF FF FF FF).
    std::optional<uint64_t> refuseFramesAfter;
    // Requests taken before the chassis drops the connection that brings
    // the next one, without taking it. Once: later connections are served.
    std::optional<uint64_t> dropAfter;

    // A fully fitted chassis of the model with distinct card serials.
    // Throws std::invalid_argument for a code that is not a chassis model.
    static Config forModel(uint16_t model);
};

// Geometry of a model, as the relay-state frame and the cards see it.
struct Geometry {
    int slotTotal;      // physical slots of the chassis
    int boards;         // board blocks in a relay-state frame (slots of sub-unit 0)
    int wordsPerBoard;  // 16-bit driver words per block
    int rows;           // rows of each card
    int columns;        // columns of each card
};

SIM_API bool isModel(uint16_t model);
SIM_API std::string_view modelName(uint16_t model);  // "RQ521"; "" for an unknown code
// Accepts "RQ521", "042A", "0x042A" (any letter case).
SIM_API std::optional<uint16_t> parseModel(std::string_view text);
SIM_API bool hasRfAndAdapter(uint16_t model);  // RQ520, RQ520B
// The firmware version that decides the chassis's behaviour.
SIM_API Version controllerVersion(const Config &config);
// RQ520/RQ520B firmware before 3.06 answers the slot-information request in
// the short layout and reports its serial number with 7 digits.
SIM_API bool usesOldSlotLayout(const Config &config);
SIM_API Geometry geometry(const Config &config);

}  // namespace korvax::sim
