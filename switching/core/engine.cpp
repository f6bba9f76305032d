#include "core/engine.h"

#include <algorithm>
#include <charconv>
#include <numeric>

#include "KORVAX.h"

namespace korvax::switching::core {

std::string modelName(uint16_t code) {
    switch (code) {
    case KORVAX_MODEL_RQ520: return "RQ520";
    case KORVAX_MODEL_RQ520B: return "RQ520B";
    case KORVAX_MODEL_RQ521: return "RQ521";
    case KORVAX_MODEL_RQ522: return "RQ522";
    case KORVAX_MODEL_RQ523: return "RQ523";
    case KORVAX_MODEL_RQ523B: return "RQ523B";
    default: return "chassis";
    }
}

namespace {

Verdict refusal(Answer answer, std::string rule, std::string message, std::vector<std::string> channels = {}) {
    Verdict v;
    v.answer = answer;
    v.rule = std::move(rule);
    v.message = std::move(message);
    v.channels = std::move(channels);
    return v;
}

std::string joined(const std::vector<std::string> &names, std::string_view separator = ", ") {
    std::string out;
    for (const auto &n : names) {
        if (!out.empty()) out += separator;
        out += n;
    }
    return out;
}

// Channels on the crosspoints of `closed`, grouped by net.
class Nets {
public:
    explicit Nets(const std::set<Crosspoint> &closed) {
        for (const Crosspoint &x : closed) join(Channel{true, x.row}, Channel{false, x.column});
    }
    Channel root(Channel c) const {
        auto it = parent_.find(c);
        while (it != parent_.end() && it->second != c) {
            c = it->second;
            it = parent_.find(c);
        }
        return c;
    }
    bool joined(Channel a, Channel b) const { return a == b || (has(a) && has(b) && root(a) == root(b)); }
    bool has(Channel c) const { return parent_.count(c) != 0; }
    std::vector<std::vector<Channel>> groups() const {
        std::map<Channel, std::vector<Channel>> byRoot;
        for (const auto &[c, p] : parent_) byRoot[root(c)].push_back(c);
        std::vector<std::vector<Channel>> out;
        for (auto &[r, members] : byRoot) {
            std::sort(members.begin(), members.end(), [](Channel x, Channel y) {
                return x.row != y.row ? x.row : x.index < y.index;
            });
            out.push_back(std::move(members));
        }
        std::sort(out.begin(), out.end(), [](const auto &x, const auto &y) {
            const Channel a = x.front(), b = y.front();
            return a.row != b.row ? a.row : a.index < b.index;
        });
        return out;
    }

private:
    void join(Channel a, Channel b) {
        parent_.try_emplace(a, a);
        parent_.try_emplace(b, b);
        const Channel ra = root(a), rb = root(b);
        if (ra != rb) parent_[rb] = ra;
    }
    std::map<Channel, Channel> parent_;
};

// A rule the closed crosspoints break, with what identifies it so that a
// transaction is refused only for what it introduces.
struct Violation {
    Answer answer;
    std::string key;
    int count = 0;  // limits: closed crosspoints counted
    Verdict verdict;
};

std::vector<Violation> violations(const Layout &layout, const std::set<Crosspoint> &closed) {
    std::vector<Violation> out;
    const ChassisTopology &t = layout.topology();
    for (const auto &net : Nets(closed).groups()) {
        std::vector<Channel> sources;
        for (Channel c : net)
            if (layout.source(c)) sources.push_back(c);
        for (size_t i = 0; i < sources.size(); ++i)
            for (size_t j = i + 1; j < sources.size(); ++j) {
                const std::string a = layout.name(sources[i]), b = layout.name(sources[j]);
                out.push_back({Answer::SourceConflict, cat("S:", numberName(sources[i]), numberName(sources[j])), 0,
                               refusal(Answer::SourceConflict, cat("sources ", a, ", ", b),
                                       cat("the sources ", a, " and ", b, " would share a net"), {a, b})});
            }
        const auto &exclusions = layout.exclusions();
        for (size_t e = 0; e < exclusions.size(); ++e) {
            std::vector<Channel> inNet;
            for (Channel c : exclusions[e])
                if (std::find(net.begin(), net.end(), c) != net.end()) inNet.push_back(c);
            std::vector<std::string> members;
            for (Channel c : exclusions[e]) members.push_back(layout.name(c));
            for (size_t i = 0; i < inNet.size(); ++i)
                for (size_t j = i + 1; j < inNet.size(); ++j) {
                    const std::string a = layout.name(inNet[i]), b = layout.name(inNet[j]);
                    out.push_back({Answer::Excluded,
                                   cat("E", std::to_string(e), ":", numberName(inNet[i]), numberName(inNet[j])), 0,
                                   refusal(Answer::Excluded, cat("exclusion ", joined(members)),
                                           cat("the exclusion [", joined(members), "] forbids ", a, " and ", b,
                                               " in one net"),
                                           {a, b})});
                }
        }
    }
    std::map<int, int> perRow, perColumn;
    for (const Crosspoint &x : closed) {
        ++perRow[x.row];
        ++perColumn[x.column];
    }
    if (t.maxPerRow)
        for (const auto &[row, n] : perRow)
            if (n > *t.maxPerRow) {
                const std::string name = layout.name(Channel{true, row});
                out.push_back({Answer::Limit, "R" + std::to_string(row), n,
                               refusal(Answer::Limit, "max-per-row " + std::to_string(*t.maxPerRow),
                                       "row " + name + " would have " + std::to_string(n) +
                                           " closed crosspoints (max-per-row " + std::to_string(*t.maxPerRow) + ")",
                                       {name})});
            }
    if (t.maxPerColumn)
        for (const auto &[column, n] : perColumn)
            if (n > *t.maxPerColumn) {
                const std::string name = layout.name(Channel{false, column});
                out.push_back({Answer::Limit, "C" + std::to_string(column), n,
                               refusal(Answer::Limit, "max-per-column " + std::to_string(*t.maxPerColumn),
                                       "column " + name + " would have " + std::to_string(n) +
                                           " closed crosspoints (max-per-column " +
                                           std::to_string(*t.maxPerColumn) + ")",
                                       {name})});
            }
    // Every crosspoint closes at least its own relay, so more crosspoints
    // than the chassis's relay budget can never be switched. Isolation and
    // cascade relays count against the budget too, but are not visible
    // here: the library refuses those states itself, before sending.
    const int limit = layout.geometry().closureLimit;
    if (limit >= 0 && static_cast<int>(closed.size()) > limit) {
        const int n = static_cast<int>(closed.size());
        out.push_back({Answer::Limit, "L", n,
                       refusal(Answer::Limit, "chassis closure limit " + std::to_string(limit),
                               std::to_string(n) + " crosspoints would be closed; the " +
                                   modelName(layout.geometry().model) + " closes at most " +
                                   std::to_string(limit) + " relays at once")});
    }
    return out;
}

// The first rule `after` breaks that `before` did not (limits: or breaks
// further), in the order source-conflict, excluded, limit.
std::optional<Verdict> introduced(const std::vector<Violation> &before, const std::vector<Violation> &after) {
    const Violation *first = nullptr;
    for (const Violation &v : after) {
        const auto old = std::find_if(before.begin(), before.end(),
                                      [&](const Violation &b) { return b.key == v.key; });
        const bool isNew = old == before.end() || (v.answer == Answer::Limit && v.count > old->count);
        if (isNew && (first == nullptr || v.answer < first->answer)) first = &v;
    }
    if (first == nullptr) return std::nullopt;
    return first->verdict;
}

bool onChannel(const Crosspoint &x, Channel c) { return c.row ? x.row == c.index : x.column == c.index; }

bool channelBusy(const std::set<Crosspoint> &closed, Channel c) {
    return std::any_of(closed.begin(), closed.end(), [&](const Crosspoint &x) { return onChannel(x, c); });
}

bool sameEnds(const PathRecord &p, Channel a, Channel b) { return (p.a == a && p.b == b) || (p.a == b && p.b == a); }

// The transaction being worked out.
class Planner {
public:
    Planner(const Layout &layout, const State &before)
        : layout_(layout), start_(violations(layout, before.closed)) {
        work_.closed = before.closed;
        work_.paths = livePaths(before);
    }

