// Discovery and connection: find the chassis that answer "*IDN?" with the
// maker's name and hand out their VISA sessions as handles.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "api/operations.h"
#include "base/records.h"
#include "connection/discovery_probe.h"
#include "connection/visa_loader.h"

namespace korvax {
namespace {

constexpr const char *kExpression = "(GPIB|USB|ASRL|TCPIP)?*INSTR";
constexpr size_t kMakerField = 50;  // widths of the identity fields we keep
constexpr size_t kModelField = 20;

struct ModelRow {
    const char *name;
    const char *code;
    uint16_t model;
    uint16_t slotTotal;
    uint16_t slots0, board0;
    uint16_t slots1;
    uint16_t slots2, board2;
};

constexpr ModelRow kModels[] = {
    {"RQ520", "041A", kRQ520, 6, 5, 0, 1, 1, 11},
    {"RQ520B", "041B", kRQ520B, 6, 5, 0, 1, 1, 12},
    {"RQ521", "042A", kRQ521, 4, 4, 1, 0, 0, 0},
    {"RQ522", "043A", kRQ522, 21, 21, 2, 0, 0, 0},
    {"RQ523", "044A", kRQ523, 1, 1, 3, 0, 0, 0},
    {"RQ523B", "044B", kRQ523B, 1, 1, 3, 0, 0, 0},
};

const ModelRow *lookupModel(std::string_view field) {
    for (const auto &row : kModels)
        if (field == row.name || field == row.code) return &row;
    return nullptr;
}

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

bool acceptedMaker(std::string_view maker) { return maker == "QM" || maker == "Quillmark"; }

bool namesOurInstrument(std::string_view reply) {
    Identity id;
    return parseIdentity(reply, id) && acceptedMaker(id.maker);
}

// Probes at once; 1 gives the one-by-one discovery.
std::atomic<unsigned> probeThreads{kMaxProbeThreads};

void copyName(char (&dst)[KORVAX_RSRC_NAME_SIZE], std::string_view src) {
    const size_t n = std::min(src.size(), sizeof dst - 1);
    std::memset(dst, 0, sizeof dst);
    std::memcpy(dst, src.data(), n);
}

void enterRecord(ChassisInfo &c, ViSession vi, std::string_view rsrc, const Identity &id,
                 const ModelRow &row, bool serial, uint32_t rate) {
    c.vi = vi;
    copyName(c.rsrcName, rsrc);
    std::memset(c.model, 0, sizeof c.model);
    std::memcpy(c.model, id.model.data(), id.model.size());
    c.connected = 0;
    if (serial) c.baudRate = rate;
    c.typeCode = c.deviceType = row.model;
    c.slotTotal = row.slotTotal;
    c.subUnits[0].slotCount = row.slots0;
    c.subUnits[0].boardType = row.board0;
    if (row.slots1) c.subUnits[1].slotCount = row.slots1;
    if (row.slots2) {
        c.subUnits[2].slotCount = row.slots2;
        c.subUnits[2].boardType = row.board2;
    }
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
    // A new manager closes every session of the previous discovery.
    if (defaultRM != 0) {
        visa::close(defaultRM);
        defaultRM = 0;
    }
    ViSession rm = 0;
    if (const ViStatus st = visa::openDefaultRM(&rm); st < 0) return st;
    defaultRM = rm;

    // VISA hands out descriptors of up to 256 bytes; they are cut to the
    // record's field only when stored.
    std::array<ViChar, VI_FIND_BUFLEN + 1> desc{};
    ViFindList list = 0;
    ViUInt32 matches = 0;
    if (visa::findRsrc(defaultRM, kExpression, &list, &matches, desc.data()) < 0) return 0;

    // Every listed name first (descriptors of up to 256 bytes, cut to the
    // record's field only when stored), then the probes run side by side
    // while the answers are taken in list order.
    std::vector<std::string> names;
    names.reserve(matches);
    for (ViUInt32 i = 0; i < matches; ++i) {
        if (i > 0 && visa::findNext(list, desc.data()) < 0) break;
        desc[VI_FIND_BUFLEN] = '\0';
        names.emplace_back(desc.data());
    }
    ResourceProber prober(defaultRM, std::move(names), namesOurInstrument, probeThreads);

    uint32_t accepted = 0;
    for (std::size_t i = 0; i < prober.size() && accepted < KORVAX_MAX_CHASSIS; ++i) {
        const ProbeResult &probe = prober.result(i);
        if (!probe.accepted) continue;  // the prober closes its session
        Identity id;
        parseIdentity(probe.text(), id);
        const ModelRow *row = lookupModel(id.model);
        if (row == nullptr) {
            // Our maker, a model this library does not know: stop (the
            // prober closes its session and every later one). The count
            // tells how many records this run wrote before it.
            *count = accepted;
            return KORVAX_ERR_NOT_SUPPORTED;
        }
        const std::string_view rsrc = prober.name(i);
        prober.take(i);
        enterRecord(globalChassisInfo[accepted], probe.vi, rsrc, id, *row, rsrc.starts_with("ASRL"),
                    probe.rate);
        ++accepted;
    }
    for (uint32_t i = 0; i < accepted; ++i) {
        if (entries) std::memcpy(&entries[i], &globalChassisInfo[i], sizeof(RsrcEntry));
    }
    *count = accepted;
    first_findrsc = 0;
    return 0;
}

int32_t KORVAX_Connect(const char *rsrcName, uint32_t *handle) {
    if (handle == nullptr || rsrcName == nullptr) return KORVAX_ERR_PARAMETER;
    if (first_findrsc) {
        uint32_t n = 0;
        const int32_t st = KORVAX_FindRsrc(tmp, &n);
        if (st < 0) return st;
    }
    // Stored names are cut to the field; a longer name matches on that cut.
    std::string_view wanted(rsrcName);
    if (wanted.size() > KORVAX_RSRC_NAME_SIZE - 1) wanted = wanted.substr(0, KORVAX_RSRC_NAME_SIZE - 1);
    for (int i = 0; i < KORVAX_MAX_CHASSIS; ++i) {
        ChassisInfo &c = globalChassisInfo[i];
        // Only records discovery filled can match: an unused record would
        // otherwise hand out handle 0.
        if (c.vi == 0 || wanted != std::string_view(c.rsrcName)) continue;
        *handle = c.vi;
        if (c.connected == 1) return 0;
        for (auto &s : c.subUnits) {
            std::memset(s.slotPresent, 0xFF, sizeof s.slotPresent);
            std::memset(s.cardSlot, 0xFF, sizeof s.cardSlot);
            std::memset(s.cascadeState, 0xFF, sizeof s.cascadeState);
        }
        std::memset(c.scpiReply, 0, sizeof c.scpiReply);
        c.connected = 1;
        return 0;
    }
    return KORVAX_ERR_RESOURCE_ABSENT;
}
