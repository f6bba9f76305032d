// Shared machinery of the relay maps: a map is written as a rule (row and
// column in, relay out) and turned into a table either at compile time, for
// the tables that hold their relays from load, or once at run time by the
// table's builder.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <type_traits>

#include "maps/KORVAX_common.h"

namespace korvax::maps {

// What a rule says about one cell: the relay that the cell drives, or
// nothing where the card has no such relay (a row without column isolation,
// the unused rows of a 16-row table). Cells without a relay stay (0, 0, 0).
using Cell = std::optional<LocationEntry>;

constexpr Cell relay(int32_t word, int32_t bit) { return LocationEntry{word, bit, 0}; }
inline constexpr Cell kNoRelay = std::nullopt;

template <std::size_t Rows, std::size_t Cols>
using Grid = std::array<std::array<LocationEntry, Cols>, Rows>;
template <std::size_t N>
using Line = std::array<LocationEntry, N>;

// A rule evaluated over the whole table shape, empty cells as (0, 0, 0).
template <std::size_t Rows, std::size_t Cols, typename Rule>
consteval Grid<Rows, Cols> gridImage(Rule rule) {
    Grid<Rows, Cols> image{};
    for (std::size_t r = 0; r < Rows; ++r)
        for (std::size_t c = 0; c < Cols; ++c)
            image[r][c] =
                rule(static_cast<int>(r), static_cast<int>(c)).value_or(LocationEntry{});
    return image;
}

template <std::size_t N, typename Rule>
consteval Line<N> lineImage(Rule rule) {
    Line<N> image{};
    for (std::size_t i = 0; i < N; ++i)
        image[i] = rule(static_cast<int>(i)).value_or(LocationEntry{});
    return image;
}

// The image of a rule in the shape of the table it initialises.
template <typename Table, typename Rule>
consteval auto imageOf(Rule rule) {
    if constexpr (std::rank_v<Table> == 2)
        return gridImage<std::extent_v<Table, 0>, std::extent_v<Table, 1>>(rule);
    else
        return lineImage<std::extent_v<Table, 0>>(rule);
}

// Writes the cells the rule maps, in index order, and leaves the others.
template <std::size_t Rows, std::size_t Cols, typename Rule>
void fill(LocationEntry (&table)[Rows][Cols], Rule rule) {
    for (std::size_t r = 0; r < Rows; ++r)
        for (std::size_t c = 0; c < Cols; ++c)
            if (const Cell cell = rule(static_cast<int>(r), static_cast<int>(c)))
                table[r][c] = *cell;
}

// Body of every builder of a table that is empty until first use.
//
// The wiring of a card never changes, so the table is filled on the first
// call and every later call (each KORVAX_Init runs all builders again)
// finds the values already there and writes nothing. Rewriting them would
// store the same bytes, but it would be a data race with a GetPoint of a
// switching call on another chassis reading the same cells; call_once also
// makes a second thread that initialises at the same moment wait until the
// table is complete instead of reading a half-built one. Each instantiation
// (one per table) has its own flag.
template <auto &Table, auto Rule>
void buildOnce() {
    static std::once_flag built;
    std::call_once(built, [] { fill(Table, Rule); });
}

// The whole table as one run of entries, row after row: entry (row, column)
// is at row * columns + column.
template <std::size_t Rows, std::size_t Cols>
constexpr std::span<const LocationEntry> cellsOf(const LocationEntry (&table)[Rows][Cols]) {
    return {&table[0][0], Rows * Cols};
}

}  // namespace korvax::maps

// Initialisers of the tables that hold their relays from load.
//
// Those tables are C arrays with C names (tools outside the library read
// them by symbol), and a C array can only be constant-initialised from a
// braced list; no template can produce one. The lists below spell out the
// indices of the compile-time image (gridImage / lineImage) once per table
// shape, so the contents still come from the single rule of each table.
#define KORVAX_ROW_10(img, r)                                                              \
    { img[r][0], img[r][1], img[r][2], img[r][3], img[r][4], img[r][5], img[r][6], img[r][7], \
      img[r][8], img[r][9] }
#define KORVAX_ROW_12(img, r)                                                              \
    { img[r][0], img[r][1], img[r][2], img[r][3], img[r][4], img[r][5], img[r][6], img[r][7], \
      img[r][8], img[r][9], img[r][10], img[r][11] }
#define KORVAX_ROW_13(img, r)                                                              \
    { img[r][0], img[r][1], img[r][2], img[r][3], img[r][4], img[r][5], img[r][6], img[r][7], \
      img[r][8], img[r][9], img[r][10], img[r][11], img[r][12] }
#define KORVAX_ROWS_8(ROW, img)                                                            \
    ROW(img, 0), ROW(img, 1), ROW(img, 2), ROW(img, 3), ROW(img, 4), ROW(img, 5), ROW(img, 6), \
        ROW(img, 7)
#define KORVAX_ROWS_12(ROW, img)                                                           \
    KORVAX_ROWS_8(ROW, img), ROW(img, 8), ROW(img, 9), ROW(img, 10), ROW(img, 11)

#define KORVAX_TABLE_8x12(img) { KORVAX_ROWS_8(KORVAX_ROW_12, img) }
#define KORVAX_TABLE_8x13(img) { KORVAX_ROWS_8(KORVAX_ROW_13, img) }
#define KORVAX_TABLE_12x10(img) { KORVAX_ROWS_12(KORVAX_ROW_10, img) }

#define KORVAX_CELLS_8(img, n)                                                             \
    img[(n)], img[(n) + 1], img[(n) + 2], img[(n) + 3], img[(n) + 4], img[(n) + 5],         \
        img[(n) + 6], img[(n) + 7]
#define KORVAX_CELLS_16(img, n) KORVAX_CELLS_8(img, n), KORVAX_CELLS_8(img, (n) + 8)

#define KORVAX_LINE_8(img) { KORVAX_CELLS_8(img, 0) }
#define KORVAX_LINE_16(img) { KORVAX_CELLS_16(img, 0) }
#define KORVAX_LINE_112(img)                                                               \
    { KORVAX_CELLS_16(img, 0), KORVAX_CELLS_16(img, 16), KORVAX_CELLS_16(img, 32),           \
      KORVAX_CELLS_16(img, 48), KORVAX_CELLS_16(img, 64), KORVAX_CELLS_16(img, 80),          \
      KORVAX_CELLS_16(img, 96) }
