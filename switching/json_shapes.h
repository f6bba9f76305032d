// The JSON shapes of the switching engine, one definition for the C ABI
// (and so the Python package), the korvax command and the panel.
#pragma once

#include <nlohmann/json.hpp>

#include "KORVAX.h"
#include "korvax/extensions.h"
#include "korvax/switching.h"
#include "korvax/switching.hpp"

namespace korvax::switching::shapes {

using json = nlohmann::ordered_json;

inline json crosspoints(const std::vector<Crosspoint> &xs) {
    json a = json::array();
    for (const Crosspoint &x : xs) a.push_back(toString(x));
    return a;
}

inline json path(const Path &p) {
    return {{"a", p.a}, {"b", p.b}, {"crosspoints", crosspoints(p.crosspoints)}, {"route", p.route}};
}

inline json verdict(const Verdict &v) {
    json j = {{"answer", std::string(answerWord(v.answer))}, {"rule", v.rule}, {"message", v.message},
              {"channels", v.channels}};
    if (v.possible()) j["path"] = crosspoints(v.path);
    return j;
}

inline json transaction(const Transaction &t) {
    json frames = json::array();
    for (const Frame &f : t.frames) frames.push_back(crosspoints(f.closed));
    json paths = json::array();
    for (const Path &p : t.paths) paths.push_back(path(p));
    return {{"chassis", t.chassis},        {"answer", std::string(answerWord(t.verdict.answer))},
            {"rule", t.verdict.rule},       {"message", t.verdict.message},
            {"opening", crosspoints(t.opening)}, {"closing", crosspoints(t.closing)},
            {"frames", frames},             {"paths", paths}};
}

inline json transactions(const std::vector<Transaction> &ts) {
    json a = json::array();
    for (const Transaction &t : ts) a.push_back(transaction(t));
    return a;
}

inline json wear(const std::vector<Wear> &ws) {
    json a = json::array();
    for (const Wear &w : ws)
        a.push_back({{"crosspoint", toString(w.crosspoint)}, {"row", w.row}, {"column", w.column}, {"closures", w.closures}});
    return a;
}

inline json events(const std::vector<Event> &es) {
    json a = json::array();
    for (const Event &e : es)
        a.push_back({{"id", e.id},
                     {"time", e.time},
                     {"process", e.process},
                     {"user", e.user},
                     {"program", e.program},
                     {"resource", e.resource},
                     {"what", e.what},
                     {"opened", e.opened},
                     {"closed", e.closed},
                     {"outcome", e.outcome}});
    return a;
}

inline std::string_view kindWord(ErrorKind k) {
    switch (k) {
    case ErrorKind::Refused: return "refused";
    case ErrorKind::Chassis: return "chassis";
    case ErrorKind::Topology: return "topology";
    case ErrorKind::Record: return "record";
    case ErrorKind::NotFound: return "not-found";
    case ErrorKind::Invalid: return "invalid";
    }
    return "error";
}

inline std::string_view rollbackWord(Rollback r) {
    switch (r) {
    case Rollback::None: return "none";
    case Rollback::Acknowledged: return "acknowledged";
    case Rollback::Failed: return "failed";
    }
    return "none";
}

// The status the C interface returns for a failure: the library's own
// (KORVAX_ERR_* or a VISA status) where the chassis or the library failed or
// refused, else the engine's KORVAXSW_* status.
inline int32_t status(const Error &e) {
    switch (e.kind()) {
    case ErrorKind::Refused: return e.code() < 0 ? e.code() : KORVAXSW_REFUSED;
    case ErrorKind::Chassis: return e.code() < 0 ? e.code() : KORVAXSW_INVALID;
    case ErrorKind::Topology: return KORVAXSW_TOPOLOGY;
    case ErrorKind::Record: return KORVAXSW_RECORD;
    case ErrorKind::NotFound: return KORVAXSW_NOT_FOUND;
    case ErrorKind::Invalid: return KORVAXSW_INVALID;
    }
    return KORVAXSW_INVALID;
}

// A status as the headers spell it: "KORVAXSW_REFUSED",
// "KORVAX_ERR_CLOSURE_LIMIT"; a VISA status is filed as
// "KORVAX_ERR_VISA_API", as the library files them.
inline std::string statusName(int32_t code) {
    switch (code) {
    case KORVAXSW_OK: return "KORVAXSW_OK";
    case KORVAXSW_REFUSED: return "KORVAXSW_REFUSED";
    case KORVAXSW_NOT_FOUND: return "KORVAXSW_NOT_FOUND";
    case KORVAXSW_INVALID: return "KORVAXSW_INVALID";
    case KORVAXSW_TOPOLOGY: return "KORVAXSW_TOPOLOGY";
    case KORVAXSW_RECORD: return "KORVAXSW_RECORD";
    default: break;
    }
    return KORVAX_ErrorName(code < KORVAX_ERR_VISA_API ? KORVAX_ERR_VISA_API : code);
}

// {"code", "name", "message", "kind"}, and "reason", "rule" for a refusal
// by a rule, "rollback" for a transaction whose closing frame failed.
inline json error(const Error &e) {
    const int32_t code = status(e);
    json j = {{"code", code}, {"name", statusName(code)}, {"message", e.what()}, {"kind", std::string(kindWord(e.kind()))}};
    if (e.reason()) j["reason"] = std::string(answerWord(*e.reason()));
    if (!e.rule().empty()) j["rule"] = e.rule();
    if (e.rollback() != Rollback::None) j["rollback"] = std::string(rollbackWord(e.rollback()));
    return j;
}

inline Crosspoint crosspoint(const json &j) {
    if (!j.is_string()) throw Error(ErrorKind::Invalid, "a crosspoint is a text ROW!COLUMN, got " + j.dump());
    const auto x = parseCrosspoint(j.get<std::string>());
    if (!x) throw Error(ErrorKind::Invalid, "'" + j.get<std::string>() + "' is not a crosspoint ROW!COLUMN");
    return *x;
}

inline std::vector<Crosspoint> crosspointList(const json &j) {
    if (!j.is_array()) throw Error(ErrorKind::Invalid, "a list of crosspoints is an array of \"ROW!COLUMN\" texts");
    std::vector<Crosspoint> out;
    for (const auto &x : j) out.push_back(crosspoint(x));
    return out;
}

// One change: {"connect": ["A", "B"]}, {"disconnect": ["A", "B"]},
// {"disconnect_all": true}, {"route": "N"}, {"route_off": "N"},
// {"route_only": "N"}, {"close": ["1!1"]}, {"open": ["1!1"]},
// {"set_path": ["A", "B", ["1!48", "5!48"]]}.
inline Change change(const json &j) {
    auto pair = [&](const json &v, const char *key) {
        if (!v.is_array() || v.size() != 2 || !v[0].is_string() || !v[1].is_string())
            throw Error(ErrorKind::Invalid, std::string(key) + " wants two channel names, [\"A\", \"B\"]");
        return std::make_pair(v[0].get<std::string>(), v[1].get<std::string>());
    };
    auto name = [&](const json &v, const char *key) {
        if (!v.is_string()) throw Error(ErrorKind::Invalid, std::string(key) + " wants a route or group name");
        return v.get<std::string>();
    };
    if (!j.is_object() || j.size() != 1)
        throw Error(ErrorKind::Invalid, "a change is an object with one key, e.g. {\"connect\": [\"A\", \"B\"]}");
    // Read the one key through an object iterator: a structured binding of
    // items().begin() would refer into a temporary range proxy.
    const auto it = j.begin();
    const std::string &key = it.key();
    const json &v = it.value();
    if (key == "connect") {
        auto [a, b] = pair(v, "connect");
        return Change::connect(a, b);
    }
    if (key == "disconnect") {
        auto [a, b] = pair(v, "disconnect");
        return Change::disconnect(a, b);
    }
    if (key == "disconnect_all") return Change::disconnectAll();
    if (key == "route") return Change::routeOn(name(v, "route"));
    if (key == "route_off") return Change::routeOff(name(v, "route_off"));
    if (key == "route_only") return Change::routeOnly(name(v, "route_only"));
    if (key == "close") return Change::close(crosspointList(v));
    if (key == "open") return Change::open(crosspointList(v));
    if (key == "set_path") {
        if (!v.is_array() || v.size() != 3 || !v[0].is_string() || !v[1].is_string())
            throw Error(ErrorKind::Invalid, "set_path wants [\"A\", \"B\", [\"ROW!COLUMN\", ...]]");
        return Change::setPath(v[0].get<std::string>(), v[1].get<std::string>(), crosspointList(v[2]));
    }
    throw Error(ErrorKind::Invalid, "unknown change '" + key +
                                        "' (connect, disconnect, disconnect_all, route, route_off, route_only, close, "
                                        "open, set_path)");
}

inline std::vector<Change> changes(const json &j) {
    if (!j.is_array()) throw Error(ErrorKind::Invalid, "changes are a JSON array of objects");
    std::vector<Change> out;
    for (const auto &c : j) out.push_back(change(c));
    return out;
}

}  // namespace korvax::switching::shapes
