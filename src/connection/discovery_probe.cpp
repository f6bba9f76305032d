#include "connection/discovery_probe.h"

#include <algorithm>

#include "connection/visa_loader.h"

namespace korvax {
namespace {

enum class Answer { Accepted, Refused, WriteFailed, ReadFailed };

Answer ask(ViSession vi, ProbeResult &out, const IdentityTest &accepts) {
    static constexpr char kIdn[] = "*IDN?\n";
    ViUInt32 n = 0;
    if (visa::write(vi, reinterpret_cast<const ViByte *>(kIdn), 6, &n) < 0) return Answer::WriteFailed;
    n = 0;
    out.reply.fill(0);
    out.length = 0;
    if (visa::read(vi, reinterpret_cast<ViByte *>(out.reply.data()), kIdentityReplySize, &n) < 0)
        return Answer::ReadFailed;
    out.length = std::min<std::size_t>(n, kIdentityReplySize);
    return accepts(out.text()) ? Answer::Accepted : Answer::Refused;
}

// A serial instrument answers only at its own rate: try each in turn.
bool probeSerial(ViSession vi, ProbeResult &out, const IdentityTest &accepts) {
    visa::setAttribute(vi, VI_ATTR_ASRL_END_IN, VI_ASRL_END_NONE);
    for (uint32_t r : kProbeRates) {
        if (visa::setAttribute(vi, VI_ATTR_ASRL_BAUD, r) < 0) continue;
        visa::flush(vi, VI_READ_BUF_DISCARD);
        const Answer a = ask(vi, out, accepts);
        if (a == Answer::WriteFailed) return false;
        if (a == Answer::Accepted) {
            out.rate = r;
            return true;
        }
    }
    return false;
}

}  // namespace

ProbeResult probeResource(ViSession rm, const std::string &rsrc, const IdentityTest &accepts) {
    ProbeResult out;
    ViSession vi = 0;
    if (visa::open(rm, rsrc.c_str(), VI_NO_LOCK, 0, &vi) < 0) return out;
    out.vi = vi;
    const bool serial = std::string_view(rsrc).starts_with("ASRL");
    out.accepted = serial ? probeSerial(vi, out, accepts) : ask(vi, out, accepts) == Answer::Accepted;
    return out;
}

ResourceProber::ResourceProber(ViSession rm, std::vector<std::string> names, IdentityTest accepts,
                               unsigned threads)
    : rm_(rm),
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
            break;  // fewer threads; result() probes whatever nobody started
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
        if (states_[i] == State::Done && results_[i].vi != 0 && !taken_[i]) visa::close(results_[i].vi);
}

bool ResourceProber::claim(std::size_t &index, std::size_t from) {
    for (std::size_t i = from; i < states_.size(); ++i) {
        if (states_[i] != State::Waiting) continue;
        states_[i] = State::Running;
        index = i;
        return true;
    }
    return false;
}

void ResourceProber::run(std::size_t index) {
    ProbeResult r = probeResource(rm_, names_[index], accepts_);
    std::lock_guard g(lock_);
    results_[index] = r;
    states_[index] = State::Done;
    done_.notify_all();
}

void ResourceProber::work() {
    for (;;) {
        std::size_t index = 0;
        {
            std::lock_guard g(lock_);
            if (stopping_ || !claim(index, 0)) return;
        }
        run(index);
    }
}

const ProbeResult &ResourceProber::result(std::size_t i) {
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

void ResourceProber::take(std::size_t i) {
    std::lock_guard g(lock_);
    taken_[i] = true;
}

}  // namespace korvax
