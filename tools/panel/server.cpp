#include "server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "switching/json_shapes.h"
#include "web_assets.h"

namespace korvax::panel {
namespace {

using namespace korvax::switching;
using json = shapes::json;

// Bounds of what a request may ask for: a body the size of a page of
// crosspoints, a list no chassis needs in one go, a shallow JSON text.
constexpr size_t kMaxBody = 64 * 1024;
constexpr size_t kMaxCrosspoints = 1024;
constexpr int kMaxDepth = 8;
// Open event streams; each holds one worker thread of the server.
constexpr int kMaxStreams = 16;
constexpr int kWorkerThreads = kMaxStreams + 8;
// How often the record is looked at for changes made by other processes.
constexpr std::chrono::milliseconds kPollInterval{250};

// A failure answered with an HTTP status and {"error": {...}}.
struct HttpError {
    int status;
    json error;
};

HttpError httpError(int status, const std::string &message, const std::string &kind = "invalid") {
    return {status, {{"message", message}, {"kind", kind}}};
}

int statusOf(const Error &e) {
    switch (e.kind()) {
    case ErrorKind::Refused:
        // No path can exist for an unknown channel or a row the chassis
        // cannot switch: the request was wrong, no rule refused it.
        return e.reason() == Answer::Unsupported ? 400 : 409;
    case ErrorKind::NotFound: return 404;
    case ErrorKind::Invalid: return 400;
    case ErrorKind::Chassis: return 502;
    case ErrorKind::Record: return 503;
    case ErrorKind::Topology: return 500;
    }
    return 500;
}

void answer(httplib::Response &res, int status, const json &body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

// ---- events ------------------------------------------------------------

// The changes the record showed, for every open event stream.
class Broadcaster {
public:
    uint64_t current() {
        const std::lock_guard lock(mutex_);
        return sequence_;
    }
    void publish(std::string data) {
        {
            const std::lock_guard lock(mutex_);
            recent_.emplace_back(++sequence_, std::move(data));
            while (recent_.size() > 64) recent_.pop_front();
        }
        changed_.notify_all();
    }
    // The messages after `after` (waiting up to `timeout` for one); false
    // once the server stops.
    bool wait(uint64_t &after, std::vector<std::string> &out, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return stopped_ || sequence_ > after; });
        if (stopped_) return false;
        for (const auto &m : recent_)
            if (m.first > after) out.push_back(m.second);
        after = sequence_;
        return true;
    }
    void stop() {
        {
            const std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
    }
    bool stopped() {
        const std::lock_guard lock(mutex_);
        return stopped_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t sequence_ = 0;
    std::deque<std::pair<uint64_t, std::string>> recent_;
    bool stopped_ = false;
};

// ---- request bodies ----------------------------------------------------

json parseBody(const std::string &body) {
    if (jsonDepth(body) > kMaxDepth)
        throw httpError(400, "the JSON body is nested deeper than " + std::to_string(kMaxDepth) + " levels");
    json j;
    try {
        j = json::parse(body);
    } catch (const json::parse_error &e) {
        throw httpError(400, std::string("malformed JSON: ") + e.what());
    }
    if (!j.is_object()) throw httpError(400, "the body is a JSON object");
    return j;
}

void onlyKeys(const json &j, std::initializer_list<std::string_view> keys) {
    for (auto it = j.begin(); it != j.end(); ++it)
        if (std::find(keys.begin(), keys.end(), it.key()) == keys.end()) {
            std::string known;
            for (const auto k : keys) known += (known.empty() ? "" : ", ") + std::string(k);
            throw httpError(400, "unknown key '" + it.key() + "' (known: " + known + ")");
        }
}

bool flag(const json &j, const char *key, bool fallback) {
    if (!j.contains(key)) return fallback;
    if (!j[key].is_boolean()) throw httpError(400, std::string(key) + " is true or false");
    return j[key].get<bool>();
}

std::string channel(const json &j, const char *key) {
    if (!j.contains(key) || !j[key].is_string() || j[key].get<std::string>().empty())
        throw httpError(400, std::string(key) + " wants a channel name (e.g. \"DMM_HI\", \"R3\", \"C17\")");
    return j[key].get<std::string>();
}

}  // namespace

// ---- the server ----------------------------------------------------------

struct Server::State {
    Session &session;
    std::vector<ChassisInfo> chassis;
    ServerOptions options;
    int port = 0;
    httplib::Server http;
    Broadcaster broadcaster;
    std::atomic<int> streams{0};

    std::mutex pollMutex;
    std::condition_variable pollWake;
    bool stopping = false;
    std::thread poller;

