// Library and controller versions.
#include <cstring>

#include "api/operations.h"
#include "base/build_policy.h"
#include "base/chassis_model.h"
#include "connection/VISAconnection.h"

extern "C" KORVAX_API void KORVAX_GetLibVersion(char *version) {
    using korvax::BuildPolicy;
    if (version) std::memcpy(version, BuildPolicy::kLibVersion, sizeof BuildPolicy::kLibVersion);
}

namespace korvax {

platform::Mutex &apiMutex() {
    static platform::Mutex m;
    return m;
}

int32_t refreshVersion(ChassisInfo &c) {
    // Bytes 4-5 are looked at only when the reply carries them; the reply
    // is cleared first, so a shorter one leaves them zero.
    const int32_t st = replyHolding(query(c, kCmdVersion, 0, /*clearReply=*/true), 4);
    if (st < 0) return st;
    // RQ520-family controllers report their own version in the second pair
    // and leave it zero on older firmware.
    if (modelOf(c).versionInSecondPair && (c.rxBuf[4] != 0 || c.rxBuf[5] != 0)) {
        c.fwMajor = c.rxBuf[4];
        c.fwMinor = c.rxBuf[5];
    } else {
        c.fwMajor = c.rxBuf[2];
        c.fwMinor = c.rxBuf[3];
    }
    return st;
}

}  // namespace korvax
