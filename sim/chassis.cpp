#include "sim/chassis.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <numeric>
#include <stdexcept>
#include <string_view>

#include "base/command_numbers.h"

namespace korvax::sim {
namespace {

// The card-serial commands, one per slot 1..6.
constexpr uint8_t kCmdSetCardSerialFirst = kCmdSetCardSerialBase + 1;
constexpr uint8_t kCmdSetCardSerialLast = kCmdSetCardSerialBase + 6;

constexpr std::array<uint32_t, 5> kBaudRates = {9600, 19200, 38400, 57600, 115200};
constexpr std::size_t kUpdateHeader = 8;
constexpr std::size_t kUpdateBlockMax = 128;

uint16_t le16(std::span<const uint8_t> b, std::size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
uint16_t be16(std::span<const uint8_t> b, std::size_t at) {
    return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}
// Payload word k of a request (word 2 is the first after the header).
uint16_t word(std::span<const uint8_t> request, std::size_t k) {
    return le16(request, 2 * k);
}
uint8_t low(uint16_t w) {
    return static_cast<uint8_t>(w & 0xFF);
}

// The fixed length of every request except the relay frames and the update
// blocks, which carry their own length. 0: not a request of this protocol.
std::size_t requestLength(uint8_t command) {
    switch (command) {
    case kCmdSetSerial: return 24;
    case kCmdSetControlMode:
    case kCmdSetGPIB:
    case kCmdSetLANMode: return 6;
    case kCmdSetBaud: return 8;
    case kCmdSetIP: return 20;
    case kCmdGetControlMode:
    case kCmdSlotInfo:
    case kCmdBoardDetect:
    case kCmdVersion:
    case kCmdLoopBackOrUpdate:
    case kCmdRfCardKind:
    case kCmdGetGPIB:
    case kCmdGetBaud:
    case kCmdGetIP:
    case kCmdGetLANMode:
    case kCmdCommVersion: return 4;
    default: return command >= kCmdSetCardSerialFirst && command <= kCmdSetCardSerialLast ? 20 : 0;
    }
}

// Requests that only the RQ521 controller implements.
bool rq521Only(uint8_t command) {
    switch (command) {
    case kCmdGetControlMode:
    case kCmdSetControlMode:
    case kCmdSetGPIB:
    case kCmdSetBaud:
    case kCmdGetGPIB:
    case kCmdGetBaud:
    case kCmdGetIP:
    case kCmdGetLANMode:
    case kCmdSetLANMode:
    case kCmdCommVersion: return true;
    default: return false;
    }
}

uint32_t byteSum(std::span<const uint8_t> bytes) {
    return std::accumulate(bytes.begin(), bytes.end(), uint32_t{0},
                           [](uint32_t sum, uint8_t b) { return sum + b; });
}

// A configuration the chassis can be built from: a known model and its
// slots (the model's own when none are given).
Config validated(Config config) {
    if (!isModel(config.model)) throw std::invalid_argument("not a chassis model code");
    if (config.slots.empty()) config.slots = Config::forModel(config.model).slots;
    if (static_cast<int>(config.slots.size()) != geometry(config).slotTotal)
        throw std::invalid_argument("slot list does not match the chassis model");
    // The old layout has room for 7 digits only: the 8-digit default would
    // read back as a different, invalid number.
    if (usesOldSlotLayout(config) && config.serial == kDefaultSerial)
        config.serial = kDefaultOldLayoutSerial;
    return config;
}

}  // namespace

std::optional<std::size_t> binaryRequestLength(std::span<const uint8_t> head) {
    if (head.empty()) return std::nullopt;
    const uint8_t command = head[0];
    if (command == kCmdReset) return 2;
    const bool carriesLength = command == kCmdRelayState || command == kCmdRelayStateLarge ||
                               command == kCmdLoopBackOrUpdate;
    if (carriesLength) {
        if (head.size() < 4) return std::nullopt;
        if (command == kCmdLoopBackOrUpdate && head[1] == 0) return kUpdateHeader + be16(head, 2);
        if (command == kCmdLoopBackOrUpdate) return 4;
        return 4 + std::size_t{le16(head, 2)};
    }
    return requestLength(command);
}

Chassis::Chassis(Config config)
    : config_(validated(std::move(config))),
      wiring_(config_.model, sim::geometry(config_).wordsPerBoard) {
    resizeBoards();
}

void Chassis::resizeBoards() {
    const Geometry g = sim::geometry(config_);
    words_.resize(static_cast<std::size_t>(g.boards));
    for (auto &block : words_) block.resize(static_cast<std::size_t>(g.wordsPerBoard), 0);
    if (wiring_.wordsPerBoard() != g.wordsPerBoard)
        wiring_ = Wiring(config_.model, g.wordsPerBoard);
}

Exchange Chassis::serve(std::span<const uint8_t> request) {
    std::lock_guard guard(lock_);
    Exchange out;
    if (config_.dropAfter && !dropped_ && counters_.requests >= *config_.dropAfter) {
        dropped_ = true;
        out.hangUp = true;
        return out;
    }
    ++counters_.requests;
    out.delay = std::chrono::milliseconds(config_.replyDelayMs);
    if (request.empty()) return out;
    const std::string_view text(reinterpret_cast<const char *>(request.data()), request.size());
    if (text.starts_with("*IDN?") && text.find_first_not_of(" \t\r\n", 5) == std::string_view::npos) {
        out.reply = identity();
        return out;
    }
    const uint64_t applied = counters_.relayFrames;
    out.reply = handleBinary(request);
    out.framesApplied = counters_.relayFrames != applied;
    return out;
}

std::optional<Bytes> Chassis::receive(std::span<const uint8_t> request) {
    return serve(request).reply;
}

Bytes Chassis::identity() const {
    const Version v = controllerVersion(config_);
    const std::string model =
        config_.idnModel.empty() ? std::string(modelName(config_.model)) : config_.idnModel;
    char tail[48];
    std::snprintf(tail, sizeof tail, ",%u,%x.%02x\n", config_.serial, v.major, v.minor);
    const std::string reply = config_.idnMaker + "," + model + tail;
    return Bytes(reply.begin(), reply.end());
}

Bytes Chassis::ack(uint8_t command, uint8_t argument) const {
    Bytes reply(kReplySize, 0);
    reply[0] = command;
    reply[1] = argument;
    return reply;
}

Bytes Chassis::errorReply() {
    ++counters_.errorReplies;
    Bytes reply(kReplySize, 0);
    std::fill_n(reply.begin(), 4, 0xFF);
    return reply;
}

Bytes Chassis::handleBinary(std::span<const uint8_t> request) {
    const uint8_t command = request[0];
    if (request.size() < 2) return errorReply();
    const uint8_t argument = request[1];

    if (command == kCmdReset) {
        if (request.size() != 2) return errorReply();
        // The controller restarts: every relay drops open.
        for (auto &block : words_) std::fill(block.begin(), block.end(), 0);
        ++counters_.resets;
        return ack(command);
    }
    if (command == kCmdRelayState || command == kCmdRelayStateLarge) return relayFrame(request);
    if (command == kCmdLoopBackOrUpdate && argument == 0) return updateBlock(request);

    const std::size_t length = requestLength(command);
    if (length == 0 || request.size() != length) return errorReply();
    if (word(request, 1) != 0) return errorReply();
    if (command == kCmdLoopBackOrUpdate ? argument != 1 && argument != 2 && argument != 4
                                     : argument != 0)
        return errorReply();
    if (rq521Only(command) && config_.model != kRQ521) return errorReply();

    switch (command) {
    case kCmdSlotInfo: return slotInformation();
    case kCmdBoardDetect: return presence();
    case kCmdVersion: return versionReply();
    case kCmdLoopBackOrUpdate: return loopback(argument);
    case kCmdRfCardKind: {
        if (!hasRfAndAdapter(config_.model)) return errorReply();
        Bytes reply = ack(command);
        reply[2] = config_.rfCardKind;
        return reply;
    }
    default: return settings(request);
    }
}

Bytes Chassis::settings(std::span<const uint8_t> request) {
    const uint8_t command = request[0];
    Bytes reply = ack(command);
    auto serialFrom = [&] {
        return static_cast<uint32_t>(low(word(request, 2))) << 24 |
               static_cast<uint32_t>(low(word(request, 3))) << 16 |
               static_cast<uint32_t>(low(word(request, 4))) << 8 | low(word(request, 5));
    };
    switch (command) {
    case kCmdSetSerial:
        config_.serial = serialFrom();
        config_.hwVersion = low(word(request, 6));
        return reply;
    case kCmdGetControlMode: reply[2] = config_.controlMode; return reply;
    case kCmdSetControlMode: {
        const uint16_t mode = word(request, 2);
        if (mode > 1) return errorReply();
        config_.controlMode = static_cast<uint8_t>(mode);
        return reply;
    }
    case kCmdSetIP:
        for (std::size_t i = 0; i < 4; ++i) config_.ip[i] = low(word(request, 2 + i));
        return reply;
    case kCmdSetGPIB: {
        const uint16_t address = word(request, 2);
        if (address < 1 || address > 30) return errorReply();
        config_.gpibAddress = static_cast<uint8_t>(address);
        return reply;
    }
    case kCmdSetBaud: {
        const uint32_t rate = word(request, 2) | static_cast<uint32_t>(word(request, 3)) << 16;
        if (std::find(kBaudRates.begin(), kBaudRates.end(), rate) == kBaudRates.end())
            return errorReply();
        config_.baudRate = rate;
        return reply;
    }
    case kCmdGetGPIB: reply[2] = config_.gpibAddress; return reply;
    case kCmdGetBaud:
        // The one multi-byte field this controller sends low byte first.
        for (std::size_t i = 0; i < 4; ++i)
            reply[2 + i] = static_cast<uint8_t>(config_.baudRate >> (8 * i));
        return reply;
    case kCmdGetIP:
        for (std::size_t i = 0; i < 4; ++i) reply[2 + 2 * i] = config_.ip[i];
        return reply;
    case kCmdGetLANMode: reply[2] = config_.lanMode; return reply;
    case kCmdSetLANMode: {
        const uint16_t mode = word(request, 2);
        if (mode > 1) return errorReply();
        config_.lanMode = static_cast<uint8_t>(mode);
        return reply;
    }
    case kCmdCommVersion:
        reply[2] = config_.commFirmware.major;
        reply[3] = config_.commFirmware.minor;
        return reply;
    default: {
        // Card serial numbers, command 31 + slot.
        const std::size_t slot = static_cast<std::size_t>(command - (kCmdSetCardSerialBase));
        if (slot > config_.slots.size()) return errorReply();
        config_.slots[slot - 1].serial = serialFrom();
        config_.slots[slot - 1].hwVersion = low(word(request, 6));
        return reply;
    }
    }
}

Bytes Chassis::versionReply() const {
    Bytes reply = ack(kCmdVersion);
    const std::size_t pairs = std::min(config_.firmware.size(), (kReplySize - 2) / 2);
    for (std::size_t i = 0; i < pairs; ++i) {
        reply[2 + 2 * i] = config_.firmware[i].major;
        reply[3 + 2 * i] = config_.firmware[i].minor;
    }
    return reply;
}

Bytes Chassis::slotInformation() const {
    // Both layouts put each byte of a multi-byte value on an even offset;
    // the odd bytes between them stay zero.
    Bytes reply(kReplySize, 0);
    const uint16_t modelField = config_.adapterCode ? config_.adapterCode : config_.model;
    const uint32_t serial = config_.serial;
    if (usesOldSlotLayout(config_)) {
        reply[0] = static_cast<uint8_t>(serial >> 16);
        reply[2] = static_cast<uint8_t>(serial >> 8);
        reply[4] = static_cast<uint8_t>(serial);
        reply[6] = static_cast<uint8_t>(modelField >> 8);
        reply[7] = static_cast<uint8_t>(modelField);
        reply[8] = static_cast<uint8_t>(config_.makerCode[0]);
        reply[10] = static_cast<uint8_t>(config_.makerCode[1]);
    } else {
        for (std::size_t i = 0; i < 4; ++i)
            reply[2 * i] = static_cast<uint8_t>(serial >> (24 - 8 * i));
        reply[8] = config_.hwVersion;
        reply[10] = static_cast<uint8_t>(modelField >> 8);
        reply[11] = static_cast<uint8_t>(modelField);
        reply[12] = static_cast<uint8_t>(config_.makerCode[0]);
        reply[14] = static_cast<uint8_t>(config_.makerCode[1]);
    }
    // Card records follow in both layouts; an empty slot reads as serial 0
    // and hardware code 0.
    for (std::size_t s = 0; s < config_.slots.size(); ++s) {
        const Slot &slot = config_.slots[s];
        if (!slot.fitted) continue;
        const std::size_t base = 16 + 10 * s;
        for (std::size_t i = 0; i < 4; ++i)
            reply[base + 2 * i] = static_cast<uint8_t>(slot.serial >> (24 - 8 * i));
        reply[base + 8] = slot.hwVersion;
    }
    return reply;
}

Bytes Chassis::presence() const {
    Bytes reply = ack(kCmdBoardDetect);
    for (std::size_t s = 0; s < config_.slots.size() && s < 24; ++s)
        if (config_.slots[s].fitted) reply[2 + s / 8] |= static_cast<uint8_t>(1u << (s % 8));
    return reply;
}

Bytes Chassis::loopback(uint8_t argument) const {
    Bytes reply = ack(kCmdLoopBackOrUpdate, argument);
    const Geometry g = sim::geometry(config_);
    auto lines = [&](std::size_t s) -> uint8_t {
        const Slot &slot = config_.slots[s];
        return slot.fitted ? static_cast<uint8_t>(slot.loopback & 0x0F) : 0;
    };
    switch (argument) {
    case 1:  // the matrix boards
        for (std::size_t s = 0; s < static_cast<std::size_t>(g.boards); ++s) {
            if (config_.model == kRQ522) {
                // Four lines per board, two boards per byte, even board low.
                reply[2 + s / 2] |= static_cast<uint8_t>(lines(s) << (s % 2 ? 4 : 0));
            } else if (lines(s) == 0x0F) {
                reply[2] |= static_cast<uint8_t>(1u << s);
            }
        }
        return reply;
    case 2:  // the RF board, one bit per line
        if (hasRfAndAdapter(config_.model)) reply[2] = lines(5);
        return reply;
    case 4:  // the adapter plate
        if (hasRfAndAdapter(config_.model) && config_.adapterFitted) reply[2] = 1;
        return reply;
    default: return reply;  // handleBinary lets no other argument through
    }
}

Bytes Chassis::updateBlock(std::span<const uint8_t> request) {
    const bool wellFormed = [&] {
        if (request.size() < kUpdateHeader) return false;
        const std::size_t n = be16(request, 2);
        if (n > kUpdateBlockMax || request.size() != kUpdateHeader + n) return false;
        if (be16(request, 6) > 1) return false;
        return (byteSum(request.subspan(kUpdateHeader)) & 0xFFFF) == be16(request, 4);
    }();
    if (!wellFormed) {
        // The loader drops the image it was receiving and waits for a new
        // transfer from its first block.
        pendingImage_.clear();
        pendingBlocks_ = 0;
        return errorReply();
    }
    const auto data = request.subspan(kUpdateHeader);
    pendingImage_.insert(pendingImage_.end(), data.begin(), data.end());
    ++pendingBlocks_;
    if (be16(request, 6) == 1) {
        FirmwareImage image;
        image.size = pendingImage_.size();
        image.checksum = byteSum(pendingImage_);
        image.blocks = pendingBlocks_;
        image.bytes = std::move(pendingImage_);
        installed_ = std::move(image);
        pendingImage_.clear();
        pendingBlocks_ = 0;
        ++counters_.firmwareUpdates;
    }
    return ack(kCmdLoopBackOrUpdate);
}

Bytes Chassis::relayFrame(std::span<const uint8_t> request) {
    const uint8_t command = request[0];
    if (command == kCmdRelayStateLarge && config_.model != kRQ522) return errorReply();
    if (request.size() < 4 || request[1] != 0) return errorReply();
    const Geometry g = sim::geometry(config_);
    const std::size_t length = le16(request, 2);
    const std::size_t expected = static_cast<std::size_t>(g.boards) * static_cast<std::size_t>(g.wordsPerBoard) * 2;
    if (length != request.size() - 4 || length != expected) return errorReply();

    const bool refusing =
        config_.refuseFramesAfter && counters_.relayFrames >= *config_.refuseFramesAfter;
    if (config_.model == kRQ521 && (config_.controlMode == 0 || refusing)) {
        // In local control the front panel owns the relays.
        ++counters_.refusedFrames;
        Bytes reply = ack(command);
        reply[0] = 0xFF;
        return reply;
    }
    if (refusing) {
        // The other models have no local control: their only refusal is
        // the error report.
        ++counters_.refusedFrames;
        return errorReply();
    }

    // Each block goes out highest-numbered word first.
    const auto wpb = static_cast<std::size_t>(g.wordsPerBoard);
    for (std::size_t block = 0; block < words_.size(); ++block) {
        for (std::size_t position = 0; position < wpb; ++position) {
            const uint16_t value = le16(request, 4 + 2 * (block * wpb + position));
            uint16_t &current = words_[block][wpb - 1 - position];
            const uint16_t closing = static_cast<uint16_t>(value & ~current);
            for (int bit = 0; bit < 16; ++bit)
                if (closing & (1u << bit))
                    ++closures_[RelayBit{static_cast<int>(block),
                                         static_cast<int>(wpb - 1 - position), bit}];
            current = value;
        }
    }
    ++counters_.relayFrames;
    return ack(command);
}

Config Chassis::config() const {
    std::lock_guard guard(lock_);
    return config_;
}

void Chassis::reconfigure(const std::function<void(Config &)> &change) {
    std::lock_guard guard(lock_);
    Config next = config_;
    change(next);
    if (next.model != config_.model)
        throw std::invalid_argument("a chassis cannot change its model");
    if (next.slots.size() != config_.slots.size())
        throw std::invalid_argument("a chassis cannot change its number of slots");
    config_ = std::move(next);
    resizeBoards();
}

Geometry Chassis::geometry() const {
    std::lock_guard guard(lock_);
    return sim::geometry(config_);
}

std::vector<uint16_t> Chassis::relayWords(int slot) const {
    std::lock_guard guard(lock_);
    if (slot < 0 || slot >= static_cast<int>(words_.size())) return {};
    return words_[static_cast<std::size_t>(slot)];
}

int Chassis::cardOf(int slot) const {
    if (slot < 0 || slot >= static_cast<int>(config_.slots.size()) ||
        !config_.slots[static_cast<std::size_t>(slot)].fitted)
        return -1;
    return static_cast<int>(std::count_if(config_.slots.begin(), config_.slots.begin() + slot,
                                          [](const Slot &s) { return s.fitted; }));
}

std::vector<RelayBit> Chassis::closedLocked() const {
    std::vector<RelayBit> out;
    for (std::size_t s = 0; s < words_.size(); ++s)
        for (std::size_t w = 0; w < words_[s].size(); ++w)
            for (int bit = 0; bit < 16; ++bit)
                if (words_[s][w] & (1u << bit))
                    out.push_back({static_cast<int>(s), static_cast<int>(w), bit});
    return out;
}

std::vector<RelayBit> Chassis::closedRelays() const {
    std::lock_guard guard(lock_);
    return closedLocked();
}

std::vector<Crosspoint> Chassis::closedCrosspoints() const {
    std::lock_guard guard(lock_);
    std::vector<Crosspoint> out;
    for (const RelayBit &r : closedLocked()) {
        const auto role = wiring_.roleOf(r.word, r.bit);
        if (role && role->kind == RelayKind::Crosspoint)
            out.push_back({r.slot, cardOf(r.slot), role->row, role->column});
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<ClosedIsolation> Chassis::closedIsolationRelays() const {
    std::lock_guard guard(lock_);
    std::vector<ClosedIsolation> out;
    for (const RelayBit &r : closedLocked()) {
        const auto role = wiring_.roleOf(r.word, r.bit);
        if (role && role->kind != RelayKind::Crosspoint) out.push_back({r, role->kind});
    }
    return out;
}

std::vector<RelayBit> Chassis::strayRelays() const {
    std::lock_guard guard(lock_);
    std::vector<RelayBit> out;
    for (const RelayBit &r : closedLocked())
        if (!wiring_.roleOf(r.word, r.bit)) out.push_back(r);
    return out;
}

std::vector<RelayBit> Chassis::relaysOf(int slot, int row, int column) const {
    std::lock_guard guard(lock_);
    std::vector<RelayBit> out;
    for (const Relay &r : wiring_.relaysOf(row, column)) out.push_back({slot, r.word, r.bit});
    return out;
}

uint64_t Chassis::closures(RelayBit relay) const {
    std::lock_guard guard(lock_);
    const auto it = closures_.find(relay);
    return it == closures_.end() ? 0 : it->second;
}

std::map<RelayBit, uint64_t> Chassis::wear() const {
    std::lock_guard guard(lock_);
    return closures_;
}

std::optional<FirmwareImage> Chassis::installedFirmware() const {
    std::lock_guard guard(lock_);
    return installed_;
}

Counters Chassis::counters() const {
    std::lock_guard guard(lock_);
    return counters_;
}

}  // namespace korvax::sim
