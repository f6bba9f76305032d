// The driver words of the relay-state frame (laid out on the wire by
// connection/relay_frame_codec.h).
//
// Two builders produce them. SetRelayStateDataType0 / SendRelayStateType0
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
#include "connection/chassis_lock.h"
#include "connection/relay_frame_codec.h"
#include "relay/point_model.h"
#include "relay/relay_frame.h"

namespace korvax {
namespace {

// Relay budget of the chassis power supply: closing more relays at once
// than the coil supply can hold is refused before anything is sent.
int32_t closureLimit(const ChassisModel &m, const SubUnitInfo &s) {
    return s.boardType == m.boardType0 ? m.closureLimit : -1;
}

// The relays of every crosspoint of the four matrix-card families, resolved
// once from the wiring tables: a switching call then costs a table read per
// closed crosspoint instead of a walk through the table dispatch. The card
// shapes are those of the chassis profile table. RQ522 rows are looked up
// in the first group of four; the fold adds its word offset at run time.
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
    static constexpr uint32_t kTypes = 4;  // the matrix-card families of sub-unit 0
    static constexpr std::array<Shape, kTypes> kShapes = [] {
        std::array<Shape, kTypes> shapes{};
        for (const ChassisModel &m : models::kTable)
            if (m.boardType0 < kTypes) shapes[m.boardType0] = {m.matrix.rowCount, m.matrix.colCount};
        return shapes;
    }();
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

}  // namespace

int32_t exchangeRelayFrame(ChassisInfo &c, const uint8_t *frame, int32_t length, int32_t lock) {
    // Byte 0 of the reply is the acknowledgement looked at below.
    const int32_t st = replyHolding(lock ? SendRecvMsgLock(c.vi, frame, length, c.rxBuf)
                                         : SendRecvMsg(c.vi, frame, length, c.rxBuf),
                                    1);
    if (st < 0) return st;
    // A chassis in local (front-panel) control refuses remote switching: its
    // relays stay as they were.
    if (c.rxBuf[0] == 0xFF && modelOf(c).remoteSwitching) return KORVAX_ERR_MODE_CONFLICT;
    return st;
}

int32_t frameLength(const SubUnitInfo &s) {
    return 4 + static_cast<int32_t>(static_cast<uint16_t>(s.boardCount * s.wordsPerBoard * 2));
}

int32_t FrameWords::build(const ChassisInfo &c, const SubUnitInfo &s, const uint32_t *state,
                          int32_t count) {
    const WiringCache &cache = wiring();
    const ChassisModel &m = modelOf(c);
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
            const PointAddress at = locatePoint(m, s, p);
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
    forEachCascadeRelay(m, s, set);
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
    return encodeRelayFrame(frame, command, words_, boards_, perBoard_);
}

int32_t sendRelayState(ChassisInfo &c, const uint32_t *state, int32_t count, int32_t lock) {
    const SubUnitInfo &s = c.subUnits[0];
    FrameWords words;
    const int32_t st = words.build(c, s, state, count);
    if (st < 0) return st;
    const int32_t limit = closureLimit(modelOf(c), s);
    // The closed relays only ever add up, so passing the limit anywhere in
    // the frame is passing it in total.
    if (limit >= 0 && words.closedRelays() > limit) return KORVAX_ERR_CLOSURE_LIMIT;
    std::array<uint8_t, 4 + 2 * FrameWords::kMaxWords> frame;
    const int32_t length = words.encode(kCmdRelayState, frame.data());
    const int32_t sent = exchangeRelayFrame(c, frame.data(), length, lock);
    return sent < 0 ? sent : 0;
}

}  // namespace korvax

using namespace korvax;

int32_t SetRelayStateDataType0(ChassisInfo *chassis, const uint8_t *flags, uint8_t *data) {
    if (chassis == nullptr || flags == nullptr || data == nullptr) return KORVAX_ERR_PARAMETER;
    wiring();  // the tables must be built before any lookup
    const ChassisModel &m = modelOf(*chassis);
    const SubUnitInfo &s = chassis->subUnits[0];
    auto set = [&](const Relay &r) {
        if (r.slot < 0 || r.slot >= kDataSlots || r.word < 0 || r.word >= kDataWords || r.bit < 0 ||
            r.bit > 15)
            return;  // outside the data area: nothing to mark
        data[(r.slot * kDataWords + r.word) * 16 + r.bit] = 1;
    };
    const uint32_t points = std::min<uint32_t>(s.pointCount, kFlagCount);
    for (uint32_t p = 0; p < points; ++p) {
        if (flags[p] != 1) continue;
        const int32_t st = forEachRelayOfPoint(m, s, p, set);
        if (st < 0) return st;
    }
    forEachCascadeRelay(m, s, set);
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

    // The 13-word base-family block carries no relays in the top nibble of
    // its first word on the wire.
    if (s.boardType == 0 && perBoard == 13)
        for (int32_t g = 0; g < boards; ++g)
            std::memset(&data[(g * kDataWords + 12) * 16 + 12], 0, 4);
    const int32_t limit = closureLimit(modelOf(c), s);
    int32_t total = 0;
    std::vector<uint16_t> words(static_cast<size_t>(boards) * perBoard);
    for (int32_t g = 0; g < boards; ++g) {
        for (int32_t w = 0; w < perBoard; ++w) {
            uint32_t ones = 0;
            words[static_cast<size_t>(g) * perBoard + w] =
                ArrayToU16(&data[(g * kDataWords + w) * 16], &ones);
            total += static_cast<int32_t>(ones);
        }
    }
    if (limit >= 0 && total > limit) return KORVAX_ERR_CLOSURE_LIMIT;
    const int32_t length = encodeRelayFrame(request, kCmdRelayState, words, boards, perBoard);
    const int32_t st = exchangeRelayFrame(c, request, length, lock);
    return st < 0 ? st : 0;
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

int32_t korvax::switchState(ChassisInfo &chassis, long subUnit, const uint32_t *state,
                            int32_t count) {
    ChassisInfo *c = &chassis;
    subUnit = static_cast<long>(effectiveSubUnit(*c, subUnit));
    const int32_t st = OpMatrix(c, subUnit, state, count, 1);
    if (st < 0) return st;
    // Only a state the instrument accepted becomes the remembered state.
    uint32_t *kept = c->subUnits[subUnit].userState;
    if (count > 0 && state != kept)
        std::memmove(kept, state, std::min<int32_t>(count, KORVAX_USER_WORDS) * sizeof(uint32_t));
    // Threads switching different chassis all reach this write, each under
    // its own chassis's lock: make it an atomic store.
    std::atomic_ref<uint8_t>(currentOpSwitch).store(0, std::memory_order_relaxed);
    return 0;
}

int32_t KORVAX_OpMatrix(uint32_t handle, long subUnit, const uint32_t *state, int32_t count) {
    const ChassisGuard c(handle);
    if (!c) return c.status();
    return switchState(*c, subUnit, state, count);
}