    State(Session &s, std::vector<ChassisInfo> c, ServerOptions o)
        : session(s), chassis(std::move(c)), options(std::move(o)) {}

    const ChassisInfo &info(const std::string &name) const {
        for (const auto &c : chassis)
            if (c.name == name) return c;
        throw httpError(404, "no chassis '" + name + "' (GET /api/chassis lists them)", "not-found");
    }

    // The routes and groups of the topology with what they join.
    json routeList(const std::string &onlyChassis, const std::vector<Path> *paths) const {
        const Topology &t = session.topology();
        auto legOn = [&](const RouteLeg &l) {
            if (!paths) return false;
            return std::any_of(paths->begin(), paths->end(), [&](const Path &p) {
                return (p.a == l.a && p.b == l.b) || (p.a == l.b && p.b == l.a);
            });
        };
        json out = json::array();
        for (const Route &r : t.routes) {
            json legs = json::array();
            std::set<std::string> reached;
            bool on = true, here = false;
            for (const RouteLeg &l : r.legs) {
                legs.push_back(l.chassis + "/" + l.a + ":" + l.b);
                reached.insert(l.chassis);
                if (l.chassis == onlyChassis) {
                    here = true;
                    on = on && legOn(l);
                }
            }
            if (!onlyChassis.empty() && !here) continue;
            json entry = {{"name", r.name}, {"kind", "route"}, {"legs", legs}, {"chassis", reached}};
            if (paths) entry["on"] = on;
            out.push_back(entry);
        }
        for (const Group &g : t.groups) {
            std::set<std::string> reached;
            bool on = true, here = false;
            for (const auto &name : g.routes)
                if (const Route *r = t.findRoute(name))
                    for (const RouteLeg &l : r->legs) {
                        reached.insert(l.chassis);
                        if (l.chassis == onlyChassis) {
                            here = true;
                            on = on && legOn(l);
                        }
                    }
            if (!onlyChassis.empty() && !here) continue;
            json entry = {{"name", g.name}, {"kind", "group"}, {"routes", g.routes}, {"chassis", reached}};
            if (paths) entry["on"] = on;
            out.push_back(entry);
        }
        return out;
    }

    json summary(const ChassisInfo &c) {
        const Matrix &m = session.matrix(c.name);
        const ChassisGeometry &g = m.geometry();
        return {{"name", c.name},
                {"resource", c.resource},
                {"model", c.model},
                {"serial", c.serial},
                {"firmware", c.firmware},
                {"card_type", c.cardType},
                {"cards_fitted", g.cardsFitted},
                {"rows", g.switchableRows},
                {"columns", g.usableColumns()}};
    }

    json detail(const ChassisInfo &c) {
        Matrix &m = session.matrix(c.name);
        const ChassisGeometry &g = m.geometry();
        const ChassisTopology &t = m.topology();
        json j = summary(c);
        json cards = json::array();
        for (const Card &card : c.cards)
            cards.push_back({{"position", card.position}, {"first_column", card.firstColumn}, {"last_column", card.lastColumn}});
        j["cards"] = cards;
        j["slots_present"] = c.slotsPresent;
        j["geometry"] = {{"rows", g.switchableRows},          {"card_rows", g.rows},
                         {"columns", g.usableColumns()},       {"card_columns", g.cardColumns},
                         {"positions", g.positions},           {"cards_fitted", g.cardsFitted},
                         {"closure_limit", g.closureLimit}};
        json rows = json::object(), columns = json::object();
        for (const auto &[n, name] : t.rows) rows[std::to_string(n)] = name;
        for (const auto &[n, name] : t.columns) columns[std::to_string(n)] = name;
        j["row_names"] = rows;
        j["column_names"] = columns;
        j["configuration"] = t.configuration;
        j["sources"] = t.sources;
        j["exclusions"] = t.exclusions;
        j["settle_ms"] = t.settleMs;
        const std::vector<Path> paths = m.paths();
        json ps = json::array();
        for (const Path &p : paths) ps.push_back(shapes::path(p));
        j["closed"] = shapes::crosspoints(m.closed());
        j["paths"] = ps;
        j["nets"] = m.nets();
        j["routes"] = routeList(c.name, &paths);
        j["wear"] = shapes::wear(m.wear(0));
        j["events"] = shapes::events(m.events(50));
        return j;
    }

