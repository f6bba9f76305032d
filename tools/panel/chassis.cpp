#include "chassis.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "KORVAX.h"
#include "korvax/extensions.h"

namespace korvax::panel {
namespace {

using switching::Error;
using switching::ErrorKind;

std::string lowerModel(uint16_t code) {
    std::string name = KORVAX_ModelName(code);
    if (name.empty()) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04x", code);
        name = std::string("model") + hex;
    }
    for (char &c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

std::string statusText(int32_t code) {
    std::array<char, 256> message{};
    if (KORVAX_ErrorCodeToMessage(code, message.data(), message.size()) != 0) message[0] = '\0';
    return std::string(message.data()) + " (" + std::to_string(code) + " " + KORVAX_ErrorName(code) + ")";
}

void check(int32_t st, const std::string &what) {
    if (st < 0) throw Error(ErrorKind::Chassis, what + ": " + statusText(st), st);
}

struct Found {
    std::string resource;
    uint16_t model = 0;
};

// The model of each resource: from discovery when none is named, else by
// connecting to each (discovery restricted to them, unless the user
// restricted it already).
std::vector<Found> find(const std::vector<std::string> &resources) {
    std::vector<Found> out;
    if (resources.empty()) {
        std::array<RsrcEntry, KORVAX_MAX_CHASSIS> entries{};
        uint32_t count = 0;
        check(KORVAX_FindRsrc(entries.data(), &count), "discovery");
        for (uint32_t i = 0; i < count && i < entries.size(); ++i) out.push_back({entries[i].rsrcName, entries[i].typeCode});
        if (out.empty()) throw Error(ErrorKind::Chassis, "discovery found no chassis", KORVAX_ERR_RESOURCE_ABSENT);
        return out;
    }
    const bool restrict = std::getenv("KORVAX_VISA_ONLY") == nullptr;
    if (restrict) {
        std::string only;
        for (const auto &r : resources) only += (only.empty() ? "" : ";") + r;
        setenv("KORVAX_VISA_ONLY", only.c_str(), 1);
    }
    for (const auto &r : resources) {
        uint32_t handle = 0;
        int32_t st = KORVAX_Connect(r.c_str(), &handle);
        int64_t opened = 0;
        KORVAX_Geometry g{};
        if (st >= 0) st = KORVAX_OpenSpecifiedCard(handle, 0, &opened);
        if (st >= 0) st = KORVAX_GetGeometry(handle, 0, &g);
        if (st < 0) {
            if (restrict) unsetenv("KORVAX_VISA_ONLY");
            check(st, "connect " + r);
        }
        out.push_back({r, g.model});
    }
    if (restrict) unsetenv("KORVAX_VISA_ONLY");
    return out;
}

}  // namespace

switching::Topology panelTopology(const std::string &file, const std::vector<std::string> &named,
                                  std::vector<std::string> &chosen) {
    chosen.clear();
    std::string path = file;
    std::error_code ec;
    if (path.empty() && named.empty() && std::filesystem::exists(switching::Topology::defaultPath(), ec))
        path = switching::Topology::defaultPath();
    if (!path.empty()) {
        switching::Topology t = switching::Topology::load(path);
        for (const auto &n : named) {
            const switching::ChassisTopology *c = t.findChassis(n);
            for (const auto &each : t.chassis)
                if (!c && each.resource == n) c = &each;
            if (!c) throw Error(ErrorKind::NotFound, "no chassis or resource '" + n + "' in " + t.file);
            chosen.push_back(c->name);
        }
        return t;
    }
    switching::Topology t;
    t.file = named.empty() ? "(the chassis discovery found)" : "(the chassis named on the command line)";
    const std::vector<Found> found = find(named);
    std::map<std::string, int> perModel, seen;
    for (const Found &f : found) ++perModel[lowerModel(f.model)];
    for (const Found &f : found) {
        const std::string model = lowerModel(f.model);
        const int n = ++seen[model];
        switching::ChassisTopology c;
        c.name = n == 1 ? model : model + "-" + std::to_string(n);
        c.resource = f.resource;
        t.chassis.push_back(std::move(c));
    }
    return t;
}

std::vector<ChassisInfo> describe(switching::Session &session) {
    std::vector<ChassisInfo> out;
    for (const auto &name : session.chassisNames()) {
        const switching::Matrix &m = session.matrix(name);
        const switching::ChassisGeometry &g = m.geometry();
        ChassisInfo info;
        info.name = name;
        info.resource = m.resource();
        info.model = KORVAX_ModelName(g.model);
        for (int p = 1; p <= g.cardsFitted; ++p)
            info.cards.push_back({p, (p - 1) * g.cardColumns + 1, p * g.cardColumns});
        // The session holds the chassis: this finds its handle, no discovery.
        uint32_t handle = 0;
        if (KORVAX_Connect(m.resource().c_str(), &handle) >= 0) {
            char model[16] = {}, maker[16] = {}, serial[16] = {}, firmware[16] = {};
            if (KORVAX_GetDeviceInfo(handle, model, maker, serial, firmware, 15) >= 0) {
                std::string s = serial;
                s.erase(0, s.find_first_not_of(' '));
                info.serial = s;
                info.firmware = firmware;
            }
            char type[32] = {};
            if (KORVAX_GetCardType(handle, 0, type) >= 0) info.cardType = type;
            std::array<uint32_t, 32> presence{};
            uint32_t slots = 0;
            if (KORVAX_BoardInPlaceInfo(handle, presence.data(), &slots) >= 0)
                for (uint32_t k = 0; k < slots && k < presence.size(); ++k)
                    if (presence[k] == 1) info.slotsPresent.push_back(static_cast<int>(k + 1));
        }
        out.push_back(std::move(info));
    }
    return out;
}

}  // namespace korvax::panel
