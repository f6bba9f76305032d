// The relay-state frame: the complete wanted state of every relay of
// sub-unit 0, one 16-bit driver word per bit group, blocks by physical slot.
//
//   byte 0      19 (67 for the RQ522 clear)
//   byte 1      0
//   bytes 2-3   L = boardCount * wordsPerBoard * 2, little-endian
//   bytes 4..   boardCount blocks of wordsPerBoard little-endian words;
//               inside a block the driver words go out highest-numbered
//               first (the shift-register chain of a card is loaded from
//               its far end).
//
// Two builders produce it. SetRelayStateDataType0 / SendRelayStateType0
// keep the historical byte-per-relay data area; KORVAX_OpMatrix uses a
// builder whose cost follows the number of closed crosspoints. Both resolve
// crosspoints through forEachRelayOfPoint, and tests hold them to identical
// frames.
#include <algorithm>
#include <atomic>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "base/qmbase.h"
#include "connection/VISAconnection.h"
#include "relay/point_model.h"
#include "relay/relay_frame.h"

namespace korvax {
namespace {

// Relay budget of the chassis power supply: closing more relays at once
// than the coil supply can hold is refused before anything is sent.
int32_t closureLimit(const ChassisInfo &c, const SubUnitInfo &s) {
    if (c.deviceType != kRQ520 && c.deviceType != kRQ520B && c.deviceType != kRQ521) return -1;
    if (s.boardType == 0) return 400;
    if (s.boardType == 1) return 270;
    return -1;
}

// The relays of every crosspoint of the four matrix-card families, resolved
// once from the wiring tables: a switching call then costs a table read per
// closed crosspoint instead of a walk through the table dispatch. Rows of
// the RQ522 are kept for the first group of four; the fold adds its word
// offset at run time.
class WiringCache {
public:
    struct Relays {
        uint8_t count = 0;
        std::array<int16_t, 4> word{};
        std::array<int16_t, 4> bit{};
    };

    WiringCache() {
        for (uint32_t type = 0; type < kTypes; ++type) {
            const Shape &sh = kShapes[type];
            auto &cells = cells_[type];
            cells.resize(static_cast<size_t>(sh.rows) * sh.cols);
            for (int32_t r = 0; r < sh.rows; ++r)
                for (int32_t col = 0; col < sh.cols; ++col) {
                    Relays &e = cells[static_cast<size_t>(r) * sh.cols + col];
                    forEachRelayOfCrosspoint(type, r, col, 0, [&](int32_t word, int32_t bit) {
                        e.word[e.count] = static_cast<int16_t>(word);
                        e.bit[e.count] = static_cast<int16_t>(bit);
                        ++e.count;
                    });
                }
        }
    }

