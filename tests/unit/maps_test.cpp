// Relay maps: known cells of every card family, the lookup's dispatch and
// its edges, and the shape of the tables beyond the rows a card uses.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <optional>
#include <span>
#include <string>

#include "maps/KORVAX_common.h"
#include "maps_support.h"

namespace {

using mapstest::lookup;
using mapstest::Relay;
using mapstest::toString;

class Maps : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitPointInfo(); }
};

struct Case {
    uint32_t board;
    int32_t group;
    uint32_t row;
    uint32_t col;
    std::optional<Relay> expected;  // nullopt: the output is left as it was
};

void checkCases(std::span<const Case> cases) {
    for (const Case &c : cases) {
        EXPECT_EQ(toString(lookup(c.board, c.group, c.row, c.col)), toString(c.expected))
            << "board " << c.board << ", group " << c.group << ", row " << c.row << ", col "
            << c.col;
    }
}

// Cells that pin each family's wiring down, as the lookup returns them.
TEST_F(Maps, TellingCells) {
    const Case cases[] = {
        // RQ520 matrix card: block 1 shifts crosspoints up one bit; the
        // second row-isolation relay starts at column 5.
        {0, MATRIX, 0, 0, Relay{0, 0}},
        {0, MATRIX, 0, 5, Relay{3, 6}},
        {0, MATRIX, 6, 0, Relay{6, 1}},
        {0, MATRIX, 11, 9, Relay{11, 13}},
        {0, ISO_X, 3, 5, Relay{3, 12}},
        {0, ISO_X, 6, 1, Relay{6, 7}},
        {0, ISO_Y, 0, 0, Relay{2, 7}},
        {0, ISO_Y, 5, 9, Relay{3, 5}},
        {0, ISO_Y, 11, 4, Relay{8, 12}},
        {0, ISO_Y, 0, 5, Relay{3, 0}},
        // RQ521
        {1, MATRIX, 4, 6, Relay{6, 8}},
        {1, ISO_CV, 5, 0, Relay{6, 14}},
        {1, ISO_CV, 4, 11, Relay{6, 15}},
        // RQ522: bits count from 1 and the order changes every 24 columns.
        {2, MATRIX, 0, 0, Relay{0, 8}},
        {2, MATRIX, 0, 1, Relay{0, 1}},
        {2, MATRIX, 2, 0, Relay{0, 6}},
        {2, MATRIX, 2, 1, Relay{0, 3}},
        {2, MATRIX, 3, 24, Relay{12, 7}},
        {2, MATRIX, 3, 25, Relay{12, 8}},
        {2, MATRIX, 0, 48, Relay{24, 2}},
        {2, MATRIX, 0, 49, Relay{24, 1}},
        {2, MATRIX, 1, 72, Relay{36, 3}},
        {2, MATRIX, 1, 73, Relay{36, 6}},
        {2, MATRIX, 3, 95, Relay{47, 8}},
        {2, MATRIX, 4, 0, Relay{0, 0}},  // folded by the caller, never filled
        {2, ISO_Y, 3, 50, Relay{48, 8}},
        // RQ523: rows 0 and 1 have no column isolation.
        {3, ISO_X, 1, 3, Relay{0, 0}},
        {3, ISO_X, 2, 3, Relay{2, 3}},
        {3, ISO_LT, 0, 0, Relay{0, 14}},
        {3, ISO_LT, 1, 0, Relay{2, 13}},
        // QD2
        {4, MATRIX_A, 0, 7, Relay{3, 1}},
        {4, MATRIX_B, 4, 7, Relay{6, 2}},
        {4, MATRIX_A, 7, 12, Relay{7, 14}},
        {4, ISO_X_A, 0, 9, Relay{3, 15}},
        {4, ISO_X_B, 5, 0, Relay{8, 0}},
        {4, ISO_Y_A, 6, 7, Relay{5, 11}},
        {4, ISO_Y_D, 3, 11, Relay{2, 15}},
        {4, ISO_Y_C, 3, 11, Relay{2, 7}},
        {4, ISO_Y_C, 0, 6, Relay{2, 4}},
        {4, ISO_Y_D, 0, 6, Relay{2, 12}},
        // QD2 cascade relays, the whole of both tables.
        {4, CASCADE_A, 0, 0, Relay{2, 13}},
        {4, CASCADE_A, 1, 0, Relay{2, 14}},
        {4, CASCADE_A, 2, 0, Relay{2, 15}},
        {4, CASCADE_A, 3, 0, Relay{3, 0}},
        {4, CASCADE_B, 4, 0, Relay{5, 13}},
        {4, CASCADE_B, 5, 0, Relay{5, 14}},
        {4, CASCADE_B, 6, 0, Relay{5, 15}},
        {4, CASCADE_B, 7, 0, Relay{6, 0}},
        {4, CASCADE_C, 0, 0, Relay{2, 8}},
        {4, CASCADE_C, 1, 0, Relay{2, 9}},
        {4, CASCADE_C, 2, 0, Relay{2, 10}},
        {4, CASCADE_C, 3, 0, Relay{2, 11}},
        {4, CASCADE_D, 4, 0, Relay{5, 8}},
        {4, CASCADE_D, 5, 0, Relay{5, 9}},
        {4, CASCADE_D, 6, 0, Relay{5, 10}},
        {4, CASCADE_D, 7, 0, Relay{5, 11}},
        // QD3: rows 8..15 repeat rows 0..7; cascade by row mod 8.
        {5, MATRIX_A, 12, 7, Relay{13, 2}},
        {6, MATRIX_B, 4, 7, Relay{13, 2}},
        {5, CASCADE_A, 4, 0, Relay{12, 13}},
        {6, CASCADE_B, 15, 0, Relay{13, 0}},
        {5, CASCADE_C, 3, 0, Relay{7, 11}},
        {6, CASCADE_D, 12, 0, Relay{17, 8}},
        // QD3CNew: rows 0 and 1 share the crosspoint, not the input relay.
        {8, MATRIX_A, 0, 9, Relay{2, 4}},
        {9, MATRIX_B, 1, 9, Relay{2, 4}},
        {8, IN_A, 0, 9, Relay{10, 0}},
        {8, IN_B, 1, 9, Relay{10, 2}},
        {9, IN_C, 15, 0, Relay{10, 15}},
        {8, CASCADE_A, 0, 0, Relay{0, 0}},
        {9, CASCADE_D, 5, 0, Relay{0, 0}},
        // QD3C
        {7, MATRIX_A, 9, 0, Relay{0, 0}},  // rows 8..15 are empty
        {7, ISO_X_A, 15, 8, Relay{1, 15}},
        {7, IN_B, 5, 12, Relay{10, 13}},
        {7, IN_B, 5, 13, Relay{0, 0}},
        {7, CASCADE_A, 0, 0, Relay{0, 0}},
        {7, CASCADE_C, 7, 3, Relay{0, 0}},
        // Adapter plates, by point number.
        {11, MATRIX, 0, 0, Relay{1, 0}},
        {11, MATRIX, 1, 0, Relay{0, 0}},
        {11, MATRIX, 27, 0, Relay{0, 13}},
        {11, MATRIX, 28, 0, Relay{3, 0}},
        {11, MATRIX, 111, 0, Relay{6, 13}},
        {12, MATRIX, 0, 0, Relay{0, 10}},
        {12, MATRIX, 1, 0, Relay{0, 0}},
        {12, MATRIX, 19, 0, Relay{0, 9}},
        {12, MATRIX, 20, 0, Relay{1, 14}},
        {12, MATRIX, 21, 0, Relay{1, 4}},
        {12, MATRIX, 98, 0, Relay{6, 3}},
        {12, MATRIX, 99, 0, Relay{5, 9}},
        {12, MATRIX, 100, 0, Relay{0, 0}},
        {12, MATRIX, 111, 0, Relay{0, 0}},
    };
    checkCases(cases);
}

