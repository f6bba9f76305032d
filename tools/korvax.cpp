// korvax: the library's operations from a terminal.
//
// Every subcommand connects to one chassis (or lists them), does one job and
// prints text, or one JSON object with --json. A command given a resource
// probes only that resource (a direct session), so it does not pay for a
// discovery of everything this machine can reach. --sim MODEL declares a
// simulated chassis of that model in this process, so everything works
// without hardware.
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
#include <cerrno>
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
#include "diagnosis.h"
#include "errors.h"
#include "grid.h"
#include "korvax/extensions.h"
#include "korvax/switching.hpp"
#include "record_front.h"
#include "switching/json_shapes.h"
#include "switching_commands.h"
#include "terminal.h"
#include "visa-sim/simulation.h"

namespace korvax::tools {
namespace {

using json = nlohmann::ordered_json;

// Largest firmware image korvax sends. The protocol itself has no limit
// (128-byte blocks until a flagged last one), but no chassis of the family
// holds an image anywhere near this size: a larger file is the wrong file.
constexpr uint64_t kMaxFirmwareImage = 16u * 1024u * 1024u;

// Why a command stopped; reported as text on stderr and, with --json, as
// {"error": {...}} on stdout.
struct Failure {
    int exitCode;          // 1 refused, 2 command line
    int32_t code;          // a KORVAX_ERR_ code (or a VISA status), or the switching engine's KORVAXSW_ status
    std::string message;   // the library's message, or what is wrong with the command line
    std::string during;    // what korvax was doing
    std::string detail;    // what the transport saw, what to do; may be empty
    std::string name = {};  // the code's name where errorName() does not know it
};

Failure refused(const std::string &during, int32_t code, std::string detail = "") {
    return {1, code, errorMessage(code), during, std::move(detail)};
}
Failure usage(std::string message) {
    return {2, KORVAX_ERR_PARAMETER, std::move(message), "command line", ""};
}

void check(int32_t status, const std::string &what) {
    if (status < 0) throw refused(what, status);
}

struct Options {
    std::string sim;  // model name, empty for none
    bool json = false;
    std::optional<uint32_t> timeoutMs;
    std::string rsrc;
    bool rsrcGiven = false;  // named by the user (with --sim: a simulated chassis under that name)
    int64_t subUnit = 0;
    std::string list;
    std::string command;
    std::optional<int> card;
    std::string columns;
    bool show = false;
    bool verbose = false;
    bool yes = false;
    std::vector<std::string> settings;
    std::string file;
    std::string demoModel = "RQ521";
};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string hex4(uint16_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", code);
    return text;
}

std::string modelName(uint16_t code) {
    const std::string name = KORVAX_ModelName(code);
    return name.empty() ? hex4(code) : name;
}

// With KORVAX_VISA_LIBRARY a vendor VISA serves the library instead of the
// built-in one: no search restriction, no simulated chassis.
bool vendorVisa() {
    const char *v = std::getenv("KORVAX_VISA_LIBRARY");
    return v != nullptr && *v != '\0';
}

// Set once --sim has declared a chassis in this process: it starts with every
// relay open and is gone when the process ends, so its record is too.
bool gFreshSimulation = false;

// Declares the simulated chassis of --sim and returns its resource string.
std::string declareSimulation(const std::string &model, const std::string &rsrc) {
    const auto code = sim::parseModel(model);
    if (!code) throw usage("unknown model '" + model + "' (RQ520, RQ520B, RQ521, RQ522, RQ523, RQ523B)");
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
        throw usage("cannot simulate '" + name + "': " + e.what());
    }
    return name;
}

void applyTimeout(const Options &o) {
    if (o.timeoutMs) check(KORVAX_SetTimeout(0, *o.timeoutMs), "set the VISA timeout");
}

// A direct session: the built-in VISA lists (and discovery probes) only the
// resource asked for, instead of everything this machine can reach.
void restrictDiscoveryTo(const std::string &rsrc) {
    if (vendorVisa()) {
        std::cerr << "korvax: KORVAX_VISA_LIBRARY names another VISA library: looking for " << rsrc
                  << " among everything it lists (only the built-in VISA probes just the resource named)\n";
        return;
    }
    setenv("KORVAX_VISA_ONLY", rsrc.c_str(), 1);
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
    for (uint32_t i = 0; i < count && i < entries.size(); ++i) out.push_back({entries[i].rsrcName, entries[i].typeCode});
    return out;
}

std::vector<std::string> declaredNames() {
    if (vendorVisa()) return {};
    try {
        return visa::declaredResources();
    } catch (const std::exception &) {
        return {};
    }
}

// One connected chassis.
struct Session {
    std::string rsrc;
    uint32_t handle = 0;
    KORVAX_Geometry geometry{};
    std::string model;  // "RQ521"
    // In-process simulated chassis: the tool can look at its relays.
    std::shared_ptr<sim::Chassis> simulated;

