// The lookup from (board type, relay group, row, column) to a relay, and
// the initialisation of every relay map.
#include <array>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>

#include "maps/base_family.h"
#include "maps/table_rules.h"

namespace korvax::maps {
namespace {

// One table as the lookup sees it.
struct TableView {
    std::span<const LocationEntry> cells;  // empty: the board has no such relay group
    uint32_t perRow = 0;                   // 0: one entry per row, the column is not used
    bool inputEntries = false;             // QD3C input tables: (bank, word, bit)

    // The relay of (row, col), or nothing when the cell lies outside the
    // table: a caller with a wrong geometry must not make us read past it.
    std::optional<PointLocation> at(uint32_t row, uint32_t col) const {
        std::size_t index = row;
        if (perRow != 0) {
            if (col >= perRow) return std::nullopt;
            index = static_cast<std::size_t>(row) * perRow + col;
        }
        if (index >= cells.size()) return std::nullopt;
        const LocationEntry &e = cells[index];
        if (inputEntries) return PointLocation{e.bit, e.aux};
        return PointLocation{e.word, e.bit};
    }
};

template <std::size_t Rows, std::size_t Cols>
constexpr TableView grid(const LocationEntry (&table)[Rows][Cols]) {
    return {cellsOf(table), Cols};
}
template <std::size_t N>
constexpr TableView byRow(const LocationEntry (&table)[N]) {
    return {table, 0};
}
template <std::size_t Rows, std::size_t Cols>
constexpr TableView inputs(const LocationEntry (&table)[Rows][Cols]) {
    return {cellsOf(table), Cols, true};
}

constexpr int kGroupCount = ISO_LT + 1;
using BoardTables = std::array<TableView, kGroupCount>;

struct Route {
    RelayGroup group;
    TableView table;
};

constexpr BoardTables routes(std::initializer_list<Route> list) {
    BoardTables tables{};
    for (const Route &r : list) tables[r.group] = r.table;
    return tables;
}

// The relay groups each board type answers, and the table behind each.

constexpr BoardTables kRQ521 = routes({
    {MATRIX, grid(RQ521_matrixLocation)},
    {ISO_X, grid(RQ521_isoLocationX)},
    {ISO_Y, grid(RQ521_isoLocationY)},
    {ISO_CV, grid(RQ521_isoLocationCV)},
});

constexpr BoardTables kRQ522 = routes({
    {MATRIX, grid(RQ522_matrixLocation)},
    {ISO_Y, grid(RQ522_isoLocationY)},
});

constexpr BoardTables kRQ523 = routes({
    {MATRIX, grid(RQ523_matrixLocation)},
    {ISO_X, grid(RQ523_isoLocationX)},
    {ISO_Y, grid(RQ523_isoLocationY)},
    {ISO_CV, grid(RQ523_isoLocationCV)},
    {ISO_LT, grid(RQ523_isoLocationLT)},
});

constexpr BoardTables kQD2 = routes({
    {MATRIX_A, grid(QD2_matrixLocationAB)},
    {MATRIX_B, grid(QD2_matrixLocationAB)},
    {MATRIX_C, grid(QD2_matrixLocationC)},
    {MATRIX_D, grid(QD2_matrixLocationD)},
    {ISO_X_A, grid(QD2_isoLocationX_AB)},
    {ISO_X_B, grid(QD2_isoLocationX_AB)},
    {ISO_Y_A, grid(QD2_isoLocationY_AB)},
    {ISO_Y_B, grid(QD2_isoLocationY_AB)},
    {ISO_X_C, grid(QD2_isoLocationX_C)},
    {ISO_X_D, grid(QD2_isoLocationX_D)},
    {ISO_Y_C, grid(QD2_isoLocationY_C)},
    {ISO_Y_D, grid(QD2_isoLocationY_D)},
    {CASCADE_A, byRow(QD2_cascadeLocation_AB)},
    {CASCADE_B, byRow(QD2_cascadeLocation_AB)},
    {CASCADE_C, byRow(QD2_cascadeLocation_CD)},
    {CASCADE_D, byRow(QD2_cascadeLocation_CD)},
});

constexpr BoardTables kQD3 = routes({
    {MATRIX_A, grid(QD3_matrixLocationAB)},
    {MATRIX_B, grid(QD3_matrixLocationAB)},
    {MATRIX_C, grid(QD3_matrixLocationCD)},
    {MATRIX_D, grid(QD3_matrixLocationCD)},
    {ISO_X_A, grid(QD3_isoLocationX_AB)},
    {ISO_X_B, grid(QD3_isoLocationX_AB)},
    {ISO_Y_A, grid(QD3_isoLocationY_AB)},
    {ISO_Y_B, grid(QD3_isoLocationY_AB)},
    {ISO_X_C, grid(QD3_isoLocationX_CD)},
    {ISO_X_D, grid(QD3_isoLocationX_CD)},
    {ISO_Y_C, grid(QD3_isoLocationY_C)},
    {ISO_Y_D, grid(QD3_isoLocationY_D)},
    {CASCADE_A, byRow(QD3_cascadeLocation_AB)},
    {CASCADE_B, byRow(QD3_cascadeLocation_AB)},
    {CASCADE_C, byRow(QD3_cascadeLocation_CD)},
    {CASCADE_D, byRow(QD3_cascadeLocation_CD)},
});

constexpr BoardTables kQD3C = routes({
    {MATRIX_A, grid(QD3C_matrixLocationAB)},
    {MATRIX_B, grid(QD3C_matrixLocationAB)},
    {MATRIX_C, grid(QD3C_matrixLocationCD)},
    {MATRIX_D, grid(QD3C_matrixLocationCD)},
    {ISO_X_A, grid(QD3C_isoLocationX_AB)},
    {ISO_X_B, grid(QD3C_isoLocationX_AB)},
    {ISO_Y_A, grid(QD3C_isoLocationY_AB)},
    {ISO_Y_B, grid(QD3C_isoLocationY_AB)},
    {ISO_X_C, grid(QD3C_isoLocationX_CD)},
    {ISO_X_D, grid(QD3C_isoLocationX_CD)},
    {ISO_Y_C, grid(QD3C_isoLocationY_CD)},
    {ISO_Y_D, grid(QD3C_isoLocationY_CD)},
    {IN_A, inputs(QD3C_IN_A)},
    {IN_B, inputs(QD3C_IN_B)},
    {IN_C, inputs(QD3C_IN_C)},
    {IN_D, inputs(QD3C_IN_D)},
    {CASCADE_A, byRow(QD3C_cascadeLocation_AB)},
    {CASCADE_B, byRow(QD3C_cascadeLocation_AB)},
    {CASCADE_C, byRow(QD3C_cascadeLocation_CD)},
    {CASCADE_D, byRow(QD3C_cascadeLocation_CD)},
});

constexpr BoardTables kQD3CNew = routes({
    {MATRIX_A, grid(QD3CNew_matrixLocationAB)},
    {MATRIX_B, grid(QD3CNew_matrixLocationAB)},
    {MATRIX_C, grid(QD3CNew_matrixLocationCD)},
    {MATRIX_D, grid(QD3CNew_matrixLocationCD)},
    {ISO_X_A, grid(QD3CNew_isoLocationX_AB)},
    {ISO_X_B, grid(QD3CNew_isoLocationX_AB)},
    {ISO_Y_A, grid(QD3CNew_isoLocationY_AB)},
    {ISO_Y_B, grid(QD3CNew_isoLocationY_AB)},
    {ISO_X_C, grid(QD3CNew_isoLocationX_CD)},
    {ISO_X_D, grid(QD3CNew_isoLocationX_CD)},
    {ISO_Y_C, grid(QD3CNew_isoLocationY_CD)},
    {ISO_Y_D, grid(QD3CNew_isoLocationY_CD)},
    {IN_A, grid(QD3CNew_IN_AB)},
    {IN_B, grid(QD3CNew_IN_AB)},
    {IN_C, grid(QD3CNew_IN_CD)},
    {IN_D, grid(QD3CNew_IN_CD)},
    {CASCADE_A, byRow(QD3CNew_cascadeLocation_AB)},
    {CASCADE_B, byRow(QD3CNew_cascadeLocation_AB)},
    {CASCADE_C, byRow(QD3CNew_cascadeLocation_CD)},
    {CASCADE_D, byRow(QD3CNew_cascadeLocation_CD)},
});

constexpr BoardTables kPlate = routes({{MATRIX, byRow(matrixAPLocation)}});
constexpr BoardTables kPlate520B = routes({{MATRIX, byRow(matrixAP_520BLocation)}});

// The QD3Mix card (type 10) is a QD3 card in rows 0..7 and a QD3CNew card
// in rows 8..15.
constexpr uint32_t kMixFirstQD3CNewRow = 8;

// The table a lookup reads, and the row to read in it.
struct Target {
    TableView table;
    uint32_t row;
};

Target targetOf(uint32_t boardType, int32_t group, uint32_t row) {
    if (group < 0 || group >= kGroupCount) return {{}, row};
    if (boardType == 0) return {{baseFamilyTable(group), kBaseFamilyColumns}, row};
    const BoardTables *tables = nullptr;
    switch (boardType) {
    case 1: tables = &kRQ521; break;
    case 2: tables = &kRQ522; break;
    case 3: tables = &kRQ523; break;
    case 4: tables = &kQD2; break;
    case 5:
    case 6: tables = &kQD3; break;
    case 7: tables = &kQD3C; break;
    case 8:
    case 9: tables = &kQD3CNew; break;
    case 10:
        if (row < kMixFirstQD3CNewRow) {
            tables = &kQD3;
        } else {
            tables = &kQD3CNew;
            row -= kMixFirstQD3CNewRow;
        }
        break;
    case 11: tables = &kPlate; break;
    case 12: tables = &kPlate520B; break;
    default: return {{}, row};
    }
    return {(*tables)[static_cast<std::size_t>(group)], row};
}

}  // namespace
}  // namespace korvax::maps

