// Small predicates of the relay engine used across the library.
#include "relay/relay.h"

int32_t IsBoardExists(const ChassisInfo *chassis, int32_t subUnit) {
    if (chassis == nullptr || subUnit < 0 || subUnit > 2) return KORVAX_ERR_PARAMETER;
    for (uint8_t present : chassis->subUnits[subUnit].slotPresent)
        if (present != 0xFF) return 1;
    static constexpr int32_t kEmpty[3] = {KORVAX_ERR_NO_TYPE0_CARD, KORVAX_ERR_NO_TYPE1_CARD,
                                          KORVAX_ERR_NO_TYPE2_CARD};
    return kEmpty[subUnit];
}
