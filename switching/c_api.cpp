// The C interface of the switching engine: opaque handles over Session and
// Matrix, statuses, and a JSON result per thread.
#include "korvax/switching.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sstream>

#include "json_shapes.h"
#include "korvax/switching.hpp"

struct KORVAXSW_Matrix {
    korvax::switching::Matrix *matrix;
};
struct KORVAXSW_Session {
    explicit KORVAXSW_Session(korvax::switching::Session s) : session(std::move(s)) {
        for (const auto &name : session.chassisNames())
            matrices.push_back(std::make_unique<KORVAXSW_Matrix>(KORVAXSW_Matrix{&session.matrix(name)}));
    }
    korvax::switching::Session session;
    std::vector<std::unique_ptr<KORVAXSW_Matrix>> matrices;
};

namespace {

using namespace korvax::switching;
using shapes::json;

struct ThreadResult {
    std::string text;
    std::string error;
    int32_t answer = -1;
};
thread_local ThreadResult gResult;

// Runs one call: its result (or its failure) becomes the thread's result.
template <class F>
int32_t guarded(F &&body) {
    gResult = {};
    try {
        gResult.text = body().dump();
        return KORVAXSW_OK;
    } catch (const Error &e) {
        gResult.error = e.what();
        if (e.kind() == ErrorKind::Refused && e.reason()) gResult.answer = static_cast<int32_t>(*e.reason());
        gResult.text = json{{"error", shapes::error(e)}}.dump();
        return shapes::status(e);
    } catch (const json::exception &e) {
        gResult.error = std::string("malformed JSON: ") + e.what();
    } catch (const std::bad_alloc &) {
        gResult.error = "out of memory";
    } catch (const std::exception &e) {
        gResult.error = e.what();
    }
    gResult.text = json{{"error",
                         {{"code", KORVAXSW_INVALID},
                          {"name", shapes::statusName(KORVAXSW_INVALID)},
                          {"message", gResult.error},
                          {"kind", "invalid"}}}}
                       .dump();
    return KORVAXSW_INVALID;
}

const char *need(const char *text, const char *what) {
    if (text == nullptr) throw Error(ErrorKind::Invalid, std::string(what) + " is null");
    return text;
}

Matrix &matrixOf(KORVAXSW_Matrix *m) {
    if (m == nullptr) throw Error(ErrorKind::Invalid, "the matrix handle is null");
    return *m->matrix;
}

Session &sessionOf(KORVAXSW_Session *s) {
    if (s == nullptr) throw Error(ErrorKind::Invalid, "the session handle is null");
    return s->session;
}

int64_t copyOut(const std::string &text, char *buffer, uint64_t size) {
    if (buffer != nullptr && size > 0) {
        const size_t n = std::min<uint64_t>(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int64_t>(text.size());
}

Change::Kind routeKind(int32_t mode) {
    switch (mode) {
    case KORVAXSW_ROUTE_ON: return Change::Kind::RouteOn;
    case KORVAXSW_ROUTE_OFF: return Change::Kind::RouteOff;
    case KORVAXSW_ROUTE_ONLY: return Change::Kind::RouteOnly;
    default: throw Error(ErrorKind::Invalid, "route mode " + std::to_string(mode) + " (0 on, 1 off, 2 only)");
    }
}

json info(const Matrix &m) {
    const ChassisGeometry &g = m.geometry();
    json rows = json::object(), columns = json::object();
    for (const auto &[n, name] : m.topology().rows) rows[std::to_string(n)] = name;
    for (const auto &[n, name] : m.topology().columns) columns[std::to_string(n)] = name;
    return {{"name", m.name()},
            {"resource", m.resource()},
            {"model", g.model},
            {"rows", g.switchableRows},
            {"columns", g.usableColumns()},
            {"card_columns", g.cardColumns},
            {"cards", g.cardsFitted},
            {"closure_limit", g.closureLimit},
            {"settle_ms", m.topology().settleMs},
            {"row_names", rows},
            {"column_names", columns},
            {"configuration", m.topology().configuration},
            {"sources", m.topology().sources},
            {"exclusions", m.topology().exclusions},
            {"routes", m.routes()}};
}

}  // namespace

extern "C" {

int32_t KORVAXSW_OpenSession(const char *topology, const char *record, const char *program,
                             KORVAXSW_Session **session) {
    return guarded([&] {
        if (session == nullptr) throw Error(ErrorKind::Invalid, "the session pointer is null");
        *session = nullptr;
        SessionOptions options;
        if (record != nullptr) options.record = record;
        if (program != nullptr) options.program = program;
        auto s = std::make_unique<KORVAXSW_Session>(Session(topology != nullptr ? topology : "", std::move(options)));
        *session = s.release();
        return json{{"chassis", (*session)->session.chassisNames()}};
    });
}

void KORVAXSW_CloseSession(KORVAXSW_Session *session) {
    // The C caller hands back what KORVAXSW_OpenSession() released.
    const std::unique_ptr<KORVAXSW_Session> owned(session);
}

int32_t KORVAXSW_GetMatrix(KORVAXSW_Session *session, const char *chassis, KORVAXSW_Matrix **matrix) {
    return guarded([&] {
        if (matrix == nullptr) throw Error(ErrorKind::Invalid, "the matrix pointer is null");
        Matrix &m = sessionOf(session).matrix(chassis != nullptr ? chassis : "");
        for (const auto &h : session->matrices)
            if (h->matrix == &m) *matrix = h.get();
        return info(m);
    });
}

int32_t KORVAXSW_Connect(KORVAXSW_Matrix *matrix, const char *a, const char *b) {
    return guarded([&] { return shapes::transaction(matrixOf(matrix).connect(need(a, "a"), need(b, "b"))); });
}

int32_t KORVAXSW_Disconnect(KORVAXSW_Matrix *matrix, const char *a, const char *b) {
    return guarded([&] { return shapes::transaction(matrixOf(matrix).disconnect(need(a, "a"), need(b, "b"))); });
}

int32_t KORVAXSW_DisconnectAll(KORVAXSW_Matrix *matrix) {
    return guarded([&] { return shapes::transaction(matrixOf(matrix).disconnectAll()); });
}

int32_t KORVAXSW_CanConnect(KORVAXSW_Matrix *matrix, const char *a, const char *b, int32_t *answer) {
    return guarded([&] {
        const Verdict v = matrixOf(matrix).canConnect(need(a, "a"), need(b, "b"));
        if (answer != nullptr) *answer = static_cast<int32_t>(v.answer);
        return shapes::verdict(v);
    });
}

int32_t KORVAXSW_GetPath(KORVAXSW_Matrix *matrix, const char *a, const char *b) {
    return guarded([&] { return shapes::path(matrixOf(matrix).path(need(a, "a"), need(b, "b"))); });
}

int32_t KORVAXSW_SetPath(KORVAXSW_Matrix *matrix, const char *a, const char *b, const char *crosspoints) {
    return guarded([&] {
        std::vector<Crosspoint> xs;
        std::stringstream in(need(crosspoints, "crosspoints"));
        for (std::string item; std::getline(in, item, ',');) {
            item.erase(0, item.find_first_not_of(' '));
            item.erase(item.find_last_not_of(' ') + 1);
            const auto x = parseCrosspoint(item);
            if (!x) throw Error(ErrorKind::Invalid, "'" + item + "' is not a crosspoint ROW!COLUMN");
            xs.push_back(*x);
        }
        return shapes::transaction(matrixOf(matrix).setPath(need(a, "a"), need(b, "b"), xs));
    });
}

int32_t KORVAXSW_Route(KORVAXSW_Session *session, const char *name, int32_t mode) {
    return guarded([&] {
        Session &s = sessionOf(session);
        const auto kind = routeKind(mode);
        need(name, "the route name");
        return shapes::transactions(kind == Change::Kind::RouteOn    ? s.route(name)
                                    : kind == Change::Kind::RouteOff ? s.routeOff(name)
                                                                     : s.routeOnly(name));
    });
}

int32_t KORVAXSW_DryRunRoute(KORVAXSW_Session *session, const char *name, int32_t mode) {
    return guarded([&] { return shapes::transactions(sessionOf(session).dryRunRoute(need(name, "the route name"), routeKind(mode))); });
}

int32_t KORVAXSW_Apply(KORVAXSW_Matrix *matrix, const char *changes) {
    return guarded([&] {
        const auto list = shapes::changes(json::parse(need(changes, "changes")));
        return shapes::transaction(matrixOf(matrix).apply(list));
    });
}

int32_t KORVAXSW_DryRun(KORVAXSW_Matrix *matrix, const char *changes) {
    return guarded([&] {
        const auto list = shapes::changes(json::parse(need(changes, "changes")));
        return shapes::transaction(matrixOf(matrix).dryRun(list));
    });
}

int32_t KORVAXSW_WaitForDebounce(KORVAXSW_Matrix *matrix) {
    return guarded([&] {
        matrixOf(matrix).waitForDebounce();
        return json{{"debounced", true}};
    });
}

int32_t KORVAXSW_IsDebounced(KORVAXSW_Matrix *matrix) {
    bool debounced = false;
    const int32_t st = guarded([&] {
        debounced = matrixOf(matrix).isDebounced();
        return json{{"debounced", debounced}};
    });
    return st < 0 ? st : (debounced ? 1 : 0);
}

int32_t KORVAXSW_Query(KORVAXSW_Matrix *matrix, const char *what, int64_t count) {
    return guarded([&]() -> json {
        const Matrix &m = matrixOf(matrix);
        const std::string w = need(what, "what");
        const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
        if (w == "closed") return shapes::crosspoints(m.closed());
        if (w == "nets") return m.nets();
        if (w == "paths") {
            json a = json::array();
            for (const Path &p : m.paths()) a.push_back(shapes::path(p));
            return a;
        }
        if (w == "wear") return shapes::wear(m.wear(n));
        if (w == "events") return shapes::events(m.events(n == 0 ? 50 : n));
        if (w == "info") return info(m);
        throw Error(ErrorKind::Invalid, "unknown query '" + w + "' (closed, nets, paths, wear, events, info)");
    });
}

int32_t KORVAXSW_SessionInfo(KORVAXSW_Session *session) {
    return guarded([&] {
        Session &s = sessionOf(session);
        json routes = json::array(), groups = json::array();
        for (const Route &r : s.topology().routes) {
            json legs = json::array();
            for (const RouteLeg &l : r.legs) legs.push_back({{"chassis", l.chassis}, {"a", l.a}, {"b", l.b}});
            routes.push_back({{"name", r.name}, {"legs", legs}});
        }
        for (const Group &g : s.topology().groups) groups.push_back({{"name", g.name}, {"routes", g.routes}});
        return json{{"topology", s.topology().file},
                    {"record", s.recordPath()},
                    {"chassis", s.chassisNames()},
                    {"routes", routes},
                    {"groups", groups}};
    });
}

void KORVAXSW_SetDiscoveryHook(KORVAXSW_DiscoveryHook hook, void *context) {
    if (hook == nullptr) {
        setDiscoveryHook({});
        return;
    }
    setDiscoveryHook([hook, context](const std::vector<std::string> &resources) {
        std::string joined;
        for (const auto &r : resources) joined += (joined.empty() ? "" : ";") + r;
        return hook(joined.c_str(), context);
    });
}

int32_t KORVAXSW_HeldResources(void) {
    return guarded([] { return json(heldResources()); });
}

int32_t KORVAXSW_Reattach(void) {
    return guarded([] {
        reattach();
        return json(heldResources());
    });
}

int64_t KORVAXSW_Result(char *buffer, uint64_t size) { return copyOut(gResult.text, buffer, size); }

int64_t KORVAXSW_LastError(char *buffer, uint64_t size) { return copyOut(gResult.error, buffer, size); }

int32_t KORVAXSW_LastAnswer(void) { return gResult.answer; }

}  // extern "C"
