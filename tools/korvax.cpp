// korvax: the library's operations from a terminal.
//
// Every subcommand connects to one chassis (or lists them), does one job and
// prints text, or JSON with --json. --sim MODEL declares a simulated chassis
// of that model in this process, so everything works without hardware.
// Exit codes: 0 done, 1 the library or the instrument refused, 2 the command
// line was wrong (unknown option, malformed crosspoint list, ...).
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "KORVAX.h"
#include "crosspoints.h"
#include "errors.h"
#include "grid.h"
#include "models.h"
#include "switching_commands.h"
#include "visa/simulation.h"

// The firmware update that reports each acknowledged block; libKORVAX
// exports it under this plain name for tools.
extern "C" int32_t OnlineUpdateWithProgress(uint32_t handle, const char *path,
                                            void (*progress)(uint64_t sent, uint64_t total, void *),
                                            void *context);

namespace korvax::tools {
namespace {

using json = nlohmann::ordered_json;

// A refusal by the library or the instrument: exit 1.
struct LibraryFailure {
    std::string what;
    int32_t code;
};
// A mistake on the command line: exit 2.
struct UsageFailure {
    std::string message;
};

struct Options {
    std::string sim;  // model name, empty for none
    bool json = false;
    std::string rsrc;
    int64_t subUnit = 0;
    std::string list;
    std::string command;
    std::optional<int> card;
    std::string columns;
    bool show = false;
    std::vector<std::string> settings;
    std::string file;
    std::string demoModel = "RQ521";
};

void check(int32_t status, const std::string &what) {
    if (status < 0) throw LibraryFailure{what, status};
}

std::string modelName(uint16_t code) {
    const auto m = modelOf(code);
    if (m) return std::string(m->name);
    char text[16];
    std::snprintf(text, sizeof text, "%04X", code);
    return text;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// Set once --sim has declared a chassis in this process: it starts with every
// relay open and is gone when the process ends, so nothing is recorded for it.
bool gFreshSimulation = false;

// Declares the simulated chassis of --sim and returns its resource string.
std::string declareSimulation(const std::string &model, const std::string &rsrc) {
    const auto code = sim::parseModel(model);
    if (!code) throw UsageFailure{"unknown model '" + model + "' (RQ520, RQ520B, RQ521, RQ522, RQ523, RQ523B)"};
    std::string name = rsrc.empty() ? "TCPIP0::sim-" + lower(std::string(sim::modelName(*code))) + "::INSTR" : rsrc;
    // Only this chassis, on the built-in VISA library that this process
    // shares with libKORVAX: no vendor VISA, no resource file, and none of
    // this machine's serial or USB ports (discovery would write "*IDN?" to
    // them at every baud rate).
    unsetenv("KORVAX_VISA_LIBRARY");
    setenv("KORVAX_VISA_RESOURCES", "", 1);
    setenv("KORVAX_DEV_ROOT", "/nonexistent", 1);
    setenv("KORVAX_SYSFS_ROOT", "/nonexistent", 1);
    try {
        visa::declareSimulated(name, sim::Config::forModel(*code));
        gFreshSimulation = true;
    } catch (const std::exception &e) {
        throw UsageFailure{"cannot simulate '" + name + "': " + e.what()};
    }
    return name;
}

struct Found {
    std::string rsrc;
    uint16_t model;
};

std::vector<Found> discover() {
    std::array<RsrcEntry, KORVAX_MAX_CHASSIS> entries{};
    uint32_t count = 0;
    check(KORVAX_FindRsrc(entries.data(), &count), "find");
    std::vector<Found> out;
    for (uint32_t i = 0; i < count && i < entries.size(); ++i)
        out.push_back({entries[i].rsrcName, entries[i].typeCode});
    return out;
}

// One connected chassis.
struct Session {
    std::string rsrc;
    uint32_t handle = 0;
    uint16_t model = 0;
    std::optional<Model> geometry;
    // In-process simulated chassis: the tool can look at its relays.
    std::shared_ptr<sim::Chassis> simulated;

    static Session connect(const std::string &rsrc) {
        if (rsrc.empty()) throw UsageFailure{"a resource string is needed (or --sim MODEL)"};
        Session s;
        s.rsrc = rsrc;
        for (const auto &f : discover())
            if (f.rsrc == rsrc) s.model = f.model;
        check(KORVAX_Connect(rsrc.c_str(), &s.handle), "connect " + rsrc);
        s.geometry = modelOf(s.model);
        if (!std::getenv("KORVAX_VISA_LIBRARY")) s.simulated = visa::simulated(rsrc);
        return s;
    }

    int64_t openCard(int64_t subUnit) {
        int64_t opened = 0;
        check(KORVAX_OpenSpecifiedCard(handle, subUnit, &opened), "open sub-unit " + std::to_string(subUnit));
        return opened;
    }

    // Cards fitted in the positions of sub-unit 0.
    int cardsPresent() {
        std::array<uint32_t, 32> states{};
        uint32_t count = 0;
        check(KORVAX_BoardInPlaceInfo(handle, states.data(), &count), "board presence");
        int cards = 0;
        const int positions = geometry ? geometry->positions : 0;
        for (int j = 0; j < positions && j < static_cast<int>(count); ++j) cards += states[j] == 1;
        return cards;
    }

    const Model &model_() const {
        if (!geometry) throw LibraryFailure{"chassis model " + modelName(model), KORVAX_ERR_NOT_SUPPORTED};
        return *geometry;
    }
};

// ---- recorded switching state --------------------------------------------
// A chassis cannot report its relays, and every switching call sends the
// whole sub-unit, so `close` and `open` must start from what was switched
// before. For chassis outside this process the tool records what it last
// set, per resource and sub-unit; the chassis of --sim, born in this
// process, is asked directly.

std::filesystem::path stateFile(const std::string &rsrc, int64_t subUnit) {
    std::filesystem::path dir;
    if (const char *d = std::getenv("KORVAX_STATE_DIR"); d && *d) dir = d;
    else if (const char *x = std::getenv("XDG_STATE_HOME"); x && *x) dir = std::filesystem::path(x) / "korvax";
    else if (const char *h = std::getenv("HOME"); h && *h) dir = std::filesystem::path(h) / ".local/state/korvax";
    else dir = ".";
    std::string name;
    for (char c : rsrc) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return dir / (name + ".sub" + std::to_string(subUnit));
}

// What a simulated chassis in this process says is closed.
std::set<Crosspoint> reported(Session &s, int64_t subUnit) {
    std::set<Crosspoint> closed;
    if (s.simulated) {
        if (subUnit != 0) return closed;
        const int columns = s.model_().cardColumns;
        for (const auto &x : s.simulated->closedCrosspoints())
            if (x.card >= 0) closed.insert({x.row + 1, x.card * columns + x.column + 1});
    }
    return closed;
}

std::set<Crosspoint> closedNow(Session &s, int64_t subUnit) {
    if (s.simulated && gFreshSimulation) return reported(s, subUnit);
    std::set<Crosspoint> closed;
    std::ifstream in(stateFile(s.rsrc, subUnit));
    std::string line;
    while (std::getline(in, line)) {
        const auto parsed = parseCrosspoints(line);
        closed.insert(parsed.points.begin(), parsed.points.end());
    }
    return closed;
}

void record(const Session &s, int64_t subUnit, const std::set<Crosspoint> &closed) {
    if (gFreshSimulation) return;
    const auto path = stateFile(s.rsrc, subUnit);
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::trunc);
    for (const auto &p : closed) out << p.row << '!' << p.column << '\n';
}

// An RQ521 refuses relay frames while its front panel has control.
bool ensureRemote(Session &s) {
    if (s.model != KORVAX_MODEL_RQ521) return false;
    uint32_t mode = 0;
    check(KORVAX_GetControlMode(s.handle, &mode), "read control mode");
    if (mode != 0) return false;
    check(KORVAX_SetControlMode(s.handle, 1), "take remote control");
    return true;
}

void applyState(Session &s, int64_t subUnit, const std::set<Crosspoint> &closed) {
    const Model &m = s.model_();
    std::vector<uint32_t> words(1500, 0);
    for (const auto &p : closed) {
        const uint32_t bit = pointIndex(p, m.chassisColumns());
        words[bit / 32] |= 1u << (bit % 32);
    }
    check(KORVAX_OpMatrix(s.handle, static_cast<long>(subUnit), words.data(),
                          static_cast<int32_t>(words.size())),
          "switch");
}

json pointsJson(const std::set<Crosspoint> &closed) {
    json a = json::array();
    for (const auto &p : closed) a.push_back({{"row", p.row}, {"column", p.column}});
    return a;
}

std::string gridText(Session &s, const std::set<Crosspoint> &closed, const GridSelection &sel) {
    const Model &m = s.model_();
    return renderGrid({m.rows, m.cardColumns, s.cardsPresent()}, closed, sel);
}

int terminalWidth() {
    const char *c = std::getenv("COLUMNS");
    if (c == nullptr) return 80;
    char *end = nullptr;
    const long width = std::strtol(c, &end, 10);
    return end != c && *end == '\0' && width >= 20 && width <= 1000 ? static_cast<int>(width) : 80;
}

GridSelection fullGrid() { return GridSelection{std::nullopt, std::nullopt, terminalWidth()}; }

// ---- the subcommands -----------------------------------------------------

void print(const Options &o, const json &j, const std::string &text) {
    if (o.json) std::cout << j.dump(2) << '\n';
    else std::cout << text;
}

void runFind(const Options &o) {
    const auto found = discover();
    json j = json::array();
    std::string text = found.empty() ? "no chassis found\n" : "";
    char line[160];
    if (!found.empty()) {
        std::snprintf(line, sizeof line, "%-40s %-7s %s\n", "RESOURCE", "MODEL", "CODE");
        text += line;
    }
    for (const auto &f : found) {
        char code[8];
        std::snprintf(code, sizeof code, "%04X", f.model);
        j.push_back({{"resource", f.rsrc}, {"model", modelName(f.model)}, {"code", code}});
        std::snprintf(line, sizeof line, "%-40s %-7s %s\n", f.rsrc.c_str(), modelName(f.model).c_str(), code);
        text += line;
    }
    print(o, j, text);
}

void runInfo(const Options &o) {
    Session s = Session::connect(o.rsrc);
    s.openCard(0);
    char model[16] = {}, maker[16] = {}, serial[16] = {}, firmware[16] = {};
    check(KORVAX_GetDeviceInfo(s.handle, model, maker, serial, firmware, 15), "device info");
    std::array<uint32_t, 32> presence{};
    uint32_t slots = 0;
    check(KORVAX_BoardInPlaceInfo(s.handle, presence.data(), &slots), "board presence");
    std::array<uint32_t, 30> serials{};
    const int32_t snStatus = KORVAX_GetSN(s.handle, serials.data(), static_cast<uint32_t>(serials.size()));
    std::array<char, 22 * 10> hw{}, sw{};
    check(KORVAX_GetHWVersion(s.handle, hw.data(), hw.size()), "hardware versions");
    check(KORVAX_GetSWVersion(s.handle, sw.data(), sw.size()), "firmware versions");

    json j;
    j["resource"] = s.rsrc;
    j["model"] = modelName(s.model);
    j["model_code"] = model;
    j["manufacturer"] = maker;
    j["serial"] = std::string(serial);
    j["firmware"] = firmware;
    std::string text = "resource      " + s.rsrc + "\nmodel         " + modelName(s.model) + " (" + model +
                       ")\nmanufacturer  " + maker + "\nserial        " + serial + "\nfirmware      " +
                       firmware + "\n";
    json fw = json::array();
    std::string fwText;
    for (size_t i = 0; i < 5; ++i) {
        std::string v(sw.data() + 10 * i, strnlen(sw.data() + 10 * i, 10));
        if (v.empty()) continue;
        fw.push_back(v);
        fwText += (fwText.empty() ? "" : ", ") + v;
    }
    j["firmware_versions"] = fw;
    text += "fw versions   " + fwText + "\n";
    std::string chassisHw(hw.data(), strnlen(hw.data(), 10));
    j["hardware_version"] = chassisHw;
    text += "hw version    " + chassisHw + "\n";
    if (snStatus < 0) {
        j["serial_numbers_error"] = errorMessage(snStatus);
        text += "serials       " + errorMessage(snStatus) + "\n";
    }

    // Cards of every sub-unit the chassis has.
    json subunits = json::array();
    const bool threeSubUnits = s.model == KORVAX_MODEL_RQ520 || s.model == KORVAX_MODEL_RQ520B;
    for (int64_t u = 0; u < (threeSubUnits ? 3 : 1); ++u) {
        int64_t opened = 0;
        const int32_t st = KORVAX_OpenSpecifiedCard(s.handle, u, &opened);
        char type[32] = {}, size[32] = {};
        json entry = {{"subunit", u}};
        if (st == 0 && KORVAX_GetCardType(s.handle, u, type) == 0) {
            KORVAX_GetCardSize(type, size);
            entry["card_type"] = type;
            entry["card_size"] = size;
            text += "sub-unit " + std::to_string(u) + "    " + type + " (" + size + ")\n";
        } else {
            const int32_t code = st < 0 ? st : KORVAX_ERR_UNKNOWN_CARD_TYPE;
            entry["error"] = {{"code", code}, {"name", errorName(code)}, {"message", errorMessage(code)}};
            text += "sub-unit " + std::to_string(u) + "    " + errorMessage(code) + "\n";
        }
        subunits.push_back(entry);
    }
    j["subunits"] = subunits;
    s.openCard(0);

    json slotList = json::array();
    text += "slot  present  serial     hw\n";
    for (uint32_t k = 0; k < slots && k < presence.size(); ++k) {
        const std::string slotHw = k + 1 < 22 ? std::string(hw.data() + 10 * (k + 1), strnlen(hw.data() + 10 * (k + 1), 10)) : "";
        const uint32_t sn = k + 1 < serials.size() && snStatus >= 0 ? serials[k + 1] : 0;
        slotList.push_back({{"slot", k + 1}, {"present", presence[k] == 1}, {"serial", sn}, {"hw_version", slotHw}});
        char line[80];
        std::snprintf(line, sizeof line, "%4u  %-7s  %-9u  %s\n", k + 1, presence[k] == 1 ? "yes" : "no", sn,
                      slotHw.c_str());
        text += line;
    }
    j["slots"] = slotList;
    print(o, j, text);
}

void runSwitch(const Options &o, bool close) {
    const auto parsed = parseCrosspoints(o.list);
    if (!parsed.error.empty()) throw UsageFailure{parsed.error};
    Session s = Session::connect(o.rsrc);
    const Model &m = s.model_();
    if (const auto bad = firstOutside(parsed.points, m.rows, m.chassisColumns()))
        throw UsageFailure{"crosspoint " + std::to_string(bad->row) + "!" + std::to_string(bad->column) +
                           " is outside the " + std::string(m.name) + "'s " + std::to_string(m.rows) + " rows x " +
                           std::to_string(m.chassisColumns()) + " columns"};
    s.openCard(o.subUnit);
    const int columns = s.cardsPresent() * m.cardColumns;
    if (const auto bad = firstOutside(parsed.points, m.rows, columns); bad && o.subUnit == 0)
        throw UsageFailure{"crosspoint " + std::to_string(bad->row) + "!" + std::to_string(bad->column) +
                           " is beyond the last card fitted (column " + std::to_string(columns) + ")"};
    const bool tookRemote = ensureRemote(s);
    auto closed = closedNow(s, o.subUnit);
    for (const auto &p : parsed.points) {
        if (close) closed.insert(p);
        else closed.erase(p);
    }
    applyState(s, o.subUnit, closed);
    record(s, o.subUnit, closed);
    json j = {{"resource", s.rsrc}, {"subunit", o.subUnit}, {"closed", pointsJson(closed)}};
    std::string text = std::string(tookRemote ? "chassis taken into remote control\n" : "") +
                       (close ? "closed " : "opened ") + std::to_string(parsed.points.size()) +
                       " crosspoint(s); " + std::to_string(closed.size()) + " closed now\n";
    if (o.show) text += gridText(s, s.simulated ? reported(s, o.subUnit) : closed, fullGrid());
    print(o, j, text);
}

void runClear(const Options &o) {
    Session s = Session::connect(o.rsrc);
    s.openCard(o.subUnit);
    check(KORVAX_Clear(s.handle, o.subUnit), "clear");
    record(s, o.subUnit, {});
    std::string text = "all relays of sub-unit " + std::to_string(o.subUnit) + " open\n";
    if (o.show) text += gridText(s, s.simulated ? reported(s, o.subUnit) : std::set<Crosspoint>{}, fullGrid());
    print(o, json{{"resource", s.rsrc}, {"subunit", o.subUnit}, {"cleared", true}}, text);
}

void runScpi(const Options &o) {
    Session s = Session::connect(o.rsrc);
    // The relay commands need the cards identified; a chassis without a
    // matrix card still answers the other commands.
    int64_t opened = 0;
    if (KORVAX_OpenSpecifiedCard(s.handle, 0, &opened) == 0 &&
        (o.command.find("CLOS") != std::string::npos || o.command.find("OPEN") != std::string::npos))
        ensureRemote(s);
    char reply[512] = {};
    KORVAX_SCPIQuery(s.handle, o.command.c_str(), reply);
    print(o, json{{"resource", s.rsrc}, {"command", o.command}, {"reply", reply}}, std::string(reply) + "\n");
}

void runShow(const Options &o) {
    if (o.subUnit != 0)
        throw UsageFailure{"only sub-unit 0 has a crosspoint matrix to show (the RF card and the adapter "
                           "plate are not switched by crosspoint)"};
    Session s = Session::connect(o.rsrc);
    const Model &m = s.model_();
    s.openCard(o.subUnit);
    GridSelection sel{.card = o.card, .columns = std::nullopt, .width = terminalWidth()};
    if (!o.columns.empty()) {
        sel.columns = parseRange(o.columns);
        if (!sel.columns) throw UsageFailure{"--columns wants A:B with 1 <= A <= B, got '" + o.columns + "'"};
    }
    if (o.card && (*o.card < 1 || *o.card > m.positions))
        throw UsageFailure{"--card wants 1.." + std::to_string(m.positions)};
    const auto closed = closedNow(s, o.subUnit);
    const int cards = s.cardsPresent();
    json j = {{"resource", s.rsrc},
              {"model", m.name},
              {"subunit", o.subUnit},
              {"rows", m.rows},
              {"card_columns", m.cardColumns},
              {"cards", cards},
              {"source", s.simulated && gFreshSimulation ? "simulated chassis" : "recorded by korvax"},
              {"closed", pointsJson(closed)}};
    std::string text = s.rsrc + ": " + std::string(m.name) + ", " + std::to_string(cards) + " card(s) of " +
                       std::to_string(m.rows) + " x " + std::to_string(m.cardColumns) +
                       (s.simulated && gFreshSimulation ? ", as the simulated chassis reports it\n"
                                    : ", as korvax last set it (a chassis cannot report its relays)\n");
    text += renderGrid({m.rows, m.cardColumns, cards}, closed, sel);
    print(o, j, text);
}

void runSelfTest(const Options &o) {
    Session s = Session::connect(o.rsrc);
    char line[512] = {};
    const int32_t st = KORVAX_SelfTest(s.handle, o.subUnit, line, sizeof line);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (st < 0) {
        if (o.json)
            std::cout << json{{"resource", s.rsrc}, {"passed", false}, {"text", text}}.dump(2) << '\n';
        else
            std::cout << text << '\n';
        throw LibraryFailure{"self test", st};
    }
    print(o, json{{"resource", s.rsrc}, {"passed", true}, {"text", text}}, text + "\n");
}

// Each setting the RQ521 keeps, with its reader.
struct Setting {
    const char *key;
    int32_t (*get)(uint32_t, std::string &);
};

int32_t getIp(uint32_t h, std::string &v) {
    char a[32] = {};
    const int32_t st = KORVAX_GetCOMMIPAddr(h, a);
    v = a;
    return st;
}
int32_t getLan(uint32_t h, std::string &v) {
    uint32_t m = 0;
    const int32_t st = KORVAX_GetLANMode(h, &m);
    v = m == 0 ? "manual" : m == 1 ? "auto" : std::to_string(m);
    return st;
}
int32_t getGpib(uint32_t h, std::string &v) {
    uint32_t a = 0;
    const int32_t st = KORVAX_GetGPIBAddress(h, &a);
    v = std::to_string(a);
    return st;
}
int32_t getBaud(uint32_t h, std::string &v) {
    uint32_t r = 0;
    const int32_t st = KORVAX_GetBaudRate(h, &r);
    v = std::to_string(r);
    return st;
}
int32_t getControl(uint32_t h, std::string &v) {
    uint32_t m = 0;
    const int32_t st = KORVAX_GetControlMode(h, &m);
    v = m == 0 ? "local" : "remote";
    return st;
}

constexpr std::array<Setting, 5> kSettings = {{{"ip", getIp},
                                               {"lan-mode", getLan},
                                               {"gpib", getGpib},
                                               {"baud", getBaud},
                                               {"control-mode", getControl}}};

uint32_t settingNumber(const std::string &key, const std::string &value) {
    try {
        size_t used = 0;
        const unsigned long n = std::stoul(value, &used);
        if (used == value.size() && n <= 0xFFFFFFFFul) return static_cast<uint32_t>(n);
    } catch (const std::exception &) {
    }
    throw UsageFailure{key + " wants a number, got '" + value + "'"};
}

void runSettings(const Options &o) {
    const auto &args = o.settings;
    const bool set = !args.empty() && args[0] == "set";
    if (!args.empty() && !(args[0] == "get" && args.size() == 1) && !(set && args.size() == 3))
        throw UsageFailure{"settings wants 'get' or 'set KEY VALUE'"};
    std::string key, value;
    if (set) {
        key = args[1];
        value = args[2];
        if (std::none_of(kSettings.begin(), kSettings.end(), [&](const Setting &x) { return key == x.key; }))
            throw UsageFailure{"unknown setting '" + key + "' (ip, lan-mode, gpib, baud, control-mode)"};
    }
    Session s = Session::connect(o.rsrc);
    if (set) {
        int32_t st = 0;
        if (key == "ip") st = KORVAX_SetIPAddress(s.handle, value.c_str());
        else if (key == "lan-mode") {
            if (value != "manual" && value != "auto" && value != "0" && value != "1")
                throw UsageFailure{"lan-mode wants manual or auto"};
            st = KORVAX_SetLANMode(s.handle, value == "auto" || value == "1" ? 1 : 0);
        } else if (key == "gpib") st = KORVAX_SetGPIBAddress(s.handle, settingNumber(key, value));
        else if (key == "baud") st = KORVAX_SetBaudRate(s.handle, settingNumber(key, value));
        else {
            if (value != "local" && value != "remote") throw UsageFailure{"control-mode wants local or remote"};
            st = KORVAX_SetControlMode(s.handle, value == "remote" ? 1 : 0);
        }
        check(st, "set " + key);
        print(o, json{{"resource", s.rsrc}, {"set", key}, {"value", value}}, key + " set to " + value + "\n");
        return;
    }
    json j = {{"resource", s.rsrc}};
    std::string text;
    for (const auto &x : kSettings) {
        std::string v;
        const int32_t st = x.get(s.handle, v);
        if (st < 0) {
            j[x.key] = nullptr;
            text += std::string(x.key) + std::string(14 - std::string(x.key).size(), ' ') + "(" +
                    errorMessage(st) + ")\n";
        } else {
            j[x.key] = v;
            text += std::string(x.key) + std::string(14 - std::string(x.key).size(), ' ') + v + "\n";
        }
    }
    print(o, j, text);
}

struct Progress {
    bool bar;
    int lastTenth = -1;
};

void showProgress(uint64_t sent, uint64_t total, void *context) {
    auto &p = *static_cast<Progress *>(context);
    const int percent = total ? static_cast<int>(std::min<uint64_t>(100, sent * 100 / total)) : 0;
    if (p.bar) {
        const int filled = percent * 40 / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%% %llu/%llu bytes", std::string(filled, '#').c_str(),
                     std::string(40 - filled, ' ').c_str(), percent, static_cast<unsigned long long>(sent),
                     static_cast<unsigned long long>(total));
        (void)std::fflush(stderr);
    } else if (percent / 10 != p.lastTenth || sent == total) {
        p.lastTenth = percent / 10;
        std::fprintf(stderr, "update: %llu of %llu bytes sent (%d%%)\n", static_cast<unsigned long long>(sent),
                     static_cast<unsigned long long>(total), percent);
    }
}

void runUpdate(const Options &o) {
    Session s = Session::connect(o.rsrc);
    Progress p{static_cast<bool>(isatty(STDERR_FILENO))};
    const int32_t st = OnlineUpdateWithProgress(s.handle, o.file.c_str(), showProgress, &p);
    if (p.bar) (void)std::fputc('\n', stderr);
    check(st, "update from " + o.file);
    std::error_code ec;
    const auto size = std::filesystem::file_size(o.file, ec);
    print(o, json{{"resource", s.rsrc}, {"file", o.file}, {"bytes", ec ? 0 : size}, {"done", true}},
          "firmware image " + o.file + " sent\n");
}

void runDemo(const Options &o) {
    // "korvax --sim RQ522 demo" means the same as "korvax demo --model RQ522".
    const std::string model = o.sim.empty() ? o.demoModel : o.sim;
    const std::string rsrc = declareSimulation(model, "");
    json j = {{"resource", rsrc}};
    auto say = [&](const std::string &line) {
        if (!o.json) std::cout << line << '\n';
    };
    char version[16] = {};
    KORVAX_GetLibVersion(version);
    say(std::string("KORVAX ") + version + ", simulated " + model + " chassis " + rsrc);

    const auto found = discover();
    say("find: " + std::to_string(found.size()) + " chassis");
    for (const auto &f : found) say("  " + f.rsrc + "  " + modelName(f.model));
    Session s = Session::connect(rsrc);
    say("connect: handle " + std::to_string(s.handle));
    s.openCard(0);
    say("open card: sub-unit 0");
    check(KORVAX_Init(s.handle, 0), "init");
    say("init: relay maps built, every relay open");
    const Model &m = s.model_();

    // By state array: row 1 column 1, and row 2 of the last column of card 1.
    const std::set<Crosspoint> byArray = {{1, 1}, {2, m.cardColumns}};
    applyState(s, 0, byArray);
    say("close by state array: 1!1, 2!" + std::to_string(m.cardColumns));
    // By SCPI: channel lists number 48 columns per row whatever the chassis,
    // so row 1 means the same crosspoints on every model.
    const std::string command = ":CLOS (@0(1!3:1!4))";
    char reply[512] = {};
    KORVAX_SCPIQuery(s.handle, command.c_str(), reply);
    say("SCPI " + command + " -> " + reply);
    j["scpi_reply"] = reply;

    const auto closed = reported(s, 0);
    j["closed"] = pointsJson(closed);
    say("the simulated chassis reports:");
    if (!o.json) std::cout << gridText(s, closed, fullGrid());

    char line[512] = {};
    check(KORVAX_SelfTest(s.handle, 0, line, sizeof line), "self test");
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    say("self test: " + text);
    j["self_test"] = text;
    check(KORVAX_Clear(s.handle, 0), "clear");
    const auto after = reported(s, 0);
    say("clear: " + std::to_string(after.size()) + " crosspoints closed");
    j["closed_after_clear"] = after.size();
    if (o.json) std::cout << j.dump(2) << '\n';
}

int reportLibraryFailure(const Options &o, const LibraryFailure &f) {
    const std::string message = errorMessage(f.code);
    std::cerr << "korvax: " << f.what << ": " << message << " (" << f.code << " " << errorName(f.code) << ")\n";
    if (o.json)
        std::cout << json{{"error", {{"code", f.code}, {"name", errorName(f.code)}, {"message", message}, {"during", f.what}}}}.dump(2)
                  << '\n';
    return 1;
}

int run(int argc, char **argv) {
    Options o;
    CLI::App app{"korvax: find, inspect and switch relay switch-matrix chassis"};
    app.require_subcommand(1);
    app.fallthrough();
    app.add_option("--sim", o.sim, "run against a simulated chassis of this model (RQ520 ... RQ523B)");
    app.add_flag("--json", o.json, "print machine-readable JSON");
    app.set_version_flag("--version", KORVAX_LIB_VERSION);

    auto withRsrc = [&](CLI::App *c) {
        c->add_option("RSRC", o.rsrc, "VISA resource string (optional with --sim)");
        return c;
    };
    auto *find = app.add_subcommand("find", "list the chassis discovery finds");
    auto *info = withRsrc(app.add_subcommand("info", "identity, versions, serials, cards and board presence"));
    auto *close = app.add_subcommand("close", "close crosspoints, e.g. 1!1,2!3:4!5 (row!column, from 1)");
    auto *open = app.add_subcommand("open", "open crosspoints, e.g. 1!1,2!3:4!5");
    for (auto *c : {close, open}) {
        c->add_option("RSRC", o.rsrc, "VISA resource string (leave out with --sim)");
        c->add_option("LIST", o.list, "crosspoint list: ROW!COLUMN or ROW!COLUMN:ROW!COLUMN, comma-separated");
        c->add_option("--subunit", o.subUnit, "sub-unit number (0 matrix; 1, 2 on RQ520/RQ520B)");
        c->add_flag("--show", o.show, "show the grid afterwards");
    }
    auto *clear = withRsrc(app.add_subcommand("clear", "open every relay of the sub-unit"));
    clear->add_option("--subunit", o.subUnit, "sub-unit number");
    clear->add_flag("--show", o.show, "show the grid afterwards");
    auto *scpi = app.add_subcommand("scpi", "send one SCPI command and print the reply text");
    scpi->add_option("RSRC", o.rsrc, "VISA resource string");
    scpi->add_option("COMMAND", o.command, "SCPI command, e.g. ':CLOS (@0(1!1))'");
    auto *show = withRsrc(app.add_subcommand("show", "the sub-unit's crosspoints as a grid per card"));
    show->add_option("--card", o.card, "only this card (1-based position)");
    show->add_option("--columns", o.columns, "only chassis columns A:B");
    show->add_option("--subunit", o.subUnit, "sub-unit number");
    auto *selftest = withRsrc(app.add_subcommand("selftest", "run the loop-back self test"));
    selftest->add_option("--subunit", o.subUnit, "sub-unit number");
    auto *settings = app.add_subcommand("settings", "read (get) or change (set KEY VALUE) the communication settings");
    settings->add_option("RSRC", o.rsrc, "VISA resource string");
    settings->add_option("ACTION", o.settings, "get | set KEY VALUE (keys: ip, lan-mode, gpib, baud, control-mode)");
    auto *update = app.add_subcommand("update", "load a firmware image into the chassis");
    update->add_option("RSRC", o.rsrc, "VISA resource string");
    update->add_option("FILE", o.file, "firmware image");
    auto *demo = app.add_subcommand("demo", "a whole session on a simulated chassis");
    demo->add_option("--model", o.demoModel, "chassis model to simulate (default RQ521)");

    for (auto *c : app.get_subcommands({}))
        c->footer("Every subcommand also takes --sim MODEL and --json (see korvax --help).");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return 2;
    }

