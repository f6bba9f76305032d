// Fuzzes the simulator's request decoding. The first input byte picks the
// model and firmware of a fresh chassis; the rest is a string of requests,
// each a length byte followed by that many bytes. Every reply must fit the
// protocol's 400 bytes, and the chassis must stay consistent: its relay
// state decodes without throwing.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "sim/chassis.h"

using namespace korvax::sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    Config config = Config::forModel(kModels[data[0] % kModels.size()]);
    static constexpr Version kFirmware[] = {{3, 8}, {3, 5}, {1, 0}, {3, 6}};
    config.firmware = {kFirmware[(data[0] / 8) % 4]};
    if (data[0] & 0x80) config.slots[0].fitted = false;
    Chassis chassis(config);
    std::span<const uint8_t> rest(data + 1, size - 1);
    while (!rest.empty()) {
        const size_t n = rest[0] < rest.size() - 1 ? rest[0] : rest.size() - 1;
        const auto reply = chassis.receive(rest.subspan(1, n));
        if (reply && reply->size() > kReplySize) std::abort();
        rest = rest.subspan(1 + n);
    }
    chassis.closedCrosspoints();
    chassis.closedIsolationRelays();
    chassis.strayRelays();
    return 0;
}
