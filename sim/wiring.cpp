#include "sim/wiring.h"

#include "maps/KORVAX_common.h"
#include "sim/config.h"

namespace korvax::sim {
namespace {

// Card family of sub-unit 0, the first key of the location tables.
uint32_t boardTypeOf(uint16_t model) {
    switch (model) {
    case kRQ520:
    case kRQ520B: return 0;
    case kRQ521: return 1;
    case kRQ522: return 2;
    default: return 3;
    }
}

PointLocation lookup(uint32_t boardType, RelayGroup group, int row, int column) {
    PointLocation at{-1, -1};
    GetPoint(boardType, group, static_cast<uint32_t>(row), static_cast<uint32_t>(column), &at);
    return at;
}

// Position of (major, minor) in a row-major table `stride` wide; callers
// pass checked, non-negative coordinates.
std::size_t cell(int major, int stride, int minor) {
    return static_cast<std::size_t>(major) * static_cast<std::size_t>(stride) +
           static_cast<std::size_t>(minor);
}

}  // namespace

Wiring::Wiring(uint16_t model, int wordsPerBoard) : wordsPerBoard_(wordsPerBoard) {
    InitPointInfo();
    const uint32_t type = boardTypeOf(model);
    switch (type) {
    case 0: rows_ = 12, columns_ = 10; break;
    case 1: rows_ = 10, columns_ = 12; break;
    case 2: rows_ = 16, columns_ = 96; break;
    default: rows_ = 8, columns_ = 12; break;
    }
    points_.resize(cell(rows_, columns_, 0));
    roles_.resize(cell(wordsPerBoard_, 16, 0));

    // Which isolation relays a crosspoint pulls in is part of each card's
    // wiring: on the RQ521 only rows 4 and 5 have a CV relay; on the RQ523
    // rows 0 and 1 have no column isolation and rows 6 and 7 add CV.
    auto groupsOf = [type](int row) {
        std::vector<std::pair<RelayGroup, RelayKind>> g = {{MATRIX, RelayKind::Crosspoint},
                                                           {ISO_Y, RelayKind::IsolationY}};
        const bool isoX = type == 0 || type == 1 || (type == 3 && row >= 2);
        const bool cv = (type == 1 && (row == 4 || row == 5)) || (type == 3 && row >= 6);
        if (isoX) g.push_back({ISO_X, RelayKind::IsolationX});
        if (cv) g.push_back({ISO_CV, RelayKind::IsolationCV});
        return g;
    };

    // Crosspoint relays first, so that the role of a driver bit is always
    // its crosspoint when a table shares one by mistake.
    for (const bool crosspoints : {true, false}) {
        for (int row = 0; row < rows_; ++row) {
            for (int column = 0; column < columns_; ++column) {
                // The RQ521 card is wired with columns 0..5 in reverse
                // order: front-panel column c is table column 5 - c.
                const int tableColumn = type == 1 && column <= 5 ? 5 - column : column;
                // The RQ522 card repeats its four-row wiring: row r uses
                // table row r mod 4, (r div 4) board-lengths further on,
                // and its tables count bits from 1.
                const int tableRow = type == 2 ? row % 4 : row;
                const int wordShift = type == 2 ? (row / 4) * wordsPerBoard_ : 0;
                const int bitShift = type == 2 ? 1 : 0;
                for (const auto &[group, kind] : groupsOf(row)) {
                    if ((kind == RelayKind::Crosspoint) != crosspoints) continue;
                    const PointLocation at = lookup(type, group, tableRow, tableColumn);
                    add(row, column, kind, at.word + wordShift, at.bit - bitShift);
                }
            }
        }
    }
    // Relays a crosspoint cannot reach are dropped with it: a crosspoint is
    // only switchable when its own relay is.
    for (auto &relays : points_)
        if (!relays.empty() && relays.front().kind != RelayKind::Crosspoint) relays.clear();

    if (model == kRQ523) {
        for (int index = 0; index < 2; ++index) {
            const PointLocation at = lookup(type, ISO_LT, index, 0);
            if (at.word < 0 || at.word >= wordsPerBoard_ || at.bit < 0 || at.bit > 15) continue;
            standalone_.push_back({RelayKind::Cascade, at.word, at.bit});
            auto &role = roles_[cell(at.word, 16, at.bit)];
            if (!role) role = RelayRole{RelayKind::Cascade, index, 0};
        }
    }
}

void Wiring::add(int row, int column, RelayKind kind, int word, int bit) {
    if (word < 0 || word >= wordsPerBoard_ || bit < 0 || bit > 15) return;
    points_[cell(row, columns_, column)].push_back({kind, word, bit});
    auto &role = roles_[cell(word, 16, bit)];
    if (!role) role = RelayRole{kind, row, column};
}

std::span<const Relay> Wiring::relaysOf(int row, int column) const {
    if (row < 0 || row >= rows_ || column < 0 || column >= columns_) return {};
    return points_[cell(row, columns_, column)];
}

std::optional<RelayRole> Wiring::roleOf(int word, int bit) const {
    if (word < 0 || word >= wordsPerBoard_ || bit < 0 || bit > 15) return std::nullopt;
    return roles_[cell(word, 16, bit)];
}

}  // namespace korvax::sim