using namespace korvax::maps;

int32_t GetPoint(uint32_t boardType, int32_t group, uint32_t row, uint32_t col,
                 PointLocation *out) {
    if (out == nullptr) return 0;
    const Target target = targetOf(boardType, group, row);
    if (const auto found = target.table.at(target.row, col)) *out = *found;
    return 0;
}

bool IsOpenCascade(uint32_t boardType, int32_t row) {
    if (boardType == 4 || boardType == 5 || boardType == 6) return true;
    return boardType == 10 && row < static_cast<int32_t>(kMixFirstQD3CNewRow);
}

// Every builder, base family first. Each fills its own table once (or finds
// it complete from load), so the order does not matter and a repeat is free.
void InitPointInfo(void) {
    setMatrixLocation();
    setISOLocationRow();
    setISOLocationColumn();

    setQD2_matrixLocationAB();
    setISORFLocationRowAB();
    setISORFLocationColumnAB();
    setQD2_matrixLocationC();
    setISORFLocationRowC();
    setISORFLocationColumnC();
    setQD2_matrixLocationD();
    setISORFLocationRowD();
    setISORFLocationColumnD();

    setCascadeLocaionAB();
    setCascadeLocaionCD();

    setMatrixAPLocation();
    setMatrixAP_520BLocation();

    QD3_setCascadeLocaionAB();
    QD3_setCascadeLocaionCD();
    QD3_setmatrixLocationAB();
    QD3_setISOLocationColumnAB();
    QD3_setISOLocationRowAB();
    QD3_setmatrixLocationCD();
    QD3_setISOLocationColumnCD();
    QD3_setISOLocationRowC();
    QD3_setISOLocationRowD();

    QD3CNew_setInAB();
    QD3CNew_setInCD();
    QD3CNew_setmatrixLocationAB();
    QD3CNew_setISOLocationColumnAB();
    QD3CNew_setISOLocationRowAB();
    QD3CNew_setmatrixLocationCD();
    QD3CNew_setISOLocationColumnCD();
    QD3CNew_setISOLocationRowCD();

    QD3C_setInA();
    QD3C_setInB();
    QD3C_setInC();
    QD3C_setInD();
    QD3C_setmatrixLocationAB();
    QD3C_setISOLocationColumnAB();
    QD3C_setISOLocationRowAB();
    QD3C_setmatrixLocationCD();
    QD3C_setISOLocationColumnCD();
    QD3C_setISOLocationRowCD();

    RQ521_setMatrixLocation();
    RQ521_setisoLocationX();
    RQ521_setisoLocationY();
    RQ521_setCV();
    RQ522_setMatrixLocation();
    RQ522_setisoLocationY();
    RQ523_setMatrixLocation();
    RQ523_setisoLocationX();
    RQ523_setisoLocationY();
    RQ523_setisoLocationCV();
    RQ523_setisoLocationLT();
}
