#include "switching_commands.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "KORVAX.h"
#include "korvax/extensions.h"
#include "korvax/switching.hpp"
#include "switching/json_shapes.h"

namespace korvax::tools {
namespace {

using namespace korvax::switching;
using json = nlohmann::ordered_json;

constexpr const char *kSubcommands[] = {"connect", "disconnect", "can-connect", "route",
                                        "paths",   "nets",       "wear",        "events"};

struct Usage {
    std::string message;
};

struct Options {
    std::string during = "command line";  // the subcommand and its words, for failures
    std::string topology, chassis, record;
    bool json = false, dryRun = false;
    std::string a, b;
    bool all = false, off = false, only = false;
    size_t count = 0;
};

std::string lineOf(const std::vector<Crosspoint> &xs) {
    std::string out;
    for (const Crosspoint &x : xs) out += (out.empty() ? "" : " ") + toString(x);
    return out.empty() ? "none" : out;
}

std::string transactionText(const Transaction &t, bool dry) {
    std::string out = t.chassis + ": ";
    if (!t.verdict.possible()) return out + std::string(answerWord(t.verdict.answer)) + ": " + t.verdict.message + "\n";
    if (t.opening.empty() && t.closing.empty()) return out + "nothing to switch\n";
    if (dry) out += "would ";
    if (!t.opening.empty()) out += (dry ? "open " : "opened ") + lineOf(t.opening);
    if (!t.opening.empty() && !t.closing.empty()) out += ", then ";
    if (!t.closing.empty()) out += (dry ? "close " : "closed ") + lineOf(t.closing);
    out += "\n";
    for (size_t i = 0; i < t.frames.size(); ++i)
        out += "  frame " + std::to_string(i + 1) + " closed: " + lineOf(t.frames[i].closed) + "\n";
    return out;
}

// Column cells wide enough for the longest name shown.
std::string showText(const Matrix &m, int width) {
    const ChassisGeometry &g = m.geometry();
    const auto closedList = m.closed();
    const std::set<Crosspoint> closed(closedList.begin(), closedList.end());
    // The columns worth a cell: named ones and those with a closed crosspoint.
    std::set<int> columns;
    for (const auto &[c, name] : m.topology().columns)
        if (c <= g.usableColumns()) columns.insert(c);
    for (const Crosspoint &x : closed) columns.insert(x.column);
    std::string out = m.name() + " (" + m.resource() + "): rows 1-" + std::to_string(g.switchableRows) +
                      ", columns 1-" + std::to_string(g.usableColumns()) + ", " + std::to_string(closed.size()) +
                      " closed, as the record holds them\n";
    size_t label = 0;
    for (int r = 1; r <= g.switchableRows; ++r) label = std::max(label, m.rowName(r).size());
    label += 1;
    std::vector<int> cols(columns.begin(), columns.end());
    size_t at = 0;
    do {
        // As many columns as fit in the terminal, window after window.
        std::vector<int> window;
        size_t used = label;
        while (at < cols.size()) {
            const size_t cell = std::max<size_t>(m.columnName(cols[at]).size(), 3) + 1;
            if (!window.empty() && used + cell > static_cast<size_t>(width)) break;
            window.push_back(cols[at++]);
            used += cell;
        }
        std::string names(label, ' '), numbers(label, ' ');
        for (int c : window) {
            const std::string n = m.columnName(c), number = "C" + std::to_string(c);
            const size_t cell = std::max<size_t>(n.size(), 3) + 1;
            names += std::string(cell - n.size(), ' ') + n;
            numbers += std::string(cell > number.size() ? cell - number.size() : 1, ' ') + number;
        }
        out += names + "\n";
        if (numbers != names) out += numbers + "\n";
        for (int r = 1; r <= g.switchableRows; ++r) {
            const std::string n = m.rowName(r);
            out += n + std::string(label - n.size(), ' ');
            for (int c : window) {
                const size_t cell = std::max<size_t>(m.columnName(c).size(), 3) + 1;
                out += std::string(cell - 1, ' ') + (closed.count({r, c}) ? "X" : ".");
            }
            out += "\n";
        }
    } while (at < cols.size());
    if (static_cast<int>(cols.size()) < g.usableColumns()) out += "every other column: open\n";
    return out;
}

int terminalWidth() {
    if (const char *c = std::getenv("COLUMNS")) {
        char *end = nullptr;
        const long w = std::strtol(c, &end, 10);
        if (end != c && *end == '\0' && w >= 20 && w <= 1000) return static_cast<int>(w);
    }
    return 80;
}

std::string topologyFile(const Options &o) {
    if (!o.topology.empty()) return o.topology;
    std::string file = Topology::defaultPath();
    std::error_code ec;
    if (!std::filesystem::exists(file, ec))
        throw Usage{"no topology: give --topology FILE, or write " + file + " (see docs/switching.md)"};
    return file;
}

// Failures in the command's one shape: text on stderr, and with --json
// {"error": {"code", "name", "message", "during", "detail", ...}} on stdout;
// the engine's failures add "kind", and "reason", "rule" and "rollback"
// where they apply. Exit 1 refused or failed, 2 a wrong command line.
int report(const Options &o, int exitCode, json error, const std::string &detail) {
    std::cerr << "korvax: " << error["message"].get<std::string>() << "\n";
    if (!detail.empty()) std::cerr << "  " << detail << "\n";
    if (o.json) {
        json shaped = {{"code", error["code"]}, {"name", error["name"]}, {"message", error["message"]},
                       {"during", o.during}, {"detail", detail}};
        for (const auto &[key, value] : error.items())
            if (!shaped.contains(key)) shaped[key] = value;
        std::cout << json{{"error", shaped}}.dump(2) << "\n";
    }
    return exitCode;
}

int usage(const Options &o, const std::string &message) {
    return report(o, 2,
                  {{"code", KORVAX_ERR_PARAMETER}, {"name", KORVAX_ErrorName(KORVAX_ERR_PARAMETER)}, {"message", message}},
                  "run 'korvax --help' for the commands, 'korvax COMMAND --help' for their options");
}

int fail(const Options &o, const Error &e) {
    return report(o, e.kind() == ErrorKind::Invalid ? 2 : 1, shapes::error(e), "");
}

}  // namespace

std::string switchingCommandNames() {
    std::string out;
    for (const char *c : kSubcommands) out += (out.empty() ? "" : ", ") + std::string(c);
    return out + ", show";
}

bool isSwitchingCommand(int argc, char **argv) {
    bool topology = false, simulated = false;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--topology" || a.rfind("--topology=", 0) == 0 || a == "--chassis" || a.rfind("--chassis=", 0) == 0)
            topology = true;
        if (a == "--sim" || a.rfind("--sim=", 0) == 0) simulated = true;
        if (a == "--topology" || a == "--chassis" || a == "--record" || a == "--sim" || a == "--top" ||
            a == "--last" || a == "--timeout" || a == "--card" || a == "--columns" || a == "--subunit") {
            ++i;  // its value
            continue;
        }
        if (!a.empty() && a[0] != '-') words.push_back(a);
    }
    if (words.empty()) return false;
    if (std::find(std::begin(kSubcommands), std::end(kSubcommands), words.front()) != std::end(kSubcommands))
        return true;
    if (words.front() != "show") return false;
    // `show` names a resource for the grid by number; without one, and
    // without --sim, the topology's chassis is shown by name (the default
    // topology file when there is one).
    if (topology) return true;
    std::error_code ec;
    return words.size() == 1 && !simulated && std::filesystem::exists(Topology::defaultPath(), ec);
}

