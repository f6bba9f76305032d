// Built-in VISA library: the resource manager.
//
// It owns every VISA object (manager sessions, instrument sessions, find
// lists) and the declared simulated instruments, and it is the only code
// that knows which transport serves a resource. Objects live in one
// registry behind one mutex; each instrument session has a lock of its own,
// so a slow read on one session never holds up the others.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>

#include "visa/resource_expression.h"
#include "visa/resource_name.h"
#include "visa/simulated_transport.h"
#include "visa/simulation.h"
#include "visa/visa.h"

#define VISA_EXPORT extern "C" __attribute__((visibility("default")))

namespace korvax::visa {
namespace {

struct Declared {
    std::string name;       // as declared
    std::string standard;   // what viFindRsrc reports and matches
    std::string canonical;  // what viOpen compares
    std::shared_ptr<sim::Chassis> chassis;
};

struct Session {
    ViSession manager = VI_NULL;
    std::string name;
    std::mutex io;
    std::unique_ptr<Transport> transport;
};

struct FindList {
    ViSession manager = VI_NULL;
    std::vector<std::string> names;
    std::size_t next = 0;
};

struct Registry {
    std::mutex lock;
    ViObject nextObject = 0x1000;
    std::set<ViSession> managers;
    std::map<ViSession, std::shared_ptr<Session>> sessions;
    std::map<ViFindList, FindList> findLists;
    std::vector<Declared> declared;
    bool fileRead = false;
};

Registry &registry() {
    static Registry r;
    return r;
}

// Object ids are never 0 (VI_NULL) and not reused while the process runs.
ViObject newObject(Registry &r) {
    if (r.nextObject == 0) r.nextObject = 0x1000;
    return r.nextObject++;
}

// The status for an id that is not an object of the expected kind.
ViStatus wrongObject(const Registry &r, ViObject id) {
    const bool known = r.managers.count(id) || r.sessions.count(id) || r.findLists.count(id);
    return known ? VI_ERROR_NSUP_OPER : VI_ERROR_INV_OBJECT;
}

void copyName(ViChar desc[], const std::string &name) {
    const std::size_t n = std::min<std::size_t>(name.size(), VI_FIND_BUFLEN - 1);
    std::memcpy(desc, name.data(), n);
    desc[n] = '\0';
}

Declared *findDeclared(Registry &r, const std::string &canonical) {
    for (auto &d : r.declared)
        if (d.canonical == canonical) return &d;
    return nullptr;
}

void declareLocked(Registry &r, const std::string &rsrc, sim::Config config) {
    const auto standard = standardResourceName(rsrc);
    if (!standard) throw std::invalid_argument("\"" + rsrc + "\" is not a VISA resource string");
    const std::string canonical = *canonicalResourceName(*standard);
    auto chassis = std::make_shared<sim::Chassis>(std::move(config));
    if (Declared *d = findDeclared(r, canonical)) {
        d->name = rsrc;
        d->standard = *standard;
        d->chassis = std::move(chassis);
    } else {
        r.declared.push_back({rsrc, *standard, canonical, std::move(chassis)});
    }
}

// Declares the file's resources that are not declared yet. The registry
// lock is held by the caller.
int loadFileLocked(Registry &r, const std::string &path, bool quietIfMissing) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (!quietIfMissing)
            std::fprintf(stderr, "korvaxvisa: cannot read resource file %s\n", path.c_str());
        return -1;
    }
    std::stringstream text;
    text << in.rdbuf();
    const ParsedResourceFile parsed = parseResourceFile(text.str());
    for (const auto &p : parsed.problems)
        std::fprintf(stderr, "korvaxvisa: %s:%d: %s\n", path.c_str(), p.line, p.message.c_str());
    int declared = 0;
    for (const auto &res : parsed.resources) {
        if (findDeclared(r, *canonicalResourceName(res.name))) {
            std::fprintf(stderr,
                         "korvaxvisa: %s: %s is already declared; the file's section is not used\n",
                         path.c_str(), res.name.c_str());
            continue;
        }
        declareLocked(r, res.name, res.config);
        ++declared;
    }
    return declared;
}

