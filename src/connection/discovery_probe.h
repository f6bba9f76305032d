// Probing the resources a VISA lists for instruments that answer "*IDN?".
//
// A probe that gets no answer costs the session's timeout, and a serial port
// costs one timeout per baud rate it tries, so probing one port after another
// makes discovery as slow as the sum of all ports. The prober runs the probes
// on a bounded pool of threads, while its owner takes the results one by one
// in the find-list order and stops whenever it likes: what the owner builds
// from them is exactly what a one-by-one discovery builds, only sooner.
// VISA sessions are independent of each other, and the resource manager
// session is only read (viOpen) by the probes.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "visa/visa.h"

namespace korvax {

// Rates a serial chassis may be set to, in the order they are tried.
inline constexpr std::array<uint32_t, 5> kProbeRates = {115200, 9600, 19200, 38400, 57600};
// The most probes that run at once.
inline constexpr unsigned kMaxProbeThreads = 16;
// Longest identity reply kept (one reply of the binary protocol's size).
inline constexpr std::size_t kIdentityReplySize = 400;

// What one resource answered.
struct ProbeResult {
    ViSession vi = 0;       // open session; 0 when viOpen failed
    bool accepted = false;  // the reply satisfied the owner's test
    uint32_t rate = 0;      // serial: the rate that answered
    std::array<char, kIdentityReplySize> reply{};  // the identity reply as read
    std::size_t length = 0;
    std::string_view text() const { return {reply.data(), length}; }
};

// True when an identity reply names an instrument the caller wants.
using IdentityTest = std::function<bool(std::string_view reply)>;

// One "*IDN?" probe of one resource: opens a session and asks; a serial
// port (ASRL...) is asked at each rate in turn until the test accepts a
// reply. The session is left open in the result.
ProbeResult probeResource(ViSession rm, const std::string &rsrc, const IdentityTest &accepts);

class ResourceProber {
public:
    // Starts probing `names` (find-list order) with up to `threads` probes at
    // once; 1 probes each resource only when its result is asked for.
    ResourceProber(ViSession rm, std::vector<std::string> names, IdentityTest accepts,
                   unsigned threads);
    // Stops probing, waits for the probes under way and closes every session
    // that was not taken.
    ~ResourceProber();
    ResourceProber(const ResourceProber &) = delete;
    ResourceProber &operator=(const ResourceProber &) = delete;

    std::size_t size() const { return names_.size(); }
    const std::string &name(std::size_t i) const { return names_[i]; }
    // Waits for the result of resource i (probing it here if no thread has
    // started it).
    const ProbeResult &result(std::size_t i);
    // The owner keeps the session of resource i; it is not closed later.
    void take(std::size_t i);

private:
    enum class State : uint8_t { Waiting, Running, Done };
    void work();
    // Claims the first waiting resource at or after `from`, under the lock.
    bool claim(std::size_t &index, std::size_t from);
    void run(std::size_t index);

    ViSession rm_;
    std::vector<std::string> names_;
    IdentityTest accepts_;
    std::vector<ProbeResult> results_;
    std::vector<State> states_;
    std::vector<bool> taken_;
    std::mutex lock_;
    std::condition_variable done_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace korvax