int runSwitchingCommand(int argc, char **argv) {
    Options o;
    CLI::App app{"korvax: switch by channel name, with the safety rules of a topology file"};
    app.require_subcommand(1);
    app.fallthrough();
    app.add_option("--topology", o.topology,
                   "topology file (default: $XDG_CONFIG_HOME/korvax/topology.toml, else ~/.config/korvax/topology.toml)");
    app.add_option("--chassis", o.chassis, "chassis of the topology (needed when it has several)");
    app.add_option("--record", o.record, "SQLite record (default: switching.sqlite3 in the state folder)");
    app.add_flag("--json", o.json, "print machine-readable JSON");
    app.add_flag("--dry-run", o.dryRun, "show the frames and the rules' answer; switch nothing");
    auto *connect = app.add_subcommand("connect", "connect two channels (by name, R3 / C17, or CHASSIS/NAME)");
    auto *disconnect = app.add_subcommand("disconnect", "open the recorded path between two channels");
    auto *canConnect = app.add_subcommand("can-connect", "print whether two channels could be connected");
    for (auto *c : {connect, disconnect, canConnect}) {
        c->add_option("A", o.a, "channel");
        c->add_option("B", o.b, "channel");
    }
    disconnect->add_flag("--all", o.all, "open every crosspoint of the chassis");
    auto *route = app.add_subcommand("route", "switch a route or group of the topology on");
    route->add_option("NAME", o.a, "route or group")->required();
    route->add_flag("--off", o.off, "switch it off");
    route->add_flag("--only", o.only, "it alone: every other path of its chassis opens, in one transaction");
    auto *paths = app.add_subcommand("paths", "the recorded paths");
    auto *nets = app.add_subcommand("nets", "channels joined through closed crosspoints");
    auto *wear = app.add_subcommand("wear", "the most-cycled crosspoint relays");
    wear->add_option("--top", o.count, "how many (default: all)");
    auto *events = app.add_subcommand("events", "the record's event log of the chassis");
    events->add_option("--last", o.count, "how many (default 20)");
    auto *show = app.add_subcommand("show", "the crosspoints, rows and columns labelled with channel names");

    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--json") o.json = true;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        return usage(o, e.what());
    }
    for (const CLI::App *c : app.get_subcommands())
        if (c->parsed()) {
            o.during = c->get_name();
            for (const std::string &word : {o.a, o.b})
                if (!word.empty()) o.during += " " + word;
            if (o.all) o.during += " --all";
            if (o.off) o.during += " --off";
            if (o.only) o.during += " --only";
        }

    try {
        if ((connect->parsed() || canConnect->parsed() || (disconnect->parsed() && !o.all)) &&
            (o.a.empty() || o.b.empty()))
            throw Usage{"two channels are needed, e.g. DMM_HI DUT1"};
        if (disconnect->parsed() && o.all && !o.a.empty()) throw Usage{"disconnect --all takes no channels"};
        if (o.off && o.only) throw Usage{"route takes --off or --only, not both"};

        const Topology topology = Topology::load(topologyFile(o));
        SessionOptions options;
        options.record = o.record;
        options.program = "korvax";
        if (route->parsed()) {
            // The chassis the route reaches (checked again by the session).
            if (!topology.findRoute(o.a) && !topology.findGroup(o.a))
                throw Error(ErrorKind::NotFound, "no route or group '" + o.a + "' in " + topology.file);
        } else if (!o.chassis.empty()) {
            options.chassis = {o.chassis};
        } else if (topology.chassis.size() == 1) {
            options.chassis = {topology.chassis.front().name};
        } else {
            std::string names;
            for (const auto &c : topology.chassis) names += (names.empty() ? "" : ", ") + c.name;
            throw Usage{"the topology has several chassis (" + names + "): say which with --chassis NAME"};
        }
        Session session(topology, options);

        if (route->parsed()) {
            const Change::Kind kind = o.off ? Change::Kind::RouteOff : o.only ? Change::Kind::RouteOnly
                                                                              : Change::Kind::RouteOn;
            const auto ts = o.dryRun                       ? session.dryRunRoute(o.a, kind)
                            : kind == Change::Kind::RouteOff ? session.routeOff(o.a)
                            : kind == Change::Kind::RouteOnly ? session.routeOnly(o.a)
                                                              : session.route(o.a);
            if (o.json) std::cout << json{{"route", o.a}, {"dry_run", o.dryRun}, {"transactions", shapes::transactions(ts)}}.dump(2) << "\n";
            else
                for (const auto &t : ts) std::cout << transactionText(t, o.dryRun);
            return 0;
        }
        Matrix &m = session.matrix();
        if (connect->parsed() || disconnect->parsed()) {
            const Change c = connect->parsed() ? Change::connect(o.a, o.b)
                             : o.all           ? Change::disconnectAll()
                                               : Change::disconnect(o.a, o.b);
            const std::vector<Change> changes{c};
            const Transaction t = o.dryRun ? m.dryRun(changes) : m.apply(changes);
            if (o.json) {
                json j = shapes::transaction(t);
                j["dry_run"] = o.dryRun;
                std::cout << j.dump(2) << "\n";
            } else {
                std::cout << transactionText(t, o.dryRun);
            }
            return 0;
        }
        if (canConnect->parsed()) {
            const Verdict v = m.canConnect(o.a, o.b);
            if (o.json) std::cout << shapes::verdict(v).dump(2) << "\n";
            else {
                std::cout << answerWord(v.answer) << "\n";
                if (!v.possible()) std::cerr << "korvax: " << v.message << "\n";
            }
            return 0;
        }
        if (paths->parsed()) {
            const auto ps = m.paths();
            if (o.json) {
                json a = json::array();
                for (const auto &p : ps) a.push_back(shapes::path(p));
                std::cout << json{{"chassis", m.name()}, {"paths", a}}.dump(2) << "\n";
            } else if (ps.empty()) {
                std::cout << m.name() << ": no recorded paths\n";
            } else {
                for (const auto &p : ps)
                    std::cout << p.a << " - " << p.b << ": " << lineOf(p.crosspoints)
                              << (p.route.empty() ? "" : "  (route " + p.route + ")") << "\n";
            }
            return 0;
        }
        if (nets->parsed()) {
            const auto ns = m.nets();
            if (o.json) std::cout << json{{"chassis", m.name()}, {"nets", ns}}.dump(2) << "\n";
            else if (ns.empty()) std::cout << m.name() << ": nothing connected\n";
            else
                for (const auto &n : ns) {
                    std::string line;
                    for (const auto &c : n) line += (line.empty() ? "" : " ") + c;
                    std::cout << line << "\n";
                }
            return 0;
        }
        if (wear->parsed()) {
            const auto ws = m.wear(o.count);
            if (o.json) std::cout << json{{"chassis", m.name()}, {"wear", shapes::wear(ws)}}.dump(2) << "\n";
            else if (ws.empty()) std::cout << m.name() << ": no closures recorded\n";
            else {
                std::cout << "CROSSPOINT  ROW          COLUMN       CLOSURES\n";
                for (const auto &w : ws) {
                    char line[160];
                    (void)std::snprintf(line, sizeof line, "%-10s  %-11s  %-11s  %lld\n", toString(w.crosspoint).c_str(),
                                        w.row.c_str(), w.column.c_str(), static_cast<long long>(w.closures));
                    std::cout << line;
                }
            }
            return 0;
        }
        if (events->parsed()) {
            const auto es = m.events(o.count == 0 ? 20 : o.count);
            if (o.json) std::cout << json{{"chassis", m.name()}, {"events", shapes::events(es)}}.dump(2) << "\n";
            else
                for (const auto &e : es)
                    std::cout << e.time << "  " << e.user << "  " << e.program << "[" << e.process << "]  " << e.what
                              << (e.opened.empty() ? "" : "  opened " + e.opened)
                              << (e.closed.empty() ? "" : "  closed " + e.closed) << "  " << e.outcome << "\n";
            return 0;
        }
        if (show->parsed()) {
            if (o.json) {
                json rows = json::object(), columns = json::object();
                for (const auto &[n, name] : m.topology().rows) rows[std::to_string(n)] = name;
                for (const auto &[n, name] : m.topology().columns) columns[std::to_string(n)] = name;
                std::cout << json{{"chassis", m.name()},
                                  {"resource", m.resource()},
                                  {"rows", m.geometry().switchableRows},
                                  {"columns", m.geometry().usableColumns()},
                                  {"row_names", rows},
                                  {"column_names", columns},
                                  {"closed", shapes::crosspoints(m.closed())}}
                                 .dump(2)
                          << "\n";
            } else {
                std::cout << showText(m, terminalWidth());
            }
            return 0;
        }
        return 0;
    } catch (const Usage &u) {
        return usage(o, u.message);
    } catch (const Error &e) {
        return fail(o, e);
    }
}

}  // namespace korvax::tools
