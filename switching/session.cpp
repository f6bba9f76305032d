// Sessions and matrices: the core's plans carried out on the chassis, under
// the record's write lock.
#include <errno.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "KORVAX.h"
#include "core/engine.h"
#include "core/legacy_state.h"
#include "library_backend.h"
#include "record.h"

namespace korvax::switching {
namespace detail {

struct SessionState;

struct MatrixState {
    SessionState *session = nullptr;
    const ChassisTopology *topology = nullptr;
    std::unique_ptr<Backend> backend;
    ChassisGeometry geometry;
    std::unique_ptr<core::Layout> layout;
    std::chrono::steady_clock::time_point lastFrame{};
    std::unique_ptr<Matrix> facade;
};

struct SessionState {
    Topology topology;
    SessionOptions options;
    std::unique_ptr<Record> record;
    std::vector<std::unique_ptr<MatrixState>> matrices;
    std::recursive_mutex mutex;
};

}  // namespace detail

namespace {

using detail::MatrixState;
using detail::SessionState;
using PlanFn = std::function<core::Plan(const core::State &)>;

// A refusal by the chassis's own closure limit carries the library's code,
// whether the engine saw it coming or the library refused the frame.
Error refusedError(const Verdict &v) {
    const bool chassisLimit = v.answer == Answer::Limit && v.rule.starts_with("chassis closure limit");
    return Error(ErrorKind::Refused, v.message, chassisLimit ? KORVAX_ERR_CLOSURE_LIMIT : 0, v.answer, v.rule);
}

core::State toCore(const Record::Snapshot &s) {
    core::State out;
    out.closed = s.closed;
    for (const auto &p : s.paths) {
        const auto a = core::parseNumberName(p.a), b = core::parseNumberName(p.b);
        if (a && b) out.paths.push_back({*a, *b, p.crosspoints, p.route});
    }
    out.paths = core::livePaths(out);
    return out;
}

std::vector<Record::StoredPath> toStored(const std::vector<core::PathRecord> &paths) {
    std::vector<Record::StoredPath> out;
    out.reserve(paths.size());
    for (const auto &p : paths) out.push_back({core::numberName(p.a), core::numberName(p.b), p.crosspoints, p.route});
    return out;
}

Path toPublic(const core::Layout &l, const core::PathRecord &p) {
    return {l.name(p.a), l.name(p.b), p.crosspoints, p.route};
}

// What the chassis holds when the record has never seen it: the relay-state
// file the korvax command kept before the record existed (read once, every
// line checked against the chassis), else what this process's library last
// had acknowledged. `from` says which, for the event log.
std::set<Crosspoint> adoptedState(MatrixState &m, std::string &from) {
    const Record &record = *m.session->record;
    if (!record.inMemory()) {
        const auto folder = std::filesystem::path(record.path()).parent_path();
        const auto file = core::legacyStateFile(folder, m.topology->resource);
        const core::LegacyLimits limits{core::modelName(m.geometry.model), m.geometry.switchableRows,
                                        m.geometry.columns()};
        if (auto closed = core::readLegacyState(file, limits)) {
            from = "adopted from " + file.string();
            return std::move(*closed);
        }
    }
    from = "adopted from this process's library state";
    return core::fromWords(m.backend->storedState(), m.geometry);
}

// The record's crosspoints that this chassis cannot hold (a card taken out
// since) are forgotten: no frame could have closed them.
std::set<Crosspoint> unreachable(const MatrixState &m, const std::set<Crosspoint> &closed) {
    std::set<Crosspoint> out;
    for (const Crosspoint &x : closed)
        if (!m.layout->reachable(x)) out.insert(x);
    return out;
}

core::State current(MatrixState &m) {
    const auto snap = m.session->record->read(m.topology->resource);
    core::State s;
    if (!snap.known) {
        std::string from;
        s.closed = adoptedState(m, from);
    } else {
        s = toCore(snap);
    }
    for (const Crosspoint &x : unreachable(m, s.closed)) s.closed.erase(x);
    s.paths = core::livePaths(s);
    return s;
}

// How a transaction takes the state it starts from.
enum class Start {
    Believed,  // a file of an earlier korvax that cannot be believed stops it
    Replaced,  // it opens everything: such a file is set aside (and the state taken as open)
};

core::State loadForWrite(MatrixState &m, Record::Writer &w, Start start, bool &setAside) {
    const std::string &rsrc = m.topology->resource;
    const auto snap = w.snapshot(rsrc);
    core::State s;
    setAside = false;
    if (!snap.known) {
        std::string from;
        try {
            s.closed = adoptedState(m, from);
        } catch (const Error &e) {
            if (start == Start::Believed || e.kind() != ErrorKind::Record) throw;
            setAside = true;
            from = std::string("not adopted: ") + e.what();
        }
        w.adopt(rsrc, m.geometry);
        w.acknowledged(rsrc, {}, s.closed, false);
        w.event({rsrc, "adopt", "", core::listText(s.closed), from});
    } else {
        s = toCore(snap);
    }
    if (const auto gone = unreachable(m, s.closed); !gone.empty()) {
        std::set<Crosspoint> kept = s.closed;
        for (const Crosspoint &x : gone) kept.erase(x);
        w.acknowledged(rsrc, s.closed, kept, false);
        w.event({rsrc, "forget", core::listText(gone), "", "beyond the rows and cards the chassis has"});
        s.closed = std::move(kept);
        s.paths = core::livePaths(s);
    }
    return s;
}

// A failure of the record while a transaction switches: says whether the
// chassis took frames that the record could not keep.
[[noreturn]] void recordFailed(const Error &e, const MatrixState &m, size_t sent) {
    if (sent == 0) throw Error(ErrorKind::Record, std::string(e.what()) + "; nothing was switched");
    throw Error(ErrorKind::Record,
                core::cat(e.what(), "; chassis ", m.topology->name, " (", m.topology->resource, ") took ",
                          std::to_string(sent), " frame(s) the record does not hold: disconnect everything (korvax "
                          "disconnect --all, or korvax clear) before relying on the record"));
}

Transaction describe(const MatrixState &m, const core::Plan &p) {
    Transaction t;
    t.chassis = m.topology->name;
    t.verdict = p.verdict;
    t.opening = p.opening;
    t.closing = p.closing;
    for (const auto &f : p.frames) t.frames.push_back({std::vector<Crosspoint>(f.begin(), f.end())});
    for (const auto &path : p.after.paths) t.paths.push_back(toPublic(*m.layout, path));
    return t;
}

void settle(const MatrixState &m) {
    const auto until = m.lastFrame + std::chrono::milliseconds(m.topology->settleMs);
    const auto now = std::chrono::steady_clock::now();
    if (until > now) std::this_thread::sleep_for(until - now);
}

Transaction transact(MatrixState &m, const PlanFn &planFn, bool dry, Start start = Start::Believed) {
    std::lock_guard lock(m.session->mutex);
    if (dry) return describe(m, planFn(current(m)));
    const std::string &rsrc = m.topology->resource;
    Transaction out;
    std::exception_ptr failure;
    size_t sent = 0;
    try {
        m.session->record->write([&](Record::Writer &w) {
            failure = nullptr;
            sent = 0;
            bool setAside = false;
            const core::State before = loadForWrite(m, w, start, setAside);
            const core::Plan p = planFn(before);
            out = describe(m, p);
            if (!p.verdict.possible()) throw refusedError(p.verdict);
            Record::EventText ev{rsrc, p.what, core::listText(p.opening), core::listText(p.closing), "switched"};
            std::set<Crosspoint> acknowledged = before.closed;
            for (size_t i = 0; i < p.frames.size(); ++i) {
                if (i > 0) settle(m);
                const int32_t st = m.backend->send(core::toWords(p.frames[i], m.geometry));
                ++sent;
                if (st >= 0) {
                    w.acknowledged(rsrc, acknowledged, p.frames[i]);
                    acknowledged = p.frames[i];
                    m.lastFrame = std::chrono::steady_clock::now();
                    continue;
                }
                // The closing frame failed after the openings were switched:
                // put back the state from before the transaction.
                Rollback rollback = Rollback::None;
                if (i > 0) {
                    const int32_t back = m.backend->send(core::toWords(before.closed, m.geometry));
                    m.lastFrame = std::chrono::steady_clock::now();
                    if (back >= 0) {
                        w.acknowledged(rsrc, acknowledged, before.closed);
                        acknowledged = before.closed;
                        rollback = Rollback::Acknowledged;
                    } else {
                        rollback = Rollback::Failed;
                    }
                }
                w.setPaths(rsrc, toStored(core::livePaths({acknowledged, before.paths})));
                const std::string step = i == 0 ? "the first frame" : "the closing frame";
                std::string text = core::cat("chassis ", m.topology->name, " (", rsrc, "): ", step, " failed: ", statusText(st));
                if (rollback == Rollback::Acknowledged) text += "; the state from before was sent again and acknowledged";
                if (rollback == Rollback::Failed)
                    text += "; sending the state from before failed too: the chassis holds the openings only (" +
                            (acknowledged.empty() ? std::string("nothing closed") : core::listText(acknowledged)) + ")";
                ev.outcome = "failed: " + step + ": " + statusText(st) +
                             (rollback == Rollback::Acknowledged ? "; rolled back"
                              : rollback == Rollback::Failed     ? "; rollback failed"
                                                                 : "");
                if (st == KORVAX_ERR_CLOSURE_LIMIT)
                    failure = std::make_exception_ptr(Error(ErrorKind::Refused, text, st, Answer::Limit,
                                                            "chassis closure limit " + std::to_string(m.geometry.closureLimit),
                                                            rollback));
                else
                    failure = std::make_exception_ptr(Error(ErrorKind::Chassis, text, st, std::nullopt, std::string(), rollback));
                // A state that could not be believed stays unadopted while
                // nothing it replaces was acknowledged.
                if (setAside && acknowledged == before.closed) std::rethrow_exception(failure);
                w.event(ev);
                return;
            }
            const auto stored = toStored(p.after.paths);
            w.setPaths(rsrc, stored);
            if (!p.frames.empty()) w.event(ev);
            else if (before.paths != p.after.paths) {
                ev.outcome = "recorded";
                w.event(ev);
            }
        });
    } catch (const Error &e) {
        if (e.kind() != ErrorKind::Record) throw;
        recordFailed(e, m, sent);
    }
    if (failure) std::rethrow_exception(failure);
    return out;
}

PlanFn changesPlan(const MatrixState &m, std::vector<Change> changes) {
    return [&m, changes = std::move(changes)](const core::State &s) { return core::plan(*m.layout, s, changes); };
}

std::map<std::string, std::vector<core::Leg>, std::less<>> legsOn(const Topology &t, const std::string &chassis) {
    std::map<std::string, std::vector<core::Leg>, std::less<>> out;
    for (const Route &r : t.routes) {
        std::vector<core::Leg> legs;
        for (const RouteLeg &l : r.legs)
            if (l.chassis == chassis) legs.push_back({l.a, l.b, r.name});
        if (!legs.empty()) out.emplace(r.name, std::move(legs));
    }
    for (const Group &g : t.groups) {
        std::vector<core::Leg> legs;
        for (const auto &name : g.routes)
            if (const auto it = out.find(name); it != out.end()) legs.insert(legs.end(), it->second.begin(), it->second.end());
        if (!legs.empty()) out.emplace(g.name, std::move(legs));
    }
    return out;
}

std::string programName() {
#ifdef __GLIBC__
    return program_invocation_short_name;
#else
    return "korvax";
#endif
}

// The chassis a route or group reaches, in the file's order.
std::vector<MatrixState *> reachedBy(SessionState &s, std::string_view name) {
    std::vector<std::string> routes;
    if (const Route *r = s.topology.findRoute(name)) routes.push_back(r->name);
    else if (const Group *g = s.topology.findGroup(name)) routes = g->routes;
    else throw Error(ErrorKind::NotFound, "no route or group '" + std::string(name) + "' in " + s.topology.file);
    std::vector<MatrixState *> out;
    for (const auto &c : s.topology.chassis) {
        bool reached = false;
        for (const auto &r : routes)
            for (const RouteLeg &l : s.topology.findRoute(r)->legs) reached = reached || l.chassis == c.name;
        if (!reached) continue;
        const auto it = std::find_if(s.matrices.begin(), s.matrices.end(),
                                     [&](const auto &m) { return m->topology->name == c.name; });
        if (it == s.matrices.end())
            throw Error(ErrorKind::NotFound, "'" + std::string(name) + "' reaches chassis " + c.name +
                                                 ", which this session did not open");
        out.push_back(it->get());
    }
    return out;
}

std::vector<Transaction> routeAcross(SessionState &s, std::string_view name, Change::Kind kind, bool dry) {
    std::lock_guard lock(s.mutex);
    const Change change{kind, std::string(name), {}, {}};
    const auto reached = reachedBy(s, name);
    std::vector<Transaction> out;
    // Every chassis's rules first, so that a refusal on a later chassis
    // leaves the earlier ones untouched.
    for (MatrixState *m : reached) {
        out.push_back(transact(*m, changesPlan(*m, {change}), true));
        if (!dry && !out.back().verdict.possible()) throw refusedError(out.back().verdict);
    }
    if (dry) return out;
    out.clear();
    std::vector<std::pair<MatrixState *, core::State>> done;
    for (MatrixState *m : reached) {
        try {
            core::State before = current(*m);
            out.push_back(transact(*m, changesPlan(*m, {change}), false));
            done.emplace_back(m, std::move(before));
        } catch (...) {
            // Put the chassis already switched back as they were.
            for (auto it = done.rbegin(); it != done.rend(); ++it) {
                const core::State target = it->second;
                try {
                    transact(*it->first,
                             [target, what = "undo " + std::string(name)](const core::State &now) {
                                 return core::planTo(now, target, what);
                             },
                             false);
                } catch (const Error &) {
                    // The original failure is the one to report; the undo's
                    // own failure is in the event log.
                }
            }
            throw;
        }
    }
    return out;
}

MatrixState &only(SessionState &s, std::string_view name) {
    if (name.empty()) {
        if (s.matrices.size() == 1) return *s.matrices.front();
        std::string names;
        for (const auto &m : s.matrices) names += (names.empty() ? "" : ", ") + m->topology->name;
        throw Error(ErrorKind::NotFound, "the topology has several chassis (" + names + "): name one");
    }
    for (auto &m : s.matrices)
        if (m->topology->name == name) return *m;
    throw Error(ErrorKind::NotFound, "no chassis '" + std::string(name) + "' in " + s.topology.file);
}

}  // namespace

// ---- Matrix ----------------------------------------------------------------

const std::string &Matrix::name() const { return state_->topology->name; }
const std::string &Matrix::resource() const { return state_->topology->resource; }
const ChassisGeometry &Matrix::geometry() const { return state_->geometry; }
const ChassisTopology &Matrix::topology() const { return *state_->topology; }
std::string Matrix::rowName(int row) const { return state_->layout->name({true, row}); }
std::string Matrix::columnName(int column) const { return state_->layout->name({false, column}); }

Transaction Matrix::connect(std::string_view a, std::string_view b) {
    return transact(*state_, changesPlan(*state_, {Change::connect(std::string(a), std::string(b))}), false);
}
Transaction Matrix::disconnect(std::string_view a, std::string_view b) {
    return transact(*state_, changesPlan(*state_, {Change::disconnect(std::string(a), std::string(b))}), false);
}
Transaction Matrix::disconnectAll() {
    return transact(*state_, changesPlan(*state_, {Change::disconnectAll()}), false, Start::Replaced);
}

Verdict Matrix::canConnect(std::string_view a, std::string_view b) const {
    std::lock_guard lock(state_->session->mutex);
    return core::canConnect(*state_->layout, current(*state_), a, b);
}

Path Matrix::path(std::string_view a, std::string_view b) const {
    std::lock_guard lock(state_->session->mutex);
    const auto ra = state_->layout->resolve(a), rb = state_->layout->resolve(b);
    if (!ra.channel) throw Error(ErrorKind::NotFound, ra.refusal.message);
    if (!rb.channel) throw Error(ErrorKind::NotFound, rb.refusal.message);
    for (const auto &p : current(*state_).paths)
        if ((p.a == *ra.channel && p.b == *rb.channel) || (p.a == *rb.channel && p.b == *ra.channel))
            return toPublic(*state_->layout, p);
    throw Error(ErrorKind::NotFound, "no recorded path between " + state_->layout->name(*ra.channel) + " and " +
                                         state_->layout->name(*rb.channel));
}

Transaction Matrix::setPath(std::string_view a, std::string_view b, std::span<const Crosspoint> crosspoints) {
    const Change c = Change::setPath(std::string(a), std::string(b), {crosspoints.begin(), crosspoints.end()});
    return transact(*state_, changesPlan(*state_, {c}), false);
}

std::vector<Transaction> Matrix::route(std::string_view name) {
    return routeAcross(*state_->session, name, Change::Kind::RouteOn, false);
}
std::vector<Transaction> Matrix::routeOff(std::string_view name) {
    return routeAcross(*state_->session, name, Change::Kind::RouteOff, false);
}
std::vector<Transaction> Matrix::routeOnly(std::string_view name) {
    return routeAcross(*state_->session, name, Change::Kind::RouteOnly, false);
}

std::vector<std::string> Matrix::routes() const {
    std::vector<std::string> out;
    for (const Route &r : state_->session->topology.routes)
        if (state_->layout->legs(r.name)) out.push_back(r.name);
    return out;
}

Transaction Matrix::apply(std::span<const Change> changes) {
    const bool all = !changes.empty() && std::all_of(changes.begin(), changes.end(), [](const Change &c) {
        return c.kind == Change::Kind::DisconnectAll;
    });
    return transact(*state_, changesPlan(*state_, {changes.begin(), changes.end()}), false,
                    all ? Start::Replaced : Start::Believed);
}
Transaction Matrix::dryRun(std::span<const Change> changes) const {
    return transact(*state_, changesPlan(*state_, {changes.begin(), changes.end()}), true);
}

Transaction Matrix::record(const Operation &operation) {
    MatrixState &m = *state_;
    std::lock_guard lock(m.session->mutex);
    if (!operation.run) throw Error(ErrorKind::Invalid, "the operation '" + operation.what + "' has nothing to run");
    const std::string &rsrc = m.topology->resource;
    const Start start = operation.opensEverything ? Start::Replaced : Start::Believed;
    Transaction out;
    std::exception_ptr failure;
    size_t sent = 0;
    try {
        m.session->record->write([&](Record::Writer &w) {
            failure = nullptr;
            sent = 0;
            bool setAside = false;
            const core::State before = loadForWrite(m, w, start, setAside);
            const std::vector<Crosspoint> recorded(before.closed.begin(), before.closed.end());
            const int32_t st = operation.run(recorded);
            sent = 1;
            m.lastFrame = std::chrono::steady_clock::now();
            if (st < 0) {
                failure = std::make_exception_ptr(
                    Error(ErrorKind::Chassis, core::cat("chassis ", m.topology->name, " (", rsrc, "): ", operation.what,
                                                        " failed: ", statusText(st)),
                          st));
                if (setAside) std::rethrow_exception(failure);
                w.event({rsrc, operation.what, "", "", "failed: " + statusText(st)});
                out = describe(m, core::planTo(before, before, operation.what));
                return;
            }
            // What the library holds now; a state it cannot give is never
            // taken for "everything open".
            const std::vector<uint32_t> words = m.backend->storedState();
            if (words.empty())
                throw Error(ErrorKind::Record, "the library's relay state cannot be read after " + operation.what);
            core::State after;
            after.closed = core::fromWords(words, m.geometry);
            after.paths = before.paths;
            core::Plan p = core::planTo(before, after, operation.what);
            p.frames = {p.after.closed};
            out = describe(m, p);
            w.acknowledged(rsrc, before.closed, p.after.closed);
            w.setPaths(rsrc, toStored(p.after.paths));
            w.event({rsrc, operation.what, core::listText(p.opening), core::listText(p.closing), "switched"});
        });
    } catch (const Error &e) {
        if (e.kind() != ErrorKind::Record) throw;
        recordFailed(e, m, sent);
    }
    if (failure) std::rethrow_exception(failure);
    return out;
}

void Matrix::waitForDebounce() const {
    std::chrono::steady_clock::time_point until;
    {
        std::lock_guard lock(state_->session->mutex);
        until = state_->lastFrame + std::chrono::milliseconds(state_->topology->settleMs);
    }
    std::this_thread::sleep_until(until);
}
bool Matrix::isDebounced() const {
    std::lock_guard lock(state_->session->mutex);
    return std::chrono::steady_clock::now() >= state_->lastFrame + std::chrono::milliseconds(state_->topology->settleMs);
}

std::vector<std::vector<std::string>> Matrix::nets() const {
    std::lock_guard lock(state_->session->mutex);
    std::vector<std::vector<std::string>> out;
    for (const auto &net : core::nets(current(*state_).closed)) {
        std::vector<std::string> names;
        names.reserve(net.size());
        for (const auto &c : net) names.push_back(state_->layout->name(c));
        out.push_back(std::move(names));
    }
    return out;
}

std::vector<Crosspoint> Matrix::closed() const {
    std::lock_guard lock(state_->session->mutex);
    const auto s = current(*state_);
    return {s.closed.begin(), s.closed.end()};
}

std::vector<Path> Matrix::paths() const {
    std::lock_guard lock(state_->session->mutex);
    std::vector<Path> out;
    for (const auto &p : current(*state_).paths) out.push_back(toPublic(*state_->layout, p));
    return out;
}

std::vector<Wear> Matrix::wear(size_t top) const {
    std::lock_guard lock(state_->session->mutex);
    std::vector<Wear> out;
    for (const auto &w : state_->session->record->wear(resource(), top))
        out.push_back({w.crosspoint, rowName(w.crosspoint.row), columnName(w.crosspoint.column), w.closures});
    return out;
}

std::vector<Event> Matrix::events(size_t last) const {
    std::lock_guard lock(state_->session->mutex);
    return state_->session->record->events(resource(), last);
}

// ---- Session ---------------------------------------------------------------

Session::Session(const std::string &topologyFile, SessionOptions options)
    : Session(Topology::load(topologyFile.empty() ? Topology::defaultPath() : topologyFile), std::move(options)) {}

Session::Session(Topology topology, SessionOptions options) : state_(std::make_unique<SessionState>()) {
    SessionState &s = *state_;
    s.topology = std::move(topology);
    s.options = std::move(options);
    if (!s.options.opener) s.options.opener = libraryOpener();
    if (s.options.record.empty()) s.options.record = defaultRecordPath();
    if (s.options.program.empty()) s.options.program = programName();
    s.record = std::make_unique<Record>(s.options.record, s.options.busyTimeout, s.options.program);
    for (const auto &name : s.options.chassis)
        if (!s.topology.findChassis(name))
            throw Error(ErrorKind::NotFound, "no chassis '" + name + "' in " + s.topology.file);
    std::vector<const ChassisTopology *> opened;
    std::vector<std::string> resources;
    for (const auto &c : s.topology.chassis)
        if (s.options.chassis.empty() ||
            std::find(s.options.chassis.begin(), s.options.chassis.end(), c.name) != s.options.chassis.end()) {
            opened.push_back(&c);
            resources.push_back(c.resource);
        }
    auto backends = s.options.opener->open(resources);
    if (backends.size() != resources.size())
        throw Error(ErrorKind::Chassis, "the chassis opener returned " + std::to_string(backends.size()) +
                                            " chassis for " + std::to_string(resources.size()) + " resources");
    for (size_t i = 0; i < resources.size(); ++i) {
        auto m = std::make_unique<MatrixState>();
        m->session = &s;
        m->topology = opened[i];
        m->backend = std::move(backends[i]);
        m->geometry = m->backend->geometry();
        m->layout = std::make_unique<core::Layout>(*m->topology, m->geometry, legsOn(s.topology, m->topology->name));
        m->facade.reset(new Matrix(m.get()));  // NOLINT(cppcoreguidelines-owning-memory): private constructor
        s.matrices.push_back(std::move(m));
    }
}

Session::~Session() = default;
Session::Session(Session &&) noexcept = default;
Session &Session::operator=(Session &&) noexcept = default;

const Topology &Session::topology() const { return state_->topology; }
Matrix &Session::matrix(std::string_view chassis) { return *only(*state_, chassis).facade; }

std::vector<std::string> Session::chassisNames() const {
    std::vector<std::string> out;
    for (const auto &m : state_->matrices) out.push_back(m->topology->name);
    return out;
}

std::vector<Transaction> Session::route(std::string_view name) {
    return routeAcross(*state_, name, Change::Kind::RouteOn, false);
}
std::vector<Transaction> Session::routeOff(std::string_view name) {
    return routeAcross(*state_, name, Change::Kind::RouteOff, false);
}
std::vector<Transaction> Session::routeOnly(std::string_view name) {
    return routeAcross(*state_, name, Change::Kind::RouteOnly, false);
}
std::vector<Transaction> Session::dryRunRoute(std::string_view name, Change::Kind kind) const {
    return routeAcross(*state_, name, kind, true);
}

const std::string &Session::recordPath() const { return state_->options.record; }

std::string Session::defaultRecordPath() { return stateFolder() + "/switching.sqlite3"; }

}  // namespace korvax::switching
