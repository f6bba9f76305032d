#include "fake_visa.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <chrono>

#if defined(_WIN32)
// The Windows test double (VISA64.dll) exports through its definition file.
#define VISA_EXPORT extern "C"
#else
#define VISA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace fakevisa {
namespace {

struct Session {
    std::string rsrc;
    ViSession manager = 0;
    uint64_t baud = 0;
    bool hasPending = false;
    Reply pending;
};

struct FindList {
    std::vector<std::string> names;
    size_t next = 1;
};

struct State {
    std::recursive_mutex lock;
    std::vector<std::unique_ptr<Resource>> resources;
    std::map<ViObject, Session> sessions;
    std::map<ViObject, bool> managers;
    std::map<ViObject, FindList> lists;
    std::vector<Event> log;
    bool logging = true;
    std::string expression;
    ViStatus openRMStatus = VI_SUCCESS;
    ViObject next = 0x1000;
    std::map<std::string, ViSession> lastSession;
};

State &state() {
    static State s;
    return s;
}

void record(State &s, Event e) {
    if (s.logging) s.log.push_back(std::move(e));
}

const Bytes kIdn = {'*', 'I', 'D', 'N', '?', '\n'};

void copyName(ViChar desc[], const std::string &name) {
    if (!desc) return;
    const size_t n = std::min<size_t>(name.size(), VI_FIND_BUFLEN - 1);
    std::memcpy(desc, name.data(), n);
    desc[n] = '\0';
}

}  // namespace

void reset() {
    auto &s = state();
    std::lock_guard g(s.lock);
    s.resources.clear();
    s.sessions.clear();
    s.managers.clear();
    s.lists.clear();
    s.log.clear();
    s.expression.clear();
    s.openRMStatus = VI_SUCCESS;
    s.next = 0x1000;
    s.lastSession.clear();
    s.logging = true;
}

void setLogging(bool on) {
    auto &s = state();
    std::lock_guard g(s.lock);
    s.logging = on;
}

Resource &add(const std::string &name, const std::string &idn) {
    auto &s = state();
    std::lock_guard g(s.lock);
    auto r = std::make_unique<Resource>();
    r->name = name;
    r->idn = idn;
    s.resources.push_back(std::move(r));
    return *s.resources.back();
}

Resource *find(const std::string &name) {
    auto &s = state();
    std::lock_guard g(s.lock);
    for (auto &r : s.resources)
        if (r->name == name) return r.get();
    return nullptr;
}

void failOpenDefaultRM(ViStatus status) {
    auto &s = state();
    std::lock_guard g(s.lock);
    s.openRMStatus = status;
}

std::vector<Event> events() {
    auto &s = state();
    std::lock_guard g(s.lock);
    return s.log;
}

void clearEvents() {
    auto &s = state();
    std::lock_guard g(s.lock);
    s.log.clear();
}

std::vector<Bytes> writes(const std::string &rsrc) {
    auto &s = state();
    std::lock_guard g(s.lock);
    std::vector<Bytes> out;
    for (const auto &e : s.log)
        if (e.op == Op::Write && e.rsrc == rsrc && e.status == VI_SUCCESS && e.bytes != kIdn)
            out.push_back(e.bytes);
    return out;
}

std::string lastExpression() {
    auto &s = state();
    std::lock_guard g(s.lock);
    return s.expression;
}

int openSessions() {
    auto &s = state();
    std::lock_guard g(s.lock);
    return static_cast<int>(s.sessions.size());
}

std::vector<std::string> openResources() {
    auto &s = state();
    std::lock_guard g(s.lock);
    std::vector<std::string> out;
    for (const auto &[id, sess] : s.sessions) out.push_back(sess.rsrc);
    std::sort(out.begin(), out.end());
    return out;
}

ViSession sessionOf(const std::string &rsrc) {
    auto &s = state();
    std::lock_guard g(s.lock);
    auto it = s.lastSession.find(rsrc);
    return it == s.lastSession.end() ? 0 : it->second;
}

}  // namespace fakevisa

using namespace fakevisa;

VISA_EXPORT ViStatus viOpenDefaultRM(ViSession *vi) {
    auto &s = state();
    std::lock_guard g(s.lock);
    record(s, {Op::OpenRM, "", 0, {}, 0, 0, s.openRMStatus});
    if (s.openRMStatus < 0) return s.openRMStatus;
    if (!vi) return VI_ERROR_INV_PARAMETER;
    *vi = s.next++;
    s.managers[*vi] = true;
    return VI_SUCCESS;
}

