// Finding instruments: the resource manager, the list of resources a VISA
// library offers, and the identity probe of one resource (a serial line at
// each rate in turn, since a serial instrument answers only at its own).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace korvax {

// Closes `manager` when open (and with it every session it handed out),
// then opens a new default resource manager into it. Returns VISA's status
// (negative: no manager; `manager` is then 0).
int32_t reopenManager(uint32_t &manager);

// The resources matching expression, in VISA's order. Returns false when
// the search itself failed.
bool listResources(uint32_t manager, const char *expression, std::vector<std::string> &names);

// How far the probe of a resource got.
enum class ProbeStep : uint8_t {
    Accepted,  // a reply `accepts` took
    Open,      // the resource could not be opened
    Write,     // "*IDN?" could not be sent
    Read,      // no reply (at any rate, on a serial line)
    Refused,   // a reply `accepts` did not take
};

// An opened resource that answered "*IDN?" with a reply `accepts` took, or
// the step where its probe ended.
struct Identified {
    uint32_t session = 0;  // 0: nothing accepted, no session left open
    uint32_t baud = 0;     // serial resources: the rate that answered
    bool serial = false;
    std::string reply;     // the identity reply: the accepted one, else the last refused one
    ProbeStep step = ProbeStep::Open;
    int32_t status = 0;    // VISA's status of the step that failed
};

// VISA timeout (VI_ATTR_TMO_VALUE) given to every session opened from now
// on; 0 leaves the VISA library's own default.
void setSessionTimeout(uint32_t milliseconds);
// Gives a session the timeout set above, if any. VISA's status.
int32_t applySessionTimeout(uint32_t session);
// Sets a session's VISA timeout. VISA's status.
int32_t setTimeoutOf(uint32_t session, uint32_t milliseconds);

// Judges an identity reply; may be called from several threads at once.
using IdentityTest = std::function<bool(std::string_view reply)>;

// Opens rsrc and asks for its identity; `accepts` judges each reply text.
Identified identify(uint32_t manager, std::string_view rsrc, const IdentityTest &accepts);

// The most identity probes that run at once. A probe thread spends its life
// waiting for a timeout, so they are cheap; a station with a rack of
// serial adapters still gets one per port.
inline constexpr unsigned kMaxProbeThreads = 32;

// Probes a list of resources side by side. A probe that gets no answer
// costs the session's timeout, and a serial port one timeout per rate, so
// probing one resource after another makes discovery as slow as the sum of
// all of them. Here a bounded pool of threads probes ahead while the owner
// takes the results one by one in list order and stops whenever it likes:
// whatever it builds from them is what a one-by-one discovery builds, only
// sooner. VISA sessions are independent of each other, and the manager
// session is only used to open them.
class ResourceProber {
public:
    // Probes `names` with up to `threads` probes at once; with 1, each
    // resource is probed only when its result is asked for.
    ResourceProber(uint32_t manager, std::vector<std::string> names, IdentityTest accepts,
                   unsigned threads);
    // Stops starting probes, waits for those under way and closes every
    // session that was not taken.
    ~ResourceProber();
    ResourceProber(const ResourceProber &) = delete;
    ResourceProber &operator=(const ResourceProber &) = delete;

    std::size_t size() const { return names_.size(); }
    const std::string &name(std::size_t i) const { return names_[i]; }
    // The result of resource i, probed here if no thread has started it.
    const Identified &result(std::size_t i);
    // The result of resource i once a probe that started has ended; null for
    // a resource no probe started (nothing is probed here).
    const Identified *finished(std::size_t i);
    // The owner keeps the session of resource i.
    void take(std::size_t i);

private:
    enum class State : uint8_t { Waiting, Running, Done };
    void work();
    void run(std::size_t i);

    uint32_t manager_;
    std::vector<std::string> names_;
    IdentityTest accepts_;
    std::vector<Identified> results_;
    std::vector<State> states_;
    std::vector<bool> taken_;
    std::mutex lock_;
    std::condition_variable done_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

// Closes a session (or a manager).
void closeSession(uint32_t session);

// Opens a session to rsrc, opening a default resource manager into
// `manager` first when none is open. VISA's status (negative: nothing open).
int32_t openSession(uint32_t &manager, const char *rsrc, uint32_t &session);

}  // namespace korvax