    // Each step returns a refusal, or nothing when it went through.
    std::optional<Verdict> step(const Change &c) {
        switch (c.kind) {
        case Change::Kind::Connect: return connect(c.a, c.b, {}, false);
        case Change::Kind::Disconnect: return disconnect(c.a, c.b, false);
        case Change::Kind::DisconnectAll:
            work_.closed.clear();
            work_.paths.clear();
            return std::nullopt;
        case Change::Kind::RouteOn:
            for (const Leg &leg : legs(c.a))
                if (auto v = connect(leg.a, leg.b, leg.route, true)) return v;
            return std::nullopt;
        case Change::Kind::RouteOff:
            for (const Leg &leg : legs(c.a))
                if (auto v = disconnect(leg.a, leg.b, true)) return v;
            return std::nullopt;
        case Change::Kind::RouteOnly: return only(legs(c.a));
        case Change::Kind::Close:
        case Change::Kind::Open: return crosspoints(c);
        case Change::Kind::SetPath: return setPath(c.a, c.b, c.crosspoints);
        }
        return std::nullopt;
    }

    std::optional<Verdict> finalCheck() const { return introduced(start_, violations(layout_, work_.closed)); }
    const State &state() const { return work_; }
    std::vector<Crosspoint> lastPath;

private:
    const std::vector<Leg> &legs(const std::string &name) const {
        const auto *l = layout_.legs(name);
        if (l == nullptr)
            throw Error(ErrorKind::NotFound, "no route or group '" + name + "' on chassis " + layout_.chassis());
        return *l;
    }