// Closes an instrument session or find list of a manager, or the manager
// with everything opened under it.
void closeChildren(Registry &r, ViSession manager) {
    for (auto it = r.sessions.begin(); it != r.sessions.end();)
        it = it->second->manager == manager ? r.sessions.erase(it) : std::next(it);
    for (auto it = r.findLists.begin(); it != r.findLists.end();)
        it = it->second.manager == manager ? r.findLists.erase(it) : std::next(it);
}

std::shared_ptr<Session> sessionOf(ViSession vi, ViStatus &status) {
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    const auto it = r.sessions.find(vi);
    if (it == r.sessions.end()) {
        status = wrongObject(r, vi);
        return nullptr;
    }
    return it->second;
}

}  // namespace

void declareSimulated(const std::string &rsrc, sim::Config config) {
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    declareLocked(r, rsrc, std::move(config));
}

std::shared_ptr<sim::Chassis> simulated(const std::string &rsrc) {
    const auto canonical = canonicalResourceName(rsrc);
    if (!canonical) return nullptr;
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    const Declared *d = findDeclared(r, *canonical);
    return d ? d->chassis : nullptr;
}

void clearDeclared() {
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    r.declared.clear();
    r.fileRead = false;
}

std::vector<std::string> declaredResources() {
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    std::vector<std::string> names;
    for (const auto &d : r.declared) names.push_back(d.name);
    return names;
}

int loadResourceFile(const std::string &path) {
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    return loadFileLocked(r, path, false);
}

}  // namespace korvax::visa

using namespace korvax::visa;

VISA_EXPORT ViStatus viOpenDefaultRM(ViSession *vi) {
    if (!vi) return VI_ERROR_INV_PARAMETER;
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    if (!r.fileRead) {
        // A file named by the environment must be there; the default one
        // is optional.
        const bool named = std::getenv("KORVAX_VISA_RESOURCES") != nullptr;
        if (const std::string path = resourceFilePath(); !path.empty())
            loadFileLocked(r, path, !named);
        r.fileRead = true;
    }
    *vi = newObject(r);
    r.managers.insert(*vi);
    return VI_SUCCESS;
}

VISA_EXPORT ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViFindList *list,
                                ViUInt32 *retCnt, ViChar desc[]) {
    if (list) *list = VI_NULL;
    if (retCnt) *retCnt = 0;
    if (desc) desc[0] = '\0';
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    if (!r.managers.count(sesn)) return wrongObject(r, sesn);
    const auto pattern = expr ? ResourceExpression::compile(expr) : std::nullopt;
    if (!pattern) return VI_ERROR_INV_EXPR;

    // Searches see the standard spelling, as programs expect from any VISA:
    // "?*INSTR" finds a chassis declared as "GPIB0::7", and a serial port
    // declared in lower case is reported as ASRL.
    FindList found{sesn, {}, 1};
    for (const auto &d : r.declared)
        if (pattern->matches(d.standard)) found.names.push_back(d.standard);
    if (found.names.empty()) return VI_ERROR_RSRC_NFOUND;
    if (retCnt) *retCnt = static_cast<ViUInt32>(found.names.size());
    if (desc) copyName(desc, found.names.front());
    if (list) {
        *list = newObject(r);
        r.findLists[*list] = std::move(found);
    }
    return VI_SUCCESS;
}

VISA_EXPORT ViStatus viFindNext(ViFindList vi, ViChar desc[]) {
    if (desc) desc[0] = '\0';
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    const auto it = r.findLists.find(vi);
    if (it == r.findLists.end()) return wrongObject(r, vi);
    if (!desc) return VI_ERROR_USER_BUF;
    FindList &fl = it->second;
    if (fl.next >= fl.names.size()) return VI_ERROR_RSRC_NFOUND;
    copyName(desc, fl.names[fl.next++]);
    return VI_SUCCESS;
}

