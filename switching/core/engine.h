// The switching engine's core: channels, nets, rules, path selection and
// transaction planning. Pure logic over plain values: no chassis, no file,
// no clock, so that every rule is tested directly from tables.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "korvax/switching.hpp"

namespace korvax::switching::core {

// A row or a column of the chassis's crossbar, numbered from 1.
struct Channel {
    bool row = true;
    int index = 0;
    friend auto operator<=>(const Channel &, const Channel &) = default;
};

// "RQ521" for a model code of KORVAX.h; "chassis" for another.
std::string modelName(uint16_t code);

// "R3" / "C17": the name of a channel the topology leaves unnamed, and the
// form the record stores paths in (independent of any topology).
std::string numberName(Channel c);
std::optional<Channel> parseNumberName(std::string_view text);

// One leg of a route as it lands on one chassis.
struct Leg {
    std::string a, b;
    std::string route;
};

// A chassis's channels and rules, resolved against what the chassis has.
class Layout {
public:
    Layout(const ChassisTopology &topology, const ChassisGeometry &geometry,
           std::map<std::string, std::vector<Leg>, std::less<>> routes = {});

    const std::string &chassis() const { return topology_.name; }
    const ChassisTopology &topology() const { return topology_; }
    const ChassisGeometry &geometry() const { return geometry_; }
    int rows() const { return geometry_.switchableRows; }
    int columns() const { return geometry_.usableColumns(); }

    // The channel a name means, or the `unsupported` verdict saying why
    // there is none on this chassis.
    struct Resolved {
        std::optional<Channel> channel;
        Verdict refusal;
    };
    Resolved resolve(std::string_view name) const;
    std::string name(Channel c) const;
    bool reachable(Channel c) const;
    bool reachable(Crosspoint x) const;
    bool configuration(Channel c) const { return configuration_.count(c) != 0; }
    bool source(Channel c) const { return sources_.count(c) != 0; }
    const std::vector<std::vector<Channel>> &exclusions() const { return exclusions_; }
    // The legs of a route or group on this chassis; null for an unknown name.
    const std::vector<Leg> *legs(std::string_view route) const;

private:
    Channel named(std::string_view name) const;  // a name the topology checked
    ChassisTopology topology_;
    ChassisGeometry geometry_;
    std::map<std::string, Channel, std::less<>> byName_;
    std::map<Channel, std::string> names_;
    std::set<Channel> configuration_, sources_;
    std::vector<std::vector<Channel>> exclusions_;
    std::map<std::string, std::vector<Leg>, std::less<>> routes_;
};

struct PathRecord {
    Channel a, b;
    std::vector<Crosspoint> crosspoints;
    std::string route;
    friend bool operator==(const PathRecord &, const PathRecord &) = default;
};

// What the host knows of a chassis: its closed crosspoints and the paths
// that closed them.
struct State {
    std::set<Crosspoint> closed;
    std::vector<PathRecord> paths;
};

// Channels joined through closed crosspoints, each net sorted (rows first),
// nets in the order of their first channel; channels on no closed
// crosspoint are left out.
std::vector<std::vector<Channel>> nets(const std::set<Crosspoint> &closed);

// Paths whose crosspoints are all still closed (a path broken by opening
// one of its crosspoints by number is forgotten).
std::vector<PathRecord> livePaths(const State &state);

Verdict canConnect(const Layout &layout, const State &state, std::string_view a, std::string_view b);

// A transaction worked out: the verdict on its final state, the state it
// leaves, and the frames that reach it break-before-make.
struct Plan {
    Verdict verdict;
    State after;
    std::vector<Crosspoint> opening, closing;
    std::vector<std::set<Crosspoint>> frames;
    std::string what;  // the changes in words, for the event log
};

// Works out a transaction. Unknown route names, disconnecting what has no
// recorded path and malformed paths throw Error (NotFound / Invalid); rule
// refusals come back in the verdict. Rules refuse only what the
// transaction introduces: a violation already in `before` (switched by
// number, or by a program that bypasses the record) does not block other
// changes, and never blocks opening.
Plan plan(const Layout &layout, const State &before, std::span<const Change> changes);
// The frames from one state to another, break before make, with no rule
// asked: putting back a state the chassis held before.
Plan planTo(const State &before, const State &target, std::string what);

// Crosspoints <-> state array of KORVAX_OpMatrix (bit (row-1)*columns + column-1).
std::vector<uint32_t> toWords(const std::set<Crosspoint> &closed, const ChassisGeometry &g);
// Crosspoints of a state array; bits outside the reachable rows and the
// fitted cards are left out (they can never have been acknowledged).
std::set<Crosspoint> fromWords(std::span<const uint32_t> words, const ChassisGeometry &g);

std::string listText(const std::set<Crosspoint> &x);

// Joins texts in one allocation (messages are built inside loops).
template <class... Parts>
std::string cat(const Parts &...parts) {
    std::string out;
    (out.append(std::string_view(parts)), ...);
    return out;
}
std::string listText(std::span<const Crosspoint> x);

}  // namespace korvax::switching::core
