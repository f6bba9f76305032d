// The chassis registry and the library-wide state.
#include "base/records.h"

ChassisInfo globalChassisInfo[KORVAX_REGISTRY_SIZE] = {};
RsrcEntry tmp[KORVAX_MAX_CHASSIS] = {};
uint32_t defaultRM = 0;
uint8_t first_findrsc = 1;
uint8_t currentOpSwitch = 0;

int32_t FindChassis(uint32_t handle, ChassisInfo **chassis) {
    // Handle 0 would otherwise match every unused record.
    if (handle == 0) return KORVAX_ERR_HANDLE;
    for (int32_t i = 0; i < KORVAX_MAX_CHASSIS; ++i) {
        if (globalChassisInfo[i].vi == handle) {
            if (chassis) *chassis = &globalChassisInfo[i];
            return i;
        }
    }
    return KORVAX_ERR_HANDLE;
}