TEST_F(Maps, LookupDispatchAndEdges) {
    const Case cases[] = {
        // Type 10: QD3 tables below row 8, QD3CNew tables at row - 8 above.
        {10, MATRIX_A, 7, 2, Relay{10, 14}},
        {10, MATRIX_A, 9, 2, Relay{0, 6}},
        {10, MATRIX_A, 23, 2, Relay{6, 8}},  // QD3CNew row 15 = row 7
        {10, IN_A, 3, 0, std::nullopt},      // a QD3 row has no input relay
        {10, IN_A, 8, 0, Relay{10, 0}},
        {10, CASCADE_A, 4, 0, Relay{12, 13}},
        {10, CASCADE_A, 12, 0, Relay{0, 0}},
        // QD3C_IN_B rows are 50 entries long.
        {7, IN_B, 1, 0, Relay{10, 13}},
        {7, IN_B, 0, 49, Relay{0, 0}},
        {7, IN_A, 5, 12, Relay{10, 2}},
        // Row-indexed tables ignore the column, whatever it is.
        {4, CASCADE_B, 3, 0, Relay{3, 0}},
        {4, CASCADE_B, 3, 12, Relay{3, 0}},
        {4, CASCADE_B, 3, 0xFFFFFFFFu, Relay{3, 0}},
        {11, MATRIX, 28, 1000, Relay{3, 0}},
        {12, MATRIX, 99, 7, Relay{5, 9}},
        // Unknown board types leave the output alone.
        {13, MATRIX, 0, 0, std::nullopt},
        {0xFFFFFFFFu, MATRIX_A, 0, 0, std::nullopt},
        // So do groups a board type does not have.
        {0, ISO_CV, 0, 0, std::nullopt},
        {0, MATRIX_A, 0, 0, std::nullopt},
        {1, ISO_LT, 0, 0, std::nullopt},
        {2, ISO_X, 0, 0, std::nullopt},
        {4, MATRIX, 0, 0, std::nullopt},
        {4, IN_A, 0, 0, std::nullopt},
        {5, IN_D, 0, 0, std::nullopt},
        {11, ISO_X, 0, 0, std::nullopt},
        {3, -1, 0, 0, std::nullopt},
        {3, ISO_LT + 1, 0, 0, std::nullopt},
        // And cells outside the table, instead of a read past its end.
        {0, MATRIX, 12, 0, std::nullopt},
        {0, ISO_Y, 0, 10, std::nullopt},
        {1, MATRIX, 10, 0, std::nullopt},
        {1, MATRIX, 0, 12, std::nullopt},
        {2, MATRIX, 16, 0, std::nullopt},
        {2, ISO_Y, 0, 96, std::nullopt},
        {3, ISO_LT, 8, 0, std::nullopt},
        {4, MATRIX_A, 8, 0, std::nullopt},
        {4, MATRIX_A, 0, 13, std::nullopt},
        {4, MATRIX_C, 0, 12, std::nullopt},
        {4, CASCADE_A, 8, 0, std::nullopt},
        {5, MATRIX_A, 16, 0, std::nullopt},
        {6, CASCADE_C, 16, 0, std::nullopt},
        {7, IN_B, 0, 50, std::nullopt},
        {7, IN_B, 16, 0, std::nullopt},
        {10, MATRIX_C, 24, 0, std::nullopt},
        {11, MATRIX, 112, 0, std::nullopt},
        {12, MATRIX, 0xFFFFFFFFu, 0, std::nullopt},
    };
    checkCases(cases);
    EXPECT_EQ(GetPoint(0, MATRIX, 0, 0, nullptr), 0);
}

