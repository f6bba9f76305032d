// A simulated chassis served on a pseudo-terminal, reached through the
// built-in VISA library's serial transport like a chassis on a cable.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "sim/server/pty_server.h"
#include "sim_support.h"
#include "visa/visa.h"

namespace {

using namespace korvax;

class PtyChassis : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Config config = sim::Config::forModel(sim::kRQ521);
        config.baudRate = 19200;
        chassis = std::make_shared<sim::Chassis>(config);
        server = std::make_unique<simserver::PtyServer>(chassis, 9600, false);
        ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
        const std::string name = "ASRL" + server->path() + "::INSTR";
        ASSERT_EQ(viOpen(rm, name.c_str(), VI_NO_LOCK, 0, &vi), VI_SUCCESS);
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, 300);
        viSetAttribute(vi, VI_ATTR_ASRL_END_IN, VI_ASRL_END_NONE);
    }
    void TearDown() override { viClose(rm); }

    // One request and its answer: the bytes read and the read's status.
    std::pair<simtest::Bytes, ViStatus> ask(const simtest::Bytes &request) {
        ViUInt32 n = 0;
        viFlush(vi, VI_READ_BUF_DISCARD);
        EXPECT_EQ(viWrite(vi, request.data(), static_cast<ViUInt32>(request.size()), &n), VI_SUCCESS);
        simtest::Bytes reply(sim::kReplySize);
        const ViStatus st = viRead(vi, reply.data(), static_cast<ViUInt32>(reply.size()), &n);
        reply.resize(n);
        return {reply, st};
    }

    std::shared_ptr<sim::Chassis> chassis;
    std::unique_ptr<simserver::PtyServer> server;
    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
};

TEST_F(PtyChassis, AnswersOnlyAtItsOwnRate) {
    struct Case {
        ViUInt32 baud;
        bool answers;
    };
    for (const Case c : {Case{9600, false}, Case{115200, false}, Case{19200, true}, Case{57600, false}}) {
        SCOPED_TRACE(c.baud);
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_ASRL_BAUD, c.baud), VI_SUCCESS);
        const auto [reply, st] = ask(simtest::text("*IDN?\n"));
        EXPECT_EQ(st, c.answers ? VI_SUCCESS : VI_ERROR_TMO);
        EXPECT_EQ(std::string(reply.begin(), reply.end()).starts_with("QM,RQ521,"), c.answers);
    }
    // A binary request gets the whole fixed-size reply: the baud-rate query.
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_ASRL_BAUD, 19200), VI_SUCCESS);
    const auto [reply, st] = ask(simtest::request(23));
    ASSERT_EQ(reply.size(), sim::kReplySize);
    EXPECT_EQ(st, VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(reply[2] | reply[3] << 8 | reply[4] << 16, 19200);
}

TEST_F(PtyChassis, NoiseNeverStopsTheServer) {
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_ASRL_BAUD, 19200), VI_SUCCESS);
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::vector<std::size_t> sizes = {1, 3, 401, 5000, 70000};
    for (const std::size_t size : sizes) {
        SCOPED_TRACE(size);
        simtest::Bytes noise(size);
        for (auto &b : noise) b = static_cast<uint8_t>(byte(random));
        ViUInt32 n = 0;
        ViStatus st = viWrite(vi, noise.data(), static_cast<ViUInt32>(noise.size()), &n);
        EXPECT_EQ(st, VI_SUCCESS);
        // Whatever the chassis made of it is read away, a bounded number of times.
        simtest::Bytes sink(sim::kReplySize);
        for (int i = 0; i < 50 && st >= 0; ++i)
            st = viRead(vi, sink.data(), static_cast<ViUInt32>(sink.size()), &n);
        const auto [reply, status] = ask(simtest::text("*IDN?\n"));
        EXPECT_EQ(status, VI_SUCCESS);
        EXPECT_TRUE(std::string(reply.begin(), reply.end()).starts_with("QM,RQ521,"));
    }
}

}  // namespace
