// The topology file: TOML read with toml11, checked as a whole so that a
// mistake is reported once, with the file, the line and the key, before
// any chassis is opened.
#include <toml.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "core/engine.h"

namespace korvax::switching {
namespace {

using core::parseNumberName;

class Checker {
public:
    explicit Checker(std::string file) : file_(std::move(file)) {}

    [[noreturn]] void fail(const toml::value &v, const std::string &key, const std::string &message) const {
        fail(static_cast<int>(v.location().line()), key, message);
    }
    [[noreturn]] void fail(int line, const std::string &key, const std::string &message) const {
        std::string text = file_;
        if (line > 0) text += ":" + std::to_string(line);
        text += ": ";
        if (!key.empty()) text += key + ": ";
        throw Error(ErrorKind::Topology, text + message);
    }

    std::string string(const toml::value &v, const std::string &key) const {
        if (!v.is_string()) fail(v, key, "wants a string");
        return v.as_string().str;
    }
    int integer(const toml::value &v, const std::string &key, int64_t low, int64_t high) const {
        if (!v.is_integer()) fail(v, key, "wants an integer");
        const int64_t n = v.as_integer();
        if (n < low || n > high)
            fail(v, key, "wants " + std::to_string(low) + " to " + std::to_string(high) + ", got " + std::to_string(n));
        return static_cast<int>(n);
    }
    const toml::array &array(const toml::value &v, const std::string &key) const {
        if (!v.is_array()) fail(v, key, "wants an array");
        return v.as_array();
    }
    const toml::table &table(const toml::value &v, const std::string &key) const {
        if (!v.is_table()) fail(v, key, "wants a table");
        return v.as_table();
    }

private:
    std::string file_;
};

// Channel, chassis and route names: printable, without the characters
// that separate names in routes ("chassis/NAME", "A:B") and lists.
bool wellFormed(std::string_view name) {
    if (name.empty() || name.size() > 64) return false;
    return std::all_of(name.begin(), name.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c > 0x20 && c < 0x7F && ch != '/' && ch != ':' && ch != ',' && ch != '"' && ch != '\'';
    });
}

constexpr int kMaxChannel = 65535;
constexpr int kMaxSettleMs = 60000;

// Entries of a table in the order the file writes them.
std::vector<std::pair<std::string, const toml::value *>> inFileOrder(const toml::table &t) {
    std::vector<std::pair<std::string, const toml::value *>> out;
    for (const auto &[k, v] : t) out.emplace_back(k, &v);
    std::sort(out.begin(), out.end(), [](const auto &a, const auto &b) {
        const auto la = a.second->location().line(), lb = b.second->location().line();
        return la != lb ? la < lb : a.first < b.first;
    });
    return out;
}

void readNames(const Checker &ck, const toml::value &v, const std::string &key, bool rows,
               std::map<int, std::string> &names, std::map<std::string, core::Channel> &all) {
    for (const auto &[k, name] : inFileOrder(ck.table(v, key))) {
        int n = 0;
        const auto [end, ec] = std::from_chars(k.data(), k.data() + k.size(), n);
        if (ec != std::errc{} || end != k.data() + k.size() || n < 1 || n > kMaxChannel)
            ck.fail(*name, core::cat(key, ".", k),
                    core::cat(rows ? "row" : "column", " numbers run from 1 to ", std::to_string(kMaxChannel)));
        const std::string at = core::cat(key, ".", k);
        const std::string text = ck.string(*name, at);
        if (!wellFormed(text))
            ck.fail(*name, at,
                    core::cat("'", text,
                              "' is not a channel name (1 to 64 printable characters, no space, '/', ':', ',', quotes)"));
        const core::Channel c{rows, n};
        if (const auto numbered = parseNumberName(text); numbered && *numbered != c)
            ck.fail(*name, at, core::cat("'", text, "' is the number name of another channel"));
        if (!all.emplace(text, c).second) ck.fail(*name, at, core::cat("channel name '", text, "' is used twice"));
        names.emplace(n, text);
    }
}

}  // namespace

