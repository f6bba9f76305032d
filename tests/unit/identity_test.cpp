#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "KORVAX.h"
#include "fakevisa/fake_visa.h"
#include "support/fake_chassis.h"

namespace {

using fakevisa::Bytes;
using testsupport::reply;

constexpr char kFill = '#';  // marks caller bytes that must stay untouched

const Bytes kVersionQuery = {11, 0, 0, 0};
const Bytes kSlotInfoQuery = {8, 0, 0, 0};

// Reply to command 11: version pair 1 in bytes 2-3, pair 2 in bytes 4-5.
Bytes versionReply(uint8_t major, uint8_t minor, uint8_t major2 = 0, uint8_t minor2 = 0) {
    return reply({{2, major}, {3, minor}, {4, major2}, {5, minor2}});
}

// Slot-information reply, current layout (one byte per 16-bit word).
Bytes slotInfo(uint32_t serial, uint16_t model = 0x041A, uint8_t hw = 21,
               const char *maker = "QM") {
    Bytes r(400, 0);
    for (int i = 0; i < 4; ++i) r[2 * i] = static_cast<uint8_t>(serial >> (24 - 8 * i));
    r[8] = hw;
    r[10] = static_cast<uint8_t>(model >> 8);
    r[11] = static_cast<uint8_t>(model);
    r[12] = static_cast<uint8_t>(maker[0]);
    r[14] = static_cast<uint8_t>(maker[1]);
    return r;
}

void setChassisSerial(Bytes &r, uint32_t serial) {
    for (int i = 0; i < 4; ++i) r[2 * i] = static_cast<uint8_t>(serial >> (24 - 8 * i));
}

void setCard(Bytes &r, int slot, uint32_t serial, uint8_t hw = 0) {
    const size_t base = 16 + 10 * static_cast<size_t>(slot - 1);
    for (int i = 0; i < 4; ++i) r[base + 2 * i] = static_cast<uint8_t>(serial >> (24 - 8 * i));
    r[base + 8] = hw;
}

// Slot-information reply of RQ520 firmware before 3.06.
Bytes oldSlotInfo(uint32_t serial, uint16_t model = 0x041A, const char *maker = "QM") {
    Bytes r(400, 0);
    for (int i = 0; i < 3; ++i) r[2 * i] = static_cast<uint8_t>(serial >> (16 - 8 * i));
    r[6] = static_cast<uint8_t>(model >> 8);
    r[7] = static_cast<uint8_t>(model);
    r[8] = static_cast<uint8_t>(maker[0]);
    r[10] = static_cast<uint8_t>(maker[1]);
    return r;
}

class Identity : public ::testing::Test {
protected:
    void install(uint16_t model) { f_ = testsupport::installChassis(model); }
    void queue(const Bytes &b) { f_.res->replies.push_back({b}); }
    void queueFailedRead() { f_.res->replies.push_back({{}, VI_ERROR_TMO}); }
    std::vector<Bytes> sent() const { return fakevisa::writes(f_.rsrc); }
    // A text slot of a caller buffer.
    static std::string at(const std::vector<char> &buf, size_t offset) {
        return std::string(buf.data() + offset);
    }
    testsupport::FakeChassis f_;
};

TEST_F(Identity, FirmwareVersionSourceAndFormat) {
    struct {
        const char *what;
        uint16_t model;
        Bytes version;
        const char *text;
        uint16_t major, minor;
        bool oldBlock = false;  // before 3.06 an RQ520 answers with the old block
    } cases[] = {
        {"RQ520, second pair zero", KORVAX_MODEL_RQ520, versionReply(3, 6), "3.06", 3, 6},
        {"RQ520, second pair set", KORVAX_MODEL_RQ520, versionReply(2, 1, 3, 7), "3.07", 3, 7},
        {"RQ520, only byte 5 set", KORVAX_MODEL_RQ520, versionReply(2, 1, 0, 9), "0.09", 0, 9, true},
        {"RQ520B, only byte 4 set", KORVAX_MODEL_RQ520B, versionReply(2, 1, 4, 0), "4.00", 4, 0},
        {"minor 0x10 is 3.10", KORVAX_MODEL_RQ520, versionReply(3, 0x10), "3.10", 3, 0x10},
        {"minor 10 is 3.0a", KORVAX_MODEL_RQ520, versionReply(3, 10), "3.0a", 3, 10},
        {"RQ522 ignores pair 2", KORVAX_MODEL_RQ522, versionReply(3, 6, 4, 1), "3.06", 3, 6},
        {"RQ523 ignores pair 2", KORVAX_MODEL_RQ523, versionReply(0x12, 0xab, 1, 1), "12.ab",
         0x12, 0xab},
    };
    for (const auto &c : cases) {
        install(c.model);
        queue(c.version);
        queue(c.oldBlock ? oldSlotInfo(1234567) : slotInfo(12345678));
        char model[10], maker[10], serial[10], fw[10];
        ASSERT_EQ(KORVAX_GetDeviceInfo(f_.handle, model, maker, serial, fw, 9), 0) << c.what;
        EXPECT_STREQ(fw, c.text) << c.what;
        EXPECT_EQ(f_.rec->fwMajor, c.major) << c.what;
        EXPECT_EQ(f_.rec->fwMinor, c.minor) << c.what;
        EXPECT_EQ(sent(), (std::vector<Bytes>{kVersionQuery, kSlotInfoQuery})) << c.what;
    }
}

TEST_F(Identity, DeviceInfoLayouts) {
    struct {
        const char *what;
        uint16_t model;
        Bytes version, info;
        int32_t result;
        const char *modelText, *maker, *serial;
    } cases[] = {
        {"RQ520 3.05: old layout, 7-digit serial", KORVAX_MODEL_RQ520, versionReply(3, 5),
         oldSlotInfo(1234567, 0x041A, "QM"), 0, "041A", "QM", " 1234567"},
        {"RQ520 3.06: current layout", KORVAX_MODEL_RQ520, versionReply(3, 6),
         slotInfo(12345678, 0x041A, 21, "QM"), 0, "041A", "QM", "12345678"},
        {"RQ520B 2.x in pair 2: old layout", KORVAX_MODEL_RQ520B, versionReply(9, 9, 2, 0x10),
         oldSlotInfo(9999999, 0x041B, "ab"), 0, "041B", "ab", " 9999999"},
        {"RQ522 with old version: current layout", KORVAX_MODEL_RQ522, versionReply(1, 0),
         slotInfo(99999999, 0x043A, 0, "QM"), 0, "043A", "QM", "99999999"},
        {"model code upper-case hex", KORVAX_MODEL_RQ523, versionReply(3, 6),
         slotInfo(10000000, 0xBEEF), 0, "BEEF", "QM", "10000000"},
        {"old layout serial above 7 digits", KORVAX_MODEL_RQ520, versionReply(3, 5),
         oldSlotInfo(0xFFFFFF), KORVAX_ERR_SN_UNSET, nullptr, nullptr, nullptr},
        {"old layout serial below 7 digits", KORVAX_MODEL_RQ520, versionReply(3, 5),
         oldSlotInfo(999999), KORVAX_ERR_SN_UNSET, nullptr, nullptr, nullptr},
        {"current layout serial unset", KORVAX_MODEL_RQ521, versionReply(3, 6),
         slotInfo(0xFFFFFFFF), KORVAX_ERR_SN_UNSET, nullptr, nullptr, nullptr},
        {"current layout 7-digit serial", KORVAX_MODEL_RQ520, versionReply(3, 6),
         slotInfo(9999999), KORVAX_ERR_SN_UNSET, nullptr, nullptr, nullptr},
    };
    for (const auto &c : cases) {
        install(c.model);
        queue(c.version);
        queue(c.info);
        std::array<std::vector<char>, 4> out;
        for (auto &b : out) b.assign(16, kFill);
        ASSERT_EQ(KORVAX_GetDeviceInfo(f_.handle, out[0].data(), out[1].data(), out[2].data(),
                                       out[3].data(), 9),
                  c.result)
            << c.what;
        if (c.result == 0) {
            EXPECT_EQ(at(out[0], 0), c.modelText) << c.what;
            EXPECT_EQ(at(out[1], 0), c.maker) << c.what;
            EXPECT_EQ(at(out[2], 0), c.serial) << c.what;
        } else {
            for (const auto &b : out)
                EXPECT_EQ(b, std::vector<char>(16, kFill)) << c.what << ": nothing written";
        }
    }
}

TEST_F(Identity, DeviceInfoCutsTextsToMaxLen) {
    struct {
        uint64_t maxLen;
        const char *model, *maker, *serial, *fw;
    } cases[] = {
        {9, "041A", "QM", "12345678", "3.06"},
        {4, "041A", "QM", "1234", "3.06"},
        {2, "04", "QM", "12", "3."},
        {0, "", "", "", ""},
    };
    for (const auto &c : cases) {
        install(KORVAX_MODEL_RQ520);
        queue(versionReply(3, 6));
        queue(slotInfo(12345678));
        std::array<std::vector<char>, 4> out;
        for (auto &b : out) b.assign(16, kFill);
        ASSERT_EQ(KORVAX_GetDeviceInfo(f_.handle, out[0].data(), out[1].data(), out[2].data(),
                                       out[3].data(), c.maxLen),
                  0);
        const char *want[4] = {c.model, c.maker, c.serial, c.fw};
        for (int i = 0; i < 4; ++i) {
            const size_t len = std::strlen(want[i]);
            EXPECT_EQ(at(out[i], 0), want[i]) << "maxLen " << c.maxLen << " text " << i;
            // Nothing past the terminating zero.
            EXPECT_EQ(out[i][len + 1], kFill) << "maxLen " << c.maxLen << " text " << i;
        }
    }
}

TEST_F(Identity, SerialNumbers) {
    struct {
        const char *what;
        uint16_t model;
        Bytes version;
        std::function<void(Bytes &)> edit;  // of a reply with chassis serial 12345678
        uint32_t count;
        int32_t result;
        std::vector<uint32_t> expected;  // entries the caller gets (count of them)
    } cases[] = {
        {"no cards", KORVAX_MODEL_RQ520, versionReply(3, 6), [](Bytes &) {}, 7, 0,
         {12345678, 0, 0, 0, 0, 0, 0}},
        {"cards in slots 1 and 6", KORVAX_MODEL_RQ520, versionReply(3, 6),
         [](Bytes &r) {
             setCard(r, 1, 10000000);
             setCard(r, 6, 99999999);
         },
         7, 0, {12345678, 10000000, 0, 0, 0, 0, 99999999}},
        {"count below the slot total", KORVAX_MODEL_RQ520, versionReply(3, 6),
         [](Bytes &r) { setCard(r, 1, 10000001); }, 2, 0, {12345678, 10000001}},
        {"unprogrammed card fails the call", KORVAX_MODEL_RQ520, versionReply(3, 6),
         [](Bytes &r) { setCard(r, 3, 0xFFFFFFFF); }, 7, KORVAX_ERR_SN_UNSET, {}},
        {"7-digit card serial fails the call", KORVAX_MODEL_RQ520, versionReply(3, 6),
         [](Bytes &r) { setCard(r, 2, 1234567); }, 7, KORVAX_ERR_SN_UNSET, {}},
        {"slot beyond the chassis is not read", KORVAX_MODEL_RQ521, versionReply(3, 6),
         [](Bytes &r) { setCard(r, 5, 0xFFFFFFFF); }, 6, 0, {12345678, 0, 0, 0, 0, 0}},
        {"chassis serial 0", KORVAX_MODEL_RQ522, versionReply(3, 6),
         [](Bytes &r) { setChassisSerial(r, 0); }, 7, KORVAX_ERR_SN_UNSET, {}},
        {"chassis serial unset", KORVAX_MODEL_RQ522, versionReply(3, 6),
         [](Bytes &r) { setChassisSerial(r, 0xFFFFFFFF); }, 7, KORVAX_ERR_SN_UNSET, {}},
        {"chassis serial of 9 digits", KORVAX_MODEL_RQ523, versionReply(3, 6),
         [](Bytes &r) { setChassisSerial(r, 100000000); }, 1, KORVAX_ERR_SN_UNSET, {}},
        {"RQ520 3.05 refused", KORVAX_MODEL_RQ520, versionReply(3, 5), [](Bytes &) {}, 7,
         KORVAX_ERR_NOT_SUPPORTED, {}},
        {"RQ520B 3.05 in pair 2 refused", KORVAX_MODEL_RQ520B, versionReply(4, 0, 3, 5),
         [](Bytes &) {}, 7, KORVAX_ERR_NOT_SUPPORTED, {}},
        {"count above 30 copies 30", KORVAX_MODEL_RQ522, versionReply(3, 6),
         [](Bytes &r) { setCard(r, 21, 87654321); }, 40, 0,
         [] {
             std::vector<uint32_t> v(30, 0);
             v[0] = 12345678;
             v[21] = 87654321;
             return v;
         }()},
    };
    for (const auto &c : cases) {
        install(c.model);
        queue(c.version);
        Bytes info = slotInfo(12345678);
        c.edit(info);
        queue(info);
        std::vector<uint32_t> out(48, 0xA5A5A5A5);
        ASSERT_EQ(KORVAX_GetSN(f_.handle, out.data(), c.count), c.result) << c.what;
        // Both requests go out even when the answer is then refused.
        EXPECT_EQ(sent(), (std::vector<Bytes>{kVersionQuery, kSlotInfoQuery})) << c.what;
        for (size_t i = 0; i < out.size(); ++i) {
            const uint32_t want = i < c.expected.size() ? c.expected[i] : 0xA5A5A5A5;
            EXPECT_EQ(out[i], want) << c.what << ", entry " << i;
        }
    }
}

// Expected serial-number payload: the four bytes most significant first and
// the hardware number, one per word, from byte 4 on.
Bytes serialFrame(uint8_t command, size_t length, std::array<uint8_t, 4> serial, uint8_t hw) {
    Bytes f(length, 0);
    f[0] = command;
    for (int i = 0; i < 4; ++i) f[4 + 2 * i] = serial[i];
    f[12] = hw;
    return f;
}

TEST_F(Identity, SetSNSendsSerialThenRestart) {
    struct {
        const char *serial, *hw;
        std::array<uint8_t, 4> bytes;
        uint8_t hwByte;
    } cases[] = {
        {"12345678", "3", {0x00, 0xBC, 0x61, 0x4E}, 3},
        {"99999999", "300", {0x05, 0xF5, 0xE0, 0xFF}, 0x2C},  // only the low byte of 300
        {"10000000", "", {0x00, 0x98, 0x96, 0x80}, 0},
        {"0012345678", "7", {0x00, 0xBC, 0x61, 0x4E}, 7},
    };
    for (const auto &c : cases) {
        install(KORVAX_MODEL_RQ520);
        EXPECT_EQ(KORVAX_SetSN(f_.handle, c.serial, c.hw), 0) << c.serial;
        EXPECT_EQ(sent(), (std::vector<Bytes>{serialFrame(2, 24, c.bytes, c.hwByte), {14, 0}}))
            << c.serial;
    }
}

TEST_F(Identity, SetSNExchangeOutcomes) {
    // A failed serial write is reported and nothing follows it; the restart
    // frame's own outcome does not count.
    install(KORVAX_MODEL_RQ521);
    f_.res->failWrites = 1;
    EXPECT_EQ(KORVAX_SetSN(f_.handle, "12345678", "1"), KORVAX_ERR_SEND);
    EXPECT_TRUE(sent().empty());

    install(KORVAX_MODEL_RQ521);
    queue(reply({}));
    queueFailedRead();
    EXPECT_EQ(KORVAX_SetSN(f_.handle, "12345678", "1"), 0);
    EXPECT_EQ(sent().size(), 2u);
}

TEST_F(Identity, SetCardSN) {
    struct {
        const char *what;
        uint16_t model;
        Bytes version;
        const char *serial;
        uint32_t slot;
        int32_t result;
        std::vector<Bytes> frames;
    } cases[] = {
        {"slot 1", KORVAX_MODEL_RQ520, versionReply(3, 6), "12345678", 1, 0,
         {kVersionQuery, serialFrame(32, 20, {0x00, 0xBC, 0x61, 0x4E}, 5)}},
        {"slot 6", KORVAX_MODEL_RQ522, versionReply(1, 0), "87654321", 6, 0,
         {kVersionQuery, serialFrame(37, 20, {0x05, 0x39, 0x7F, 0xB1}, 5)}},
        {"RQ520 3.05 refused", KORVAX_MODEL_RQ520, versionReply(3, 5), "12345678", 1,
         KORVAX_ERR_NOT_SUPPORTED, {kVersionQuery}},
        {"7 digits refused", KORVAX_MODEL_RQ520, versionReply(3, 6), "1234567", 2,
         KORVAX_ERR_SN_INPUT, {kVersionQuery}},
    };
    for (const auto &c : cases) {
        install(c.model);
        queue(c.version);
        EXPECT_EQ(KORVAX_SetCardSN(f_.handle, c.serial, "5", c.slot), c.result) << c.what;
        EXPECT_EQ(sent(), c.frames) << c.what;
    }
}

TEST_F(Identity, RefusalsBeforeAnythingIsSent) {
    char buf[256];
    uint32_t serials[30];
    const std::string tooLong(20, '1');
    struct {
        const char *what;
        std::function<int32_t(uint32_t)> call;
        int32_t result;
    } cases[] = {
        {"GetDeviceInfo unknown handle",
         [&](uint32_t) { return KORVAX_GetDeviceInfo(999, buf, buf, buf, buf, 9); },
         KORVAX_ERR_HANDLE},
        {"GetDeviceInfo null buffer",
         [&](uint32_t h) { return KORVAX_GetDeviceInfo(h, buf, buf, nullptr, buf, 9); },
         KORVAX_ERR_PARAMETER},
        {"GetSN unknown handle", [&](uint32_t) { return KORVAX_GetSN(999, serials, 1); },
         KORVAX_ERR_HANDLE},
        {"GetSN null array", [&](uint32_t h) { return KORVAX_GetSN(h, nullptr, 1); },
         KORVAX_ERR_PARAMETER},
        {"SetSN unknown handle", [&](uint32_t) { return KORVAX_SetSN(999, "12345678", "1"); },
         KORVAX_ERR_HANDLE},
        {"SetSN 7 digits", [&](uint32_t h) { return KORVAX_SetSN(h, "1234567", "1"); },
         KORVAX_ERR_SN_INPUT},
        {"SetSN 9 digits", [&](uint32_t h) { return KORVAX_SetSN(h, "100000000", "1"); },
         KORVAX_ERR_SN_INPUT},
        {"SetSN not digits", [&](uint32_t h) { return KORVAX_SetSN(h, "1234567a", "1"); },
         KORVAX_ERR_SN_INPUT},
        {"SetSN empty serial", [&](uint32_t h) { return KORVAX_SetSN(h, "", "1"); },
         KORVAX_ERR_SN_INPUT},
        {"SetSN 20-digit serial",
         [&](uint32_t h) { return KORVAX_SetSN(h, tooLong.c_str(), "1"); },
         KORVAX_ERR_SN_INPUT},
        {"SetSN bad hardware number", [&](uint32_t h) { return KORVAX_SetSN(h, "12345678", "1.2"); },
         KORVAX_ERR_BAD_HW_NUMBER},
        {"SetSN 20-digit hardware number",
         [&](uint32_t h) { return KORVAX_SetSN(h, "12345678", tooLong.c_str()); },
         KORVAX_ERR_BAD_HW_NUMBER},
        {"SetSN null serial", [&](uint32_t h) { return KORVAX_SetSN(h, nullptr, "1"); },
         KORVAX_ERR_PARAMETER},
        {"SetCardSN slot 0", [&](uint32_t h) { return KORVAX_SetCardSN(h, "12345678", "1", 0); },
         KORVAX_ERR_BAD_SLOT},
        {"SetCardSN slot 7", [&](uint32_t h) { return KORVAX_SetCardSN(h, "12345678", "1", 7); },
         KORVAX_ERR_BAD_SLOT},
        {"SetCardSN not digits",
         [&](uint32_t h) { return KORVAX_SetCardSN(h, "x2345678", "1", 1); },
         KORVAX_ERR_SN_INPUT},
        {"SetCardSN bad hardware number",
         [&](uint32_t h) { return KORVAX_SetCardSN(h, "12345678", "-1", 1); },
         KORVAX_ERR_BAD_HW_NUMBER},
        {"GetHWVersion null buffer", [&](uint32_t h) { return KORVAX_GetHWVersion(h, nullptr, 220); },
         KORVAX_ERR_PARAMETER},
        {"GetHWVersion buffer below one slot",
         [&](uint32_t h) { return KORVAX_GetHWVersion(h, buf, 9); }, KORVAX_ERR_PARAMETER},
        {"GetSWVersion unknown handle", [&](uint32_t) { return KORVAX_GetSWVersion(999, buf, 50); },
         KORVAX_ERR_HANDLE},
        {"GetSWVersion null buffer", [&](uint32_t h) { return KORVAX_GetSWVersion(h, nullptr, 50); },
         KORVAX_ERR_PARAMETER},
        {"GetCardType unknown handle", [&](uint32_t) { return KORVAX_GetCardType(999, 0, buf); },
         KORVAX_ERR_HANDLE},
        {"GetCardType null buffer", [&](uint32_t h) { return KORVAX_GetCardType(h, 0, nullptr); },
         KORVAX_ERR_PARAMETER},
        {"GetCardSize null buffer", [&](uint32_t) { return KORVAX_GetCardSize("K44", nullptr); },
         KORVAX_ERR_PARAMETER},
    };
    for (const auto &c : cases) {
        install(KORVAX_MODEL_RQ520);
        std::memset(buf, kFill, sizeof buf);
        std::memset(serials, 0x5A, sizeof serials);
        EXPECT_EQ(c.call(f_.handle), c.result) << c.what;
        EXPECT_TRUE(fakevisa::events().empty()) << c.what << ": nothing may reach the VISA";
        EXPECT_EQ(buf[0], kFill) << c.what;
        EXPECT_EQ(serials[0], 0x5A5A5A5Au) << c.what;
    }
}

TEST_F(Identity, ExchangeFailuresAreReturnedAndWriteNothing) {
    // Each operation, failing at each of its exchanges in turn.
    struct {
        const char *what;
        uint16_t model;
        int exchanges;  // the calls' exchanges when all succeed
        std::function<int32_t(uint32_t, char *)> call;
    } cases[] = {
        {"GetDeviceInfo", KORVAX_MODEL_RQ520, 2,
         [](uint32_t h, char *b) { return KORVAX_GetDeviceInfo(h, b, b + 10, b + 20, b + 30, 9); }},
        {"GetSN", KORVAX_MODEL_RQ520, 2,
         [](uint32_t h, char *b) { return KORVAX_GetSN(h, reinterpret_cast<uint32_t *>(b), 4); }},
        {"GetHWVersion", KORVAX_MODEL_RQ520, 2,
         [](uint32_t h, char *b) { return KORVAX_GetHWVersion(h, b, 70); }},
        {"GetSWVersion RQ520", KORVAX_MODEL_RQ520, 1,
         [](uint32_t h, char *b) { return KORVAX_GetSWVersion(h, b, 50); }},
        {"GetSWVersion RQ521", KORVAX_MODEL_RQ521, 2,
         [](uint32_t h, char *b) { return KORVAX_GetSWVersion(h, b, 50); }},
        {"GetSWVersion RQ522", KORVAX_MODEL_RQ522, 1,
         [](uint32_t h, char *b) { return KORVAX_GetSWVersion(h, b, 50); }},
    };
    for (const auto &c : cases) {
        for (int failing = 0; failing < c.exchanges; ++failing) {
            install(c.model);
            f_.rec->fwMajor = 7;
            f_.rec->fwMinor = 7;
            // Only the first exchange can precede a failing one: the version query.
            for (int i = 0; i < failing; ++i) queue(versionReply(3, 6));
            queueFailedRead();
            alignas(4) char buf[128];
            std::memset(buf, kFill, sizeof buf);
            EXPECT_EQ(c.call(f_.handle, buf), KORVAX_ERR_RECEIVE) << c.what << " #" << failing;
            EXPECT_EQ(static_cast<int>(sent().size()), failing + 1) << c.what << " #" << failing;
            for (char ch : buf) ASSERT_EQ(ch, kFill) << c.what << " #" << failing;
            if (failing == 0) {  // no completed refresh: the stored version stays
                EXPECT_EQ(f_.rec->fwMajor, 7) << c.what;
            }
        }
    }
}

TEST_F(Identity, HardwareVersions) {
    install(KORVAX_MODEL_RQ520);
    queue(versionReply(3, 6));
    Bytes info = slotInfo(12345678, 0x041A, 21);
    setCard(info, 1, 0, 0);
    setCard(info, 2, 0, 255);
    setCard(info, 6, 0, 99);
    queue(info);
    std::vector<char> out(80, kFill);
    ASSERT_EQ(KORVAX_GetHWVersion(f_.handle, out.data(), out.size()), 0);
    EXPECT_EQ(sent(), (std::vector<Bytes>{kVersionQuery, kSlotInfoQuery}));
    const char *want[7] = {"2.1", "0.0", "19.5", "0.0", "0.0", "0.0", "9.9"};
    for (size_t s = 0; s < 7; ++s) EXPECT_EQ(at(out, 10 * s), want[s]) << "slot " << s;
    EXPECT_EQ(out[70], kFill) << "an RQ520 has 6 card slots";
}

TEST_F(Identity, HardwareVersionsRefusedOnOldRQ520) {
    install(KORVAX_MODEL_RQ520B);
    queue(versionReply(3, 5));
    std::vector<char> out(70, kFill);
    EXPECT_EQ(KORVAX_GetHWVersion(f_.handle, out.data(), out.size()), KORVAX_ERR_NOT_SUPPORTED);
    EXPECT_EQ(sent(), (std::vector<Bytes>{kVersionQuery}));
    EXPECT_EQ(out, std::vector<char>(70, kFill));
}

TEST_F(Identity, VersionListsAreBoundedBySize) {
    Bytes manyPairs(400, 0x11);  // 199 non-zero pairs from byte 2
    struct {
        const char *what;
        uint16_t model;
        Bytes first;  // version reply (GetSWVersion) or slot information (GetHWVersion)
        bool hardware;
        uint64_t size;
        size_t slots;  // written
    } cases[] = {
        {"RQ522 firmware list, 50 bytes", KORVAX_MODEL_RQ522, manyPairs, false, 50, 5},
        {"RQ522 firmware list, 59 bytes", KORVAX_MODEL_RQ522, manyPairs, false, 59, 5},
        {"RQ522 firmware list, 10 bytes", KORVAX_MODEL_RQ522, manyPairs, false, 10, 1},
        {"RQ522 firmware list, all of it", KORVAX_MODEL_RQ522, manyPairs, false, 2100, 199},
        {"RQ521 two boards, 19 bytes", KORVAX_MODEL_RQ521, versionReply(1, 2), false, 19, 1},
        {"RQ522 hardware, 22 slots in 50 bytes", KORVAX_MODEL_RQ522, slotInfo(12345678), true,
         50, 5},
        {"RQ522 hardware, all 22 slots", KORVAX_MODEL_RQ522, slotInfo(12345678), true, 300, 22},
    };
    for (const auto &c : cases) {
        install(c.model);
        if (c.hardware) queue(versionReply(3, 6));
        queue(c.first);
        queue(versionReply(4, 5));  // RQ521 communication board
        std::vector<char> out(2200, kFill);
        ASSERT_EQ(c.hardware ? KORVAX_GetHWVersion(f_.handle, out.data(), c.size)
                             : KORVAX_GetSWVersion(f_.handle, out.data(), c.size),
                  0)
            << c.what;
        for (size_t k = 0; k < c.slots; ++k)
            EXPECT_NE(out[10 * k], kFill) << c.what << ", slot " << k;
        for (size_t i = 10 * c.slots; i < out.size(); ++i)
            ASSERT_EQ(out[i], kFill) << c.what << ", byte " << i;
    }
}

TEST_F(Identity, FirmwareVersionLists) {
    struct {
        const char *what;
        uint16_t model;
        std::vector<Bytes> replies;
        std::vector<Bytes> requests;
        std::vector<std::string> slots;
        uint16_t storedMajor, storedMinor;  // only the RQ520 family refreshes them
    } cases[] = {
        {"RQ522 list ends at the first zero pair", KORVAX_MODEL_RQ522,
         {reply({{2, 1}, {3, 2}, {4, 3}, {5, 4}, {6, 0}, {7, 5}, {8, 6}, {9, 7}})},
         {kVersionQuery}, {"1.02", "3.04"}, 0x77, 0x77},
        {"RQ523B pair with zero minor ends it", KORVAX_MODEL_RQ523B,
         {reply({{2, 0x12}, {3, 0x34}, {4, 5}, {5, 0}})}, {kVersionQuery}, {"12.34"}, 0x77, 0x77},
        {"RQ522 first pair zero: nothing", KORVAX_MODEL_RQ522, {reply({{2, 0}, {3, 9}, {4, 1}, {5, 1}})},
         {kVersionQuery}, {}, 0x77, 0x77},
        {"RQ521 controller and communication board", KORVAX_MODEL_RQ521,
         {versionReply(3, 0x10, 9, 9), versionReply(1, 10)}, {kVersionQuery, {49, 0, 0, 0}},
         {"3.10", "1.0a"}, 0x77, 0x77},
        {"RQ520 refreshed version", KORVAX_MODEL_RQ520, {versionReply(3, 6, 3, 7)},
         {kVersionQuery}, {"3.07"}, 3, 7},
    };
    for (const auto &c : cases) {
        install(c.model);
        for (const auto &r : c.replies) queue(r);
        f_.rec->fwMajor = f_.rec->fwMinor = 0x77;
        std::vector<char> out(60, kFill);
        ASSERT_EQ(KORVAX_GetSWVersion(f_.handle, out.data(), out.size()), 0) << c.what;
        EXPECT_EQ(sent(), c.requests) << c.what;
        for (size_t k = 0; k < c.slots.size(); ++k)
            EXPECT_EQ(at(out, 10 * k), c.slots[k]) << c.what << ", slot " << k;
        EXPECT_EQ(out[10 * c.slots.size()], kFill) << c.what;
        EXPECT_EQ(f_.rec->fwMajor, c.storedMajor) << c.what;
        EXPECT_EQ(f_.rec->fwMinor, c.storedMinor) << c.what;
    }
}

TEST_F(Identity, CardType) {
    const char *names[] = {"Y8340",    "Y8342",    "Y8343",    "Y8344", "QD2",
                           "Y8341-P",  "Y8341-QQ", "Y8341-Q",  "Y8341-Q", "Y8341-QQ",
                           "Y8341-PQ", "K44",      "K30",      "Unknown", "Unknown"};
    for (uint32_t code = 0; code < 15; ++code) {
        install(KORVAX_MODEL_RQ520);
        const uint32_t type = code == 14 ? 0xFFFFFFFFu : code;
        f_.rec->subUnits[1].boardType = type;
        f_.rec->subUnits[1].slotPresent[5] = 1;
        char out[16];
        std::memset(out, kFill, sizeof out);
        ASSERT_EQ(KORVAX_GetCardType(f_.handle, 1, out), 0) << type;
        EXPECT_STREQ(out, names[code]) << type;
        EXPECT_TRUE(fakevisa::events().empty()) << "the stored type needs no request";
    }
}

TEST_F(Identity, CardTypeNeedsACard) {
    struct {
        int64_t subUnit;
        int32_t result;
    } cases[] = {
        {0, KORVAX_ERR_NO_TYPE0_CARD}, {1, KORVAX_ERR_NO_TYPE1_CARD},
        {2, KORVAX_ERR_NO_TYPE2_CARD}, {3, KORVAX_ERR_PARAMETER},
        {-1, KORVAX_ERR_PARAMETER},    {int64_t{1} << 32, KORVAX_ERR_PARAMETER},
    };
    for (const auto &c : cases) {
        install(KORVAX_MODEL_RQ520);
        char out[16] = "untouched";
        EXPECT_EQ(KORVAX_GetCardType(f_.handle, c.subUnit, out), c.result) << c.subUnit;
        EXPECT_STREQ(out, "untouched");
    }
}

TEST(IdentityCardSize, NamesAreMatchedExactly) {
    struct {
        const char *name, *size;
    } cases[] = {
        {"Y8340", "12*10"},     {"QD2", "8*50"},        {"Y8341-P", "8*50"},
        {"Y8341-PP", "16*50"},  {"Y8341-PQ", "16*50"},  {"Y8341-QQ", "16*50"},
        {"Y8341-Q", "8*50"},    {"K44", "14*8"},        {"K30", "10*10"},
        {"Y8342", "10*12"},     {"Y8343", "16*96"},     {"Y8344", "8*12"},
        {"y8340", "Unknown"},   {"qd2", "Unknown"},     {"Y8341-q", "Unknown"},
        {"Y8341", "Unknown"},   {"Y8340 ", "Unknown"},  {"", "Unknown"},
    };
    for (const auto &c : cases) {
        char out[16];
        std::memset(out, kFill, sizeof out);
        ASSERT_EQ(KORVAX_GetCardSize(c.name, out), 0) << c.name;
        EXPECT_STREQ(out, c.size) << c.name;
    }
}

}  // namespace