    // Both channels, or the verdict that one does not exist here.
    std::optional<Verdict> ends(std::string_view a, std::string_view b, Channel &ca, Channel &cb) const {
        const auto ra = layout_.resolve(a);
        if (!ra.channel) return ra.refusal;
        const auto rb = layout_.resolve(b);
        if (!rb.channel) return rb.refusal;
        ca = *ra.channel;
        cb = *rb.channel;
        return std::nullopt;
    }

    std::optional<Verdict> connect(std::string_view a, std::string_view b, const std::string &route, bool tolerant) {
        Channel ca, cb;
        if (auto v = ends(a, b, ca, cb)) return v;
        const std::string na = layout_.name(ca), nb = layout_.name(cb);
        if (ca == cb)
            return refusal(Answer::Unsupported, "same channel", na + " cannot be connected to itself", {na});
        if (Nets(work_.closed).joined(ca, cb)) {
            if (tolerant) return std::nullopt;
            return refusal(Answer::Exists, "", na + " and " + nb + " are already connected", {na, nb});
        }
        for (Channel c : {ca, cb})
            if (layout_.configuration(c) && channelBusy(work_.closed, c)) {
                const std::string n = layout_.name(c);
                return refusal(Answer::InUse, "configuration channel " + n,
                               n + " is a configuration channel in use by another path", {n});
            }
        std::vector<std::vector<Crosspoint>> candidates;
        if (ca.row != cb.row) {
            const Channel r = ca.row ? ca : cb, col = ca.row ? cb : ca;
            candidates.push_back({Crosspoint{r.index, col.index}});
        } else {
            // Two rows meet on a configuration column, two columns on a
            // configuration row: the lowest-numbered free one.
            const bool rows = ca.row;
            std::vector<std::string> busy;
            bool any = false;
            const int last = rows ? layout_.columns() : layout_.rows();
            for (int k = 1; k <= last; ++k) {
                const Channel bus{!rows, k};
                if (!layout_.configuration(bus)) continue;
                any = true;
                if (channelBusy(work_.closed, bus)) {
                    busy.push_back(layout_.name(bus));
                    continue;
                }
                if (rows) candidates.push_back({Crosspoint{ca.index, k}, Crosspoint{cb.index, k}});
                else candidates.push_back({Crosspoint{k, ca.index}, Crosspoint{k, cb.index}});
            }
            const std::string kind = rows ? "column" : "row";
            if (!any)
                return refusal(Answer::Unsupported, "no configuration " + kind,
                               "no configuration " + kind + " of chassis " + layout_.chassis() + " can join " + na +
                                   " and " + nb,
                               {na, nb});
            if (candidates.empty())
                return refusal(Answer::InUse, "configuration " + kind + "s " + joined(busy),
                               "no free configuration " + kind + " for " + na + " and " + nb + ": " +
                                   joined(busy) + (busy.size() == 1 ? " is" : " are") + " in use",
                               {na, nb});
        }
        // The first candidate no rule refuses, else the lowest one: the rules
        // are asked again of the transaction's final state, where a later
        // change of the same transaction may still make it right.
        const std::vector<Crosspoint> *chosen = &candidates.front();
        for (const auto &path : candidates) {
            std::set<Crosspoint> trial = work_.closed;
            trial.insert(path.begin(), path.end());
            if (!introduced(start_, violations(layout_, trial))) {
                chosen = &path;
                break;
            }
        }
        work_.closed.insert(chosen->begin(), chosen->end());
        work_.paths.push_back({ca, cb, *chosen, route});
        lastPath = *chosen;
        return std::nullopt;
    }