    // The relays of table row r, column col, or null outside the tables.
    const Relays *find(uint32_t boardType, int32_t r, int32_t col) const {
        if (boardType >= kTypes) return nullptr;
        const Shape &sh = kShapes[boardType];
        if (r < 0 || r >= sh.rows || col < 0 || col >= sh.cols) return nullptr;
        return &cells_[boardType][static_cast<size_t>(r) * sh.cols + col];
    }

private:
    struct Shape {
        int32_t rows, cols;
    };
    static constexpr uint32_t kTypes = 4;
    static constexpr Shape kShapes[kTypes] = {{12, 10}, {10, 12}, {4, 96}, {8, 12}};
    std::array<std::vector<Relays>, kTypes> cells_;
};

// The wiring tables that are not held from load are empty until built; a
// switching call before KORVAX_Init would otherwise drive relay (0, 0) of
// every card for every crosspoint. Building them is idempotent and
// thread-safe, so the first switching call builds them (and the cache read
// from them) itself.
const WiringCache &wiring() {
    static const WiringCache cache = [] {
        InitPointInfo();
        return WiringCache();
    }();
    return cache;
}

int32_t exchangeFrame(ChassisInfo &c, const uint8_t *frame, int32_t length, int32_t lock) {
    const int32_t st = lock ? SendRecvMsgLock(c.vi, frame, length, c.rxBuf)
                            : SendRecvMsg(c.vi, frame, length, c.rxBuf);
    if (st < 0) return st;
    // An RQ521 in local (front-panel) control refuses remote switching.
    if (c.rxBuf[0] == 0xFF && c.deviceType == kRQ521) return KORVAX_ERR_MODE_CONFLICT;
    return 0;
}

}  // namespace

int32_t frameLength(const SubUnitInfo &s) {
    return 4 + static_cast<int32_t>(static_cast<uint16_t>(s.boardCount * s.wordsPerBoard * 2));
}

int32_t FrameWords::build(const ChassisInfo &c, const SubUnitInfo &s, const uint32_t *state,
                          int32_t count) {
    const WiringCache &cache = wiring();
    boards_ = s.boardCount;
    perBoard_ = s.wordsPerBoard;
    if (boards_ * perBoard_ > kMaxWords) return KORVAX_ERR_PARAMETER;
    std::fill_n(words_.begin(), boards_ * perBoard_, uint16_t{0});

    int32_t fault = 0;
    auto set = [&](const Relay &r) {
        if (r.slot >= boards_) return;  // no block on the wire for that slot
        if (r.word < 0 || r.word >= perBoard_ || r.bit < 0 || r.bit > 15) {
            // A relay outside the frame cannot be switched: refuse the state
            // rather than report a switch that never reaches the instrument.
            if (fault == 0) fault = KORVAX_ERR_ROW_RANGE;
            return;
        }
        words_[r.slot * perBoard_ + r.word] |= static_cast<uint16_t>(1u << r.bit);
    };

    const int32_t n = std::min<int32_t>(count, s.userWords);
    for (int32_t i = 0; i < n; ++i) {
        for (uint32_t bits = state[i]; bits != 0; bits &= bits - 1) {
            const uint32_t p = static_cast<uint32_t>(i) * 32u + std::countr_zero(bits);
            if (p >= s.pointCount) break;  // bits are visited in ascending order
            const PointAddress at = locatePoint(c, s, p);
            if (at.status < 0) return at.status;
            if (at.status > 0) continue;
            // RQ522 rows fold onto the first four, a card block further on
            // per group of four.
            const bool folded = s.boardType == 2;
            const WiringCache::Relays *e =
                cache.find(s.boardType, folded ? at.row % 4 : at.row, at.col);
            if (e == nullptr) {
                forEachRelayOfCrosspoint(s.boardType, at.row, at.col, s.wordsPerBoard,
                                         [&](int32_t w, int32_t b) { set(Relay{at.slot, w, b}); });
            } else {
                const int32_t offset = folded ? (at.row / 4) * perBoard_ : 0;
                for (uint8_t j = 0; j < e->count; ++j)
                    set(Relay{at.slot, e->word[j] + offset, e->bit[j]});
            }
            if (fault) return fault;
        }
    }
    forEachCascadeRelay(c, s, set);
    if (fault) return fault;

    // The 13-word base-family block carries no relays in the top nibble of
    // its first word on the wire; keep it clear whatever the maps say.
    if (s.boardType == 0 && perBoard_ == 13)
        for (int32_t g = 0; g < boards_; ++g) words_[g * perBoard_ + 12] &= 0x0FFF;
    return 0;
}

int32_t FrameWords::closedRelays() const {
    int32_t t = 0;
    for (int32_t i = 0; i < boards_ * perBoard_; ++i) t += std::popcount(words_[i]);
    return t;
}

int32_t FrameWords::encode(uint8_t command, uint8_t *frame) const {
    const int32_t payload = boards_ * perBoard_ * 2;
    frame[0] = command;
    frame[1] = 0;
    frame[2] = static_cast<uint8_t>(payload & 0xFF);
    frame[3] = static_cast<uint8_t>((payload >> 8) & 0xFF);
    uint8_t *out = frame + 4;
    for (int32_t g = 0; g < boards_; ++g) {
        const uint16_t *block = &words_[g * perBoard_];
        for (int32_t w = 0; w < perBoard_; ++w) {
            const uint16_t v = block[perBoard_ - 1 - w];
            *out++ = static_cast<uint8_t>(v & 0xFF);
            *out++ = static_cast<uint8_t>(v >> 8);
        }
    }
    return 4 + payload;
}

int32_t sendRelayState(ChassisInfo &c, const uint32_t *state, int32_t count, int32_t lock) {
    const SubUnitInfo &s = c.subUnits[0];
    FrameWords words;
    const int32_t st = words.build(c, s, state, count);
    if (st < 0) return st;
    const int32_t limit = closureLimit(c, s);
    // The closed relays only ever add up, so passing the limit anywhere in
    // the frame is passing it in total.
    if (limit >= 0 && words.closedRelays() > limit) return KORVAX_ERR_CLOSURE_LIMIT;
    std::array<uint8_t, 4 + 2 * FrameWords::kMaxWords> frame;
    const int32_t length = words.encode(kCmdRelayState, frame.data());
    return exchangeFrame(c, frame.data(), length, lock);
}

}  // namespace korvax

using namespace korvax;