VISA_EXPORT ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViFindList *list,
                                ViUInt32 *retCnt, ViChar desc[]) {
    auto &s = state();
    std::lock_guard g(s.lock);
    s.expression = expr ? expr : "";
    record(s, {Op::Find, "", sesn, {}, 0, 0, VI_SUCCESS});
    if (!s.managers.count(sesn)) return VI_ERROR_INV_OBJECT;
    FindList fl;
    for (auto &r : s.resources) fl.names.push_back(r->name);
    if (retCnt) *retCnt = static_cast<ViUInt32>(fl.names.size());
    if (fl.names.empty()) {
        if (desc) desc[0] = '\0';
        return VI_ERROR_RSRC_NFOUND;
    }
    copyName(desc, fl.names[0]);
    const ViObject id = s.next++;
    s.lists[id] = fl;
    if (list) *list = id;
    return VI_SUCCESS;
}

VISA_EXPORT ViStatus viFindNext(ViFindList vi, ViChar desc[]) {
    auto &s = state();
    std::lock_guard g(s.lock);
    record(s, {Op::FindNext, "", vi, {}, 0, 0, VI_SUCCESS});
    auto it = s.lists.find(vi);
    if (it == s.lists.end()) return VI_ERROR_INV_OBJECT;
    if (it->second.next >= it->second.names.size()) return VI_ERROR_RSRC_NFOUND;
    copyName(desc, it->second.names[it->second.next++]);
    return VI_SUCCESS;
}

VISA_EXPORT ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode, ViUInt32,
                            ViSession *vi) {
    auto &s = state();
    std::lock_guard g(s.lock);
    const std::string rsrc = name ? name : "";
    Resource *r = find(rsrc);
    ViStatus st = !s.managers.count(sesn) ? VI_ERROR_INV_OBJECT
                  : !r                    ? VI_ERROR_RSRC_NFOUND
                                          : r->openStatus;
    ViObject id = 0;
    if (st >= 0) {
        id = s.next++;
        Session fresh;
        fresh.rsrc = rsrc;
        fresh.manager = sesn;
        s.sessions[id] = fresh;
        s.lastSession[rsrc] = id;
    }
    record(s, {Op::Open, rsrc, id, {}, 0, 0, st});
    if (vi) *vi = id;
    return st;
}

VISA_EXPORT ViStatus viClose(ViObject vi) {
    auto &s = state();
    std::lock_guard g(s.lock);
    if (s.managers.erase(vi)) {
        // Closing a manager closes every session and find list opened under it.
        for (auto it = s.sessions.begin(); it != s.sessions.end();)
            it = it->second.manager == vi ? s.sessions.erase(it) : std::next(it);
        record(s, {Op::Close, "", vi, {}, 0, 0, VI_SUCCESS});
        return VI_SUCCESS;
    }
    if (s.lists.erase(vi)) return VI_SUCCESS;
    auto it = s.sessions.find(vi);
    if (it == s.sessions.end()) {
        record(s, {Op::Close, "", vi, {}, 0, 0, VI_ERROR_INV_OBJECT});
        return VI_ERROR_INV_OBJECT;
    }
    record(s, {Op::Close, it->second.rsrc, vi, {}, 0, 0, VI_SUCCESS});
    s.sessions.erase(it);
    return VI_SUCCESS;
}

VISA_EXPORT ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViUInt32 *retCnt) {
    auto &s = state();
    std::lock_guard g(s.lock);
    if (retCnt) *retCnt = 0;
    auto it = s.sessions.find(vi);
    if (it == s.sessions.end() || !buf) return VI_ERROR_INV_OBJECT;
    Session &sess = it->second;
    Resource *r = find(sess.rsrc);
    Bytes request(buf, buf + cnt);
    if (r->failWrites > 0) {
        --r->failWrites;
        record(s, {Op::Write, sess.rsrc, vi, request, 0, 0, VI_ERROR_IO});
        return VI_ERROR_IO;
    }
    record(s, {Op::Write, sess.rsrc, vi, request, 0, 0, VI_SUCCESS});
    if (retCnt) *retCnt = cnt;
    sess.hasPending = true;
    if (request == kIdn && !r->idn.empty()) {
        if (r->baud != 0 && sess.baud != r->baud)
            sess.hasPending = false;  // wrong rate: the instrument hears only noise
        else
            sess.pending = Reply{Bytes(r->idn.begin(), r->idn.end()), VI_SUCCESS};
    } else if (!r->replies.empty()) {
        sess.pending = r->replies.front();
        r->replies.pop_front();
    } else if (r->responder) {
        sess.pending = r->responder(request);
    } else {
        sess.pending = Reply{r->defaultReply, VI_SUCCESS};
    }
    return VI_SUCCESS;
}

