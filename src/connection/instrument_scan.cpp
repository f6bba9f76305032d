#include "connection/instrument_scan.h"

#include <algorithm>
#include <array>
#include <string>

#include "base/records.h"
#include "connection/VISAconnection.h"
#include "connection/visa_loader.h"

namespace korvax {
namespace {

constexpr std::array<uint32_t, 5> kProbeRates = {115200, 9600, 19200, 38400, 57600};

enum class Answer { Accepted, Refused, WriteFailed, ReadFailed };

Answer ask(ViSession vi, const std::function<bool(std::string_view)> &accepts) {
    std::array<char, KORVAX_RX_SIZE + 1> reply{};
    const IdentityReply r = askIdentity(vi, reply.data(), KORVAX_RX_SIZE);
    if (r.failed == WireStep::Write) return Answer::WriteFailed;
    if (r.failed == WireStep::Read) return Answer::ReadFailed;
    const std::string_view text(reply.data(), std::min<uint32_t>(r.count, KORVAX_RX_SIZE));
    return accepts(text) ? Answer::Accepted : Answer::Refused;
}

bool probeSerial(ViSession vi, const std::function<bool(std::string_view)> &accepts,
                 uint32_t &rate) {
    visa::setAttribute(vi, VI_ATTR_ASRL_END_IN, VI_ASRL_END_NONE);
    for (uint32_t r : kProbeRates) {
        if (visa::setAttribute(vi, VI_ATTR_ASRL_BAUD, r) < 0) continue;
        visa::flush(vi, VI_READ_BUF_DISCARD);
        const Answer a = ask(vi, accepts);
        if (a == Answer::WriteFailed) return false;
        if (a == Answer::Accepted) {
            rate = r;
            return true;
        }
    }
    return false;
}

}  // namespace

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

bool forEachResource(uint32_t manager, const char *expression,
                     const std::function<bool(std::string_view)> &visit) {
    // VISA hands out descriptors of up to 256 bytes; callers cut them to
    // their own fields.
    std::array<ViChar, VI_FIND_BUFLEN + 1> desc{};
    ViFindList list = 0;
    ViUInt32 matches = 0;
    if (visa::findRsrc(manager, expression, &list, &matches, desc.data()) < 0) return false;
    for (ViUInt32 i = 0; i < matches; ++i) {
        if (i > 0 && visa::findNext(list, desc.data()) < 0) break;
        desc[VI_FIND_BUFLEN] = '\0';
        if (!visit(std::string_view(desc.data()))) break;
    }
    return true;
}

Identified identify(uint32_t manager, std::string_view rsrc,
                    const std::function<bool(std::string_view)> &accepts) {
    const std::string name(rsrc);
    ViSession vi = 0;
    if (visa::open(manager, name.c_str(), VI_NO_LOCK, 0, &vi) < 0) return {};
    Identified found;
    found.serial = rsrc.starts_with("ASRL");
    const bool ok = found.serial ? probeSerial(vi, accepts, found.baud)
                                 : ask(vi, accepts) == Answer::Accepted;
    if (!ok) {
        visa::close(vi);
        return {};
    }
    found.session = vi;
    return found;
}

void closeSession(uint32_t session) { visa::close(session); }

}  // namespace korvax
