// Built-in VISA library: the resource manager.
//
// It owns every VISA object (manager sessions, instrument sessions, find
// lists) and the declared instruments (real ones and those served in this
// process), and it is the only code that knows which transport serves a
// resource. Objects live in one
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
#include <thread>
#include <algorithm>
#include <chrono>

#include "visa/builtin_visa.h"
#include "visa/resource_expression.h"
#include "visa/resource_name.h"
#include "visa/resource_parts.h"
#include "visa/serial_transport.h"
#include "visa/status_text.h"
#include "visa/transport_factory.h"
#include "visa/usbtmc_transport.h"
#include "visa/visa.h"

#define VISA_EXPORT extern "C" __attribute__((visibility("default")))

namespace korvax::visa {
namespace {

struct Declared {
    std::string name;       // as declared
    std::string standard;   // what viFindRsrc reports and matches
    std::string canonical;  // what viOpen compares
    std::shared_ptr<ServedInstrument> served;  // null: a real instrument
    uint16_t portmapperPort = 0;
    uint16_t socketPort = 0;
};

struct Session {
    ViSession manager = VI_NULL;
    std::string name;
    ResourceParts parts;
    std::mutex io;
    std::unique_ptr<Transport> transport;
    unsigned exclusiveLocks = 0;  // viLock nesting of this session
    unsigned sharedLocks = 0;
};

// The library's own lock of a resource, across the sessions of this process.
struct ResourceLock {
    ViSession exclusive = VI_NULL;
    std::set<ViSession> shared;
    std::string key;
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
    std::map<std::string, ResourceLock> locks;  // by canonical name
    bool fileRead = false;
    bool scanAllSerialPorts = false;  // the file's serial-scan
    // restrictSearch's names; nullopt: none given (the environment's apply).
    std::optional<std::vector<std::string>> restriction;
    ServedSectionReader servedReader;
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

void declareLocked(Registry &r, const std::string &rsrc, std::shared_ptr<ServedInstrument> served,
                   uint16_t portmapperPort, uint16_t socketPort) {
    const auto standard = standardResourceName(rsrc);
    const auto canonical = standard ? resourceKey(*standard) : std::nullopt;
    if (!canonical) throw std::invalid_argument("\"" + rsrc + "\" is not a VISA resource string");
    if (Declared *d = findDeclared(r, *canonical)) {
        d->name = rsrc;
        d->standard = *standard;
        d->served = std::move(served);
        d->portmapperPort = portmapperPort;
        d->socketPort = socketPort;
    } else {
        r.declared.push_back(
            {rsrc, *standard, *canonical, std::move(served), portmapperPort, socketPort});
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
    ResourceFileContent content = readResourceFile(text.str());
    // Served instruments are made before anything is declared, so that the
    // problems are reported in line order.
    std::vector<std::pair<std::string, std::shared_ptr<ServedInstrument>>> served;
    for (auto &section : content.served) {
        if (!r.servedReader) section.problems.push_back({section.line, "no instrument can be served here"});
        auto instrument = r.servedReader ? r.servedReader(section) : nullptr;
        if (instrument && section.problems.empty())
            served.emplace_back(section.name, std::move(instrument));
        else
            reportIgnored(section, content.problems);
    }
    sortByLine(content.problems);
    if (content.scanAllSerialPorts) r.scanAllSerialPorts = *content.scanAllSerialPorts;
    for (const auto &p : content.problems)
        std::fprintf(stderr, "korvaxvisa: %s:%d: %s\n", path.c_str(), p.line, p.message.c_str());
    int declared = 0;
    auto alreadyThere = [&](const std::string &name) {
        if (!findDeclared(r, *resourceKey(name))) return false;
        std::fprintf(stderr,
                     "korvaxvisa: %s: %s is already declared; the file's section is not used\n",
                     path.c_str(), name.c_str());
        return true;
    };
    for (auto &[name, instrument] : served) {
        if (alreadyThere(name)) continue;
        declareLocked(r, name, std::move(instrument), 0, 0);
        ++declared;
    }
    for (const auto &inst : content.instruments) {
        if (alreadyThere(inst.name)) continue;
        declareLocked(r, inst.name, nullptr, inst.portmapperPort, inst.socketPort);
        ++declared;
    }
    return declared;
}

// Closes an instrument session or find list of a manager, or the manager
// with everything opened under it.
// Drops the library lock a closing session held.
void releaseLocks(Registry &r, ViSession vi, const Session &session) {
    const auto it = r.locks.find(session.parts.canonical);
    if (it == r.locks.end()) return;
    if (it->second.exclusive == vi) it->second.exclusive = VI_NULL;
    it->second.shared.erase(vi);
    if (it->second.exclusive == VI_NULL && it->second.shared.empty()) r.locks.erase(it);
}

// Takes the sessions and find lists of a manager out of the registry. The
// sessions are handed back, so that their transports close (a network
// link says goodbye to its instrument) after the registry lock is let go.
std::vector<std::shared_ptr<Session>> closeChildren(Registry &r, ViSession manager) {
    std::vector<std::shared_ptr<Session>> closed;
    for (auto it = r.sessions.begin(); it != r.sessions.end();) {
        if (it->second->manager != manager) {
            ++it;
            continue;
        }
        releaseLocks(r, it->first, *it->second);
        closed.push_back(std::move(it->second));
        it = r.sessions.erase(it);
    }
    for (auto it = r.findLists.begin(); it != r.findLists.end();)
        it = it->second.manager == manager ? r.findLists.erase(it) : std::next(it);
    return closed;
}

// VI_ERROR_RSRC_LOCKED when another session holds the resource's
// exclusive lock.
ViStatus checkAccess(ViSession vi, const Session &session) {
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    const auto it = r.locks.find(session.parts.canonical);
    if (it == r.locks.end() || it->second.exclusive == VI_NULL || it->second.exclusive == vi)
        return VI_SUCCESS;
    return VI_ERROR_RSRC_LOCKED;
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

void declareServed(const std::string &rsrc, std::shared_ptr<ServedInstrument> instrument) {
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    declareLocked(r, rsrc, std::move(instrument), 0, 0);
}

void declareInstrument(const std::string &rsrc, uint16_t portmapperPort, uint16_t socketPort) {
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    declareLocked(r, rsrc, nullptr, portmapperPort, socketPort);
}

std::shared_ptr<ServedInstrument> servedInstrument(const std::string &rsrc) {
    const auto canonical = resourceKey(rsrc);
    if (!canonical) return nullptr;
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    const Declared *d = findDeclared(r, *canonical);
    return d ? d->served : nullptr;
}

void setServedSectionReader(ServedSectionReader reader) {
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    r.servedReader = std::move(reader);
}

void clearDeclared() {
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    r.declared.clear();
    r.fileRead = false;
    r.scanAllSerialPorts = false;
}

void restrictSearch(std::vector<std::string> names) {
    for (const auto &name : names)
        if (!canonicalResourceName(name))
            throw std::invalid_argument("\"" + name + "\" is not a VISA resource string");
    Registry &r = registry();
    std::lock_guard guard(r.lock);
    if (names.empty())
        r.restriction.reset();
    else
        r.restriction = std::move(names);
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

// Instruments attached to this machine: serial ports, then USBTMC devices.
static std::vector<std::string> hostResources(bool scanAllSerialPorts) {
    bool onBoard = scanAllSerialPorts;
    if (const char *scan = std::getenv("KORVAX_VISA_SERIAL_SCAN")) {
        if (std::string_view(scan) == "all") onBoard = true;
        if (std::string_view(scan) == "named") onBoard = false;
    }
    const HostRoots roots = hostRoots();
    std::vector<std::string> names = listSerialPorts(roots, onBoard);
    for (auto &device : listUsbtmcDevices(roots)) names.push_back(std::move(device.rsrc));
    return names;
}

// The resources a search is restricted to, or nullopt for none: the
// program's (restrictSearch), else the environment's.
static std::optional<std::vector<std::string>> searchRestriction(const Registry &r) {
    if (r.restriction) return r.restriction;
    const char *only = std::getenv("KORVAX_VISA_ONLY");
    if (!only) return std::nullopt;
    std::vector<std::string> names;
    for (std::string_view rest = only; !rest.empty();) {
        const std::size_t semicolon = rest.find(';');
        const std::string_view name = trimmed(rest.substr(0, semicolon));
        rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
        if (name.empty()) continue;
        if (canonicalResourceName(name))
            names.emplace_back(name);
        else
            std::fprintf(stderr, "korvaxvisa: KORVAX_VISA_ONLY: \"%.*s\" is not a resource string\n",
                         static_cast<int>(name.size()), name.data());
    }
    if (names.empty()) return std::nullopt;
    return names;
}

// A named resource a restricted search lists: as declared, else as named
// when this library reaches its interface without a declaration.
static std::optional<std::string> restrictedName(Registry &r, const std::string &name) {
    const auto parts = splitResourceName(name);
    if (!parts) return std::nullopt;
    if (const Declared *d = findDeclared(r, parts->canonical)) return d->standard;
    const bool reachable = parts->interfaceType == VI_INTF_TCPIP ||
                           parts->interfaceType == VI_INTF_ASRL || parts->interfaceType == VI_INTF_USB;
    if (!reachable) return std::nullopt;
    return standardResourceName(name);
}

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

    // Declared resources first, then the serial and USBTMC instruments
    // attached to this machine; a port named in the file is listed once. A
    // restricted search lists the named resources alone.
    // Searches see the standard spelling, as programs expect from any VISA:
    // "?*INSTR" finds a chassis declared as "GPIB0::7", and a serial port
    // declared in lower case is reported as ASRL.
    FindList found{sesn, {}, 1};
    std::set<std::string> listed;
    auto add = [&](const std::string &standard, const std::string &key) {
        if (pattern->matches(standard) && listed.insert(key).second) found.names.push_back(standard);
    };
    if (const auto only = searchRestriction(r)) {
        // Exactly the named resources: nothing else declared, no scan.
        for (const auto &name : *only) {
            const auto standard = restrictedName(r, name);
            if (const auto key = standard ? resourceKey(*standard) : std::nullopt) add(*standard, *key);
        }
    } else {
        for (const auto &d : r.declared) add(d.standard, d.canonical);
        for (const auto &name : hostResources(r.scanAllSerialPorts)) {
            const auto standard = standardResourceName(name);
            if (const auto key = standard ? resourceKey(*standard) : std::nullopt) add(*standard, *key);
        }
    }
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
    TransportRequest request;
    auto session = std::make_shared<Session>();
    {
        std::lock_guard guard(r.lock);
        if (!r.managers.count(sesn)) return wrongObject(r, sesn);
        if (!vi) return VI_ERROR_INV_PARAMETER;
        if (mode & ~static_cast<ViAccessMode>(VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK | VI_LOAD_CONFIG))
            return VI_ERROR_INV_ACC_MODE;
        auto parts = name ? splitResourceName(name) : std::nullopt;
        if (!parts) return VI_ERROR_INV_RSRC_NAME;
        request.parts = *parts;
        if (const Declared *d = findDeclared(r, parts->canonical)) {
            session->name = d->standard;
            request.served = d->served;
            request.portmapperPort = d->portmapperPort;
            request.socketPort = d->socketPort;
        } else if (parts->interfaceType == VI_INTF_TCPIP || parts->interfaceType == VI_INTF_ASRL ||
                   parts->interfaceType == VI_INTF_USB) {
            // A LAN instrument, a serial port or a USBTMC device needs no
            // declaration to be opened: its name says where it is.
            session->name = standardResourceName(name).value_or(name);
        } else {
            return VI_ERROR_RSRC_NFOUND;
        }
        request.name = session->name;
    }
    // Connecting may take up to the timeout: other sessions go on meanwhile.
    std::unique_ptr<Transport> transport;
    if (const ViStatus st = openTransport(request, transport); st < 0) return st;

    std::lock_guard guard(r.lock);
    // The manager may have been closed while the connection was made.
    if (!r.managers.count(sesn)) return VI_ERROR_INV_OBJECT;
    session->manager = sesn;
    session->parts = std::move(request.parts);
    session->transport = std::move(transport);
    *vi = newObject(r);
    r.sessions[*vi] = std::move(session);
    return VI_SUCCESS;
}

VISA_EXPORT ViStatus viClose(ViObject vi) {
    if (vi == VI_NULL) return VI_WARN_NULL_OBJECT;
    Registry &r = registry();
    std::vector<std::shared_ptr<Session>> closing;
    std::unique_lock guard(r.lock);
    if (r.managers.erase(vi)) {
        closing = closeChildren(r, vi);
        guard.unlock();
        return VI_SUCCESS;
    }
    if (const auto it = r.sessions.find(vi); it != r.sessions.end()) {
        releaseLocks(r, vi, *it->second);
        closing.push_back(std::move(it->second));
        r.sessions.erase(it);
        guard.unlock();
        return VI_SUCCESS;
    }
    if (r.findLists.erase(vi)) return VI_SUCCESS;
    return VI_ERROR_INV_OBJECT;
}

// viWrite and viRead: the session's checks, then one transfer under its I/O
// lock, whose byte count is reported even when the transfer fails part way.
template <typename Byte, typename Move>
static ViStatus transfer(ViSession vi, Byte *buf, ViUInt32 cnt, ViUInt32 *retCnt, Move move) {
    if (retCnt) *retCnt = 0;
    ViStatus status = VI_SUCCESS;
    const auto session = sessionOf(vi, status);
    if (!session) return status;
    if (!buf && cnt > 0) return VI_ERROR_USER_BUF;
    if (const ViStatus st = checkAccess(vi, *session); st < 0) return st;
    std::lock_guard io(session->io);
    ViUInt32 moved = 0;
    status = move(*session->transport, std::span<Byte>(buf, buf ? cnt : 0), moved);
    if (retCnt) *retCnt = moved;
    return status;
}

VISA_EXPORT ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViUInt32 *retCnt) {
    return transfer(vi, buf, cnt, retCnt, [](Transport &t, std::span<const ViByte> data, ViUInt32 &n) {
        return t.write(data, n);
    });
}

VISA_EXPORT ViStatus viRead(ViSession vi, ViBuf buf, ViUInt32 cnt, ViUInt32 *retCnt) {
    return transfer(vi, buf, cnt, retCnt,
                    [](Transport &t, std::span<ViByte> data, ViUInt32 &n) { return t.read(data, n); });
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
    switch (attr) {
    case VI_ATTR_RSRC_NAME:
    case VI_ATTR_RSRC_CLASS:
    case VI_ATTR_INTF_TYPE:
    case VI_ATTR_INTF_NUM:
    case VI_ATTR_RSRC_SPEC_VERSION:
    case VI_ATTR_RSRC_IMPL_VERSION:
    case VI_ATTR_RSRC_MANF_NAME:
    case VI_ATTR_RSRC_MANF_ID:
    case VI_ATTR_RSRC_LOCK_STATE:
    case VI_ATTR_TCPIP_ADDR:
    case VI_ATTR_TCPIP_HOSTNAME:
    case VI_ATTR_TCPIP_PORT:
    case VI_ATTR_TCPIP_DEVICE_NAME: return VI_ERROR_ATTR_READONLY;
    case VI_ATTR_IO_PROT: return value == VI_PROT_NORMAL ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
    case VI_ATTR_SUPPRESS_END_EN: return value == VI_FALSE ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
    default: break;
    }
    std::lock_guard io(session->io);
    return session->transport->setAttribute(attr, value);
}

namespace {

template <typename T>
void putValue(void *out, T value) {
    std::memcpy(out, &value, sizeof value);
}

// The library's version as VISA encodes it: major.minor.sub in 12.8.12 bits.
constexpr ViUInt32 kImplementationVersion = 0x00100000;
constexpr ViUInt32 kSpecVersion = 0x00500800;  // VISA 5.8
constexpr ViUInt16 kManufacturerId = 0x3FFF;   // the id range kept for private use

}  // namespace

VISA_EXPORT ViStatus viGetAttribute(ViObject vi, ViAttr attr, void *value) {
    ViStatus status = VI_SUCCESS;
    const auto session = sessionOf(vi, status);
    if (!session) {
        if (status != VI_ERROR_NSUP_OPER) return status;
        // A manager session: what it is and who made it.
        if (!value) return VI_ERROR_INV_PARAMETER;
        switch (attr) {
        case VI_ATTR_RSRC_SPEC_VERSION: putValue<ViUInt32>(value, kSpecVersion); return VI_SUCCESS;
        case VI_ATTR_RSRC_IMPL_VERSION: putValue<ViUInt32>(value, kImplementationVersion); return VI_SUCCESS;
        case VI_ATTR_RSRC_MANF_ID: putValue<ViUInt16>(value, kManufacturerId); return VI_SUCCESS;
        case VI_ATTR_RSRC_MANF_NAME: copyName(static_cast<ViChar *>(value), "KORVAX"); return VI_SUCCESS;
        case VI_ATTR_RSRC_NAME: copyName(static_cast<ViChar *>(value), ""); return VI_SUCCESS;
        default: return VI_ERROR_NSUP_ATTR;
        }
    }
    if (!value) return VI_ERROR_INV_PARAMETER;
    switch (attr) {
    case VI_ATTR_RSRC_NAME: copyName(static_cast<ViChar *>(value), session->name); return VI_SUCCESS;
    case VI_ATTR_RSRC_CLASS:
        copyName(static_cast<ViChar *>(value), session->parts.resourceClass);
        return VI_SUCCESS;
    case VI_ATTR_INTF_TYPE: putValue<ViUInt16>(value, session->parts.interfaceType); return VI_SUCCESS;
    case VI_ATTR_INTF_NUM: putValue<ViUInt16>(value, session->parts.board); return VI_SUCCESS;
    case VI_ATTR_RSRC_SPEC_VERSION: putValue<ViUInt32>(value, kSpecVersion); return VI_SUCCESS;
    case VI_ATTR_RSRC_IMPL_VERSION: putValue<ViUInt32>(value, kImplementationVersion); return VI_SUCCESS;
    case VI_ATTR_RSRC_MANF_ID: putValue<ViUInt16>(value, kManufacturerId); return VI_SUCCESS;
    case VI_ATTR_RSRC_MANF_NAME: copyName(static_cast<ViChar *>(value), "KORVAX"); return VI_SUCCESS;
    case VI_ATTR_IO_PROT: putValue<ViUInt16>(value, VI_PROT_NORMAL); return VI_SUCCESS;
    case VI_ATTR_SUPPRESS_END_EN: putValue<ViUInt16>(value, VI_FALSE); return VI_SUCCESS;
    case VI_ATTR_RSRC_LOCK_STATE: {
        Registry &r = registry();
        std::lock_guard guard(r.lock);
        const auto it = r.locks.find(session->parts.canonical);
        ViAccessMode state = VI_NO_LOCK;
        if (it != r.locks.end())
            state = it->second.exclusive != VI_NULL ? VI_EXCLUSIVE_LOCK : VI_SHARED_LOCK;
        putValue<ViAccessMode>(value, state);
        return VI_SUCCESS;
    }
    default: break;
    }
    std::lock_guard io(session->io);
    return session->transport->getAttribute(attr, value);
}

VISA_EXPORT ViStatus viParseRsrcEx(ViSession sesn, ViConstRsrc name, ViUInt16 *intfType,
                                   ViUInt16 *intfNum, ViChar rsrcClass[],
                                   ViChar expandedUnaliasedName[], ViChar aliasIfExists[]) {
    {
        Registry &r = registry();
        std::lock_guard guard(r.lock);
        if (!r.managers.count(sesn)) return wrongObject(r, sesn);
    }
    const auto parts = name ? splitResourceName(name) : std::nullopt;
    if (!parts) return VI_ERROR_INV_RSRC_NAME;
    if (intfType) *intfType = parts->interfaceType;
    if (intfNum) *intfNum = parts->board;
    if (rsrcClass) copyName(rsrcClass, parts->resourceClass);
    if (expandedUnaliasedName) {
        // The name with every field filled in, in the letter case written.
        std::string full = parts->canonical.substr(0, parts->canonical.find("::"));
        for (const auto &f : parts->fields) full += "::" + f;
        full += "::" + parts->resourceClass;
        copyName(expandedUnaliasedName, full);
    }
    if (aliasIfExists) aliasIfExists[0] = '\0';  // this library has no aliases
    return VI_SUCCESS;
}

VISA_EXPORT ViStatus viParseRsrc(ViSession sesn, ViConstRsrc name, ViUInt16 *intfType,
                                 ViUInt16 *intfNum) {
    return viParseRsrcEx(sesn, name, intfType, intfNum, nullptr, nullptr, nullptr);
}

VISA_EXPORT ViStatus viClear(ViSession vi) {
    ViStatus status = VI_SUCCESS;
    const auto session = sessionOf(vi, status);
    if (!session) return status;
    if (const ViStatus st = checkAccess(vi, *session); st < 0) return st;
    std::lock_guard io(session->io);
    return session->transport->clear();
}

VISA_EXPORT ViStatus viReadSTB(ViSession vi, ViUInt16 *stb) {
    ViStatus status = VI_SUCCESS;
    const auto session = sessionOf(vi, status);
    if (!session) return status;
    if (!stb) return VI_ERROR_INV_PARAMETER;
    if (const ViStatus st = checkAccess(vi, *session); st < 0) return st;
    std::lock_guard io(session->io);
    return session->transport->readStatusByte(*stb);
}

VISA_EXPORT ViStatus viAssertTrigger(ViSession vi, ViUInt16 protocol) {
    ViStatus status = VI_SUCCESS;
    const auto session = sessionOf(vi, status);
    if (!session) return status;
    if (protocol != VI_TRIG_PROT_DEFAULT) return VI_ERROR_INV_PROT;
    if (const ViStatus st = checkAccess(vi, *session); st < 0) return st;
    std::lock_guard io(session->io);
    return session->transport->trigger();
}

VISA_EXPORT ViStatus viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout,
                            ViConstString requestedKey, ViChar accessKey[]) {
    ViStatus status = VI_SUCCESS;
    const auto session = sessionOf(vi, status);
    if (!session) return status;
    if (lockType != VI_EXCLUSIVE_LOCK && lockType != VI_SHARED_LOCK) return VI_ERROR_INV_LOCK_TYPE;
    Registry &r = registry();
    // Bounded: the lock is asked for again every few milliseconds until the
    // timeout has passed.
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(timeout == VI_TMO_INFINITE ? 24u * 3600 * 1000 : timeout);
    for (;;) {
        {
            std::lock_guard guard(r.lock);
            ResourceLock &lock = r.locks[session->parts.canonical];
            const bool othersExclusive = lock.exclusive != VI_NULL && lock.exclusive != vi;
            if (lockType == VI_EXCLUSIVE_LOCK && !othersExclusive) {
                const bool othersShared = std::any_of(lock.shared.begin(), lock.shared.end(),
                                                      [vi](ViSession s) { return s != vi; });
                if (!othersShared) {
                    lock.exclusive = vi;
                    if (session->exclusiveLocks++ > 0) return VI_SUCCESS_NESTED_EXCLUSIVE;
                    break;
                }
            } else if (lockType == VI_SHARED_LOCK && !othersExclusive) {
                const bool keyMatches = lock.shared.empty() || !requestedKey ||
                                        !*requestedKey || lock.key == requestedKey;
                if (keyMatches) {
                    if (lock.shared.empty())
                        lock.key = requestedKey && *requestedKey
                                       ? requestedKey
                                       : "korvax-" + std::to_string(vi);
                    lock.shared.insert(vi);
                    if (accessKey) copyName(accessKey, lock.key);
                    if (session->sharedLocks++ > 0) return VI_SUCCESS_NESTED_SHARED;
                    return VI_SUCCESS;
                }
            }
            if (lock.exclusive == VI_NULL && lock.shared.empty())
                r.locks.erase(session->parts.canonical);
        }
        if (std::chrono::steady_clock::now() >= until) return VI_ERROR_TMO;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // A first exclusive lock also locks the device, for instruments that
    // keep locks of their own (other VISA clients share them).
    std::lock_guard io(session->io);
    if (const ViStatus st = session->transport->lockDevice(timeout); st < 0) {
        std::lock_guard guard(r.lock);
        session->exclusiveLocks = 0;
        releaseLocks(r, vi, *session);
        if (session->sharedLocks > 0) r.locks[session->parts.canonical].shared.insert(vi);
        return st;
    }
    return VI_SUCCESS;
}

VISA_EXPORT ViStatus viUnlock(ViSession vi) {
    ViStatus status = VI_SUCCESS;
    const auto session = sessionOf(vi, status);
    if (!session) return status;
    bool deviceToo = false;
    {
        Registry &r = registry();
        std::lock_guard guard(r.lock);
        if (session->exclusiveLocks == 0 && session->sharedLocks == 0) return VI_ERROR_SESN_NLOCKED;
        ResourceLock &lock = r.locks[session->parts.canonical];
        if (session->exclusiveLocks > 0) {
            if (--session->exclusiveLocks == 0) {
                lock.exclusive = VI_NULL;
                deviceToo = true;
            }
        } else if (--session->sharedLocks == 0) {
            lock.shared.erase(vi);
        }
        if (lock.exclusive == VI_NULL && lock.shared.empty()) r.locks.erase(session->parts.canonical);
    }
    if (!deviceToo) return VI_SUCCESS;
    std::lock_guard io(session->io);
    return session->transport->unlockDevice();
}

VISA_EXPORT ViStatus viStatusDesc(ViObject, ViStatus status, ViChar desc[]) {
    if (!desc) return VI_ERROR_INV_PARAMETER;
    copyName(desc, statusDescription(status));
    return VI_SUCCESS;
}

// No event can be enabled here, so turning events off and discarding
// queued ones always succeeds: clients do both when they close a session.
VISA_EXPORT ViStatus viDisableEvent(ViSession vi, ViUInt32 /*eventType*/, ViUInt16 /*mechanism*/) {
    ViStatus status = VI_SUCCESS;
    return sessionOf(vi, status) ? VI_SUCCESS : status;
}

VISA_EXPORT ViStatus viDiscardEvents(ViSession vi, ViUInt32 /*eventType*/, ViUInt16 /*mechanism*/) {
    ViStatus status = VI_SUCCESS;
    return sessionOf(vi, status) ? VI_SUCCESS : status;
}