    std::optional<Verdict> disconnect(std::string_view a, std::string_view b, bool tolerant) {
        Channel ca, cb;
        if (auto v = ends(a, b, ca, cb)) {
            if (tolerant) return std::nullopt;
            throw Error(ErrorKind::NotFound, v->message);
        }
        const auto it = std::find_if(work_.paths.begin(), work_.paths.end(),
                                     [&](const PathRecord &p) { return sameEnds(p, ca, cb); });
        if (it == work_.paths.end()) {
            // A row and a column joined by their own crosspoint, closed by
            // number: that crosspoint is their path.
            if (ca.row != cb.row) {
                const Crosspoint x = ca.row ? Crosspoint{ca.index, cb.index} : Crosspoint{cb.index, ca.index};
                if (work_.closed.erase(x) != 0) return std::nullopt;
            }
            if (tolerant) return std::nullopt;
            throw Error(ErrorKind::NotFound, "no recorded path between " + layout_.name(ca) + " and " +
                                                 layout_.name(cb) + " on chassis " + layout_.chassis());
        }
        const PathRecord gone = *it;
        work_.paths.erase(it);
        for (const Crosspoint &x : gone.crosspoints) {
            const bool shared = std::any_of(work_.paths.begin(), work_.paths.end(), [&](const PathRecord &p) {
                return std::find(p.crosspoints.begin(), p.crosspoints.end(), x) != p.crosspoints.end();
            });
            if (!shared) work_.closed.erase(x);
        }
        return std::nullopt;
    }

    // Keeps the paths of these legs that exist, opens everything else, and
    // connects the legs still missing.
    std::optional<Verdict> only(const std::vector<Leg> &legs) {
        std::vector<PathRecord> kept;
        for (const Leg &leg : legs) {
            const auto ra = layout_.resolve(leg.a), rb = layout_.resolve(leg.b);
            if (!ra.channel) return ra.refusal;
            if (!rb.channel) return rb.refusal;
            for (const PathRecord &p : work_.paths)
                if (sameEnds(p, *ra.channel, *rb.channel) &&
                    std::find(kept.begin(), kept.end(), p) == kept.end())
                    kept.push_back(p);
        }
        work_.closed.clear();
        for (const PathRecord &p : kept) work_.closed.insert(p.crosspoints.begin(), p.crosspoints.end());
        work_.paths = std::move(kept);
        for (const Leg &leg : legs)
            if (auto v = connect(leg.a, leg.b, leg.route, true)) return v;
        return std::nullopt;
    }

    std::optional<Verdict> crosspoints(const Change &c) {
        for (const Crosspoint &x : c.crosspoints) {
            if (layout_.reachable(x)) continue;
            const Channel r{true, x.row}, col{false, x.column};
            const std::string why = !layout_.reachable(r) ? layout_.resolve(numberName(r)).refusal.message
                                                          : layout_.resolve(numberName(col)).refusal.message;
            return refusal(Answer::Unsupported, "crosspoint " + toString(x),
                           "crosspoint " + toString(x) + ": " + why);
        }
        for (const Crosspoint &x : c.crosspoints) {
            if (c.kind == Change::Kind::Close) work_.closed.insert(x);
            else work_.closed.erase(x);
        }
        work_.paths = livePaths(work_);
        return std::nullopt;
    }

