#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "api/compat.h"
#include "base/records.h"
#include "connection/VISAconnection.h"
#include "fakevisa/fake_visa.h"

namespace {

using fakevisa::Bytes;

class Transport : public ::testing::Test {
protected:
    void SetUp() override {
        fakevisa::reset();
        rsrc_ = &fakevisa::add("TCPIP0::10.0.0.1::INSTR");
        ASSERT_EQ(viOpenDefaultRM(&rm_), VI_SUCCESS);
        ASSERT_EQ(viOpen(rm_, "TCPIP0::10.0.0.1::INSTR", 0, 0, &vi_), VI_SUCCESS);
        std::memset(reply_, 0xAA, sizeof reply_);
    }
    fakevisa::Resource *rsrc_ = nullptr;
    ViSession rm_ = 0, vi_ = 0;
    uint8_t reply_[400];
};

TEST_F(Transport, ArgumentErrorsSendNothing) {
    const uint8_t req[4] = {11, 0, 0, 0};
    struct {
        uint32_t handle;
        const uint8_t *request;
        int32_t length;
    } cases[] = {{0, req, 4}, {vi_, nullptr, 4}, {vi_, req, 0}, {vi_, req, -1}};
    for (const auto &c : cases) {
        EXPECT_EQ(SendRecvMsg(c.handle, c.request, c.length, reply_), KORVAX_ERR_SEND);
        EXPECT_EQ(SendRecvMsgLock(c.handle, c.request, c.length, reply_), KORVAX_ERR_SEND);
    }
    EXPECT_TRUE(fakevisa::writes(rsrc_->name).empty());
}

TEST_F(Transport, SendsExactlyTheGivenBytesAndReturnsTheReplyCount) {
    const uint8_t reset[4] = {14, 0, 0x55, 0x55};
    rsrc_->replies.push_back({Bytes{1, 2, 3}});
    EXPECT_EQ(SendRecvMsg(vi_, reset, 2, reply_), 3);
    ASSERT_EQ(fakevisa::writes(rsrc_->name).size(), 1u);
    EXPECT_EQ(fakevisa::writes(rsrc_->name)[0], (Bytes{14, 0}));
    EXPECT_EQ(reply_[0], 1);
    EXPECT_EQ(reply_[2], 3);
    // The read always asks for the full 400 bytes.
    const auto ev = fakevisa::events();
    EXPECT_EQ(ev.back().op, fakevisa::Op::Read);
    EXPECT_EQ(ev.back().value, 400u);
}

TEST_F(Transport, FailureCodes) {
    const uint8_t req[4] = {11, 0, 0, 0};
    struct {
        const char *what;
        int failWrites, failReads;
        Bytes reply;
        int32_t expected;
    } cases[] = {
        {"write fails", 1, 0, {}, KORVAX_ERR_SEND},
        {"read fails", 0, 1, {}, KORVAX_ERR_RECEIVE},
        {"error report", 0, 0, {0xFF, 0xFF, 0xFF, 0xFF, 0}, KORVAX_ERR_USB_ADAPTER},
        {"three FF are data", 0, 0, {0xFF, 0xFF, 0xFF, 0x00}, 4},
    };
    for (bool locked : {false, true}) {
        for (const auto &c : cases) {
            std::memset(reply_, 0, sizeof reply_);
            rsrc_->failWrites = c.failWrites;
            rsrc_->failReads = c.failReads;
            rsrc_->replies.clear();
            if (!c.reply.empty()) rsrc_->replies.push_back({c.reply});
            const int32_t got = locked ? SendRecvMsgLock(vi_, req, 4, reply_)
                                       : SendRecvMsg(vi_, req, 4, reply_);
            EXPECT_EQ(got, c.expected) << c.what << (locked ? " (locked)" : "");
        }
    }
}

TEST_F(Transport, ErrorReportIsJudgedOnTheBufferEvenAfterAShortRead) {
    const uint8_t req[4] = {11, 0, 0, 0};
    std::memset(reply_, 0xFF, sizeof reply_);
    rsrc_->replies.push_back({Bytes{0xFF}});
    EXPECT_EQ(SendRecvMsg(vi_, req, 4, reply_), KORVAX_ERR_USB_ADAPTER);
}

TEST_F(Transport, LockIsFreeAfterAFailedLockedExchange) {
    const uint8_t req[4] = {19, 0, 0, 0};
    rsrc_->failWrites = 1;
    EXPECT_EQ(SendRecvMsgLock(vi_, req, 4, reply_), KORVAX_ERR_SEND);
    rsrc_->failReads = 1;
    EXPECT_EQ(SendRecvMsgLock(vi_, req, 4, reply_), KORVAX_ERR_RECEIVE);
    // Another thread must get through: a lock left held would hang here.
    int32_t result = 0;
    std::thread t([&] {
        uint8_t r[400];
        result = SendRecvMsgLock(vi_, req, 4, r);
    });
    t.join();
    EXPECT_EQ(result, 16);
}

TEST(CheckSum, SumsUnsignedBytes) {
    EXPECT_EQ(checkSum(reinterpret_cast<const uint8_t *>("abc"), 3), 294u);
    EXPECT_EQ(checkSum(nullptr, 10), 0u);
    const uint8_t high[] = {0xFF, 0xFF, 0x80};
    EXPECT_EQ(checkSum(high, 3), 0x27Eu);
    EXPECT_EQ(checkSum(high, 0), 0u);
}

TEST(Registry, FindChassisLooksAtTheFirstFiveRecordsOnly) {
    std::memset(globalChassisInfo, 0, sizeof globalChassisInfo);
    globalChassisInfo[2].vi = 77;
    globalChassisInfo[5].vi = 88;
    ChassisInfo *c = nullptr;
    EXPECT_EQ(FindChassis(77, &c), 2);
    EXPECT_EQ(c, &globalChassisInfo[2]);
    c = nullptr;
    EXPECT_EQ(FindChassis(88, &c), KORVAX_ERR_HANDLE);
    EXPECT_EQ(c, nullptr);
    // Handle 0 never matches, although unused records hold vi 0.
    EXPECT_EQ(FindChassis(0, &c), KORVAX_ERR_HANDLE);
    EXPECT_EQ(FindIdleChassis(), 0);
    for (int i = 0; i < 5; ++i) globalChassisInfo[i].vi = 100 + i;
    EXPECT_EQ(FindIdleChassis(), KORVAX_ERR_HANDLE);
    std::memset(globalChassisInfo, 0, sizeof globalChassisInfo);
}

TEST(Registry, RecordLayout) {
    // The entry handed to discovery callers is the record's head, byte for byte.
    EXPECT_EQ(sizeof(RsrcEntry), 66u);
    EXPECT_EQ(offsetof(ChassisInfo, typeCode), 64u);
    EXPECT_EQ(sizeof(ChassisInfo::txBuf), 1600u);
    EXPECT_EQ(sizeof(ChassisInfo::rxBuf), 400u);
    EXPECT_EQ(sizeof(SubUnitInfo::userState), 6000u);
    EXPECT_EQ(fdtmp, -1);
}

}  // namespace
