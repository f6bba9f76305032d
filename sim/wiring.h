// The wiring of a chassis's matrix cards: which relay-driver word and bit
// switch each crosspoint, and which isolation relays go with it. Read from
// the location tables of the relay maps, the same wiring the boards carry.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/export.h"

namespace korvax::sim {

enum class RelayKind : uint8_t {
    Crosspoint,
    IsolationX,   // column isolation
    IsolationY,   // row isolation
    IsolationCV,  // extra isolation of some rows (RQ521, RQ523)
    Cascade,      // the two LT relays of an RQ523
};

struct Relay {
    RelayKind kind;
    int word;
    int bit;  // 0-based, 0 = least significant
};

// What sits at one driver bit. Crosspoints carry their row and column;
// isolation relays the first crosspoint that uses them; an LT relay its
// number in `row`.
struct RelayRole {
    RelayKind kind;
    int row;
    int column;
};

class SIM_API Wiring {
public:
    // The cards of sub-unit 0 of a chassis model whose frame carries
    // `wordsPerBoard` words per board.
    Wiring(uint16_t model, int wordsPerBoard);

    int rows() const { return rows_; }
    int columns() const { return columns_; }
    int wordsPerBoard() const { return wordsPerBoard_; }

    // Crosspoint relay first, then its isolation relays. Relays that a
    // frame cannot carry (beyond the board's words) are left out, so a
    // crosspoint whose relay is out of reach has no relays at all.
    std::span<const Relay> relaysOf(int row, int column) const;
    std::optional<RelayRole> roleOf(int word, int bit) const;
    // Relays that belong to no crosspoint (the RQ523 LT relays).
    std::span<const Relay> standalone() const { return standalone_; }

private:
    void add(int row, int column, RelayKind kind, int word, int bit);

    int rows_ = 0;
    int columns_ = 0;
    int wordsPerBoard_ = 0;
    std::vector<std::vector<Relay>> points_;       // [row * columns + column]
    std::vector<std::optional<RelayRole>> roles_;  // [word * 16 + bit]
    std::vector<Relay> standalone_;
};

}  // namespace korvax::sim
