// What the tool needs to know of each chassis model to number its
// crosspoints: the geometry of sub-unit 0 (rows of every card, card
// positions per row, columns of one card). The state array numbers point
// p = row * positions * columns + position * columns + column, 0-based.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace korvax::tools {

struct Model {
    std::string_view name;
    uint16_t code;
    int rows;
    int positions;
    int cardColumns;
    int chassisColumns() const { return positions * cardColumns; }
};

inline constexpr std::array<Model, 6> kModels = {{
    {"RQ520", 0x041A, 12, 5, 10},
    {"RQ520B", 0x041B, 12, 5, 10},
    {"RQ521", 0x042A, 10, 4, 12},
    {"RQ522", 0x043A, 16, 21, 96},
    {"RQ523", 0x044A, 8, 1, 12},
    {"RQ523B", 0x044B, 8, 1, 12},
}};

inline std::optional<Model> modelOf(uint16_t code) {
    for (const auto &m : kModels)
        if (m.code == code) return m;
    return std::nullopt;
}

}  // namespace korvax::tools
