// The end of a blocking VISA call: VI_ATTR_TMO_VALUE from its start, or
// never for VI_TMO_INFINITE. Device-file transports wait in poll(), which
// takes what is left of it.
#pragma once

#include <algorithm>
#include <chrono>
#include <climits>

#include "visa/visa.h"

namespace korvax::visa {

class Deadline {
public:
    explicit Deadline(ViUInt32 timeoutMs)
        : infinite_(timeoutMs == VI_TMO_INFINITE),
          end_(Clock::now() + std::chrono::milliseconds(infinite_ ? 0 : timeoutMs)) {}

    // Milliseconds left for poll(): -1 waits for ever, 0 when it is over.
    int pollMs() const {
        if (infinite_) return -1;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
    }
    // The smaller of what is left and `ms`.
    int pollMs(int ms) const {
        const int left = pollMs();
        return left < 0 ? ms : std::min(left, ms);
    }
    bool over() const { return !infinite_ && Clock::now() >= end_; }

private:
    using Clock = std::chrono::steady_clock;
    bool infinite_;
    Clock::time_point end_;
};

}  // namespace korvax::visa
