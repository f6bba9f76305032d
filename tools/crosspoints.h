// Crosspoint lists as users type them on the command line: "1!1,2!3:4!5".
//
// An element is ROW!COLUMN (one crosspoint) or ROW!COLUMN:ROW!COLUMN (every
// crosspoint of the rectangle between the two corners, either corner first).
// Rows and columns count from 1; a column counts across the whole chassis
// row, card after card (column 13 of an RQ521 is column 1 of its second
// card), which is how the state array numbers them too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvax::tools {

struct Crosspoint {
    int row;     // 1-based
    int column;  // 1-based, across the whole chassis row
    friend auto operator<=>(const Crosspoint &, const Crosspoint &) = default;
};

struct CrosspointList {
    std::vector<Crosspoint> points;  // in the order given, rectangles row by row
    std::string error;               // empty when the whole text was well formed
};

// Rectangles may not expand to more than this many crosspoints (the largest
// chassis, the RQ522, has 32,256), so a typo cannot ask for billions.
inline constexpr std::size_t kMaxListedCrosspoints = 40000;

// Parses a list; blanks around elements are allowed. On any malformed
// element `error` names it and says what was expected, and `points` is empty.
CrosspointList parseCrosspoints(std::string_view text);

// The first crosspoint outside rows x columns, if any.
std::optional<Crosspoint> firstOutside(const std::vector<Crosspoint> &points, int rows, int columns);

// Bit index of a crosspoint in a state array whose rows hold `columns` points.
inline uint32_t pointIndex(const Crosspoint &p, int columns) {
    return static_cast<uint32_t>((p.row - 1) * columns + (p.column - 1));
}

// Parses "A:B" (1-based, A <= B) or a single "A"; nullopt when malformed.
std::optional<std::pair<int, int>> parseRange(std::string_view text);

}  // namespace korvax::tools
