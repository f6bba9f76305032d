#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "KORVAX.h"
#include "api/errors.h"

namespace {

struct MessageCase {
    int64_t code;
    const char *text;
};

// The texts are compared by applications: spelling, blanks and commas matter.
const MessageCase kMessages[] = {
    {-10000, "VISA_IO:Load winsock error"},
    {-10004, "VISA_IO:Network communicate fail,Send data fail"},
    {-10005, "VISA_IO:Network communicate fail,Receive data fail"},
    {-10007, "Matrix row value out of range"},
    {-10012, "ErrorCode error"},
    {-10013, "Can not found physics location"},
    {-10020, "MCU Software Version is not Supported or Hardware Does Not Support This Function"},
    {-10021, "Point Definition Error "},
    {-10023, "Handle Error, Not Found This Handle or ResourceName"},
    {-10030, "Relay Closure Limit Exceeded"},
    {-10040, "Local/Remote Control Mode Conflict"},
    {-10049, "USB Error: Adapter card failed to connect. Check connection"},
    {-10050, "Invalid GPIB Address, Please check the GPIB address between 1~30"},
    {-10051, "Invalid Baudrate, Please set the baudrate:9600/19200/38400/57600/115200"},
    {-10052, "Invalid IP Communication Mode Setting, Please set the IP Communication Mode: 0/1 (ManualIP/AutoIP)"},
    {-10053, "Error caused by VISA API"},
    {-10054, "Error caused by VISA API"},
    {-20000, "Error caused by VISA API"},
    {static_cast<int32_t>(0xBFFF0011u), "Error caused by VISA API"},
    {INT64_MIN, "Error caused by VISA API"},
};

TEST(ErrorMessages, TextsAreExact) {
    for (const auto &c : kMessages) {
        char buf[256];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(KORVAX_ErrorCodeToMessage(c.code, buf, sizeof buf), 0) << c.code;
        EXPECT_STREQ(buf, c.text) << c.code;
    }
}

TEST(ErrorMessages, EveryCodeHasATextAndTheTableIsZeroPadded) {
    for (int n = 0; n < KORVAX_ERRMSG_COUNT; ++n) {
        const size_t len = std::strlen(errmsg[n]);
        EXPECT_GT(len, 0u) << n;
        for (size_t i = len; i < 256; ++i) ASSERT_EQ(errmsg[n][i], '\0') << n;
    }
}

TEST(ErrorMessages, NonErrorCodesWriteNothing) {
    for (int64_t code : {int64_t{-9999}, int64_t{0}, int64_t{5}, INT64_MAX}) {
        char buf[8] = "keep";
        EXPECT_EQ(KORVAX_ErrorCodeToMessage(code, buf, sizeof buf), KORVAX_ERR_ERROR_CODE);
        EXPECT_STREQ(buf, "keep");
    }
}

TEST(ErrorMessages, NullBufferIsRefused) {
    EXPECT_EQ(KORVAX_ErrorCodeToMessage(-10023, nullptr, 100), KORVAX_ERR_ERROR_CODE);
}

TEST(ErrorMessages, TruncatesToTheBufferAndLeavesTheTableIntact) {
    const std::string full = "Handle Error, Not Found This Handle or ResourceName";
    char buf[256];
    std::memset(buf, 'x', sizeof buf);
    ASSERT_EQ(KORVAX_ErrorCodeToMessage(-10023, buf, full.size()), 0);
    EXPECT_EQ(std::string(buf), full.substr(0, full.size() - 1));
    EXPECT_EQ(buf[full.size()], 'x') << "wrote past the given size";

    std::memset(buf, 'x', sizeof buf);
    ASSERT_EQ(KORVAX_ErrorCodeToMessage(-10023, buf, 1), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], 'x');

    std::memset(buf, 'x', sizeof buf);
    ASSERT_EQ(KORVAX_ErrorCodeToMessage(-10023, buf, 0), 0);
    EXPECT_EQ(buf[0], 'x');

    ASSERT_EQ(KORVAX_ErrorCodeToMessage(-10023, buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), full);
}

TEST(LibVersion, WritesExactlyTheVersionAndItsTerminator) {
    char buf[16];
    std::memset(buf, 'x', sizeof buf);
    KORVAX_GetLibVersion(buf);
    EXPECT_STREQ(buf, "1.1.77");
    EXPECT_EQ(buf[7], 'x');
    KORVAX_GetLibVersion(nullptr);  // ignored
}

}  // namespace