Topology Topology::parse(std::string_view text, const std::string &fileName) {
    const Checker ck(fileName);
    toml::value root;
    try {
        std::istringstream in{std::string(text)};
        root = toml::parse(in, fileName);
    } catch (const toml::syntax_error &e) {
        std::string first = e.what();
        if (const auto nl = first.find('\n'); nl != std::string::npos) first.resize(nl);
        if (first.rfind("[error] ", 0) == 0) first.erase(0, 8);
        ck.fail(static_cast<int>(e.location().line()), "", first);
    }
    Topology t;
    t.file = fileName;
    for (const auto &[k, v] : root.as_table())
        if (k != "chassis" && k != "routes" && k != "groups")
            ck.fail(v, k, "unknown key (a topology has [chassis.NAME], [routes] and [groups])");
    if (!root.contains("chassis")) ck.fail(0, "chassis", "no chassis: add a table [chassis.NAME] with its resource");

    std::map<std::string, std::map<std::string, core::Channel>> channelsOf;
    std::set<std::string> resources;
    for (const auto &[name, value] : inFileOrder(ck.table(root.at("chassis"), "chassis"))) {
        const std::string key = "chassis." + name;
        if (!wellFormed(name)) ck.fail(*value, key, "'" + name + "' is not a chassis name");
        const auto &table = ck.table(*value, key);
        ChassisTopology c;
        c.name = name;
        c.line = static_cast<int>(value->location().line());
        auto &all = channelsOf[name];
        for (const auto &[k, v] : inFileOrder(table)) {
            const std::string at = core::cat(key, ".", k);
            if (k == "resource") {
                c.resource = ck.string(*v, at);
                if (c.resource.empty()) ck.fail(*v, at, "an empty resource string");
                if (!resources.insert(c.resource).second)
                    ck.fail(*v, at, "resource " + c.resource + " belongs to another chassis too");
            } else if (k == "settle-ms") {
                c.settleMs = ck.integer(*v, at, 0, kMaxSettleMs);
            } else if (k == "rows") {
                readNames(ck, *v, at, true, c.rows, all);
            } else if (k == "columns") {
                readNames(ck, *v, at, false, c.columns, all);
            } else if (k == "max-per-row") {
                c.maxPerRow = ck.integer(*v, at, 1, kMaxChannel);
            } else if (k == "max-per-column") {
                c.maxPerColumn = ck.integer(*v, at, 1, kMaxChannel);
            } else if (k != "configuration" && k != "sources" && k != "exclusions") {
                ck.fail(*v, at,
                        "unknown key (resource, settle-ms, rows, columns, configuration, sources, exclusions, "
                        "max-per-row, max-per-column)");
            }
        }
        if (c.resource.empty()) ck.fail(*value, key, "no resource: add resource = \"TCPIP0::...::INSTR\"");
        // Lists of channels: names of this chassis, or R3 / C17.
        const std::string chassisName = name;
        auto channel = [&](const toml::value &v, const std::string &at) {
            std::string n = ck.string(v, at);
            if (all.count(n) == 0 && !parseNumberName(n))
                ck.fail(v, at, core::cat("'", n, "' is no channel of chassis ", chassisName,
                                         " (names from rows and columns, or R3, C17)"));
            return n;
        };
        auto list = [&](const char *k, std::vector<std::string> &out) {
            if (!table.count(k)) return;
            const std::string at = key + "." + k;
            std::set<std::string> seen;
            for (const auto &v : ck.array(table.at(k), at)) {
                const std::string n = channel(v, at);
                if (seen.insert(n).second) out.push_back(n);
            }
        };
        list("configuration", c.configuration);
        list("sources", c.sources);
        if (table.count("exclusions")) {
            const std::string at = key + ".exclusions";
            for (const auto &group : ck.array(table.at("exclusions"), at)) {
                std::vector<std::string> members;
                for (const auto &v : ck.array(group, at)) {
                    const std::string n = channel(v, at);
                    if (std::find(members.begin(), members.end(), n) == members.end()) members.push_back(n);
                }
                if (members.size() < 2) ck.fail(group, at, "an exclusion names at least two channels");
                c.exclusions.push_back(std::move(members));
            }
        }
        t.chassis.push_back(std::move(c));
    }
    if (t.chassis.empty()) ck.fail(root.at("chassis"), "chassis", "no chassis: add a table [chassis.NAME]");

    // A leg's channels: "chassis/NAME", or names exactly one chassis knows
    // (R3 / C17 alone only in a topology of one chassis).
    auto knows = [&](const std::string &chassis, const std::string &n) {
        return channelsOf[chassis].count(n) != 0 || parseNumberName(n).has_value();
    };
    if (root.contains("routes")) {
        for (const auto &[name, value] : inFileOrder(ck.table(root.at("routes"), "routes"))) {
            const std::string at = "routes." + name;
            if (!wellFormed(name)) ck.fail(*value, at, "'" + name + "' is not a route name");
            Route r;
            r.name = name;
            r.line = static_cast<int>(value->location().line());
            for (const auto &v : ck.array(*value, at)) {
                const std::string leg = ck.string(v, at);
                const auto colon = leg.find(':');
                if (colon == std::string::npos || leg.find(':', colon + 1) != std::string::npos)
                    ck.fail(v, at, "'" + leg + "' is not a leg: write A:B (or chassis/A:chassis/B)");
                std::string ends[2] = {leg.substr(0, colon), leg.substr(colon + 1)};
                std::string chassisOf[2];
                for (int i = 0; i < 2; ++i)
                    if (const auto slash = ends[i].find('/'); slash != std::string::npos) {
                        chassisOf[i] = ends[i].substr(0, slash);
                        ends[i] = ends[i].substr(slash + 1);
                        if (!t.findChassis(chassisOf[i])) ck.fail(v, at, "no chassis '" + chassisOf[i] + "'");
                    }
                if (!chassisOf[0].empty() && !chassisOf[1].empty() && chassisOf[0] != chassisOf[1])
                    ck.fail(v, at, "'" + leg + "' joins two chassis: a leg stays on one chassis");
                std::vector<std::string> candidates;
                for (const auto &c : t.chassis) {
                    const std::string &only = chassisOf[0].empty() ? chassisOf[1] : chassisOf[0];
                    if (!only.empty() && only != c.name) continue;
                    if (knows(c.name, ends[0]) && knows(c.name, ends[1])) candidates.push_back(c.name);
                }
                if (candidates.empty())
                    ck.fail(v, at, "no chassis has both " + ends[0] + " and " + ends[1]);
                if (candidates.size() > 1) {
                    std::string names;
                    for (const auto &n : candidates) names += (names.empty() ? "" : ", ") + n;
                    ck.fail(v, at, core::cat("'", leg, "' could be on chassis ", names, ": write chassis/NAME"));
                }
                r.legs.push_back({candidates.front(), ends[0], ends[1]});
            }
            if (r.legs.empty()) ck.fail(*value, at, "a route has at least one leg");
            t.routes.push_back(std::move(r));
        }
    }
    if (root.contains("groups")) {
        for (const auto &[name, value] : inFileOrder(ck.table(root.at("groups"), "groups"))) {
            const std::string at = "groups." + name;
            if (!wellFormed(name)) ck.fail(*value, at, "'" + name + "' is not a group name");
            if (t.findRoute(name)) ck.fail(*value, at, "'" + name + "' names a route too");
            Group g;
            g.name = name;
            g.line = static_cast<int>(value->location().line());
            for (const auto &v : ck.array(*value, at)) {
                const std::string r = ck.string(v, at);
                if (!t.findRoute(r)) ck.fail(v, at, "no route '" + r + "' in [routes]");
                g.routes.push_back(r);
            }
            if (g.routes.empty()) ck.fail(*value, at, "a group names at least one route");
            t.groups.push_back(std::move(g));
        }
    }
    return t;
}

