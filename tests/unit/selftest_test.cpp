#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "KORVAX.h"
#include "support/fake_chassis.h"
#include "support/scripted_instrument.h"

namespace {

using fakevisa::Bytes;
using testsupport::FakeChassis;
using testsupport::InstrumentState;

FakeChassis chassis(uint16_t model, InstrumentState st = {}) {
    FakeChassis f = testsupport::installChassis(model);
    st.rq520Layout = model == KORVAX_MODEL_RQ520 || model == KORVAX_MODEL_RQ520B;
    f.res->responder = testsupport::instrument(st);
    return f;
}

// Replaces the loop-back reply (command 12 with a non-zero argument) from
// the n-th one on, so that card identification and the test itself can
// see different answers.
void loopBackFrom(FakeChassis &f, InstrumentState st, int n, Bytes reply) {
    st.rq520Layout = f.rec->deviceType == KORVAX_MODEL_RQ520 || f.rec->deviceType == KORVAX_MODEL_RQ520B;
    auto base = testsupport::instrument(st);
    auto seen = std::make_shared<int>(0);
    f.res->responder = [=](const Bytes &req) {
        if (req[0] == 12 && req[1] != 0 && ++*seen >= n) return fakevisa::Reply{reply};
        return base(req);
    };
}

std::string selfTest(uint32_t handle, int64_t subUnit, int32_t *status) {
    std::array<char, 600> text;
    text.fill('#');
    *status = KORVAX_SelfTest(handle, subUnit, text.data(), 512);
    return std::string(text.data());
}

TEST(SelfTest, LinesForCardIdentificationFailures) {
    struct {
        const char *what;
        uint16_t model;
        int64_t subUnit;
        InstrumentState st;
        int failReads;
        int32_t status;
        const char *line;
    } cases[] = {
        {"plate on 2.06", KORVAX_MODEL_RQ520, 2, {2, 6}, 0, KORVAX_ERR_NOT_SUPPORTED,
         "SelfTest:HardWare Version is not supported! please update MCU software!\n"},
        {"no matrix card", KORVAX_MODEL_RQ521, 0, {.presence = 0}, 0, KORVAX_ERR_NO_TYPE0_CARD,
         "SelfTest:No Card In Speified Slot!\n"},
        {"no RF card", KORVAX_MODEL_RQ520, 1, {.presence = 0x1F}, 0, KORVAX_ERR_NO_TYPE1_CARD,
         "SelfTest:No Card In QD2 Slot!\n"},
        {"no plate", KORVAX_MODEL_RQ520, 2, {.loopBack = 0}, 0, KORVAX_ERR_NO_TYPE2_CARD,
         "SelfTest:No Card In Adaptor Board Slot!\n"},
        {"RQ523B has no RF card", KORVAX_MODEL_RQ523B, 1, {}, 0, KORVAX_ERR_UNKNOWN_CARD_TYPE,
         "SelfTest:Card Type Error!\n"},
        {"link down", KORVAX_MODEL_RQ522, 0, {}, 1, KORVAX_ERR_RECEIVE, "SelfTest:Network Communicate Fail!\n"},
        {"unknown RF kind", KORVAX_MODEL_RQ520, 1, {.rfKind = 2}, 0, KORVAX_ERR_DEVICE_TYPE, ""},
    };
    for (auto c : cases) {
        FakeChassis f = chassis(c.model, c.st);
        f.res->failReads = c.failReads;
        int32_t status = 0;
        EXPECT_EQ(selfTest(f.handle, c.subUnit, &status), c.line) << c.what;
        EXPECT_EQ(status, c.status) << c.what;
    }
}

TEST(SelfTest, LoopBackVerdicts) {
    struct {
        const char *what;
        uint16_t model;
        int64_t subUnit;
        InstrumentState st;
        Bytes testReply;  // reply to the test's own loop-back request
        int32_t status;
        const char *line;
    } cases[] = {
        {"all matrix boards answer", KORVAX_MODEL_RQ521, 0, {.presence = 0b1011}, testsupport::reply({{2, 0b1011}}),
         0, "SelfTest:SelfTest Success!\n"},
        {"a fitted board is silent", KORVAX_MODEL_RQ521, 0, {.presence = 0b1011}, testsupport::reply({{2, 0b0011}}),
         KORVAX_ERR_SPI_LOOPBACK, "SelfTest:Spi Loop Back Fail\n"},
        {"an empty slot is not tested", KORVAX_MODEL_RQ521, 0, {.presence = 0b0011}, testsupport::reply({{2, 0b0011}}),
         0, "SelfTest:SelfTest Success!\n"},
        {"RQ522 all four lines", KORVAX_MODEL_RQ522, 0, {.presence = 0b101}, testsupport::reply({{2, 0x0F}, {3, 0x0F}}),
         0, "SelfTest:SelfTest Success!\n"},
        {"RQ522 value 14", KORVAX_MODEL_RQ522, 0, {.presence = 0b101}, testsupport::reply({{2, 0x0F}, {3, 0x0E}}),
         KORVAX_ERR_SPI_LOOPBACK, "SelfTest:Spi Loop Back Fail\n"},
        {"RQ522 odd board in the high nibble", KORVAX_MODEL_RQ522, 0, {.presence = 0b10},
         testsupport::reply({{2, 0xEF}}), KORVAX_ERR_SPI_LOOPBACK, "SelfTest:Spi Loop Back Fail\n"},
        {"RQ522 empty slot with value 0", KORVAX_MODEL_RQ522, 0, {.presence = 0b1},
         testsupport::reply({{2, 0x0F}}), 0, "SelfTest:SelfTest Success!\n"},
        {"RQ520 2.06 skips the matrix test", KORVAX_MODEL_RQ520, 0, {2, 6}, testsupport::reply({{2, 0}}), 0,
         "SelfTest:SelfTest Success!\n"},
        {"RQ520 2.07 tests", KORVAX_MODEL_RQ520, 0, {2, 7}, testsupport::reply({{2, 0}}), KORVAX_ERR_SPI_LOOPBACK,
         "SelfTest:Spi Loop Back Fail\n"},
        {"RF board of four lines", KORVAX_MODEL_RQ520, 1, {.rfKind = 12}, testsupport::reply({{2, 0x07}}),
         KORVAX_ERR_SPI_LOOPBACK, "SelfTest:RF Board Spi Loop Back Fail\n"},
        {"RF board of two lines", KORVAX_MODEL_RQ520, 1, {.rfKind = 3}, testsupport::reply({{2, 0x03}}), 0,
         "SelfTest:SelfTest Success!\n"},
        {"adapter plate silent", KORVAX_MODEL_RQ520B, 2, {.adapterCode = 0x041B}, testsupport::reply({{2, 0}}),
         KORVAX_ERR_SPI_LOOPBACK, "SelfTest:Adapter Plate Spi Loop Back Fail\n"},
        {"RQ521 sub-unit 2 tests sub-unit 0", KORVAX_MODEL_RQ521, 2, {.presence = 1}, testsupport::reply({{2, 1}}),
         0, "SelfTest:SelfTest Success!\n"},
    };
    for (auto c : cases) {
        FakeChassis f = chassis(c.model, c.st);
        // Identification of the plate uses one loop-back request of its own.
        loopBackFrom(f, c.st, c.subUnit == 2 && c.model != KORVAX_MODEL_RQ521 ? 2 : 1, c.testReply);
        int32_t status = 0;
        EXPECT_EQ(selfTest(f.handle, c.subUnit, &status), c.line) << c.what;
        EXPECT_EQ(status, c.status) << c.what;
    }
    // A failed loop-back request is reported as the link.
    FakeChassis f = chassis(KORVAX_MODEL_RQ523);
    f.res->responder = [base = testsupport::instrument({})](const Bytes &req) {
        if (req[0] == 12) return fakevisa::Reply{{}, VI_ERROR_TMO};
        return base(req);
    };
    int32_t status = 0;
    EXPECT_EQ(selfTest(f.handle, 0, &status), "SelfTest:Network Communicate Fail!\n");
    EXPECT_EQ(status, KORVAX_ERR_RECEIVE);
}

TEST(SelfTest, TextAreaRules) {
    FakeChassis f = chassis(KORVAX_MODEL_RQ523);
    std::array<char, 1200> text;
    // Up to 512 bytes are used: the line, zeros, a zero in the last one.
    text.fill('#');
    EXPECT_EQ(KORVAX_SelfTest(f.handle, 0, text.data(), 1000), 0);
    EXPECT_STREQ(text.data(), "SelfTest:SelfTest Success!\n");
    EXPECT_EQ(text[511], '\0');
    EXPECT_EQ(text[512], '#');
    // A short buffer gets the cut line and its terminator, nothing beyond.
    text.fill('#');
    EXPECT_EQ(KORVAX_SelfTest(f.handle, 0, text.data(), 5), 0);
    EXPECT_STREQ(text.data(), "Self");
    EXPECT_EQ(text[5], '#');
    // Size 0 or no buffer: nothing written, refused.
    text.fill('#');
    EXPECT_EQ(KORVAX_SelfTest(f.handle, 0, text.data(), 0), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(text[0], '#');
    EXPECT_EQ(KORVAX_SelfTest(f.handle, 0, nullptr, 100), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(KORVAX_SelfTest(0xBAD, 0, text.data(), 100), KORVAX_ERR_HANDLE);
    EXPECT_EQ(text[0], '#');
}

TEST(SpiLoopTest, ResultsPerBoard) {
    struct {
        const char *what;
        uint16_t model;
        uint32_t subUnit;
        InstrumentState st;
        Bytes reply;
        int32_t status;
        uint32_t count;
        std::vector<uint32_t> results;
    } cases[] = {
        {"RQ521 bits", KORVAX_MODEL_RQ521, 0, {}, testsupport::reply({{2, 0b0101}}), 0, 4, {1, 0, 1, 0}},
        {"RQ520 2.06 refused", KORVAX_MODEL_RQ520, 0, {2, 6}, {}, KORVAX_ERR_NOT_SUPPORTED, 5, {}},
        {"RQ520 2.07 tests", KORVAX_MODEL_RQ520, 0, {2, 7}, testsupport::reply({{2, 0x1F}}), 0, 5, {1, 1, 1, 1, 1}},
        {"RQ522 nibbles", KORVAX_MODEL_RQ522, 0, {}, testsupport::reply({{2, 0xEF}, {12, 0x0A}}), 0, 21,
         {15, 14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10}},
        {"RF type 5, bits 01", KORVAX_MODEL_RQ520, 1, {}, testsupport::reply({{2, 0b01}}), 0, 1, {0}},
        {"RF type 4, bits 1111", KORVAX_MODEL_RQ520, 1, {}, testsupport::reply({{2, 0x0F}}), 0, 1, {1}},
        {"RF type 11 untested", KORVAX_MODEL_RQ520, 1, {}, testsupport::reply({{2, 0xFF}}), KORVAX_ERR_DEVICE_TYPE, 1, {}},
        {"RF on an RQ521", KORVAX_MODEL_RQ521, 1, {}, {}, KORVAX_ERR_NOT_SUPPORTED, 0, {}},
        {"plate", KORVAX_MODEL_RQ520B, 2, {}, testsupport::reply({{2, 1}}), 0, 1, {1}},
        {"plate on an RQ523", KORVAX_MODEL_RQ523, 2, {}, testsupport::reply({{2, 1}}), KORVAX_ERR_NOT_SUPPORTED, 0, {}},
    };
    const uint32_t rfTypes[] = {0, 0, 0, 0, 5, 4, 11, 0, 0, 0};
    int i = 0;
    for (auto c : cases) {
        FakeChassis f = chassis(c.model, c.st);
        f.rec->subUnits[1].boardType = rfTypes[i++];
        if (!c.reply.empty()) loopBackFrom(f, c.st, 1, c.reply);
        std::array<uint32_t, 24> results;
        results.fill(77);
        uint32_t count = 99;
        EXPECT_EQ(KORVAX_SPILoopTestInfo(f.handle, c.subUnit, results.data(), &count), c.status) << c.what;
        EXPECT_EQ(count, c.count) << c.what;
        for (size_t j = 0; j < c.results.size(); ++j) EXPECT_EQ(results[j], c.results[j]) << c.what << " " << j;
        EXPECT_EQ(results[c.results.empty() ? 0 : c.results.size()], 77u) << c.what << ": wrote too far";
    }
    FakeChassis f = chassis(KORVAX_MODEL_RQ521);
    uint32_t results[4], count = 0;
    EXPECT_EQ(KORVAX_SPILoopTestInfo(f.handle, 3, results, &count), KORVAX_ERR_BAD_SLOT);
    EXPECT_EQ(KORVAX_SPILoopTestInfo(0xBAD, 0, results, &count), KORVAX_ERR_HANDLE);
    EXPECT_EQ(KORVAX_SPILoopTestInfo(f.handle, 0, nullptr, &count), KORVAX_ERR_PARAMETER);
    EXPECT_TRUE(fakevisa::writes(f.rsrc).empty());
}

}  // namespace
