// The lock of each chassis: threads sharing a handle each get their own
// replies, and a chassis that is slow to answer holds up no other.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "KORVAX.h"
#include "support/open_matrix.h"

namespace {

using fakevisa::Bytes;
using testsupport::FakeChassis;

constexpr uint32_t kSerial = 12345678;
constexpr auto kBound = std::chrono::seconds(20);  // a wait that can only end by a fault

// The scripted instrument with a valid serial number in its slot information.
fakevisa::Responder withSerial() {
    auto base = testsupport::instrument({});
    return [base](const Bytes &req) {
        fakevisa::Reply r = base(req);
        if (req[0] == 8)
            for (int i = 0; i < 4; ++i) r.bytes[2 * i] = static_cast<uint8_t>(kSerial >> (24 - 8 * i));
        return r;
    };
}

TEST(ChassisLock, TwoThreadsOnOneHandleEachGetTheirOwnReplies) {
    FakeChassis f = testsupport::openMatrix(KORVAX_MODEL_RQ521);
    f.res->responder = withSerial();
    // Between a request and its reply the other thread gets every chance to
    // cut in.
    f.res->readGate = [] { std::this_thread::yield(); };
    fakevisa::setLogging(false);
    constexpr int kRounds = 1000;
    int switchFailures = 0, wrongAnswers = 0;
    std::thread switching([&] {
        for (int i = 0; i < kRounds; ++i) {
            const std::array<uint32_t, 15> state = {1u << (i % 32)};
            if (KORVAX_OpMatrix(f.handle, 0, state.data(), 15) != 0) ++switchFailures;
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        std::array<uint32_t, 5> serials{};
        if (KORVAX_GetSN(f.handle, serials.data(), 5) != 0 || serials[0] != kSerial) ++wrongAnswers;
        std::array<char, 400> reply{};
        KORVAX_SCPIQuery(f.handle, ":SYST:CTRL:MODE?", reply.data());
        if (std::string(reply.data()) != "Control Mode : Remote") ++wrongAnswers;
    }
    switching.join();
    fakevisa::setLogging(true);
    EXPECT_EQ(switchFailures, 0);
    EXPECT_EQ(wrongAnswers, 0);
}

TEST(ChassisLock, ASlowChassisHoldsUpNoOther) {
    FakeChassis slow = testsupport::openMatrix(KORVAX_MODEL_RQ521);
    FakeChassis other = testsupport::addChassis(KORVAX_MODEL_RQ521, 1, "TCPIP0::192.168.1.6::INSTR");
    other.res->responder = testsupport::instrument({});
    int64_t opened = -1;
    ASSERT_EQ(KORVAX_OpenSpecifiedCard(other.handle, 0, &opened), 0);

    // The slow chassis keeps its reply to the relay frame until released.
    std::promise<void> waiting, release;
    std::shared_future<void> released = release.get_future().share();
    auto first = std::make_shared<std::atomic<bool>>(true);
    slow.res->readGate = [&, first] {
        if (!first->exchange(false)) return;
        waiting.set_value();
        released.wait();
    };
    const uint32_t state = 1;
    auto switchingSlow = std::async(std::launch::async, [&] { return KORVAX_OpMatrix(slow.handle, 0, &state, 1); });
    ASSERT_EQ(waiting.get_future().wait_for(kBound), std::future_status::ready);

    auto switchingOther = std::async(std::launch::async, [&] { return KORVAX_OpMatrix(other.handle, 0, &state, 1); });
    const bool otherDone = switchingOther.wait_for(kBound) == std::future_status::ready;
    release.set_value();
    EXPECT_TRUE(otherDone) << "the other chassis waited for the slow one";
    EXPECT_EQ(switchingOther.get(), 0);
    EXPECT_EQ(switchingSlow.get(), 0);
}

}  // namespace