Topology Topology::load(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error(ErrorKind::Topology, path + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw Error(ErrorKind::Topology, path + ": cannot be read");
    return parse(text.str(), path);
}

std::string Topology::defaultPath() {
    if (const char *x = std::getenv("XDG_CONFIG_HOME"); x != nullptr && *x != '\0')
        return std::string(x) + "/korvax/topology.toml";
    if (const char *h = std::getenv("HOME"); h != nullptr && *h != '\0') return std::string(h) + "/.config/korvax/topology.toml";
    return "topology.toml";
}

const ChassisTopology *Topology::findChassis(std::string_view name) const {
    for (const auto &c : chassis)
        if (c.name == name) return &c;
    return nullptr;
}
const Route *Topology::findRoute(std::string_view name) const {
    for (const auto &r : routes)
        if (r.name == name) return &r;
    return nullptr;
}
const Group *Topology::findGroup(std::string_view name) const {
    for (const auto &g : groups)
        if (g.name == name) return &g;
    return nullptr;
}

// ---- small shared definitions --------------------------------------------

std::string toString(Crosspoint x) { return std::to_string(x.row) + "!" + std::to_string(x.column); }

std::optional<Crosspoint> parseCrosspoint(std::string_view text) {
    const auto bang = text.find('!');
    if (bang == std::string_view::npos) return std::nullopt;
    auto number = [](std::string_view s) -> std::optional<int> {
        int n = 0;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
        if (s.empty() || ec != std::errc{} || end != s.data() + s.size() || n < 1) return std::nullopt;
        return n;
    };
    const auto r = number(text.substr(0, bang)), c = number(text.substr(bang + 1));
    if (!r || !c) return std::nullopt;
    return Crosspoint{*r, *c};
}

namespace {
constexpr std::string_view kWords[] = {"possible", "exists", "in-use", "source-conflict",
                                       "excluded", "limit",  "unsupported"};
}

std::string_view answerWord(Answer a) {
    const auto i = static_cast<size_t>(a);
    return i < std::size(kWords) ? kWords[i] : std::string_view("unknown");
}

std::optional<Answer> parseAnswer(std::string_view word) {
    for (size_t i = 0; i < std::size(kWords); ++i)
        if (kWords[i] == word) return static_cast<Answer>(i);
    return std::nullopt;
}

Error::Error(ErrorKind kind, const std::string &message, int32_t code, std::optional<Answer> reason, std::string rule,
             Rollback rollback)
    : std::runtime_error(message), kind_(kind), code_(code), reason_(reason),
      rule_(std::make_shared<const std::string>(std::move(rule))), rollback_(rollback) {}

Backend::~Backend() = default;
ChassisOpener::~ChassisOpener() = default;

}  // namespace korvax::switching
