// Discovery and connection: find the chassis that answer "*IDN?" with the
// maker's name and hand out their VISA sessions as handles.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "api/operations.h"
#include "korvax/extensions.h"
#include "api/session_per_connect.h"
#include "base/build_policy.h"
#include "base/chassis_model.h"
#include "base/hex_model.h"
#include "base/records.h"
#include "connection/chassis_lock.h"
#include "connection/instrument_scan.h"

namespace korvax {
namespace {

constexpr const char *kExpression = BuildPolicy::kDiscoveryExpression;
constexpr size_t kMakerField = 50;  // widths of the identity fields we keep
constexpr size_t kModelField = 20;

struct Identity {
    std::string_view maker;
    std::string_view model;
};

// Splits "maker,model,..." — a reply without two commas, or with a field
// wider than we keep, names no instrument.
bool parseIdentity(std::string_view reply, Identity &id) {
    const auto first = reply.find(',');
    if (first == std::string_view::npos) return false;
    const auto second = reply.find(',', first + 1);
    if (second == std::string_view::npos) return false;
    id.maker = reply.substr(0, first);
    id.model = reply.substr(first + 1, second - first - 1);
    return id.maker.size() < kMakerField && id.model.size() < kModelField;
}

bool acceptedMaker(std::string_view maker) {
    return maker == "QM" || (BuildPolicy::kAcceptFullMakerName && maker == "Quillmark");
}

// Row of the model an identity reply names: by name or code text, or, in
// the Windows driver's reading, as a hexadecimal model code.
const ChassisModel *modelNamed(std::string_view field) {
    if constexpr (BuildPolicy::kHexModelField) {
        const auto code = parseHexModel(field);
        return code ? findModel(*code) : nullptr;
    }
    return findModel(field);
}

// Probes at once; 1 probes one resource after another.
std::atomic<unsigned> probeThreads{kMaxProbeThreads};

void copyName(char (&dst)[KORVAX_RSRC_NAME_SIZE], std::string_view src) {
    const size_t n = std::min(src.size(), sizeof dst - 1);
    std::memset(dst, 0, sizeof dst);
    std::memcpy(dst, src.data(), n);
}

// The relay state the library kept for each chassis of the last discovery,
// by resource name. A chassis found again keeps it whatever record it lands
// in; a record that now holds another chassis must not hand the previous
// one's relays to it (the SCPI relay commands start from the kept state).
struct KeptState {
    char rsrcName[KORVAX_RSRC_NAME_SIZE];
    uint32_t userState[3][KORVAX_USER_WORDS];
};

std::vector<KeptState> keptStates() {
    std::vector<KeptState> kept(KORVAX_MAX_CHASSIS);
    for (int i = 0; i < KORVAX_MAX_CHASSIS; ++i) {
        std::memcpy(kept[i].rsrcName, globalChassisInfo[i].rsrcName, sizeof kept[i].rsrcName);
        for (int u = 0; u < 3; ++u)
            std::memcpy(kept[i].userState[u], globalChassisInfo[i].subUnits[u].userState,
                        sizeof kept[i].userState[u]);
    }
    return kept;
}

void carryState(ChassisInfo &c, std::string_view rsrc, const std::vector<KeptState> &kept) {
    const KeptState *same = nullptr;
    for (const KeptState &k : kept)
        if (k.rsrcName[0] != '\0' && std::string_view(k.rsrcName) == rsrc.substr(0, KORVAX_RSRC_NAME_SIZE - 1))
            same = &k;
    for (int u = 0; u < 3; ++u) {
        uint32_t *state = c.subUnits[u].userState;
        if (same) std::memcpy(state, same->userState[u], sizeof same->userState[u]);
        else std::memset(state, 0, sizeof c.subUnits[u].userState);
    }
}

void enterRecord(ChassisInfo &c, const Identified &found, std::string_view rsrc,
                 std::string_view modelField, const ChassisModel &model,
                 const std::vector<KeptState> &kept) {
    c.vi = found.session;
    carryState(c, rsrc, kept);
    copyName(c.rsrcName, rsrc);
    std::memset(c.model, 0, sizeof c.model);
    std::memcpy(c.model, modelField.data(), modelField.size());
    c.connected = 0;
    if (found.serial) c.baudRate = found.baud;
    enterModel(c, model);
}

// What the last discovery saw at each listed resource, for callers who want
// to know why a chassis is not among those found.
std::mutex reportLock;
std::vector<KORVAX_ProbeReport> lastReport;

void copyText(char *dst, std::size_t size, std::string_view src) {
    const std::size_t n = std::min(src.size(), size - 1);
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

KORVAX_ProbeReport reportOf(std::string_view rsrc, const Identified *found, bool kept) {
    KORVAX_ProbeReport r{};
    copyText(r.resource, sizeof r.resource, rsrc);
    if (found == nullptr) {
        r.outcome = kept ? KORVAX_PROBE_NOT_PROBED : KORVAX_PROBE_BEYOND_LIMIT;
        return r;
    }
    r.status = found->status;
    r.baudRate = found->baud;
    copyText(r.reply, sizeof r.reply, found->reply);
    Identity id;
    const ChassisModel *row = parseIdentity(found->reply, id) ? modelNamed(id.model) : nullptr;
    if (row != nullptr) r.model = row->code;
    switch (found->step) {
    case ProbeStep::Open: r.outcome = KORVAX_PROBE_OPEN_FAILED; break;
    case ProbeStep::Write: r.outcome = KORVAX_PROBE_WRITE_FAILED; break;
    case ProbeStep::Read: r.outcome = KORVAX_PROBE_NO_ANSWER; break;
    case ProbeStep::Refused: r.outcome = KORVAX_PROBE_NOT_OURS; break;
    case ProbeStep::Accepted:
        r.outcome = row == nullptr ? KORVAX_PROBE_UNKNOWN_MODEL
                    : kept         ? KORVAX_PROBE_ACCEPTED
                                   : KORVAX_PROBE_BEYOND_LIMIT;
        break;
    }
    return r;
}

// The report of a discovery that took resources 0 .. stop - 1 into account
// and ended there: after a model it does not know nothing more is looked
// at; after the last chassis it keeps, the probes already under way say
// what they found, and the resources not probed yet are beyond the limit.
void publishReport(ResourceProber &prober, std::size_t stop, bool stoppedOnUnknown) {
    std::vector<KORVAX_ProbeReport> report;
    report.reserve(prober.size());
    uint32_t kept = 0;
    for (std::size_t i = 0; i < prober.size(); ++i) {
        const Identified *found = i < stop ? &prober.result(i)
                                  : stoppedOnUnknown ? nullptr
                                                     : prober.finished(i);
        // A resource nobody probed is beyond the limit, or after the stop.
        const bool keep = found == nullptr ? stoppedOnUnknown
                                           : i < stop && found->step == ProbeStep::Accepted;
        report.push_back(reportOf(prober.name(i), found, keep));
        if (report.back().outcome == KORVAX_PROBE_ACCEPTED) ++kept;
    }
    std::lock_guard g(reportLock);
    lastReport = std::move(report);
}

void clearReport() {
    std::lock_guard g(reportLock);
    lastReport.clear();
}

// Records from `first` on held chassis of an earlier discovery, whose
// sessions went with its manager: forget them, so that neither their name
// nor their handle (which a VISA may hand out again) reaches a closed or a
// different instrument.
void forgetRecordsFrom(uint32_t first) {
    for (uint32_t i = first; i < KORVAX_MAX_CHASSIS; ++i)
        std::memset(&globalChassisInfo[i], 0, sizeof globalChassisInfo[i]);
}

}  // namespace
}  // namespace korvax

using namespace korvax;

uint32_t SetDiscoveryThreads(uint32_t threads) {
    const unsigned n = std::clamp<uint32_t>(threads, 1, kMaxProbeThreads);
    probeThreads = n;
    return n;
}

int32_t KORVAX_FindRsrc(RsrcEntry *entries, uint32_t *count) {
    if (count == nullptr) return KORVAX_ERR_PARAMETER;
    *count = 0;
    // Every record to itself: the operations under way end first, and none
    // starts on a record while it is rebuilt.
    const RegistryGuard registry;
    if (!registry) return registry.status();
    const std::vector<KeptState> kept = keptStates();
    // A new manager closes every session of the previous discovery.
    if constexpr (BuildPolicy::kSessionPerConnect) forgetDiscoveredChassis();
    if (const int32_t st = reopenManager(defaultRM); st < 0) {
        forgetRecordsFrom(0);
        clearReport();
        return st;
    }

    // Every listed name first; then the probes run side by side while the
    // answers are taken in list order.
    std::vector<std::string> names;
    if (!listResources(defaultRM, kExpression, names)) {
        forgetRecordsFrom(0);
        clearReport();
        return 0;
    }
    const auto accepts = [](std::string_view reply) {
        Identity id;
        return parseIdentity(reply, id) && acceptedMaker(id.maker);
    };
    ResourceProber prober(defaultRM, std::move(names), accepts, probeThreads);

    uint32_t accepted = 0;
    std::size_t i = 0;
    for (; i < prober.size() && accepted < KORVAX_MAX_CHASSIS; ++i) {
        const Identified &found = prober.result(i);
        if (found.session == 0) continue;
        Identity id;
        parseIdentity(found.reply, id);
        const ChassisModel *row = modelNamed(id.model);
        if (row == nullptr) {
            // Our maker, a model this library does not know: stop (the
            // prober closes its session and every later one). The count
            // tells how many records this run wrote before it; they can be
            // connected. The caller's entries, as any output of a failed
            // call, are left alone.
            publishReport(prober, i + 1, true);
            *count = accepted;
            forgetRecordsFrom(accepted);
            return KORVAX_ERR_NOT_SUPPORTED;
        }
        prober.take(i);
        enterRecord(globalChassisInfo[accepted], found, prober.name(i), id.model, *row, kept);
        if constexpr (BuildPolicy::kSessionPerConnect)
            releaseIdentifiedSession(globalChassisInfo[accepted]);
        ++accepted;
    }
    publishReport(prober, i, false);
    for (uint32_t k = 0; k < accepted; ++k) {
        if (entries) std::memcpy(&entries[k], &globalChassisInfo[k], sizeof(RsrcEntry));
    }
    *count = accepted;
    forgetRecordsFrom(accepted);
    std::atomic_ref<uint8_t>(first_findrsc).store(0, std::memory_order_release);
    return 0;
}

int32_t korvax::discoveryReport(uint32_t index, KORVAX_ProbeReport *report) {
    std::lock_guard g(reportLock);
    if (report != nullptr && index < lastReport.size()) *report = lastReport[index];
    return static_cast<int32_t>(lastReport.size());
}

int32_t KORVAX_Connect(const char *rsrcName, uint32_t *handle) {
    if (handle == nullptr || rsrcName == nullptr) return KORVAX_ERR_PARAMETER;
    if (std::atomic_ref<uint8_t>(first_findrsc).load(std::memory_order_acquire)) {
        // Threads connecting at once run one discovery between them: the
        // first one's; the others find it done.
        const RegistryGuard registry;
        if (!registry) return registry.status();
        if (first_findrsc) {
            uint32_t n = 0;
            const int32_t st = KORVAX_FindRsrc(tmp, &n);
            if (st < 0) return st;
        }
    }
    // Stored names are cut to the field; a longer name matches on that cut.
    std::string_view wanted(rsrcName);
    if (wanted.size() > KORVAX_RSRC_NAME_SIZE - 1) wanted = wanted.substr(0, KORVAX_RSRC_NAME_SIZE - 1);
    if constexpr (BuildPolicy::kSessionPerConnect) {
        // A new session replaces the record's handle, as a discovery does.
        const RegistryGuard registry;
        if (!registry) return registry.status();
        return connectNewSession(wanted, *handle);
    }
    const ChassisGuard c(handleNamed(wanted));
    if (c.status() == KORVAX_ERR_MALLOC) return c.status();
    if (!c) return KORVAX_ERR_RESOURCE_ABSENT;
    *handle = c->vi;
    if (c->connected != 1) startConnection(*c);
    return 0;
}