    std::optional<Verdict> setPath(std::string_view a, std::string_view b, const std::vector<Crosspoint> &path) {
        Channel ca, cb;
        if (auto v = ends(a, b, ca, cb)) return v;
        const std::string na = layout_.name(ca), nb = layout_.name(cb);
        if (ca == cb)
            return refusal(Answer::Unsupported, "same channel", na + " cannot be connected to itself", {na});
        if (path.empty()) throw Error(ErrorKind::Invalid, "a path needs at least one crosspoint");
        for (const Crosspoint &x : path)
            if (!layout_.reachable(x))
                return refusal(Answer::Unsupported, "crosspoint " + toString(x),
                               "crosspoint " + toString(x) + " cannot be switched on chassis " + layout_.chassis());
        const std::set<Crosspoint> own(path.begin(), path.end());
        if (!Nets(own).joined(ca, cb))
            throw Error(ErrorKind::Invalid, "the crosspoints " + listText(path) + " do not join " + na + " and " + nb);
        const Nets now(work_.closed);
        if (now.joined(ca, cb)) return refusal(Answer::Exists, "", na + " and " + nb + " are already connected", {na, nb});
        // Every channel the path passes through, besides its two ends, must
        // be free: anything else would join other nets to it.
        for (const auto &net : Nets(own).groups())
            for (Channel c : net)
                if (c != ca && c != cb && now.has(c)) {
                    const std::string n = layout_.name(c);
                    return refusal(Answer::InUse, "channel " + n, n + " is in use by another path", {n});
                }
        for (Channel c : {ca, cb})
            if (layout_.configuration(c) && now.has(c)) {
                const std::string n = layout_.name(c);
                return refusal(Answer::InUse, "configuration channel " + n,
                               n + " is a configuration channel in use by another path", {n});
            }
        work_.closed.insert(path.begin(), path.end());
        work_.paths.push_back({ca, cb, path, {}});
        lastPath = path;
        return std::nullopt;
    }