    std::vector<Crosspoint> crosspointList(const json &body, const char *key, const Matrix &m) const {
        if (!body.contains(key)) return {};
        const json &list = body[key];
        if (!list.is_array()) throw httpError(400, std::string(key) + " is an array of \"ROW!COLUMN\" texts");
        if (list.size() > kMaxCrosspoints)
            throw httpError(400, "at most " + std::to_string(kMaxCrosspoints) + " crosspoints in one request");
        const ChassisGeometry &g = m.geometry();
        std::vector<Crosspoint> out = shapes::crosspointList(list);
        for (const Crosspoint &x : out) {
            if (x.row > g.switchableRows)
                throw httpError(400, "row " + std::to_string(x.row) + " cannot be switched on " + m.name() + " (rows 1-" +
                                         std::to_string(g.switchableRows) + ")");
            if (x.column > g.usableColumns())
                throw httpError(400, "column " + std::to_string(x.column) + " is not on " + m.name() +
                                         " (columns 1-" + std::to_string(g.usableColumns()) + " of the cards fitted)");
        }
        return out;
    }

    json switchChassis(const std::string &name, const std::string &action, const json &body) {
        Matrix &m = session.matrix(info(name).name);
        std::vector<Change> changes;
        bool dry = false;
        if (action == "connect") {
            onlyKeys(body, {"a", "b", "dry_run"});
            changes.push_back(Change::connect(channel(body, "a"), channel(body, "b")));
            dry = flag(body, "dry_run", false);
        } else if (action == "disconnect") {
            onlyKeys(body, {"a", "b", "all", "dry_run"});
            dry = flag(body, "dry_run", false);
            if (flag(body, "all", false)) {
                if (body.contains("a") || body.contains("b")) throw httpError(400, "all takes no channels");
                changes.push_back(Change::disconnectAll());
            } else {
                changes.push_back(Change::disconnect(channel(body, "a"), channel(body, "b")));
            }
        } else {
            onlyKeys(body, {"close", "open", "dry_run"});
            dry = flag(body, "dry_run", false);
            const auto close = crosspointList(body, "close", m), open = crosspointList(body, "open", m);
            if (close.size() + open.size() > kMaxCrosspoints)
                throw httpError(400, "at most " + std::to_string(kMaxCrosspoints) + " crosspoints in one request");
            if (close.empty() && open.empty()) throw httpError(400, "nothing to switch: give \"close\" and/or \"open\"");
            if (!open.empty()) changes.push_back(Change::open(open));
            if (!close.empty()) changes.push_back(Change::close(close));
        }
        json j = shapes::transaction(dry ? m.dryRun(changes) : m.apply(changes));
        j["dry_run"] = dry;
        return j;
    }

    json switchRoute(const std::string &name, const json &body) {
        onlyKeys(body, {"on", "only", "dry_run"});
        if (!body.contains("on")) throw httpError(400, "on is needed: true switches the route on, false off");
        const bool on = flag(body, "on", true), only = flag(body, "only", false), dry = flag(body, "dry_run", false);
        if (only && !on) throw httpError(400, "only goes with on: true");
        const Topology &t = session.topology();
        if (!t.findRoute(name) && !t.findGroup(name))
            throw httpError(404, "no route or group '" + name + "' in " + t.file, "not-found");
        const Change::Kind kind = !on ? Change::Kind::RouteOff : only ? Change::Kind::RouteOnly : Change::Kind::RouteOn;
        const auto ts = dry                               ? session.dryRunRoute(name, kind)
                        : kind == Change::Kind::RouteOff  ? session.routeOff(name)
                        : kind == Change::Kind::RouteOnly ? session.routeOnly(name)
                                                          : session.route(name);
        return {{"route", name}, {"on", on}, {"only", only}, {"dry_run", dry}, {"transactions", shapes::transactions(ts)}};
    }

    // Runs a handler, answering its failures as the API documents them.
    template <class F>
    void guarded(httplib::Response &res, F &&body) {
        try {
            answer(res, 200, body());
        } catch (const HttpError &e) {
            answer(res, e.status, {{"error", e.error}});
        } catch (const Error &e) {
            answer(res, statusOf(e), {{"error", shapes::error(e)}});
        } catch (const std::exception &e) {
            answer(res, 500, {{"error", {{"message", e.what()}, {"kind", "internal"}}}});
        }
    }

