// Discovery and connection: find the chassis that answer "*IDN?" with the
// maker's name and hand out their VISA sessions as handles.
#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "api/operations.h"
#include "api/session_per_connect.h"
#include "base/build_policy.h"
#include "base/hex_model.h"
#include "base/records.h"
#include "connection/visa_loader.h"

namespace korvax {
namespace {

constexpr const char *kExpression = BuildPolicy::kDiscoveryExpression;
constexpr std::array<uint32_t, 5> kProbeRates = {115200, 9600, 19200, 38400, 57600};
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
    if constexpr (BuildPolicy::kHexModelField) {
        const auto code = parseHexModel(field);
        for (const auto &row : kModels)
            if (code == row.model) return &row;
        return nullptr;
    }
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

bool acceptedMaker(std::string_view maker) {
    return maker == "QM" || (BuildPolicy::kAcceptFullMakerName && maker == "Quillmark");
}

struct Probe {
    std::array<char, KORVAX_RX_SIZE + 1> reply{};
    Identity id;
};

// One "*IDN?" round trip; true when the reply names an accepted maker.
enum class Answer { Accepted, Refused, WriteFailed, ReadFailed };

Answer ask(ViSession vi, Probe &probe) {
    static constexpr char kIdn[] = "*IDN?\n";
    ViUInt32 n = 0;
    if (visa::write(vi, reinterpret_cast<const ViByte *>(kIdn), 6, &n) < 0) return Answer::WriteFailed;
    n = 0;
    probe.reply.fill(0);
    constexpr ViUInt32 kReadMax = BuildPolicy::kIdentityReadMax;
    static_assert(kReadMax <= KORVAX_RX_SIZE);
    if (visa::read(vi, reinterpret_cast<ViByte *>(probe.reply.data()), kReadMax, &n) < 0)
        return Answer::ReadFailed;
    const std::string_view text(probe.reply.data(), std::min<ViUInt32>(n, kReadMax));
    if (!parseIdentity(text, probe.id) || !acceptedMaker(probe.id.maker)) return Answer::Refused;
    return Answer::Accepted;
}

// A serial instrument answers only at its own rate: try each in turn.
bool probeSerial(ViSession vi, Probe &probe, uint32_t &rate) {
    visa::setAttribute(vi, VI_ATTR_ASRL_END_IN, VI_ASRL_END_NONE);
    for (uint32_t r : kProbeRates) {
        if (visa::setAttribute(vi, VI_ATTR_ASRL_BAUD, r) < 0) continue;
        visa::flush(vi, VI_READ_BUF_DISCARD);
        const Answer a = ask(vi, probe);
        if (a == Answer::WriteFailed) return false;
        if (a == Answer::Accepted) {
            rate = r;
            return true;
        }
    }
    return false;
}

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

int32_t KORVAX_FindRsrc(RsrcEntry *entries, uint32_t *count) {
    if (count == nullptr) return KORVAX_ERR_PARAMETER;
    *count = 0;
    // A new manager closes every session of the previous discovery.
    if (defaultRM != 0) {
        visa::close(defaultRM);
        defaultRM = 0;
    }
    if constexpr (BuildPolicy::kSessionPerConnect) forgetDiscoveredChassis();
    ViSession rm = 0;
    if (const ViStatus st = visa::openDefaultRM(&rm); st < 0) return st;
    defaultRM = rm;

    // VISA hands out descriptors of up to 256 bytes; they are cut to the
    // record's field only when stored.
    std::array<ViChar, VI_FIND_BUFLEN + 1> desc{};
    ViFindList list = 0;
    ViUInt32 matches = 0;
    if (visa::findRsrc(defaultRM, kExpression, &list, &matches, desc.data()) < 0) return 0;

    uint32_t accepted = 0;
    Probe probe;
    for (ViUInt32 i = 0; i < matches && accepted < KORVAX_MAX_CHASSIS; ++i) {
        if (i > 0 && visa::findNext(list, desc.data()) < 0) break;
        desc[VI_FIND_BUFLEN] = '\0';
        const std::string_view rsrc(desc.data());
        ViSession vi = 0;
        if (visa::open(defaultRM, desc.data(), VI_NO_LOCK, 0, &vi) < 0) continue;
        const bool serial = BuildPolicy::kSerialRateProbe && rsrc.starts_with("ASRL");
        uint32_t rate = 0;
        const bool ok = serial ? probeSerial(vi, probe, rate) : ask(vi, probe) == Answer::Accepted;
        if (!ok) {
            visa::close(vi);
            continue;
        }
        const ModelRow *row = lookupModel(probe.id.model);
        if (row == nullptr) {
            // Our maker, a model this library does not know: stop, and do
            // not leave its session open behind us. The count tells how
            // many records this run wrote before it.
            visa::close(vi);
            *count = accepted;
            return KORVAX_ERR_NOT_SUPPORTED;
        }
        enterRecord(globalChassisInfo[accepted], vi, rsrc, probe.id, *row, serial, rate);
        if constexpr (BuildPolicy::kSessionPerConnect)
            releaseIdentifiedSession(globalChassisInfo[accepted]);
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
    if constexpr (BuildPolicy::kSessionPerConnect) return connectNewSession(wanted, *handle);
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