    const Layout &layout_;
    const std::vector<Violation> start_;
    State work_;
};

std::string describe(const Change &c) {
    std::string xs;
    for (const Crosspoint &x : c.crosspoints) xs += (xs.empty() ? "" : ",") + toString(x);
    switch (c.kind) {
    case Change::Kind::Connect: return "connect " + c.a + " " + c.b;
    case Change::Kind::Disconnect: return "disconnect " + c.a + " " + c.b;
    case Change::Kind::DisconnectAll: return "disconnect --all";
    case Change::Kind::RouteOn: return "route " + c.a;
    case Change::Kind::RouteOff: return "route --off " + c.a;
    case Change::Kind::RouteOnly: return "route " + c.a + " --only";
    case Change::Kind::Close: return "close " + xs;
    case Change::Kind::Open: return "open " + xs;
    case Change::Kind::SetPath: return "set-path " + c.a + " " + c.b + " " + xs;
    }
    return {};
}

}  // namespace

std::string numberName(Channel c) { return (c.row ? "R" : "C") + std::to_string(c.index); }

std::optional<Channel> parseNumberName(std::string_view text) {
    if (text.size() < 2 || (text[0] != 'R' && text[0] != 'C') || text[1] == '0') return std::nullopt;
    int n = 0;
    const auto [end, ec] = std::from_chars(text.data() + 1, text.data() + text.size(), n);
    if (ec != std::errc{} || end != text.data() + text.size() || n < 1) return std::nullopt;
    return Channel{text[0] == 'R', n};
}

Layout::Layout(const ChassisTopology &topology, const ChassisGeometry &geometry,
               std::map<std::string, std::vector<Leg>, std::less<>> routes)
    : topology_(topology), geometry_(geometry), routes_(std::move(routes)) {
    for (const auto &[r, n] : topology_.rows) {
        byName_.emplace(n, Channel{true, r});
        names_.emplace(Channel{true, r}, n);
    }
    for (const auto &[c, n] : topology_.columns) {
        byName_.emplace(n, Channel{false, c});
        names_.emplace(Channel{false, c}, n);
    }
    for (const auto &n : topology_.configuration) configuration_.insert(named(n));
    for (const auto &n : topology_.sources) sources_.insert(named(n));
    for (const auto &e : topology_.exclusions) {
        std::vector<Channel> members;
        members.reserve(e.size());
        for (const auto &n : e) members.push_back(named(n));
        exclusions_.push_back(std::move(members));
    }
}

Channel Layout::named(std::string_view name) const {
    if (const auto it = byName_.find(name); it != byName_.end()) return it->second;
    if (const auto c = parseNumberName(name)) return *c;
    throw Error(ErrorKind::Topology, "chassis " + topology_.name + ": unknown channel '" + std::string(name) + "'");
}

Layout::Resolved Layout::resolve(std::string_view name) const {
    std::string_view local = name;
    if (const auto slash = name.find('/'); slash != std::string_view::npos) {
        const std::string_view chassis = name.substr(0, slash);
        local = name.substr(slash + 1);
        if (chassis != topology_.name)
            return {std::nullopt, refusal(Answer::Unsupported, "another chassis",
                                          "'" + std::string(name) + "' is on chassis " + std::string(chassis) +
                                              ", not " + topology_.name,
                                          {std::string(name)})};
    }
    std::optional<Channel> c;
    if (const auto it = byName_.find(local); it != byName_.end()) c = it->second;
    else c = parseNumberName(local);
    if (!c)
        return {std::nullopt, refusal(Answer::Unsupported, "unknown channel",
                                      "unknown channel '" + std::string(name) + "' on chassis " + topology_.name,
                                      {std::string(name)})};
    if (!reachable(*c)) {
        const std::string n = this->name(*c);
        std::string why;
        if (c->row && c->index > geometry_.rows)
            why = "the " + modelName(geometry_.model) + " has rows 1 to " + std::to_string(geometry_.rows);
        else if (c->row)
            why = "the " + modelName(geometry_.model) + " switches rows 1 to " + std::to_string(rows()) + " only";
        else if (c->index > geometry_.columns())
            why = "the " + modelName(geometry_.model) + " has columns 1 to " + std::to_string(geometry_.columns());
        else
            why = "it is beyond the cards fitted (columns 1 to " + std::to_string(columns()) + ")";
        return {std::nullopt, refusal(Answer::Unsupported, c->row ? "switchable rows" : "fitted columns",
                                      (c->row ? "row " : "column ") + n + " cannot be switched: " + why, {n})};
    }
    return {c, {}};
}

std::string Layout::name(Channel c) const {
    const auto it = names_.find(c);
    return it == names_.end() ? numberName(c) : it->second;
}

bool Layout::reachable(Channel c) const { return c.index >= 1 && c.index <= (c.row ? rows() : columns()); }
bool Layout::reachable(Crosspoint x) const { return reachable(Channel{true, x.row}) && reachable(Channel{false, x.column}); }

const std::vector<Leg> *Layout::legs(std::string_view route) const {
    const auto it = routes_.find(route);
    return it == routes_.end() ? nullptr : &it->second;
}

std::vector<std::vector<Channel>> nets(const std::set<Crosspoint> &closed) { return Nets(closed).groups(); }

std::vector<PathRecord> livePaths(const State &state) {
    std::vector<PathRecord> out;
    for (const PathRecord &p : state.paths)
        if (!p.crosspoints.empty() && std::all_of(p.crosspoints.begin(), p.crosspoints.end(),
                                                  [&](const Crosspoint &x) { return state.closed.count(x) != 0; }))
            out.push_back(p);
    return out;
}

Verdict canConnect(const Layout &layout, const State &state, std::string_view a, std::string_view b) {
    const Change c = Change::connect(std::string(a), std::string(b));
    return plan(layout, state, std::span<const Change>(&c, 1)).verdict;
}

Plan plan(const Layout &layout, const State &before, std::span<const Change> changes) {
    Plan out;
    for (const Change &c : changes) out.what += (out.what.empty() ? "" : "; ") + describe(c);
    Planner p(layout, before);
    std::optional<Verdict> refused;
    for (const Change &c : changes)
        if ((refused = p.step(c))) break;
    if (!refused) refused = p.finalCheck();
    if (refused) {
        out.verdict = std::move(*refused);
        out.after.closed = before.closed;
        out.after.paths = livePaths(before);
        return out;
    }
    Plan moved = planTo(before, p.state(), out.what);
    moved.verdict.path = changes.size() == 1 && changes[0].kind == Change::Kind::Connect ? p.lastPath : moved.closing;
    // Disconnecting everything, and switching crosspoints by number, is how
    // a user puts right a chassis whose relays differ from the record (a
    // program that bypassed it, a chassis switched off and on): their frame
    // goes out even when the record says nothing would change.
    const bool always = std::any_of(changes.begin(), changes.end(), [](const Change &c) {
        return c.kind == Change::Kind::DisconnectAll || c.kind == Change::Kind::Close || c.kind == Change::Kind::Open;
    });
    if (always && moved.frames.empty()) moved.frames.push_back(moved.after.closed);
    return moved;
}

Plan planTo(const State &before, const State &target, std::string what) {
    Plan out;
    out.what = std::move(what);
    out.after = target;
    out.after.paths = livePaths(target);
    std::set_difference(before.closed.begin(), before.closed.end(), out.after.closed.begin(),
                        out.after.closed.end(), std::back_inserter(out.opening));
    std::set_difference(out.after.closed.begin(), out.after.closed.end(), before.closed.begin(),
                        before.closed.end(), std::back_inserter(out.closing));
    // Break before make: the openings alone first, so that no two nets
    // ever touch on the way from one state to the other.
    if (!out.opening.empty()) {
        std::set<Crosspoint> kept;
        std::set_intersection(before.closed.begin(), before.closed.end(), out.after.closed.begin(),
                              out.after.closed.end(), std::inserter(kept, kept.end()));
        out.frames.push_back(std::move(kept));
    }
    if (!out.closing.empty()) out.frames.push_back(out.after.closed);
    out.verdict.answer = Answer::Possible;
    out.verdict.path = out.closing;
    out.verdict.message = out.opening.empty() && out.closing.empty()
                              ? "nothing to switch"
                              : "opens " + (out.opening.empty() ? std::string("nothing") : listText(out.opening)) +
                                    ", closes " +
                                    (out.closing.empty() ? std::string("nothing") : listText(out.closing));
    return out;
}

std::vector<uint32_t> toWords(const std::set<Crosspoint> &closed, const ChassisGeometry &g) {
    std::vector<uint32_t> words(static_cast<size_t>(std::max(g.stateWords, 0)), 0);
    for (const Crosspoint &x : closed) {
        const size_t bit = static_cast<size_t>(x.row - 1) * static_cast<size_t>(g.columns()) +
                           static_cast<size_t>(x.column - 1);
        if (x.row < 1 || x.column < 1 || x.column > g.columns() || bit / 32 >= words.size())
            throw Error(ErrorKind::Invalid, "crosspoint " + toString(x) + " is outside the state array");
        words[bit / 32] |= 1u << (bit % 32);
    }
    return words;
}

std::set<Crosspoint> fromWords(std::span<const uint32_t> words, const ChassisGeometry &g) {
    std::set<Crosspoint> out;
    if (g.columns() <= 0) return out;
    for (size_t w = 0; w < words.size(); ++w)
        for (uint32_t bits = words[w]; bits != 0; bits &= bits - 1) {
            const size_t p = w * 32 + static_cast<size_t>(__builtin_ctz(bits));
            const Crosspoint x{static_cast<int>(p / static_cast<size_t>(g.columns())) + 1,
                               static_cast<int>(p % static_cast<size_t>(g.columns())) + 1};
            if (x.row <= g.switchableRows && x.column <= g.usableColumns()) out.insert(x);
        }
    return out;
}

std::string listText(const std::set<Crosspoint> &x) {
    return listText(std::vector<Crosspoint>(x.begin(), x.end()));
}

std::string listText(std::span<const Crosspoint> x) {
    std::string out;
    for (const Crosspoint &c : x) out += (out.empty() ? "" : " ") + toString(c);
    return out;
}

}  // namespace korvax::switching::core