    // What every request must satisfy before it is routed; anything answered
    // here never reaches the engine.
    httplib::Server::HandlerResponse screen(const httplib::Request &req, httplib::Response &res) {
        auto refuse = [&](int status, const std::string &message, const std::string &kind) {
            answer(res, status, {{"error", {{"message", message}, {"kind", kind}}}});
            res.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        };
        if (isLoopbackHost(options.listen.host) && !isLoopbackHostHeader(req.get_header_value("Host"), port))
            return refuse(403,
                          "this panel answers only to http://127.0.0.1:" + std::to_string(port) +
                              "/ (or localhost, [::1]); Host was '" + req.get_header_value("Host") + "'",
                          "forbidden");
        const bool api = req.path.starts_with("/api/");
        const bool head = req.method == "HEAD";
        if (!api) {
            if (req.method != "GET" && !head) {
                res.set_header("Allow", "GET");
                return refuse(405, "the page is read with GET", "method");
            }
            return httplib::Server::HandlerResponse::Unhandled;
        }
        if (!options.token.empty() && !bearerMatches(req.get_header_value("Authorization"), options.token)) {
            res.set_header("WWW-Authenticate", "Bearer realm=\"korvax-panel\"");
            return refuse(401, "this panel needs its token: Authorization: Bearer TOKEN", "unauthorized");
        }
        // /api/chassis/NAME/ACTION and /api/routes/NAME change relays.
        const std::string_view path = req.path;
        const bool changes = (path.starts_with("/api/routes/") && path.size() > 12 &&
                              path.find('/', 12) == std::string_view::npos) ||
                             (path.starts_with("/api/chassis/") && (path.ends_with("/connect") ||
                                                                    path.ends_with("/disconnect") ||
                                                                    path.ends_with("/crosspoints")));
        if (changes && req.method != "POST") {
            res.set_header("Allow", "POST");
            return refuse(405, "relays are switched with POST only", "method");
        }
        if (!changes && req.method != "GET" && !head) {
            res.set_header("Allow", "GET");
            return refuse(405, req.path + " is read with GET", "method");
        }
        if (!changes) return httplib::Server::HandlerResponse::Unhandled;
        // A browser says where a request comes from; only the panel's own
        // page may switch. Tools that send no Origin (curl) are let through.
        const std::string own = "http://" + req.get_header_value("Host");
        if (req.has_header("Origin")) {
            std::string origin = req.get_header_value("Origin");
            std::transform(origin.begin(), origin.end(), origin.begin(),
                           [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
            std::string mine = own;
            std::transform(mine.begin(), mine.end(), mine.begin(),
                           [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
            if (origin != mine)
                return refuse(403, "requests from " + req.get_header_value("Origin") + " cannot switch this panel's chassis",
                              "forbidden");
        }
        const std::string site = req.get_header_value("Sec-Fetch-Site");
        if (site == "cross-site" || site == "same-site")
            return refuse(403, "requests from another site cannot switch this panel's chassis", "forbidden");
        if (!isJsonContentType(req.get_header_value("Content-Type")))
            return refuse(415, "the body is JSON: Content-Type: application/json", "media-type");
        if (req.has_header("Transfer-Encoding") || !req.has_header("Content-Length"))
            return refuse(411, "the body needs a Content-Length", "length");
        const std::string length = req.get_header_value("Content-Length");
        const bool digits = !length.empty() && length.size() <= 12 &&
                            std::all_of(length.begin(), length.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
        if (!digits) return refuse(400, "Content-Length is a number of bytes", "invalid");
        if (std::stoull(length) > kMaxBody)
            return refuse(413, "the body is larger than " + std::to_string(kMaxBody / 1024) + " KiB", "too-large");
        return httplib::Server::HandlerResponse::Unhandled;
    }

    void routes() {
        http.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) { return screen(req, res); });
        http.Get("/api/chassis", [this](const httplib::Request &, httplib::Response &res) {
            guarded(res, [&] {
                json list = json::array();
                for (const auto &c : chassis) list.push_back(summary(c));
                return json{{"chassis", list},
                            {"routes", routeList({}, nullptr)},
                            {"topology", session.topology().file},
                            {"token", !options.token.empty()}};
            });
        });
        http.Get(R"(/api/chassis/([^/]+))", [this](const httplib::Request &req, httplib::Response &res) {
            guarded(res, [&] { return detail(info(req.matches[1])); });
        });
        http.Post(R"(/api/chassis/([^/]+)/(connect|disconnect|crosspoints))",
                  [this](const httplib::Request &req, httplib::Response &res) {
                      guarded(res, [&] { return switchChassis(req.matches[1], req.matches[2], parseBody(req.body)); });
                  });
        http.Post(R"(/api/routes/([^/]+))", [this](const httplib::Request &req, httplib::Response &res) {
            guarded(res, [&] { return switchRoute(req.matches[1], parseBody(req.body)); });
        });
        http.Get("/api/events", [this](const httplib::Request &, httplib::Response &res) { events(res); });
        for (const WebAsset &a : webAssets()) {
            const std::string path(a.path);
            auto serve = [a](const httplib::Request &, httplib::Response &res) {
                res.set_content(std::string(a.body), std::string(a.type));
            };
            http.Get(path == "/index.html" ? "/" : path, serve);
            if (path == "/index.html") http.Get(path, serve);
        }
        // Anything else: a JSON 404 for the API, a plain one for the rest.
        auto missing = [](const httplib::Request &req, httplib::Response &res) {
            answer(res, 404, {{"error", {{"message", "nothing at " + req.path}, {"kind", "not-found"}}}});
        };
        http.Get(".*", missing);
        http.Post(".*", missing);
    }

    // Server-sent events: "change" with {"chassis", "closed", "event"} each
    // time the record shows a chassis changed.
    void events(httplib::Response &res) {
        if (++streams > kMaxStreams) {
            --streams;
            answer(res, 503, {{"error", {{"message", "too many open event streams"}, {"kind", "busy"}}}});
            return;
        }
        res.set_header("Cache-Control", "no-store");
        auto cursor = std::make_shared<uint64_t>(broadcaster.current());
        auto greeted = std::make_shared<bool>(false);
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, cursor, greeted](size_t, httplib::DataSink &sink) {
                std::string out;
                if (!*greeted) {
                    *greeted = true;
                    out = "retry: 1000\nevent: hello\ndata: {}\n\n";
                    return sink.write(out.data(), out.size());
                }
                std::vector<std::string> messages;
                if (!broadcaster.wait(*cursor, messages, std::chrono::seconds(5))) {
                    sink.done();
                    return true;
                }
                if (messages.empty()) out = ": still here\n\n";
                for (const auto &m : messages) out += "event: change\ndata: " + m + "\n\n";
                return sink.write(out.data(), out.size());
            },
            [this](bool) { --streams; });
    }

    // Watches the record: a change by any process (this one included) is
    // pushed to every open page.
    void poll() {
        std::map<std::string, std::string> seen;
        std::unique_lock lock(pollMutex);
        bool first = true;
        while (!stopping) {
            lock.unlock();
            for (const auto &c : chassis) {
                try {
                    const Matrix &m = session.matrix(c.name);
                    const auto last = m.events(1);
                    const json closed = shapes::crosspoints(m.closed());
                    const json event = last.empty() ? json(nullptr) : shapes::events(last)[0];
                    const std::string signature = closed.dump() + (last.empty() ? "" : std::to_string(last.back().id));
                    if (seen[c.name] == signature) continue;
                    seen[c.name] = signature;
                    if (!first) broadcaster.publish(json{{"chassis", c.name}, {"closed", closed}, {"event", event}}.dump());
                } catch (const Error &) {
                    // The record busy or the chassis away: looked at again next time.
                }
            }
            first = false;
            lock.lock();
            pollWake.wait_for(lock, kPollInterval, [&] { return stopping; });
        }
    }
};

Server::Server(Session &session, std::vector<ChassisInfo> chassis, ServerOptions options)
    : state_(std::make_unique<State>(session, std::move(chassis), std::move(options))) {
    State &s = *state_;
    // The thread pool is handed over to the server, which deletes it.
    s.http.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };  // NOLINT(cppcoreguidelines-owning-memory)
    s.http.set_payload_max_length(kMaxBody);
    s.http.set_default_headers({
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
         "frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
    });
    s.routes();
}

Server::~Server() {
    stop();
    if (state_->poller.joinable()) state_->poller.join();
}

int Server::bind() {
    State &s = *state_;
    const ListenAddress &l = s.options.listen;
    // "localhost" could resolve to another address than loopback's; bind the
    // loopback address itself.
    const std::string host = l.host == "localhost" ? "127.0.0.1" : l.host;
    if (l.port == 0) {
        s.port = s.http.bind_to_any_port(host);
        if (s.port <= 0) throw std::runtime_error("cannot listen on " + host + " (any port)");
    } else {
        if (!s.http.bind_to_port(host, l.port))
            throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(l.port) +
                                     " (in use, or not an address of this machine)");
        s.port = l.port;
    }
    return s.port;
}

void Server::run() {
    State &s = *state_;
    s.poller = std::thread([&s] { s.poll(); });
    s.http.listen_after_bind();
}

void Server::stop() {
    State &s = *state_;
    {
        const std::lock_guard lock(s.pollMutex);
        s.stopping = true;
    }
    s.pollWake.notify_all();
    s.broadcaster.stop();
    s.http.stop();
}

}  // namespace korvax::panel
