// The point model and the relay-state frame of sub-unit 0, card presence.
#pragma once

#include <stdbool.h>
#include <stdint.h>

#include "base/export.h"
#include "base/records.h"

// 0, or -10007 / -10008 / -10009 for the first bound that fails.
KORVAX_INTERNAL int32_t CheckPointParam(int32_t row, int32_t col, int32_t state, int32_t rowCount,
                                        int32_t colCount);
// Expands min(limit, count) state words into one flag byte per point.
// -1 (nothing written) for a count below 1 or a missing flag array.
KORVAX_INTERNAL int32_t UserArrayToMatrixPoints(const uint32_t *words, int32_t limit,
                                                int32_t count, uint8_t *flags);

// 1 when any slot of the sub-unit holds a card; -10038 for a bad argument,
// -10016 / -10024 / -10025 for an empty sub-unit 0 / 1 / 2.
KORVAX_INTERNAL int32_t IsBoardExists(const ChassisInfo *chassis, int32_t subUnit);

// Switching chain of KORVAX_OpMatrix.
KORVAX_INTERNAL int32_t OpMatrix(ChassisInfo *chassis, long subUnit, const uint32_t *state,
                                 int32_t count, int32_t lock);
KORVAX_INTERNAL int32_t SendRelayStateType0(ChassisInfo *chassis, const uint8_t *flags,
                                            uint8_t *request, int32_t lock);
// Fills the frame data area (25 slot blocks x 200 words x 16 flag bytes).
KORVAX_INTERNAL int32_t SetRelayStateDataType0(ChassisInfo *chassis, const uint8_t *flags,
                                               uint8_t *data);

// Hardware code of a slot from the slot-information reply, or an error.
KORVAX_INTERNAL int32_t GetSlotHW(ChassisInfo *chassis, int32_t slot);
// Rebuilds slotPresent / cardSlot of a sub-unit from the hardware.
KORVAX_INTERNAL int32_t BoardInPlaceHDW(ChassisInfo *chassis, uint32_t subUnit);
