#include "connection/instrument_scan.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <string>

#include "base/build_policy.h"
#include "base/records.h"
#include "connection/VISAconnection.h"
#include "connection/visa_loader.h"

namespace korvax {
namespace {

constexpr std::array<uint32_t, 5> kProbeRates = {115200, 9600, 19200, 38400, 57600};

std::atomic<uint32_t> sessionTimeout{0};

// One "*IDN?" round trip; records in `found` how it ended (the reply text
// whether taken or not).
ProbeStep ask(ViSession vi, const IdentityTest &accepts, Identified &found) {
    std::array<char, KORVAX_RX_SIZE + 1> reply{};
    // The Windows driver reads the identity once, at most 255 bytes.
    constexpr uint32_t kRoom = BuildPolicy::kIdentityReadMax;
    static_assert(kRoom <= KORVAX_RX_SIZE);
    const IdentityReply r = askIdentity(vi, reply.data(), kRoom);
    found.status = r.status;
    if (r.failed == WireStep::Write) return found.step = ProbeStep::Write;
    if (r.failed == WireStep::Read) return found.step = ProbeStep::Read;
    const std::string_view text(reply.data(), std::min<uint32_t>(r.count, kRoom));
    found.reply.assign(text);
    return found.step = accepts(text) ? ProbeStep::Accepted : ProbeStep::Refused;
}

// A serial instrument answers only at its own rate. What the report keeps
// of a port that never answered as ours: a reply some rate got, else the
// last failure.
bool probeSerial(ViSession vi, const IdentityTest &accepts, Identified &found) {
    visa::setAttribute(vi, VI_ATTR_ASRL_END_IN, VI_ASRL_END_NONE);
    Identified refused;
    found.step = ProbeStep::Read;
    for (uint32_t r : kProbeRates) {
        if (const ViStatus st = visa::setAttribute(vi, VI_ATTR_ASRL_BAUD, r); st < 0) {
            found.status = st;
            continue;
        }
        visa::flush(vi, VI_READ_BUF_DISCARD);
        const ProbeStep step = ask(vi, accepts, found);
        if (step == ProbeStep::Write) return false;
        if (step == ProbeStep::Accepted) {
            found.baud = r;
            return true;
        }
        if (step == ProbeStep::Refused) refused = found;
    }
    if (refused.step == ProbeStep::Refused) {
        found.step = ProbeStep::Refused;
        found.reply = std::move(refused.reply);
        found.status = 0;
    }
    return false;
}

}  // namespace

void setSessionTimeout(uint32_t milliseconds) { sessionTimeout = milliseconds; }

int32_t setTimeoutOf(uint32_t session, uint32_t milliseconds) {
    return visa::setAttribute(session, VI_ATTR_TMO_VALUE, milliseconds);
}

int32_t applySessionTimeout(uint32_t session) {
    const uint32_t ms = sessionTimeout;
    return ms == 0 ? 0 : setTimeoutOf(session, ms);
}

int32_t reopenManager(uint32_t &manager) {
    if (manager != 0) {
        visa::close(manager);
        manager = 0;
    }
    ViSession rm = 0;
    if (const ViStatus st = visa::openDefaultRM(&rm); st < 0) return st;
    manager = rm;
    return 0;
}

bool listResources(uint32_t manager, const char *expression, std::vector<std::string> &names) {
    // VISA hands out descriptors of up to 256 bytes; callers cut them to
    // their own fields.
    std::array<ViChar, VI_FIND_BUFLEN + 1> desc{};
    ViFindList list = 0;
    ViUInt32 matches = 0;
    if (visa::findRsrc(manager, expression, &list, &matches, desc.data()) < 0) return false;
    for (ViUInt32 i = 0; i < matches; ++i) {
        if (i > 0 && visa::findNext(list, desc.data()) < 0) break;
        desc[VI_FIND_BUFLEN] = '\0';
        names.emplace_back(desc.data());
    }
    return true;
}

Identified identify(uint32_t manager, std::string_view rsrc, const IdentityTest &accepts) {
    const std::string name(rsrc);
    ViSession vi = 0;
    Identified found;
    if (const ViStatus st = visa::open(manager, name.c_str(), VI_NO_LOCK, 0, &vi); st < 0) {
        found.status = st;
        return found;
    }
    applySessionTimeout(vi);
    found.serial = BuildPolicy::kSerialRateProbe && rsrc.starts_with("ASRL");
    const bool ok = found.serial ? probeSerial(vi, accepts, found)
                                 : ask(vi, accepts, found) == ProbeStep::Accepted;
    if (!ok) {
        visa::close(vi);
        found.baud = 0;
        return found;
    }
    found.session = vi;
    return found;
}

void closeSession(uint32_t session) { visa::close(session); }

int32_t openSession(uint32_t &manager, const char *rsrc, uint32_t &session) {
    if (manager == 0) {
        ViSession rm = 0;
        if (const ViStatus st = visa::openDefaultRM(&rm); st < 0) return st;
        manager = rm;
    }
    ViSession vi = 0;
    if (const ViStatus st = visa::open(manager, rsrc, VI_NO_LOCK, 0, &vi); st < 0) return st;
    applySessionTimeout(vi);
    session = vi;
    return 0;
}

ResourceProber::ResourceProber(uint32_t manager, std::vector<std::string> names, IdentityTest accepts,
                               unsigned threads)
    : manager_(manager),
      names_(std::move(names)),
      accepts_(std::move(accepts)),
      results_(names_.size()),
      states_(names_.size(), State::Waiting),
      taken_(names_.size(), false) {
    const std::size_t want = std::min<std::size_t>({threads, kMaxProbeThreads, names_.size()});
    if (want <= 1) return;
    workers_.reserve(want);
    for (std::size_t i = 0; i < want; ++i) {
        try {
            workers_.emplace_back([this] { work(); });
        } catch (const std::system_error &) {
            break;  // fewer threads: result() probes whatever nobody started
        }
    }
}

ResourceProber::~ResourceProber() {
    {
        std::lock_guard g(lock_);
        stopping_ = true;
    }
    for (auto &t : workers_) t.join();
    for (std::size_t i = 0; i < results_.size(); ++i)
        if (states_[i] == State::Done && results_[i].session != 0 && !taken_[i])
            closeSession(results_[i].session);
}

void ResourceProber::run(std::size_t i) {
    Identified found = identify(manager_, names_[i], accepts_);
    std::lock_guard g(lock_);
    results_[i] = std::move(found);
    states_[i] = State::Done;
    done_.notify_all();
}

void ResourceProber::work() {
    for (;;) {
        std::size_t next = states_.size();
        {
            std::lock_guard g(lock_);
            if (stopping_) return;
            for (std::size_t i = 0; i < states_.size(); ++i) {
                if (states_[i] != State::Waiting) continue;
                states_[i] = State::Running;
                next = i;
                break;
            }
        }
        if (next == states_.size()) return;
        run(next);
    }
}

const Identified &ResourceProber::result(std::size_t i) {
    std::unique_lock g(lock_);
    if (states_[i] == State::Waiting) {
        states_[i] = State::Running;
        g.unlock();
        run(i);
        g.lock();
    }
    done_.wait(g, [&] { return states_[i] == State::Done; });
    return results_[i];
}

const Identified *ResourceProber::finished(std::size_t i) {
    std::unique_lock g(lock_);
    if (states_[i] == State::Waiting) return nullptr;
    done_.wait(g, [&] { return states_[i] == State::Done; });
    return &results_[i];
}

void ResourceProber::take(std::size_t i) {
    std::lock_guard g(lock_);
    taken_[i] = true;
}

}  // namespace korvax
