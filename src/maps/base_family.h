// The matrix card of the RQ520 and RQ520B chassis (board type 0). Its three
// tables are private to the maps; the lookup reaches them through here.
#pragma once

#include <cstdint>
#include <span>

#include "maps/KORVAX_common.h"

namespace korvax::maps {

inline constexpr uint32_t kBaseFamilyColumns = 10;

// All cells of the table of relay group MATRIX, ISO_X or ISO_Y, row after
// row with kBaseFamilyColumns entries each; empty for any other group.
std::span<const LocationEntry> baseFamilyTable(int32_t group);

}  // namespace korvax::maps