VISA_EXPORT ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32,
                            ViSession *vi) {
    if (vi) *vi = VI_NULL;
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    if (!r.managers.count(sesn)) return wrongObject(r, sesn);
    if (!vi) return VI_ERROR_INV_PARAMETER;
    if (mode & ~static_cast<ViAccessMode>(VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK | VI_LOAD_CONFIG))
        return VI_ERROR_INV_ACC_MODE;
    const auto canonical = name ? canonicalResourceName(name) : std::nullopt;
    if (!canonical) return VI_ERROR_INV_RSRC_NAME;
    const Declared *d = findDeclared(r, *canonical);
    if (!d) return VI_ERROR_RSRC_NFOUND;

    auto session = std::make_shared<Session>();
    session->manager = sesn;
    session->name = d->standard;
    session->transport =
        std::make_unique<SimulatedTransport>(d->chassis, isSerialResource(d->standard));
    *vi = newObject(r);
    r.sessions[*vi] = std::move(session);
    return VI_SUCCESS;
}

VISA_EXPORT ViStatus viClose(ViObject vi) {
    if (vi == VI_NULL) return VI_WARN_NULL_OBJECT;
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    if (r.managers.erase(vi)) {
        closeChildren(r, vi);
        return VI_SUCCESS;
    }
    if (r.sessions.erase(vi) || r.findLists.erase(vi)) return VI_SUCCESS;
    return VI_ERROR_INV_OBJECT;
}

VISA_EXPORT ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViUInt32 *retCnt) {
    if (retCnt) *retCnt = 0;
    ViStatus status = VI_SUCCESS;
    const auto session = sessionOf(vi, status);
    if (!session) return status;
    if (!buf && cnt > 0) return VI_ERROR_USER_BUF;
    std::lock_guard io(session->io);
    ViUInt32 written = 0;
    status = session->transport->write({buf, buf ? cnt : 0}, written);
    if (retCnt) *retCnt = written;
    return status;
}

VISA_EXPORT ViStatus viRead(ViSession vi, ViBuf buf, ViUInt32 cnt, ViUInt32 *retCnt) {
    if (retCnt) *retCnt = 0;
    ViStatus status = VI_SUCCESS;
    const auto session = sessionOf(vi, status);
    if (!session) return status;
    if (!buf && cnt > 0) return VI_ERROR_USER_BUF;
    std::lock_guard io(session->io);
    ViUInt32 got = 0;
    status = session->transport->read({buf, buf ? cnt : 0}, got);
    if (retCnt) *retCnt = got;
    return status;
}

VISA_EXPORT ViStatus viFlush(ViSession vi, ViUInt16 mask) {
    ViStatus status = VI_SUCCESS;
    const auto session = sessionOf(vi, status);
    if (!session) return status;
    std::lock_guard io(session->io);
    return session->transport->flush(mask);
}

VISA_EXPORT ViStatus viSetAttribute(ViObject vi, ViAttr attr, ViAttrState value) {
    ViStatus status = VI_SUCCESS;
    const auto session = sessionOf(vi, status);
    if (!session) {
        // Managers and find lists have no settable attribute here.
        return status == VI_ERROR_NSUP_OPER ? VI_ERROR_NSUP_ATTR : status;
    }
    if (attr == VI_ATTR_RSRC_NAME) return VI_ERROR_ATTR_READONLY;
    std::lock_guard io(session->io);
    return session->transport->setAttribute(attr, value);
}

VISA_EXPORT ViStatus viGetAttribute(ViObject vi, ViAttr attr, void *value) {
    ViStatus status = VI_SUCCESS;
    const auto session = sessionOf(vi, status);
    if (!session) return status == VI_ERROR_NSUP_OPER ? VI_ERROR_NSUP_ATTR : status;
    if (!value) return VI_ERROR_INV_PARAMETER;
    if (attr == VI_ATTR_RSRC_NAME) {
        copyName(static_cast<ViChar *>(value), session->name);
        return VI_SUCCESS;
    }
    std::lock_guard io(session->io);
    return session->transport->getAttribute(attr, value);
}
