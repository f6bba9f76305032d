// An emulated chassis: takes the bytes of one request and answers the way
// the instrument does. It keeps the relay-driver words of every board,
// decodes them back into the crosspoints and isolation relays they close,
// counts relay closures, receives firmware images and applies settings.
// It knows nothing of VISA; the built-in VISA library puts a session in
// front of it.
//
// Every member is safe to call from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "sim/config.h"
#include "sim/export.h"
#include "sim/wiring.h"

namespace korvax::sim {

using Bytes = std::vector<uint8_t>;

// Every binary reply is this long, zero-filled past its fields, so a reader
// never mistakes the bytes of an earlier reply for fields of this one.
inline constexpr std::size_t kReplySize = 400;

// One closed crosspoint. `card` counts the fitted cards from 0 in slot order
// (the position a user addresses; -1 when the slot holds no card).
struct Crosspoint {
    int slot;  // 0-based physical slot (frame block)
    int card;
    int row;
    int column;
    friend auto operator<=>(const Crosspoint &, const Crosspoint &) = default;
};

// One relay-driver bit of a board.
struct RelayBit {
    int slot;
    int word;
    int bit;
    friend auto operator<=>(const RelayBit &, const RelayBit &) = default;
};

// A closed relay that is not a crosspoint.
struct ClosedIsolation {
    RelayBit relay;
    RelayKind kind;
    friend auto operator<=>(const ClosedIsolation &, const ClosedIsolation &) = default;
};

// The firmware image of the last completed update.
struct FirmwareImage {
    std::size_t size = 0;
    uint32_t checksum = 0;   // sum of the bytes, modulo 2^32
    std::size_t blocks = 0;  // update blocks it came in, the flagged last one included
    Bytes bytes;
};

// What happened on the wire so far.
struct Counters {
    uint64_t requests = 0;       // every request received, "*IDN?" included
    uint64_t errorReplies = 0;   // answered FF FF FF FF
    uint64_t relayFrames = 0;    // relay-state frames applied
    uint64_t refusedFrames = 0;  // frames refused (local control of an RQ521, refuse-after)
    uint64_t resets = 0;
    uint64_t firmwareUpdates = 0;  // completed images
};

// How many bytes the binary request that begins with `head` has, for links
// that carry a byte stream rather than whole messages: nullopt while too
// few bytes are there to tell, 0 when `head` does not begin a request of
// the protocol. Relay-state frames and update blocks carry their length.
SIM_API std::optional<std::size_t> binaryRequestLength(std::span<const uint8_t> head);

// What the chassis does with one request, as whatever serves it needs to know.
struct Exchange {
    std::optional<Bytes> reply;  // nullopt: no answer (an empty request)
    std::chrono::milliseconds delay{0};  // before the reply is there to be read
    bool hangUp = false;        // drop the connection; the request was not taken
    bool framesApplied = false;  // a relay-state frame set the relays
};

class SIM_API Chassis {
public:
    explicit Chassis(Config config);

    // Handles one request.
    Exchange serve(std::span<const uint8_t> request);
    // The reply alone, without waiting out a delay (nullopt also for a
    // request that drop-after turns away).
    std::optional<Bytes> receive(std::span<const uint8_t> request);

    // The configuration as it stands, settings changed over the wire included.
    Config config() const;
    // Changes the configuration in place, e.g. to make a board fail its
    // loop-back test half-way through a test. The model cannot change.
    void reconfigure(const std::function<void(Config &)> &change);
    Geometry geometry() const;

    // Relay-driver words of one frame block, word 0 first (slot-block order,
    // not wire order).
    std::vector<uint16_t> relayWords(int slot) const;
    std::vector<RelayBit> closedRelays() const;
    std::vector<Crosspoint> closedCrosspoints() const;
    std::vector<ClosedIsolation> closedIsolationRelays() const;
    // Closed bits that drive no relay of the card.
    std::vector<RelayBit> strayRelays() const;
    // Every relay a crosspoint of the card in `slot` switches: the
    // crosspoint relay and its isolation relays (empty when the row or
    // column has no relay that a frame can reach).
    std::vector<RelayBit> relaysOf(int slot, int row, int column) const;

    // How often a relay has closed (open to closed transitions).
    uint64_t closures(RelayBit relay) const;
    std::map<RelayBit, uint64_t> wear() const;

    std::optional<FirmwareImage> installedFirmware() const;
    Counters counters() const;

private:
    Bytes handleBinary(std::span<const uint8_t> request);
    Bytes identity() const;
    Bytes versionReply() const;
    Bytes slotInformation() const;
    Bytes presence() const;
    Bytes loopback(uint8_t argument) const;
    Bytes updateBlock(std::span<const uint8_t> request);
    Bytes relayFrame(std::span<const uint8_t> request);
    Bytes settings(std::span<const uint8_t> request);
    Bytes ack(uint8_t command, uint8_t argument = 0) const;
    Bytes errorReply();
    int cardOf(int slot) const;
    std::vector<RelayBit> closedLocked() const;
    void resizeBoards();

    mutable std::mutex lock_;
    Config config_;
    Wiring wiring_;
    std::vector<std::vector<uint16_t>> words_;  // [slot][word]
    std::map<RelayBit, uint64_t> closures_;
    bool dropped_ = false;  // the one drop of drop-after has happened
    Bytes pendingImage_;
    std::size_t pendingBlocks_ = 0;
    std::optional<FirmwareImage> installed_;
    Counters counters_;
};

}  // namespace korvax::sim