int32_t SetRelayStateDataType0(ChassisInfo *chassis, const uint8_t *flags, uint8_t *data) {
    if (chassis == nullptr || flags == nullptr || data == nullptr) return KORVAX_ERR_PARAMETER;
    wiring();  // the tables must be built before any lookup
    const ChassisInfo &c = *chassis;
    const SubUnitInfo &s = c.subUnits[0];
    auto set = [&](const Relay &r) {
        if (r.slot < 0 || r.slot >= kDataSlots || r.word < 0 || r.word >= kDataWords || r.bit < 0 ||
            r.bit > 15)
            return;  // outside the data area: nothing to mark
        data[(r.slot * kDataWords + r.word) * 16 + r.bit] = 1;
    };
    const uint32_t points = std::min<uint32_t>(s.pointCount, kFlagCount);
    for (uint32_t p = 0; p < points; ++p) {
        if (flags[p] != 1) continue;
        const int32_t st = forEachRelayOfPoint(c, s, p, set);
        if (st < 0) return st;
    }
    forEachCascadeRelay(c, s, set);
    return 0;
}

int32_t SendRelayStateType0(ChassisInfo *chassis, const uint8_t *flags, uint8_t *request,
                            int32_t lock) {
    if (chassis == nullptr || flags == nullptr || request == nullptr) return KORVAX_ERR_PARAMETER;
    ChassisInfo &c = *chassis;
    const SubUnitInfo &s = c.subUnits[0];
    std::vector<uint8_t> data(kDataBytes, 0);
    const int32_t fill = SetRelayStateDataType0(chassis, flags, data.data());
    if (fill < 0) return fill;

    const int32_t boards = std::min<int32_t>(s.boardCount, kDataSlots);
    const int32_t perBoard = std::min<int32_t>(s.wordsPerBoard, kDataWords);
    // A relay folded beyond the words a block carries would silently stay
    // open on the instrument: refuse the state instead.
    for (int32_t g = 0; g < boards; ++g)
        for (int32_t w = perBoard; w < kDataWords; ++w)
            for (int b = 0; b < 16; ++b)
                if (data[(g * kDataWords + w) * 16 + b]) return KORVAX_ERR_ROW_RANGE;

    const int32_t payload = boards * perBoard * 2;
    request[0] = kCmdRelayState;
    request[1] = 0;
    request[2] = static_cast<uint8_t>(payload & 0xFF);
    request[3] = static_cast<uint8_t>((payload >> 8) & 0xFF);
    const int32_t limit = closureLimit(c, s);
    int32_t total = 0;
    for (int32_t g = 0; g < boards; ++g) {
        for (int32_t w = perBoard - 1; w >= 0; --w) {
            uint8_t *word = &data[(g * kDataWords + (perBoard - 1 - w)) * 16];
            if (s.boardType == 0 && perBoard == 13 && w == 12)
                std::memset(&data[(g * kDataWords + 12) * 16 + 12], 0, 4);
            uint32_t ones = 0;
            const uint16_t v = ArrayToU16(word, &ones);
            request[4 + 2 * (g * perBoard + w)] = static_cast<uint8_t>(v & 0xFF);
            request[4 + 2 * (g * perBoard + w) + 1] = static_cast<uint8_t>(v >> 8);
            total += static_cast<int32_t>(ones);
            if (limit >= 0 && total > limit) return KORVAX_ERR_CLOSURE_LIMIT;
        }
    }
    return exchangeFrame(c, request, 4 + payload, lock);
}

int32_t OpMatrix(ChassisInfo *chassis, long subUnit, const uint32_t *state, int32_t count,
                 int32_t lock) {
    if (chassis == nullptr) return KORVAX_ERR_PARAMETER;
    if (subUnit < 0 || subUnit > 2) return KORVAX_ERR_PARAMETER;
    const int32_t present = IsBoardExists(chassis, static_cast<int32_t>(subUnit));
    if (present < 0) return present;
    if (count > 0 && state == nullptr) return KORVAX_ERR_PARAMETER;
    if (subUnit != 0) return KORVAX_ERR_UNKNOWN_CARD_TYPE;
    // Cards present but never identified: the frame would carry no relay
    // at all, and the call would report a switch that did not happen.
    if (frameLength(chassis->subUnits[0]) == 4) return KORVAX_ERR_PARAMETER;
    return sendRelayState(*chassis, state, count < 0 ? 0 : count, lock);
}

int32_t KORVAX_OpMatrix(uint32_t handle, long subUnit, const uint32_t *state, int32_t count) {
    ChassisInfo *c = nullptr;
    if (FindChassis(handle, &c) < 0 || c == nullptr) return KORVAX_ERR_HANDLE;
    if (isSingleSubUnitModel(*c)) subUnit = 0;
    const int32_t st = OpMatrix(c, subUnit, state, count, 1);
    if (st < 0) return st;
    // Only a state the instrument accepted becomes the remembered state.
    if (count > 0) {
        const int32_t kept = std::min<int32_t>(count, KORVAX_USER_WORDS);
        std::memmove(c->subUnits[subUnit].userState, state, kept * sizeof(uint32_t));
    }
    // Threads switching different chassis all reach this write after the
    // exchange lock is gone: make it an atomic store.
    std::atomic_ref<uint8_t>(currentOpSwitch).store(0, std::memory_order_relaxed);
    return 0;
}