    static Session connect(const Options &o) {
        if (o.rsrc.empty()) throw usage("a resource string is needed (or --sim MODEL)");
        restrictDiscoveryTo(o.rsrc);
        applyTimeout(o);
        Session s;
        s.rsrc = o.rsrc;
        if (const int32_t st = KORVAX_Connect(o.rsrc.c_str(), &s.handle); st < 0) {
            const bool visaStatus = st < KORVAX_ERR_VISA_API;
            throw refused("connect " + o.rsrc, st,
                          visaStatus ? "the VISA library failed: " + visaStatusName(st)
                                     : whyNotFound(o.rsrc, declaredNames()));
        }
        check(KORVAX_GetGeometry(s.handle, 0, &s.geometry), "geometry of " + o.rsrc);
        s.model = modelName(s.geometry.model);
        if (!vendorVisa()) s.simulated = visa::simulated(o.rsrc);
        return s;
    }

    int64_t openCard(int64_t subUnit) {
        int64_t opened = 0;
        check(KORVAX_OpenSpecifiedCard(handle, subUnit, &opened), "open sub-unit " + std::to_string(subUnit));
        // The cards fitted are known from here on.
        check(KORVAX_GetGeometry(handle, 0, &geometry), "geometry of " + rsrc);
        return opened;
    }
};

// ---- sub-units and crosspoints --------------------------------------------

std::string subUnitsOf(const Session &s) {
    return s.geometry.subUnits == 3 ? "sub-units 0 (the matrix), 1 (the RF card) and 2 (the adapter plate)"
                                    : "sub-unit 0 only";
}

// The library takes any sub-unit number on the models with one (it means 0
// there); the command refuses numbers the chassis does not have, and, where
// crosspoints are switched, the sub-units that are not a matrix.
void requireSubUnit(const Session &s, int64_t subUnit, bool matrix) {
    if (subUnit < 0 || subUnit >= s.geometry.subUnits)
        throw usage("the " + s.model + " has no sub-unit " + std::to_string(subUnit) + ": it has " + subUnitsOf(s));
    if (matrix && subUnit != 0)
        throw usage("sub-unit " + std::to_string(subUnit) + " of the " + s.model +
                    " is not switched by crosspoint: only sub-unit 0 has a crosspoint matrix");
}

std::string pointText(const Crosspoint &p) { return std::to_string(p.row) + "!" + std::to_string(p.column); }

void requireInside(const Session &s, const std::vector<Crosspoint> &points) {
    const KORVAX_Geometry &g = s.geometry;
    for (const auto &p : points) {
        if (p.row <= g.switchableRows && p.column <= g.columns) continue;
        if (p.row <= g.rows && p.column <= g.columns)
            throw usage("crosspoint " + pointText(p) + ": the " + s.model + " switches rows 1 to " +
                        std::to_string(g.switchableRows) + " only (rows " + std::to_string(g.switchableRows + 1) +
                        " to " + std::to_string(g.rows) + " lie beyond what a relay frame reaches)");
        throw usage("crosspoint " + pointText(p) + " is outside the " + s.model + "'s " +
                    std::to_string(g.switchableRows) + " rows x " + std::to_string(g.columns) + " columns");
    }
}

// What a simulated chassis in this process says is closed.
std::set<Crosspoint> reported(Session &s, int64_t subUnit) {
    std::set<Crosspoint> closed;
    if (s.simulated && subUnit == 0)
        for (const auto &x : s.simulated->closedCrosspoints())
            if (x.card >= 0) closed.insert({x.row + 1, x.card * s.geometry.cardColumns + x.column + 1});
    return closed;
}

// ---- the relay record -------------------------------------------------------

// A failure of the switching engine as the command reports it: the
// library's own code where the chassis or the library refused, else the
// engine's status (a record that cannot be read or written, ...).
// `detail` replaces what the engine's message adds to the library's.
Failure engineFailure(const switching::Error &e, const std::string &during, const std::string &detail = "") {
    const int32_t code = switching::shapes::status(e);
    const bool library = e.code() < 0;
    const bool explains = e.kind() == switching::ErrorKind::Refused || e.rollback() != switching::Rollback::None;
    Failure f{1, code, library ? errorMessage(code) : e.what(), during,
              !detail.empty() ? detail : library && explains ? e.what() : ""};
    if (!library) f.name = switching::shapes::statusName(code);
    return f;
}

// The engine's session over the chassis the command connected: every
// relay state korvax reads or records goes through it.
switching::Session openRecord(const Session &s) {
    try {
        return recordSession(s.rsrc, s.handle, s.geometry, gFreshSimulation);
    } catch (const switching::Error &e) {
        throw engineFailure(e, "open the relay record of " + s.rsrc, "nothing was switched");
    }
}

std::set<Crosspoint> toTools(const std::vector<switching::Crosspoint> &xs) {
    std::set<Crosspoint> out;
    for (const auto &x : xs) out.insert({x.row, x.column});
    return out;
}

// What is closed now, as the record holds it.
std::set<Crosspoint> recordedState(switching::Matrix &m, const std::string &rsrc) {
    try {
        return toTools(m.closed());
    } catch (const switching::Error &e) {
        throw engineFailure(e, "read the relay state of " + rsrc,
                            "the chassis's state is unknown: 'korvax clear' opens every relay and starts the record "
                            "afresh");
    }
}

// An RQ521 refuses relay frames while its front panel has control.
bool ensureRemote(Session &s) {
    if (s.geometry.model != KORVAX_MODEL_RQ521) return false;
    uint32_t mode = 0;
    check(KORVAX_GetControlMode(s.handle, &mode), "read control mode");
    if (mode != 0) return false;
    check(KORVAX_SetControlMode(s.handle, 1), "take remote control");
    return true;
}

int32_t sendState(Session &s, int64_t subUnit, const std::set<Crosspoint> &closed) {
    std::vector<uint32_t> words(s.geometry.stateWords, 0);
    for (const auto &p : closed) {
        const uint32_t bit = pointIndex(p, s.geometry.columns);
        words.at(bit / 32) |= 1u << (bit % 32);
    }
    return KORVAX_OpMatrix(s.handle, static_cast<long>(subUnit), words.data(), static_cast<int32_t>(words.size()));
}

void applyState(Session &s, int64_t subUnit, const std::set<Crosspoint> &closed) {
    check(sendState(s, subUnit, closed), "switch");
}

json pointsJson(const std::set<Crosspoint> &closed) {
    json a = json::array();
    for (const auto &p : closed) a.push_back({{"row", p.row}, {"column", p.column}});
    return a;
}

GridLayout layoutOf(const Session &s) {
    return {s.geometry.switchableRows, s.geometry.cardColumns, s.geometry.cardsFitted};
}

GridSelection fullGrid() { return GridSelection{std::nullopt, std::nullopt, terminalWidth(STDOUT_FILENO)}; }

// ---- output ----------------------------------------------------------------

void print(const Options &o, json j, const std::string &text) {
    if (o.json) {
        j["simulated"] = !o.sim.empty();
        std::cout << j.dump(2) << '\n';
        return;
    }
    // A real resource name under --sim must not pass for the real chassis.
    if (!o.sim.empty() && o.rsrcGiven)
        std::cout << "(simulated " << o.sim << " chassis under " << o.rsrc << ": nothing reaches an instrument)\n";
    std::cout << text;
}

// ---- the subcommands -------------------------------------------------------

void runFind(const Options &o) {
    applyTimeout(o);
    const auto found = discover();
    json chassis = json::array();
    std::string text = found.empty() ? "no chassis found\n" : "";
    char line[400];
    if (!found.empty()) {
        std::snprintf(line, sizeof line, "%-40s %-7s %s\n", "RESOURCE", "MODEL", "CODE");
        text += line;
    }
    for (const auto &f : found) {
        chassis.push_back({{"resource", f.rsrc}, {"model", modelName(f.model)}, {"code", hex4(f.model)}});
        std::snprintf(line, sizeof line, "%-40s %-7s %s\n", f.rsrc.c_str(), modelName(f.model).c_str(),
                      hex4(f.model).c_str());
        text += line;
    }
    json j = {{"chassis", chassis}};
    if (o.verbose) {
        json resources = json::array();
        const auto report = discoveryReport();
        text += "\n" + std::to_string(report.size()) + " resource(s) listed by the VISA library:\n";
        for (const auto &r : report) {
            json e = {{"resource", r.resource}, {"outcome", outcomeWord(r.outcome)}, {"detail", describe(r)}};
            if (r.model) e["model"] = modelName(r.model);
            if (r.status) e["visa_status"] = visaStatusName(r.status);
            resources.push_back(e);
            text += "  " + std::string(r.resource) + ": " + describe(r) + "\n";
        }
        j["resources"] = resources;
    }
    print(o, j, text);
}

void runInfo(const Options &o) {
    Session s = Session::connect(o);
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

    const KORVAX_Geometry &g = s.geometry;
    json j;
    j["resource"] = s.rsrc;
    j["model"] = s.model;
    j["model_code"] = model;
    j["manufacturer"] = maker;
    j["serial"] = std::string(serial);
    j["firmware"] = firmware;
    std::string text = "resource      " + s.rsrc + "\nmodel         " + s.model + " (" + model +
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
    // The matrix as the state array and `close` number it.
    j["matrix"] = {{"rows", g.switchableRows},       {"card_rows", g.rows},
                   {"columns", g.columns},           {"card_columns", g.cardColumns},
                   {"positions", g.positions},       {"cards_fitted", g.cardsFitted},
                   {"closure_limit", g.closureLimit}};
    text += "matrix        " + std::to_string(g.switchableRows) + " rows x " + std::to_string(g.columns) +
            " columns (" + std::to_string(g.cardsFitted) + " of " + std::to_string(g.positions) + " cards of " +
            std::to_string(g.cardColumns) + " columns fitted)\n";
    if (g.switchableRows < g.rows)
        text += "              rows " + std::to_string(g.switchableRows + 1) + " to " + std::to_string(g.rows) +
                " of its " + std::to_string(g.rows) + "-row cards lie beyond what a relay frame reaches\n";

    // Cards of every sub-unit the chassis has.
    json subunits = json::array();
    for (int64_t u = 0; u < g.subUnits; ++u) {
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
        const std::string slotHw =
            k + 1 < 22 ? std::string(hw.data() + 10 * (k + 1), strnlen(hw.data() + 10 * (k + 1), 10)) : "";
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
    if (!parsed.error.empty()) throw usage(parsed.error);
    Session s = Session::connect(o);
    requireSubUnit(s, o.subUnit, true);
    requireInside(s, parsed.points);
    s.openCard(o.subUnit);
    const int columns = s.geometry.cardsFitted * s.geometry.cardColumns;
    if (const auto bad = firstOutside(parsed.points, s.geometry.rows, columns))
        throw usage("crosspoint " + pointText(*bad) + " is beyond the last card fitted (column " +
                    std::to_string(columns) + ")");
    const bool tookRemote = ensureRemote(s);
    switching::Session record = openRecord(s);
    std::vector<switching::Crosspoint> points;
    for (const auto &p : parsed.points) points.push_back({p.row, p.column});
    const std::vector<switching::Change> change{close ? switching::Change::close(points)
                                                      : switching::Change::open(points)};
    std::set<Crosspoint> closed;
    try {
        // One frame of every crosspoint closed afterwards, from the record's
        // state, recorded once the chassis took it.
        const auto t = record.matrix().apply(change);
        closed = toTools(t.frames.back().closed);
    } catch (const switching::Error &e) {
        throw engineFailure(e, "switch " + s.rsrc);
    }
    json j = {{"resource", s.rsrc}, {"subunit", o.subUnit}, {"closed", pointsJson(closed)}};
    std::string text = std::string(tookRemote ? "chassis taken into remote control\n" : "") +
                       (close ? "closed " : "opened ") + std::to_string(parsed.points.size()) +
                       " crosspoint(s); " + std::to_string(closed.size()) + " closed now\n";
    if (o.show) text += renderGrid(layoutOf(s), s.simulated ? reported(s, o.subUnit) : closed, fullGrid());
    print(o, j, text);
}

void runClear(const Options &o) {
    Session s = Session::connect(o);
    requireSubUnit(s, o.subUnit, true);
    s.openCard(o.subUnit);
    switching::Session record = openRecord(s);
    // A refused clear (an RQ521 under local control) leaves every relay
    // where it was: the record keeps them. A clear needs no belief in what
    // was closed before: it is the way out of a record that cannot be read.
    const switching::Operation clear{"clear", [&](auto) { return KORVAX_Clear(s.handle, o.subUnit); }, true};
    try {
        record.matrix().record(clear);
    } catch (const switching::Error &e) {
        throw engineFailure(e, "clear " + s.rsrc);
    }
    std::string text = "all relays of sub-unit " + std::to_string(o.subUnit) + " open\n";
    if (o.show) text += renderGrid(layoutOf(s), s.simulated ? reported(s, o.subUnit) : std::set<Crosspoint>{}, fullGrid());
    print(o, json{{"resource", s.rsrc}, {"subunit", o.subUnit}, {"cleared", true}}, text);
}

// ":CLOS (@...)", "ROUTe:OPEN:ALL" and the like: the commands that switch.
bool switchesRelays(const std::string &command) {
    const std::string header = lower(command.substr(0, command.find(' ')));
    return header.find(":clos") != std::string::npos || header.find(":open") != std::string::npos;
}

void runScpi(const Options &o) {
    Session s = Session::connect(o);
    // The relay commands need the cards identified; a chassis without a
    // matrix card still answers the other commands.
    int64_t opened = 0;
    const bool relays = switchesRelays(o.command) && KORVAX_OpenSpecifiedCard(s.handle, 0, &opened) == 0;
    char reply[512] = {};
    if (relays) {
        if (KORVAX_GetGeometry(s.handle, 0, &s.geometry) < 0) throw refused("geometry of " + s.rsrc, KORVAX_ERR_PARAMETER);
        ensureRemote(s);
        switching::Session record = openRecord(s);
        // The library edits its own image of the relays: it starts from
        // what the record holds, so that the command adds to it (the chassis
        // holds that state already: no relay moves). What the chassis then
        // acknowledged is recorded, whatever the reply says.
        const switching::Operation scpi{"scpi " + o.command, [&](std::span<const switching::Crosspoint> recorded) {
            if (!recorded.empty()) {
                std::set<Crosspoint> state;
                for (const auto &x : recorded) state.insert({x.row, x.column});
                if (const int32_t st = sendState(s, 0, state); st < 0) return st;
            }
            KORVAX_SCPIQuery(s.handle, o.command.c_str(), reply);
            return scpiFailure(reply);
        }};
        try {
            record.matrix().record(scpi);
        } catch (const switching::Error &e) {
            // A reply that is an error text is reported as such below.
            if (e.kind() != switching::ErrorKind::Chassis || reply[0] == '\0')
                throw engineFailure(e, "scpi " + o.command + " on " + s.rsrc);
        }
    } else {
        KORVAX_SCPIQuery(s.handle, o.command.c_str(), reply);
    }
    if (const int32_t code = scpiFailure(reply))
        throw Failure{1, code, reply, "scpi " + o.command + " on " + s.rsrc, "the chassis's reply is an error text"};
    print(o, json{{"resource", s.rsrc}, {"command", o.command}, {"reply", reply}}, std::string(reply) + "\n");
}

void runShow(const Options &o) {
    Session s = Session::connect(o);
    requireSubUnit(s, o.subUnit, true);
    s.openCard(o.subUnit);
    GridSelection sel = fullGrid();
    sel.card = o.card;
    if (!o.columns.empty()) {
        sel.columns = parseRange(o.columns);
        if (!sel.columns) throw usage("--columns wants A:B with 1 <= A <= B, got '" + o.columns + "'");
    }
    const KORVAX_Geometry &g = s.geometry;
    if (o.card && (*o.card < 1 || *o.card > g.positions)) throw usage("--card wants 1.." + std::to_string(g.positions));
    const bool live = s.simulated && gFreshSimulation;
    std::set<Crosspoint> closed;
    if (live) {
        closed = reported(s, o.subUnit);
    } else {
        switching::Session record = openRecord(s);
        closed = recordedState(record.matrix(), s.rsrc);
    }
    json j = {{"resource", s.rsrc},
              {"model", s.model},
              {"subunit", o.subUnit},
              {"rows", g.switchableRows},
              {"card_rows", g.rows},
              {"card_columns", g.cardColumns},
              {"cards", g.cardsFitted},
              {"source", live ? "simulated chassis" : "recorded by korvax"},
              {"closed", pointsJson(closed)}};
    std::string text = s.rsrc + ": " + s.model + ", " + std::to_string(g.cardsFitted) + " card(s) of " +
                       std::to_string(g.switchableRows) + " x " + std::to_string(g.cardColumns) +
                       (g.switchableRows < g.rows ? " (the rows a frame reaches of " + std::to_string(g.rows) + ")" : "") +
                       (live ? "\nas the simulated chassis reports it\n"
                             : "\nas korvax last set it (a chassis cannot report its relays)\n");
    text += renderGrid(layoutOf(s), closed, sel);
    print(o, j, text);
}

void runSelfTest(const Options &o) {
    Session s = Session::connect(o);
    requireSubUnit(s, o.subUnit, false);
    char line[512] = {};
    const int32_t st = KORVAX_SelfTest(s.handle, o.subUnit, line, sizeof line);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (st < 0) throw refused("self test of " + s.rsrc, st, text);
    print(o, json{{"resource", s.rsrc}, {"passed", true}, {"text", text}}, text + "\n");
}

// Each setting the RQ521 keeps: its reader, and the values the library takes.
struct Setting {
    const char *key;
    int32_t (*get)(uint32_t, std::string &);
    const char *accepted;
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

constexpr std::array<Setting, 5> kSettings = {{
    {"ip", getIp, "192.168.1.X with X from 1 to 254 except 200, no leading zeros"},
    {"lan-mode", getLan, "manual or auto"},
    {"gpib", getGpib, "1..30"},
    {"baud", getBaud, "9600, 19200, 38400, 57600 or 115200"},
    {"control-mode", getControl, "local or remote"},
}};

const Setting &settingOf(const std::string &key) {
    for (const auto &x : kSettings)
        if (key == x.key) return x;
    throw usage("unknown setting '" + key + "' (ip, lan-mode, gpib, baud, control-mode)");
}

uint32_t settingNumber(const Setting &s, const std::string &value) {
    try {
        size_t used = 0;
        const unsigned long n = std::stoul(value, &used);
        if (used == value.size() && n <= 0xFFFFFFFFul) return static_cast<uint32_t>(n);
    } catch (const std::exception &) {
    }
    throw usage(std::string(s.key) + " wants a number (" + s.accepted + "), got '" + value + "'");
}

void runSettings(const Options &o) {
    const auto &args = o.settings;
    const bool set = !args.empty() && args[0] == "set";
    if (!args.empty() && !(args[0] == "get" && args.size() == 1) && !(set && args.size() == 3))
        throw usage("settings wants 'get' or 'set KEY VALUE'");
    if (set) {
        const Setting &setting = settingOf(args[1]);
        const std::string &key = args[1], &value = args[2];
        uint32_t number = 0;
        if (key == "lan-mode" || key == "control-mode") {
            const bool first = value == (key == "lan-mode" ? "manual" : "local") || value == "0";
            const bool second = value == (key == "lan-mode" ? "auto" : "remote") || value == "1";
            if (!first && !second) throw usage(key + " wants " + setting.accepted + ", got '" + value + "'");
            number = second ? 1 : 0;
        } else if (key == "gpib" || key == "baud") {
            number = settingNumber(setting, value);
        }
        Session s = Session::connect(o);
        int32_t st = 0;
        if (key == "ip") st = KORVAX_SetIPAddress(s.handle, value.c_str());
        else if (key == "lan-mode") st = KORVAX_SetLANMode(s.handle, number);
        else if (key == "gpib") st = KORVAX_SetGPIBAddress(s.handle, number);
        else if (key == "baud") st = KORVAX_SetBaudRate(s.handle, number);
        else st = KORVAX_SetControlMode(s.handle, number);
        if (st < 0)
            throw refused("set " + key + " of " + s.rsrc, st,
                          std::string(setting.accepted).empty() ? "" : key + " takes " + setting.accepted);
        print(o, json{{"resource", s.rsrc}, {"set", key}, {"value", value}}, key + " set to " + value + "\n");
        return;
    }
    Session s = Session::connect(o);
    json j = {{"resource", s.rsrc}};
    std::string text;
    for (const auto &x : kSettings) {
        std::string v;
        const int32_t st = x.get(s.handle, v);
        const std::string pad(14 - std::strlen(x.key), ' ');
        if (st < 0) {
            j[x.key] = nullptr;
            text.append(x.key).append(pad).append("(" + errorMessage(st) + ")\n");
        } else {
            j[x.key] = v;
            text.append(x.key).append(pad).append(v).append("\n");
        }
    }
    print(o, j, text);
}

struct Progress {
    bool terminal;
    ProgressLine line;
    int lastTenth = -1;
    uint64_t sent = 0;
};

void showProgress(uint64_t sent, uint64_t total, void *context) {
    auto &p = *static_cast<Progress *>(context);
    p.sent = sent;
    if (p.terminal) {
        if (const auto text = p.line.update(sent, total, ProgressLine::Clock::now())) {
            (void)std::fputs(text->c_str(), stderr);
            (void)std::fflush(stderr);
        }
        return;
    }
    const int percent = total ? static_cast<int>(std::min<uint64_t>(100, sent * 100 / total)) : 0;
    if (percent / 10 != p.lastTenth || sent == total) {
        p.lastTenth = percent / 10;
        std::fprintf(stderr, "update: %llu of %llu bytes sent (%d%%)\n", static_cast<unsigned long long>(sent),
                     static_cast<unsigned long long>(total), percent);
    }
}

// The image must be a readable file of a size a chassis takes; checked
// before anything is sent, since a transfer that stops part-way leaves the
// chassis without a whole image.
uint64_t checkImage(const std::string &file) {
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    std::ifstream probe(file, std::ios::binary);
    if (ec || !probe || status.type() != std::filesystem::file_type::regular)
        throw Failure{1, KORVAX_ERR_UPDATE_FILE_OPEN, errorMessage(KORVAX_ERR_UPDATE_FILE_OPEN), "update from " + file,
                      ec || !probe ? "cannot open '" + file + "': " + std::strerror(errno)
                                   : "'" + file + "' is not a regular file"};
    const uint64_t size = std::filesystem::file_size(file, ec);
    if (ec || size == 0 || size > kMaxFirmwareImage)
        throw Failure{2, KORVAX_ERR_UPDATE_CHECK, "firmware image '" + file + "' is " + std::to_string(size) +
                      " bytes: a chassis takes 1 to " + std::to_string(kMaxFirmwareImage) + " bytes",
                      "update from " + file, "nothing was sent"};
    return size;
}

bool confirmed(const Session &s, const std::string &file, uint64_t size) {
    std::cerr << "Load the firmware image " << file << " (" << size << " bytes) into the " << s.model << " at "
              << s.rsrc << "?\nA transfer that stops part-way leaves the chassis to be updated again. [y/N] "
              << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    answer = lower(answer);
    return answer == "y" || answer == "yes";
}

void runUpdate(const Options &o) {
    const uint64_t size = checkImage(o.file);
    Session s = Session::connect(o);
    if (!o.yes && !confirmed(s, o.file, size))
        throw Failure{1, KORVAX_ERR_UPDATE_CHECK, "update not confirmed", "update of " + s.rsrc,
                      "nothing was sent (answer y, or add --yes)"};
    Progress p{static_cast<bool>(isatty(STDERR_FILENO)), ProgressLine(terminalWidth(STDERR_FILENO))};
    const int32_t st = KORVAX_OnlineUpdateProgress(s.handle, o.file.c_str(), showProgress, &p);
    if (p.terminal) (void)std::fputc('\n', stderr);
    if (st < 0)
        throw refused("update of " + s.rsrc + " from " + o.file, st,
                      "the transfer stopped after " + std::to_string(p.sent) + " of " + std::to_string(size) +
                          " bytes: the chassis may be left without a complete firmware image and need the update "
                          "again (run the same command once the cause is mended)");
    print(o, json{{"resource", s.rsrc}, {"file", o.file}, {"bytes", size}, {"done", true}},
          "firmware image " + o.file + " sent\n");
}

void runDemo(const Options &o) {
    // "korvax --sim RQ522 demo" means the same as "korvax demo --model RQ522".
    const std::string model = o.sim.empty() ? o.demoModel : o.sim;
    Options demo = o;
    demo.rsrc = declareSimulation(model, "");
    json j = {{"resource", demo.rsrc}};
    auto say = [&](const std::string &line) {
        if (!o.json) std::cout << line << '\n';
    };
    char version[16] = {};
    KORVAX_GetLibVersion(version);
    say(std::string("KORVAX ") + version + ", simulated " + model + " chassis " + demo.rsrc);

    const auto found = discover();
    say("find: " + std::to_string(found.size()) + " chassis");
    for (const auto &f : found) say("  " + f.rsrc + "  " + modelName(f.model));
    Session s = Session::connect(demo);
    say("connect: handle " + std::to_string(s.handle));
    s.openCard(0);
    say("open card: sub-unit 0");
    check(KORVAX_Init(s.handle, 0), "init");
    say("init: relay maps built, every relay open");

    // By state array: row 1 column 1, and row 2 of the last column of card 1.
    const std::set<Crosspoint> byArray = {{1, 1}, {2, s.geometry.cardColumns}};
    applyState(s, 0, byArray);
    say("close by state array: 1!1, 2!" + std::to_string(s.geometry.cardColumns));
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
    if (!o.json) std::cout << renderGrid(layoutOf(s), closed, fullGrid());

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
    if (o.json) {
        j["simulated"] = true;
        std::cout << j.dump(2) << '\n';
    }
}

int report(const Options &o, const Failure &f) {
    std::string line = "korvax: ";
    if (f.exitCode == 2) line += f.message;
    else line += f.during + ": " + f.message;
    // The library's own failures carry their code, as the header names it.
    if (f.message == errorMessage(f.code) || f.code < KORVAX_ERR_VISA_API)
        line += " (" + std::to_string(f.code) + " " + errorName(f.code) + ")";
    std::cerr << line << "\n";
    if (!f.detail.empty()) std::cerr << "  " << f.detail << "\n";
    if (o.json)
        std::cout << json{{"error",
                           {{"code", f.code},
                            {"name", f.name.empty() ? errorName(f.code) : f.name},
                            {"message", f.message},
                            {"during", f.during},
                            {"detail", f.detail}}}}
                         .dump(2)
                  << '\n';
    return f.exitCode;
}

constexpr const char *kNumbering =
    "ROW!COLUMN counts the column across the whole chassis row, card after card (on an RQ522, "
    "2!97 is row 2 of card 2). SCPI channel lists (korvax scpi) count 48 columns per row whatever "
    "the chassis, so on an RQ520 or RQ522 the same text names another crosspoint: on an RQ522 "
    "'korvax close RSRC 2!1' and 'korvax scpi RSRC \":CLOS (@0(43!1))\"' close the same relay, "
    "while ':CLOS (@0(2!1))' closes 1!49.";

// The command word of argv, skipping the global options and their values.
std::optional<std::string> commandWord(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--sim" || a == "--timeout") {
            ++i;
            continue;
        }
        if (!a.empty() && a[0] == '-') continue;
        return a;
    }
    return std::nullopt;
}

int run(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--json") o.json = true;

    CLI::App app{"korvax: find, inspect and switch relay switch-matrix chassis"};
    app.require_subcommand(1);
    app.fallthrough();
    app.add_option("--sim", o.sim, "run against a simulated chassis of this model (RQ520, RQ520B, RQ521, RQ522, "
                                   "RQ523, RQ523B); a RSRC given names it");
    app.add_flag("--json", o.json, "print one JSON object (on failure {\"error\": {...}})");
    app.add_option("--timeout", o.timeoutMs, "VISA timeout in milliseconds for every reply (discovery's too)")
        ->check(CLI::Range(1u, 3600000u));
    app.set_version_flag("--version", KORVAX_LIB_VERSION);

    auto withRsrc = [&](CLI::App *c, const char *what = "VISA resource string (leave out with --sim)") {
        c->add_option("RSRC", o.rsrc, what);
        return c;
    };
    auto *find = app.add_subcommand("find", "list the chassis discovery finds");
    find->add_flag("--verbose,-v", o.verbose, "say for every resource listed what it answered");
    auto *info = withRsrc(app.add_subcommand("info", "identity, versions, serials, matrix, cards and board presence"));
    auto *close = app.add_subcommand("close", "close crosspoints, e.g. 1!1,2!3:4!5 (row!column, from 1)");
    auto *open = app.add_subcommand("open", "open crosspoints, e.g. 1!1,2!3:4!5");
    for (auto *c : {close, open}) {
        withRsrc(c);
        c->add_option("LIST", o.list, "crosspoint list: ROW!COLUMN or ROW!COLUMN:ROW!COLUMN, comma-separated");
        c->add_option("--subunit", o.subUnit, "sub-unit number (only 0 has a crosspoint matrix)");
        c->add_flag("--show", o.show, "show the grid afterwards");
        c->footer(kNumbering);
    }
    auto *clear = withRsrc(app.add_subcommand("clear", "open every relay of the sub-unit"));
    clear->add_option("--subunit", o.subUnit, "sub-unit number (only 0 has a crosspoint matrix)");
    clear->add_flag("--show", o.show, "show the grid afterwards");
    auto *scpi = withRsrc(app.add_subcommand("scpi", "send one SCPI command and print the reply text"));
    scpi->add_option("COMMAND", o.command, "SCPI command, e.g. ':CLOS (@0(1!1))'");
    scpi->footer(std::string("An error reply exits 1. Relay commands start from the state korvax recorded "
                             "and record what the chassis took. ") + kNumbering);
    auto *show = withRsrc(app.add_subcommand("show", "the sub-unit's crosspoints as a grid per card"));
    show->add_option("--card", o.card, "only this card (1-based position)");
    show->add_option("--columns", o.columns, "only chassis columns A:B");
    show->add_option("--subunit", o.subUnit, "sub-unit number (only 0 has a crosspoint matrix)");
    auto *selftest = withRsrc(app.add_subcommand("selftest", "run the loop-back self test"));
    selftest->add_option("--subunit", o.subUnit, "sub-unit number (0; 1 and 2 on an RQ520/RQ520B)");
    auto *settings = withRsrc(app.add_subcommand("settings", "read (get) or change (set KEY VALUE) the communication settings"));
    std::string keys;
    for (const auto &x : kSettings) keys += std::string("  ") + x.key + ": " + x.accepted + "\n";
    settings->add_option("ACTION", o.settings, "get | set KEY VALUE");
    settings->footer("Settings (RQ521 only) and the values the library takes:\n" + keys);
    auto *update = withRsrc(app.add_subcommand("update", "load a firmware image into the chassis"));
    update->add_option("FILE", o.file, "firmware image (1 byte to 16 MiB)");
    update->add_flag("--yes,-y", o.yes, "do not ask for confirmation");
    auto *demo = app.add_subcommand("demo", "a whole session on a simulated chassis");
    demo->add_option("--model", o.demoModel, "chassis model to simulate (default RQ521)");
    // Run by main() before any parsing (it is korvax-panel); here for --help.
    app.add_subcommand("panel", "serve the soft front panel in a browser (korvax-panel; 'korvax panel --help')")
        ->footer("Runs korvax-panel, found beside korvax, with the same arguments.");

    for (auto *c : app.get_subcommands({}))
        if (c->get_footer().empty()) c->footer("Every subcommand also takes --sim MODEL, --timeout MS and --json.");

    std::string commands;
    for (auto *c : app.get_subcommands({})) commands += (commands.empty() ? "" : ", ") + c->get_name();
    commands += "; by channel name: " + switchingCommandNames();
    app.footer("Switching by channel name, with the rules of a topology file (--topology FILE, else " +
               switching::Topology::defaultPath() + "): " + switchingCommandNames() +
               ". 'korvax connect --help' and the like say more.");
    const bool help = std::any_of(argv + 1, argv + argc, [](const char *a) {
        return std::string_view(a) == "--help" || std::string_view(a) == "-h" || std::string_view(a) == "--version";
    });
    const auto wrongLine = [&](std::string message) {
        Failure f = usage(std::move(message));
        f.detail = "run 'korvax --help' for the commands, 'korvax COMMAND --help' for their options";
        return report(o, f);
    };
    if (!help) {
        const auto word = commandWord(argc, argv);
        const auto known = app.get_subcommands([&](const CLI::App *c) { return word && c->check_name(*word); });
        if (!word) return wrongLine("a command is needed (commands: " + commands + ")");
        if (known.empty()) return wrongLine("unknown command '" + *word + "' (commands: " + commands + ")");
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        return wrongLine(e.what());
    }

    try {
        o.rsrcGiven = !o.rsrc.empty();
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
            o.rsrcGiven = !o.rsrc.empty();
            o.rsrc = declareSimulation(o.sim, o.rsrc);
        }
        if ((close->parsed() || open->parsed()) && o.list.empty())
            throw usage("a crosspoint list is needed, e.g. 1!1,2!3:4!5");
        if (scpi->parsed() && o.command.empty()) throw usage("an SCPI command is needed");
        if (update->parsed() && o.file.empty()) throw usage("a firmware file is needed");

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
    } catch (const Failure &f) {
        return report(o, f);
    }
}

}  // namespace