TEST_F(Maps, OpenCascadeBoards) {
    struct {
        uint32_t board;
        int32_t row;
        bool open;
    } cases[] = {
        {4, 0, true},   {5, 15, true},  {6, 3, true},    {10, 7, true},  {10, -1, true},
        {10, 8, false}, {0, 0, false},  {3, 0, false},   {7, 0, false},  {8, 0, false},
        {9, 0, false},  {11, 0, false}, {13, 0, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsOpenCascade(c.board, c.row), c.open) << c.board << " row " << c.row;
}

// What each table holds outside the rows and columns a card uses.
TEST_F(Maps, TableShapes) {
    enum class Rows { Repeat8, SameAsRow0, Listed };
    struct Shape {
        const char *name;
        std::span<const LocationEntry> cells;
        size_t perRow;
        Rows rows;
        uint32_t filledRows = 0;  // Listed: bit r set when row r may hold relays
        size_t filledCols = 0;    // 0: all
        bool inputEntries = false;
    };
    auto cells = [](const auto &t) {
        return std::span<const LocationEntry>(&t[0][0], sizeof t / sizeof(LocationEntry));
    };
    auto line = [](const auto &t) { return std::span<const LocationEntry>(t); };
    constexpr uint32_t kFirst8 = 0xFF;
    const Shape shapes[] = {
        {"QD3_matrixLocationAB", cells(QD3_matrixLocationAB), 13, Rows::Repeat8},
        {"QD3_isoLocationX_AB", cells(QD3_isoLocationX_AB), 13, Rows::Repeat8},
        {"QD3_isoLocationY_AB", cells(QD3_isoLocationY_AB), 13, Rows::Repeat8},
        {"QD3_matrixLocationCD", cells(QD3_matrixLocationCD), 12, Rows::Repeat8},
        {"QD3_isoLocationX_CD", cells(QD3_isoLocationX_CD), 12, Rows::Repeat8},
        {"QD3_isoLocationY_C", cells(QD3_isoLocationY_C), 12, Rows::Repeat8},
        {"QD3_isoLocationY_D", cells(QD3_isoLocationY_D), 12, Rows::Repeat8},
        {"QD3_cascadeLocation_AB", line(QD3_cascadeLocation_AB), 1, Rows::Repeat8},
        {"QD3_cascadeLocation_CD", line(QD3_cascadeLocation_CD), 1, Rows::Repeat8},
        {"QD3CNew_matrixLocationAB", cells(QD3CNew_matrixLocationAB), 13, Rows::Repeat8},
        {"QD3CNew_isoLocationX_AB", cells(QD3CNew_isoLocationX_AB), 13, Rows::Repeat8},
        {"QD3CNew_isoLocationY_AB", cells(QD3CNew_isoLocationY_AB), 13, Rows::Repeat8},
        {"QD3CNew_IN_AB", cells(QD3CNew_IN_AB), 13, Rows::Repeat8},
        {"QD3CNew_matrixLocationCD", cells(QD3CNew_matrixLocationCD), 12, Rows::Repeat8},
        {"QD3CNew_isoLocationX_CD", cells(QD3CNew_isoLocationX_CD), 12, Rows::Repeat8},
        {"QD3CNew_isoLocationY_CD", cells(QD3CNew_isoLocationY_CD), 12, Rows::Repeat8},
        {"QD3CNew_IN_CD", cells(QD3CNew_IN_CD), 12, Rows::Repeat8},
        {"QD3CNew_cascadeLocation_AB", line(QD3CNew_cascadeLocation_AB), 1, Rows::Listed, 0},
        {"QD3CNew_cascadeLocation_CD", line(QD3CNew_cascadeLocation_CD), 1, Rows::Listed, 0},
        {"QD3C_matrixLocationAB", cells(QD3C_matrixLocationAB), 13, Rows::Listed, kFirst8},
        {"QD3C_isoLocationX_AB", cells(QD3C_isoLocationX_AB), 13, Rows::SameAsRow0},
        {"QD3C_isoLocationY_AB", cells(QD3C_isoLocationY_AB), 13, Rows::Listed, kFirst8},
        {"QD3C_matrixLocationCD", cells(QD3C_matrixLocationCD), 12, Rows::Listed, kFirst8},
        {"QD3C_isoLocationX_CD", cells(QD3C_isoLocationX_CD), 12, Rows::SameAsRow0},
        {"QD3C_isoLocationY_CD", cells(QD3C_isoLocationY_CD), 12, Rows::Listed, kFirst8},
        {"QD3C_IN_A", cells(QD3C_IN_A), 13, Rows::Listed, kFirst8, 0, true},
        {"QD3C_IN_B", cells(QD3C_IN_B), 50, Rows::Listed, kFirst8, 13, true},
        {"QD3C_IN_C", cells(QD3C_IN_C), 12, Rows::Listed, kFirst8, 0, true},
        {"QD3C_IN_D", cells(QD3C_IN_D), 12, Rows::Listed, kFirst8, 0, true},
        {"QD3C_cascadeLocation_AB", line(QD3C_cascadeLocation_AB), 1, Rows::Listed, 0},
        {"QD3C_cascadeLocation_CD", line(QD3C_cascadeLocation_CD), 1, Rows::Listed, 0},
        {"QD3C_IN_AB", cells(QD3C_IN_AB), 13, Rows::Listed, 0},
        {"QD3C_IN_CD", cells(QD3C_IN_CD), 12, Rows::Listed, 0},
        {"RQ521_isoLocationCV", cells(RQ521_isoLocationCV), 12, Rows::Listed, 0x30},
        {"RQ522_matrixLocation", cells(RQ522_matrixLocation), 96, Rows::Listed, 0xF},
        {"RQ522_isoLocationY", cells(RQ522_isoLocationY), 96, Rows::Listed, 0xF},
        {"RQ523_isoLocationX", cells(RQ523_isoLocationX), 12, Rows::Listed, 0xFC},
        {"RQ523_isoLocationCV", cells(RQ523_isoLocationCV), 12, Rows::Listed, 0xC0},
        {"RQ523_isoLocationLT", cells(RQ523_isoLocationLT), 12, Rows::Listed, 0x3},
    };
    auto same = [](const LocationEntry &a, const LocationEntry &b) {
        return std::memcmp(&a, &b, sizeof a) == 0;
    };
    for (const Shape &s : shapes) {
        const size_t rows = s.cells.size() / s.perRow;
        for (size_t r = 0; r < rows; ++r) {
            for (size_t c = 0; c < s.perRow; ++c) {
                const LocationEntry &e = s.cells[r * s.perRow + c];
                const std::string where = std::string(s.name) + "[" + std::to_string(r) + "][" +
                                          std::to_string(c) + "]";
                if (!s.inputEntries) {
                    EXPECT_EQ(e.aux, 0) << where;
                }
                switch (s.rows) {
                case Rows::Repeat8:
                    if (r >= 8) {
                        EXPECT_TRUE(same(e, s.cells[(r - 8) * s.perRow + c])) << where;
                    }
                    break;
                case Rows::SameAsRow0:
                    EXPECT_TRUE(same(e, s.cells[c])) << where;
                    break;
                case Rows::Listed: {
                    const bool rowUsed = r < 32 && (s.filledRows >> r & 1u) != 0;
                    const bool colUsed = s.filledCols == 0 || c < s.filledCols;
                    if (!(rowUsed && colUsed)) {
                        EXPECT_TRUE(same(e, LocationEntry{})) << where;
                    } else if (s.inputEntries) {
                        // (bank, word, bit): rows r and r + 4 differ in the bank only.
                        EXPECT_EQ(e.word, static_cast<int32_t>(r / 4)) << where;
                    }
                    break;
                }
                }
            }
        }
    }
    // The RQ520B plate has relays for points 0..99 only.
    for (size_t p = 100; p < std::size(matrixAP_520BLocation); ++p)
        EXPECT_TRUE(same(matrixAP_520BLocation[p], LocationEntry{})) << p;
}

// On the QD2 card C and D are wired alike but for their row isolation.
TEST_F(Maps, QD2TwinTables) {
    EXPECT_EQ(std::memcmp(QD2_matrixLocationC, QD2_matrixLocationD, sizeof QD2_matrixLocationC), 0);
    EXPECT_EQ(std::memcmp(QD2_isoLocationX_C, QD2_isoLocationX_D, sizeof QD2_isoLocationX_C), 0);
    EXPECT_NE(std::memcmp(QD2_isoLocationY_C, QD2_isoLocationY_D, sizeof QD2_isoLocationY_C), 0);
}

}  // namespace