VISA_EXPORT ViStatus viRead(ViSession vi, ViBuf buf, ViUInt32 cnt, ViUInt32 *retCnt) {
    auto &s = state();
    // A slow instrument: wait outside the lock, so that reads of other
    // sessions go on meanwhile, as on a real VISA.
    int delayMs = 0;
    std::function<void()> gate;
    {
        std::lock_guard g(s.lock);
        auto it = s.sessions.find(vi);
        if (it != s.sessions.end()) {
            delayMs = find(it->second.rsrc)->readDelayMs;
            gate = find(it->second.rsrc)->readGate;
        }
    }
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    if (gate) gate();
    std::lock_guard g(s.lock);
    if (retCnt) *retCnt = 0;
    auto it = s.sessions.find(vi);
    if (it == s.sessions.end() || !buf) return VI_ERROR_INV_OBJECT;
    Session &sess = it->second;
    Resource *r = find(sess.rsrc);
    ViStatus st = VI_SUCCESS;
    Bytes out;
    if (r->failReads > 0) {
        --r->failReads;
        st = VI_ERROR_TMO;
    } else if (!sess.hasPending) {
        st = VI_ERROR_TMO;
    } else if (sess.pending.status < 0) {
        st = sess.pending.status;
    } else {
        out = sess.pending.bytes;
        if (out.size() > cnt) out.resize(cnt);
        // An empty reply has no bytes to copy (and data() may be null).
        if (!out.empty()) std::memcpy(buf, out.data(), out.size());
        if (retCnt) *retCnt = static_cast<ViUInt32>(out.size());
    }
    sess.hasPending = false;
    record(s, {Op::Read, sess.rsrc, vi, out, 0, cnt, st});
    return st;
}

VISA_EXPORT ViStatus viSetAttribute(ViObject vi, ViAttr attr, ViAttrState value) {
    auto &s = state();
    std::lock_guard g(s.lock);
    auto it = s.sessions.find(vi);
    if (it == s.sessions.end()) return VI_ERROR_INV_OBJECT;
    Resource *r = find(it->second.rsrc);
    ViStatus st = VI_SUCCESS;
    if (attr == VI_ATTR_ASRL_BAUD) {
        if (std::find(r->refusedBauds.begin(), r->refusedBauds.end(), value) != r->refusedBauds.end())
            st = VI_ERROR_NSUP_ATTR_STATE;
        else
            it->second.baud = value;
    }
    record(s, {Op::SetAttribute, it->second.rsrc, vi, {}, attr, value, st});
    return st;
}

VISA_EXPORT ViStatus viGetAttribute(ViObject vi, ViAttr attr, void *value) {
    auto &s = state();
    std::lock_guard g(s.lock);
    auto it = s.sessions.find(vi);
    if (it == s.sessions.end()) return VI_ERROR_INV_OBJECT;
    if (attr == VI_ATTR_ASRL_BAUD && value) {
        *static_cast<ViUInt32 *>(value) = static_cast<ViUInt32>(it->second.baud);
        return VI_SUCCESS;
    }
    return VI_ERROR_NSUP_ATTR;
}

VISA_EXPORT ViStatus viFlush(ViSession vi, ViUInt16 mask) {
    auto &s = state();
    std::lock_guard g(s.lock);
    auto it = s.sessions.find(vi);
    if (it == s.sessions.end()) return VI_ERROR_INV_OBJECT;
    if (mask & VI_READ_BUF_DISCARD) it->second.hasPending = false;
    record(s, {Op::Flush, it->second.rsrc, vi, {}, 0, mask, VI_SUCCESS});
    return VI_SUCCESS;
}
