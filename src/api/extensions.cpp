// The Linux library's extensions (include/korvax/extensions.h): what tools
// and language bindings need beside the flat C API, read from the records
// and the chassis profile table so that nobody keeps a copy of either.
#include "korvax/extensions.h"

#include <algorithm>
#include <cstring>

#include "api/errors.h"
#include "api/firmware_update.h"
#include "api/operations.h"
#include "base/chassis_model.h"
#include "base/qmbase.h"
#include "connection/chassis_lock.h"
#include "connection/instrument_scan.h"

using namespace korvax;

namespace {

bool identified(const SubUnitInfo &s) { return s.boardCount != 0 && s.wordsPerBoard != 0; }

}  // namespace

int32_t KORVAX_GetGeometry(uint32_t handle, int64_t subUnit, KORVAX_Geometry *geometry) {
    const ChassisGuard c(handle);
    if (!c) return c.status();
    if (geometry == nullptr) return KORVAX_ERR_PARAMETER;
    const ChassisModel *m = findModel(c->deviceType);
    if (m == nullptr) return KORVAX_ERR_NOT_SUPPORTED;
    if (effectiveSubUnit(*c, subUnit) != 0) return KORVAX_ERR_UNKNOWN_CARD_TYPE;

    // Identified cards set the record's geometry for the firmware the chassis
    // runs; before that the profile row tells what that firmware will give.
    const SubUnitInfo &s = c->subUnits[0];
    const MatrixGeometry &g = m->geometry(firmwareOf(*c));
    const bool known = identified(s);
    KORVAX_Geometry out{};
    out.model = m->code;
    out.subUnits = m->hasRfBoard() || m->hasAdapterPlate() ? 3 : 1;
    out.rows = known ? s.rowCount : g.rowCount;
    out.switchableRows = std::min<uint16_t>(out.rows, m->rowsSwitched());
    out.positions = known ? s.slotCount : g.slots;
    out.cardColumns = known ? s.colCount : g.colCount;
    out.columns = static_cast<uint16_t>(out.positions * out.cardColumns);
    out.stateWords = known ? s.userWords : g.userWords;
    out.closureLimit = m->closureLimit;
    if (known)
        for (uint16_t k = 0; k < out.positions && k < KORVAX_SLOTS && s.cardSlot[k] >= 0; ++k)
            ++out.cardsFitted;
    *geometry = out;
    return 0;
}

int32_t KORVAX_GetStoredState(uint32_t handle, int64_t subUnit, uint32_t *state, int32_t count) {
    // Under the chassis lock: a switching call on another thread replaces
    // the stored state once its frame is acknowledged.
    const ChassisGuard c(handle);
    if (!c) return c.status();
    if (count < 0 || (count > 0 && state == nullptr)) return KORVAX_ERR_PARAMETER;
    const int64_t unit = effectiveSubUnit(*c, subUnit);
    if (unit < 0 || unit > 2) return KORVAX_ERR_PARAMETER;
    const SubUnitInfo &s = c->subUnits[unit];
    const int32_t words = std::min<int32_t>(s.userWords, KORVAX_USER_WORDS);
    if (count > 0) std::memcpy(state, s.userState, sizeof(uint32_t) * std::min(count, words));
    return words;
}

int32_t KORVAX_OnlineUpdateProgress(uint32_t handle, const char *path,
                                    KORVAX_UpdateProgress progress, void *context) {
    return OnlineUpdateWithProgress(handle, path, progress, context);
}

const char *KORVAX_ModelName(uint16_t model) {
    const ChassisModel *m = findModel(model);
    return m ? m->name.data() : "";
}

int32_t KORVAX_SetTimeout(uint32_t handle, uint32_t milliseconds) {
    if (handle == 0) {
        setSessionTimeout(milliseconds);
        return 0;
    }
    const ChassisGuard c(handle);
    if (!c) return c.status();
    const int32_t st = setTimeoutOf(c->vi, milliseconds);
    return st < 0 ? st : 0;
}

int32_t KORVAX_GetDiscoveryReport(uint32_t index, KORVAX_ProbeReport *report) {
    return discoveryReport(index, report);
}

const char *KORVAX_ErrorName(int64_t code) { return code == 0 ? "KORVAX_OK" : ErrorCodeName(code); }

uint32_t KORVAX_SetDiscoveryThreads(uint32_t threads) { return SetDiscoveryThreads(threads); }

void KORVAX_SetSleepHook(uint32_t (*hook)(uint32_t seconds)) { SetSleepHook(hook); }
