// Consistency of the chassis profile table, checked when the library is
// built: a row that contradicts itself would send frames of the wrong size
// or name a card nobody knows.
#include "base/chassis_model.h"

namespace korvax {
namespace {

constexpr bool consistent(const MatrixGeometry &g, uint16_t slots) {
    return g.slots == slots && g.pointCount == g.rowCount * g.colCount * g.slots &&
           g.userWords * 32u >= g.pointCount;
}

constexpr bool tableConsistent() {
    for (const ChassisModel &m : models::kTable) {
        if (!consistent(m.matrix, m.slots[0]) || !consistent(m.matrixFw2, m.slots[0])) return false;
        if (m.matrix.boardType != m.boardType0 || m.matrixFw2.boardType != m.boardType0)
            return false;
        if (m.slots[0] > KORVAX_SLOTS || m.slotTotal > KORVAX_SLOTS) return false;
        if (findModel(m.code) != &m || findModel(m.name) != &m) return false;
        if (m.boardType0 >= models::kCardTypeNames.size()) return false;
        for (const RfCard &card : m.rfCards)
            if (card.boardType >= models::kCardTypeNames.size()) return false;
        for (const AdapterPlate &plate : m.plates)
            if (plate.boardType >= models::kCardTypeNames.size()) return false;
    }
    return true;
}

static_assert(tableConsistent(), "a chassis profile row contradicts itself");

}  // namespace
}  // namespace korvax