// `korvax panel ARGS...` is korvax-panel ARGS...: the program installed
// beside this one (the panel is a program of its own, with its own HTTP
// server and page; the command does not link them).
int runPanel(int argc, char **argv) {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::filesystem::path panel = ec ? std::filesystem::path("korvax-panel") : self.parent_path() / "korvax-panel";
    std::vector<std::string> words{"korvax-panel"};
    bool dropped = false;
    for (int i = 1; i < argc; ++i) {
        if (!dropped && std::string_view(argv[i]) == "panel") {
            dropped = true;
            continue;
        }
        words.emplace_back(argv[i]);
    }
    std::vector<char *> args;
    args.reserve(words.size() + 1);
    for (auto &w : words) args.push_back(w.data());
    args.push_back(nullptr);
    execv(panel.c_str(), args.data());
    std::cerr << "korvax: cannot run " << panel.string() << ": " << std::strerror(errno)
              << " (korvax panel runs korvax-panel, installed beside korvax)\n";
    return 1;
}

}  // namespace korvax::tools

int main(int argc, char **argv) {
    if (const auto word = korvax::tools::commandWord(argc, argv); word && *word == "panel")
        return korvax::tools::runPanel(argc, argv);
    try {
        if (korvax::tools::isSwitchingCommand(argc, argv)) return korvax::tools::runSwitchingCommand(argc, argv);
        return korvax::tools::run(argc, argv);
    } catch (const std::exception &e) {
        std::cerr << "korvax: " << e.what() << "\n";
        return 1;
    }
}
