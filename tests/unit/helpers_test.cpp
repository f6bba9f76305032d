#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/compat.h"
#include "base/qmbase.h"
#include "support/sleep_recorder.h"

namespace {

TEST(Helpers, ValidIPAddress) {
    struct {
        const char *text;
        int valid;
    } cases[] = {
        {"192.168.1.1", 1},    {"192.168.1.0", 1},      {"192.168.1.10", 1},
        {"192.168.1.254", 1},  {"192.168.1.200", 0},    {"192.168.1.255", 0},
        {"192.168.2.5", 0},    {"192.168.01.5", 0},     {"192.168.1.256", 0},
        {"192.168.1", 0},      {"192.168.1.5.6", 0},    {"192.168.1.05", 0},
        {"192.168.1.", 0},     {"192.168..1", 0},       {"", 0},
        {"abc", 0},            {"192.168.1.1a", 0},     {"192.168.1.-1", 0},
        {"1921.68.1.1", 0},    {"192.168.1.00", 0},     {" 192.168.1.1", 0},
    };
    for (const auto &c : cases) EXPECT_EQ(validIPAddress(c.text), c.valid) << c.text;
    EXPECT_EQ(validIPAddress(nullptr), 0);
}

TEST(Helpers, ToInt) {
    EXPECT_EQ(static_cast<uint32_t>(toInt("192.168.1.10")), 0xC0A8010Au);
    EXPECT_EQ(toInt("10.0.0.1"), 0x0A000001);
    EXPECT_EQ(toInt("12345678"), 12345678);
    EXPECT_EQ(toInt(""), 0);
    EXPECT_EQ(toInt("1..2"), 0x102);  // empty pieces are skipped
    EXPECT_EQ(toInt("1234567890123456789"), static_cast<int32_t>(1234567890123456789ull & 0xFFFFFFFFu));
    // Twenty characters or more do not fit the working copy: refused as 0.
    EXPECT_EQ(toInt("12345678901234567890"), 0);
    EXPECT_EQ(toInt(std::string(5000, '9').c_str()), 0);
    EXPECT_EQ(toInt(nullptr), 0);
}

TEST(Helpers, Dec2Bin) {
    uint32_t *d = dec_2bin(5);
    EXPECT_EQ(d[0], 1u);
    EXPECT_EQ(d[1], 0u);
    EXPECT_EQ(d[2], 1u);
    for (int k = 3; k < 32; ++k) EXPECT_EQ(d[k], 0u);
    d = dec_2bin(0);
    for (int k = 0; k < 32; ++k) EXPECT_EQ(d[k], 0u);
    d = dec_2bin(0x7FFFFFFF);
    for (int k = 0; k < 31; ++k) EXPECT_EQ(d[k], 1u);
    EXPECT_EQ(d[31], 0u);
    EXPECT_EQ(dec_2bin(1), dec_2bin(2)) << "one shared buffer";
}

TEST(Helpers, ArrayToU16) {
    uint8_t bytes[16] = {};
    bytes[0] = 1;
    bytes[15] = 1;
    uint32_t count = 99;
    EXPECT_EQ(ArrayToU16(bytes, &count), 0x8001);
    EXPECT_EQ(count, 2u);
    std::memset(bytes, 0, sizeof bytes);
    EXPECT_EQ(ArrayToU16(bytes, &count), 0);
    EXPECT_EQ(count, 0u);
    std::memset(bytes, 1, sizeof bytes);
    EXPECT_EQ(ArrayToU16(bytes, &count), 0xFFFF);
    EXPECT_EQ(count, 16u);
    // A byte of 2 in position 15 shifts out of the word but still counts.
    std::memset(bytes, 0, sizeof bytes);
    bytes[15] = 2;
    EXPECT_EQ(ArrayToU16(bytes, &count), 0);
    EXPECT_EQ(count, 1u);
}

TEST(Helpers, TextPredicates) {
    EXPECT_EQ(isdigitstr("0123456789"), 1);
    EXPECT_EQ(isdigitstr(""), 1);
    EXPECT_EQ(isdigitstr("12a"), 0);
    EXPECT_EQ(isdigitstr("-1"), 0);
    EXPECT_EQ(isdigitstr(" 1"), 0);
    EXPECT_EQ(existLowerCase(":SYST:VERS?"), 0);
    EXPECT_EQ(existLowerCase(":SYSTem:VERSion?"), 1);
    char up[] = "abC1";
    EXPECT_EQ(allUpperCase(up), 0);
    EXPECT_STREQ(up, "ABC1");
    char cut[] = "abcdef";
    EXPECT_STREQ(mystrncpy(cut, 3), "abc");
    char shorter[] = "ab";
    EXPECT_STREQ(mystrncpy(shorter, 10), "ab");
    EXPECT_EQ(mystrncpy(nullptr, 3), nullptr);
}

TEST(Helpers, RotateRight) {
    uint8_t b[] = {0, 1, 2, 3, 4, 5};
    EXPECT_EQ(rotateRight(b, 1, 5, 1), 1);
    const uint8_t once[] = {0, 4, 1, 2, 3, 5};
    EXPECT_EQ(std::memcmp(b, once, sizeof b), 0);
    EXPECT_EQ(rotateRight(b, 1, 5, 3), 3);
    const uint8_t four[] = {0, 1, 2, 3, 4, 5};
    EXPECT_EQ(std::memcmp(b, four, sizeof b), 0);
    EXPECT_EQ(rotateRight(b, 2, 3, 2), 2);  // a one-element range: rounds done, nothing moves
    EXPECT_EQ(rotateRight(b, 3, 3, 2), 0);  // an empty range
    EXPECT_EQ(rotateRight(b, 0, 6, 0), 0);
    EXPECT_EQ(rotateRight(b, 0, 6, -2), 0);
    EXPECT_EQ(std::memcmp(b, four, sizeof b), 0);
}

// SLEEP waits whole seconds, milliseconds / 1000, rounded down: nothing
// below 1000 ms (the wait is not even asked for).
TEST(Helpers, SleepWholeSeconds) {
    const struct {
        int32_t ms;
        std::vector<uint32_t> waits;
    } cases[] = {
        {-5, {}}, {0, {}}, {1, {}}, {999, {}}, {1000, {1}}, {1999, {1}}, {2500, {2}}, {6000, {6}},
    };
    testsupport::takeSleeps();
    for (const auto &c : cases) {
        EXPECT_EQ(SLEEP(c.ms), 0u) << c.ms;
        EXPECT_EQ(testsupport::takeSleeps(), c.waits) << c.ms;
    }
}

TEST(Helpers, Allocations) {
    int32_t **m = alloc2int(0, 3, 4);
    ASSERT_NE(m, nullptr);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(m[i][j], 0);
    EXPECT_EQ(&m[2][0], &m[0][0] + 8);
    int32_t *data = m[0];
    free2int(m);
    free(data);  // the data block belongs to the caller

    uint16_t **u = alloc2ViUInt16(0, 2, 2);
    ASSERT_NE(u, nullptr);
    uint16_t *udata = u[0];
    free2ViUInt16(u);
    free(udata);

    int32_t ***c = alloc3int(0, 2, 3, 4, 1);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(countOnes(c, 2, 3, 4), 24);
    c[1][2][3] = 0;
    c[0][0][0] = 5;
    EXPECT_EQ(countOnes3D(c, 2, 3, 4), 22);
    EXPECT_EQ(countOnes2D(c, 2, 3), 5);
    EXPECT_EQ(&c[1][2][3], &c[0][0][0] + (1 * 3 + 2) * 4 + 3);
    free3int(c);

    EXPECT_EQ(alloc2int(0, 0, 4), nullptr);
    EXPECT_EQ(alloc3int(0, UINT64_MAX, 2, 2, 0), nullptr);
}

TEST(Helpers, HighPrecisionTimeIsMonotonic) {
    double a = 0, b = 0;
    getHighPrecisionTime(&a);
    getHighPrecisionTime(&b);
    EXPECT_GT(a, 0.0);
    EXPECT_GE(b, a);
    getHighPrecisionTime(nullptr);
}

}  // namespace