    try {
        if (!o.sim.empty() && !demo->parsed()) {
            // "korvax --sim RQ521 close 1!1": the one positional is the list.
            if (close->parsed() || open->parsed()) {
                if (o.list.empty()) std::swap(o.list, o.rsrc);
            } else if (scpi->parsed() && o.command.empty()) {
                std::swap(o.command, o.rsrc);
            } else if (update->parsed() && o.file.empty()) {
                std::swap(o.file, o.rsrc);
            } else if (settings->parsed() && !o.rsrc.empty() && (o.rsrc == "get" || o.rsrc == "set")) {
                o.settings.insert(o.settings.begin(), o.rsrc);
                o.rsrc.clear();
            }
            o.rsrc = declareSimulation(o.sim, o.rsrc);
        }
        if ((close->parsed() || open->parsed()) && o.list.empty())
            throw UsageFailure{"a crosspoint list is needed, e.g. 1!1,2!3:4!5"};
        if (scpi->parsed() && o.command.empty()) throw UsageFailure{"an SCPI command is needed"};
        if (update->parsed() && o.file.empty()) throw UsageFailure{"a firmware file is needed"};

        if (find->parsed()) runFind(o);
        else if (info->parsed()) runInfo(o);
        else if (close->parsed()) runSwitch(o, true);
        else if (open->parsed()) runSwitch(o, false);
        else if (clear->parsed()) runClear(o);
        else if (scpi->parsed()) runScpi(o);
        else if (show->parsed()) runShow(o);
        else if (selftest->parsed()) runSelfTest(o);
        else if (settings->parsed()) runSettings(o);
        else if (update->parsed()) runUpdate(o);
        else if (demo->parsed()) runDemo(o);
        return 0;
    } catch (const UsageFailure &f) {
        std::cerr << "korvax: " << f.message << "\n";
        if (o.json) std::cout << json{{"error", {{"usage", f.message}}}}.dump(2) << '\n';
        return 2;
    } catch (const LibraryFailure &f) {
        return reportLibraryFailure(o, f);
    }
}

}  // namespace
}  // namespace korvax::tools

int main(int argc, char **argv) {
    try {
        if (korvax::tools::isSwitchingCommand(argc, argv)) return korvax::tools::runSwitchingCommand(argc, argv);
        return korvax::tools::run(argc, argv);
    } catch (const std::exception &e) {
        std::cerr << "korvax: " << e.what() << "\n";
        return 1;
    }
}
