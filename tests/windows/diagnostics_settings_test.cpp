// Settings and diagnostics whose limits differ in KORVAX.dll: the IP-address
// check, chassis serial numbers, the self-test text size and the RQ520B's
// matrix loop-back.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "windows/chassis.h"
#include "windows/runner.h"

namespace {

std::vector<int> commandsSent() {
    std::vector<int> cmds;
    for (const auto &w : fakevisa::writes(wintest::kRsrc)) cmds.push_back(w.empty() ? -1 : w[0]);
    return cmds;
}

std::string show(const std::vector<int> &v) {
    std::string s;
    for (int x : v) s += std::to_string(x) + " ";
    return s;
}

}  // namespace

WIN_TEST(IpAddressHostPart) {
    struct Case {
        const char *address;
        int32_t status;
    };
    const Case cases[] = {
        {"192.168.1.255", 0},
        {"192.168.1.254", 0},
        {"192.168.1.1", 0},
        {"192.168.1.0", 0},
        {"192.168.1.200", KORVAX_ERR_BAD_IP},
        {"192.168.1.256", KORVAX_ERR_BAD_IP},
        {"192.168.2.255", KORVAX_ERR_BAD_IP},
        {"192.168.1.0255", KORVAX_ERR_BAD_IP},
        {"192.168.1.", KORVAX_ERR_BAD_IP},
        {"192.168.1.255.1", KORVAX_ERR_BAD_IP},
        {"", KORVAX_ERR_BAD_IP},
    };
    for (const Case &c : cases) {
        wintest::Chassis ch = wintest::connectOne(wintest::idnOf("42A"));
        CHECK_EQ(KORVAX_SetIPAddress(ch.handle, c.address), c.status, c.address);
        const auto cmds = commandsSent();
        CHECK_EQ(cmds.empty() ? -1 : cmds.front(), c.status == 0 ? 13 : -1, c.address);
    }
}

WIN_TEST(ChassisSerialNumberDigits) {
    struct Case {
        const char *serial;
        int32_t status;
        uint8_t bytes[4];  // serial bytes on the wire, most significant first
    };
    const Case cases[] = {
        {"1234567", 0, {0x00, 0x12, 0xD6, 0x87}},
        {"1000000", 0, {0x00, 0x0F, 0x42, 0x40}},
        {"12345678", 0, {0x00, 0xBC, 0x61, 0x4E}},
        {"99999999", 0, {0x05, 0xF5, 0xE0, 0xFF}},
        {"0001234567", 0, {0x00, 0x12, 0xD6, 0x87}},
        {"999999", KORVAX_ERR_SN_INPUT, {}},
        {"100000000", KORVAX_ERR_SN_INPUT, {}},
        {"12a4567", KORVAX_ERR_SN_INPUT, {}},
    };
    for (const Case &c : cases) {
        wintest::Chassis ch = wintest::connectOne(wintest::idnOf("42A"));
        CHECK_EQ(KORVAX_SetSN(ch.handle, c.serial, "3"), c.status, c.serial);
        const auto frames = fakevisa::writes(wintest::kRsrc);
        if (c.status != 0) {
            CHECK_EQ(frames.size(), 0u, c.serial);
            continue;
        }
        // The serial frame, then the two-byte restart.
        if (!CHECK_EQ(frames.size(), 2u, c.serial)) continue;
        CHECK_EQ(frames[0].size(), 24u, c.serial);
        CHECK_EQ(frames[0][0], 2, c.serial);
        for (int i = 0; i < 4; ++i) CHECK_EQ(frames[0][4 + 2 * i], c.bytes[i], c.serial);
        CHECK_EQ(frames[0][12], 3, c.serial);
        CHECK_EQ(frames[1].size(), 2u, c.serial);
        CHECK_EQ(frames[1][0], 14, c.serial);
    }
}

WIN_TEST(SelfTestTextSize) {
    struct Case {
        uint64_t size;
        size_t written;  // bytes of the caller's buffer the result may touch
    };
    const Case cases[] = {{1, 1}, {100, 100}, {1000, 1000}, {40000, 40000}, {50000, 40000}};
    for (const Case &c : cases) {
        const std::string what = "size " + std::to_string(c.size);
        testsupport::InstrumentState st;
        st.presence = 0b0001;
        st.loopBack = 0x01;
        wintest::Chassis ch = wintest::connectOne(wintest::idnOf("42A"), st);
        std::vector<char> text(c.size + 8, 'x');
        CHECK_EQ(KORVAX_SelfTest(ch.handle, 2, text.data(), c.size), 0, what);
        const std::string line = "SelfTest:SelfTest Success!\n";
        CHECK_EQ(std::string(text.data(), std::min(line.size(), c.written - 1)),
                 line.substr(0, c.written - 1), what);
        const auto zeros = std::count(text.begin() + static_cast<long>(std::min(line.size(), c.written - 1)),
                                      text.begin() + static_cast<long>(c.written), '\0');
        CHECK_EQ(static_cast<size_t>(zeros), c.written - std::min(line.size(), c.written - 1), what);
        CHECK_EQ(text[c.written], 'x', what);
    }
}

WIN_TEST(MatrixLoopBackByModelAndFirmware) {
    struct Case {
        const char *what;
        const char *model;
        uint8_t major, minor;
        int32_t status;
    };
    const Case cases[] = {
        {"RQ520B 3.06", "41B", 3, 6, KORVAX_ERR_NOT_SUPPORTED},
        {"RQ520B 2.07", "41B", 2, 7, KORVAX_ERR_NOT_SUPPORTED},
        {"RQ520B 2.06", "41B", 2, 6, KORVAX_ERR_NOT_SUPPORTED},
        {"RQ520 2.06", "41A", 2, 6, KORVAX_ERR_NOT_SUPPORTED},
        {"RQ520 2.00", "41A", 2, 0, KORVAX_ERR_NOT_SUPPORTED},
        {"RQ520 2.07", "41A", 2, 7, 0},
        {"RQ520 3.06", "41A", 3, 6, 0},
        {"RQ521 3.06", "42A", 3, 6, 0},
    };
    for (const Case &c : cases) {
        testsupport::InstrumentState st;
        st.fwMajor = c.major;
        st.fwMinor = c.minor;
        st.rq520Layout = std::string(c.model).starts_with("41");
        st.loopBack = 0x05;
        wintest::Chassis ch = wintest::connectOne(wintest::idnOf(c.model), st);
        uint32_t results[32] = {};
        uint32_t count = 0;
        CHECK_EQ(KORVAX_SPILoopTestInfo(ch.handle, 0, results, &count), c.status, c.what);
        const auto cmds = commandsSent();
        const bool looped = std::find(cmds.begin(), cmds.end(), 12) != cmds.end();
        CHECK_EQ(looped, c.status == 0, c.what + std::string(": ") + show(cmds));
        if (c.status == 0) {
            CHECK_EQ(results[0], 1u, c.what);
            CHECK_EQ(results[1], 0u, c.what);
            CHECK_EQ(results[2], 1u, c.what);
        }
    }
}
