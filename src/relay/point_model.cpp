#include <cstring>

#include "relay/point_model.h"

int32_t CheckPointParam(int32_t row, int32_t col, int32_t state, int32_t rowCount,
                        int32_t colCount) {
    if (row < 0 || row >= rowCount) return KORVAX_ERR_ROW_RANGE;
    if (col < 0 || col >= colCount) return KORVAX_ERR_COLUMN_RANGE;
    if (state != 0 && state != 1) return KORVAX_ERR_STATE_RANGE;
    return 0;
}

int32_t UserArrayToMatrixPoints(const uint32_t *words, int32_t limit, int32_t count,
                                uint8_t *flags) {
    if (count < 1 || flags == nullptr || words == nullptr) return -1;
    int32_t n = limit < count ? limit : count;
    // The flag area holds 40,000 points; a larger word limit would run past it.
    if (n > korvax::kFlagCount / 32) n = korvax::kFlagCount / 32;
    for (int32_t i = 0; i < n; ++i)
        for (int b = 0; b < 32; ++b) flags[i * 32 + b] = static_cast<uint8_t>((words[i] >> b) & 1u);
    return 0;
}
