// The chassis registry and the library-wide state.
#include <cstring>

#include "api/operations.h"
#include "base/build_policy.h"
#include "base/records.h"

ChassisInfo globalChassisInfo[KORVAX_REGISTRY_SIZE] = {};
RsrcEntry tmp[KORVAX_MAX_CHASSIS] = {};
uint32_t defaultRM = 0;
uint8_t first_findrsc = 1;
uint8_t currentOpSwitch = 0;

uint8_t LXICHASSIS[5 * sizeof(ChassisInfo)] = {};
uint8_t chassisThreads[8] = {};
int32_t rq520DeviceCount = 0;
int32_t rq521DeviceCount = 0;
int32_t rq522DeviceCount = 0;
int32_t rq523DeviceCount = 0;
int32_t fdtmp = -1;

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

int32_t FindIdleChassis(void) {
    for (int32_t i = 0; i < KORVAX_MAX_CHASSIS; ++i)
        if (globalChassisInfo[i].vi == 0) return i;
    return KORVAX_ERR_HANDLE;
}

extern "C" KORVAX_API void KORVAX_GetLibVersion(char *version) {
    using korvax::BuildPolicy;
    if (version) std::memcpy(version, BuildPolicy::kLibVersion, sizeof BuildPolicy::kLibVersion);
}

namespace korvax {
platform::Mutex &apiMutex() {
    static platform::Mutex m;
    return m;
}
}  // namespace korvax
