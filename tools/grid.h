// The text grid of `korvax show`: a sub-unit's crosspoints, card by card,
// rows down and columns across, closed ones marked X.
//
// Column numbers are the chassis-wide ones the crosspoint lists use. A card
// wider than the terminal is cut into windows of columns; a wide card with
// nothing closed is listed on one summary line instead of a page of dots
// (an RQ522 holds 21 cards of 16 x 96), unless the caller picked cards or
// columns explicitly.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <utility>

#include "crosspoints.h"

namespace korvax::tools {

struct GridLayout {
    int rows;         // rows of every card
    int cardColumns;  // columns of one card
    int cards;        // cards shown: positions 1..cards
};

struct GridSelection {
    std::optional<int> card;                      // 1-based card position
    std::optional<std::pair<int, int>> columns;   // chassis-wide, inclusive
    int width = 80;                               // terminal columns
};

std::string renderGrid(const GridLayout &layout, const std::set<Crosspoint> &closed,
                       const GridSelection &selection = {});

}  // namespace korvax::tools
