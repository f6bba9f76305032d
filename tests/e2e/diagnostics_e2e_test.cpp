// Diagnostics and the SCPI text path end to end: the self test and the
// loop-back report agree with the boards the chassis has, and SCPI
// commands reach the chassis.
#include <cstring>
#include <functional>

#include "bench.h"

namespace {

using namespace e2e;

TEST_F(Bench, SelfTestReportsWhatTheBoardsDo) {
    struct Case {
        const char *name;
        uint16_t model;
        std::function<void(sim::Config &)> tweak;
        int64_t subUnit;
        int32_t status;
        const char *line;
    };
    const Case cases[] = {
        {"healthy RQ521", sim::kRQ521, [](sim::Config &) {}, 0, 0, "SelfTest:SelfTest Success!\n"},
        {"RQ521 board 2 silent", sim::kRQ521, [](sim::Config &c) { c.slots[1].loopback = 0x7; }, 0,
         KORVAX_ERR_SPI_LOOPBACK, "SelfTest:Spi Loop Back Fail\n"},
        {"RQ522 board with three lines of four", sim::kRQ522, [](sim::Config &c) { c.slots[5].loopback = 14; },
         0, KORVAX_ERR_SPI_LOOPBACK, "SelfTest:Spi Loop Back Fail\n"},
        {"RQ522 empty slot is not tested", sim::kRQ522, [](sim::Config &c) { c.slots[5].fitted = false; }, 0, 0,
         "SelfTest:SelfTest Success!\n"},
        {"RQ523 without its card", sim::kRQ523, [](sim::Config &c) { c.slots[0].fitted = false; }, 0,
         KORVAX_ERR_NO_TYPE0_CARD, "SelfTest:No Card In Speified Slot!\n"},
        {"RQ520 RF card, both lines answer", sim::kRQ520,
         [](sim::Config &c) { c.rfCardKind = 3; c.slots[5].loopback = 0x3; }, 1, 0, "SelfTest:SelfTest Success!\n"},
        {"RQ520 RF card, one line of two", sim::kRQ520,
         [](sim::Config &c) { c.rfCardKind = 3; c.slots[5].loopback = 0x1; }, 1, KORVAX_ERR_SPI_LOOPBACK,
         "SelfTest:RF Board Spi Loop Back Fail\n"},
        {"RQ520 RF card hardware too old", sim::kRQ520, [](sim::Config &c) { c.slots[5].hwVersion = 9; }, 1,
         KORVAX_ERR_NOT_SUPPORTED, "SelfTest:HardWare Version is not supported! please update MCU software!\n"},
        {"RQ520 without RF card", sim::kRQ520, [](sim::Config &c) { c.slots[5].fitted = false; }, 1,
         KORVAX_ERR_NO_TYPE1_CARD, "SelfTest:No Card In QD2 Slot!\n"},
        {"RQ520B adapter plate", sim::kRQ520B, [](sim::Config &) {}, 2, 0, "SelfTest:SelfTest Success!\n"},
        {"RQ520B without adapter plate", sim::kRQ520B, [](sim::Config &c) { c.adapterFitted = false; }, 2,
         KORVAX_ERR_NO_TYPE2_CARD, "SelfTest:No Card In Adaptor Board Slot!\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::Config config = sim::Config::forModel(c.model);
        c.tweak(config);
        attach("TCPIP0::selftest::INSTR", config);
        char line[512];
        std::memset(line, 'x', sizeof line);
        EXPECT_EQ(KORVAX_SelfTest(handle, c.subUnit, line, sizeof line), c.status);
        EXPECT_STREQ(line, c.line);
    }
}

TEST_F(Bench, LoopBackReportFollowsTheBoards) {
    struct Case {
        const char *name;
        uint16_t model;
        std::function<void(sim::Config &)> tweak;
        uint32_t subUnit;
        int32_t status;
        std::vector<uint32_t> results;
    };
    const Case cases[] = {
        {"RQ521, board 3 silent", sim::kRQ521, [](sim::Config &c) { c.slots[2].loopback = 0; }, 0, 0, {1, 1, 0, 1}},
        {"RQ522 line counts", sim::kRQ522,
         [](sim::Config &c) {
             c.slots[0].loopback = 14;
             c.slots[20].loopback = 5;
             c.slots[7].fitted = false;
         },
         0, 0, {14, 15, 15, 15, 15, 15, 15, 0, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 5}},
        {"RQ520 firmware 2.06 has no loop-back", sim::kRQ520, [](sim::Config &c) { c.firmware = {{2, 6}}; }, 0,
         KORVAX_ERR_NOT_SUPPORTED, {}},
        {"RQ520 firmware 2.07", sim::kRQ520, [](sim::Config &c) { c.firmware = {{2, 7}}; c.slots[4].loopback = 1; },
         0, 0, {1, 1, 1, 1, 0}},
        {"RQ520 RF card with one line of two", sim::kRQ520,
         [](sim::Config &c) { c.rfCardKind = 3; c.slots[5].loopback = 1; }, 1, 0, {0}},
        {"RQ520 adapter plate", sim::kRQ520, [](sim::Config &) {}, 2, 0, {1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::Config config = sim::Config::forModel(c.model);
        c.tweak(config);
        attach("TCPIP0::spi::INSTR", config);
        if (c.subUnit != 0) {
            int64_t opened = -1;
            ASSERT_EQ(KORVAX_OpenSpecifiedCard(handle, c.subUnit, &opened), 0);
        }
        std::vector<uint32_t> results(21, 99);
        uint32_t count = 0;
        EXPECT_EQ(KORVAX_SPILoopTestInfo(handle, c.subUnit, results.data(), &count), c.status);
        if (c.status != 0) continue;
        ASSERT_EQ(count, c.results.size());
        results.resize(count);
        EXPECT_EQ(results, c.results);
    }
}

TEST_F(Bench, ScpiReachesTheChassis) {
    sim::Config config = sim::Config::forModel(sim::kRQ521);
    config.serial = 24681357;
    config.firmware = {{3, 6}};
    const auto chassis = attach("TCPIP0::scpi::INSTR", config);
    bringUp();
    char reply[400] = {};
    KORVAX_SCPIQuery(handle, "*IDN?", reply);
    EXPECT_STREQ(reply, "QM,RQ521,24681357,3.06\n");

    ASSERT_EQ(KORVAX_SCPIWrite(handle, ":CLOS (@0(1!1))"), 0);
    char text[256] = {};
    ASSERT_EQ(KORVAX_SCPIRead(handle, text), 0);
    EXPECT_STREQ(text, "Relays Operate Success");
    EXPECT_EQ(chassis->closedCrosspoints(), (std::vector<sim::Crosspoint>{{0, 0, 0, 0}}));

    KORVAX_SCPIQuery(handle, "*RST>", reply);
    EXPECT_STREQ(reply, "Reset Success!Please Restart The Application!");
    EXPECT_EQ(chassis->counters().resets, 1u);
    EXPECT_TRUE(chassis->closedRelays().empty());
}

TEST_F(Bench, ScpiCloseAndOpenRoundTrips) {
    // Four RQ521 cards side by side: channel-list column c is card
    // (c - 1) / 12, column (c - 1) % 12 of that card.
    const auto chassis = attach("TCPIP0::scpi-rq521::INSTR", sim::Config::forModel(sim::kRQ521));
    bringUp();
    char reply[400] = {};
    auto query = [&](const char *command) {
        std::memset(reply, 0, sizeof reply);
        KORVAX_SCPIQuery(handle, command, reply);
        return std::string(reply);
    };
    using X = sim::Crosspoint;
    ASSERT_EQ(query(":CLOS (@0(2!3,1!13:2!14))"), "Relays Operate Success");
    EXPECT_EQ(chassis->closedCrosspoints(),
              (std::vector<X>{{0, 0, 1, 2}, {1, 1, 0, 0}, {1, 1, 0, 1}, {1, 1, 1, 0}, {1, 1, 1, 1}}));

    ASSERT_EQ(query("[:ROUT]:OPEN (@0(1!13:2!13))"), "Relays Operate Success");
    EXPECT_EQ(chassis->closedCrosspoints(), (std::vector<X>{{0, 0, 1, 2}, {1, 1, 0, 1}, {1, 1, 1, 1}}));

    // Closing everything passes the relay budget: refused, nothing changes.
    const auto before = chassis->closedRelays();
    EXPECT_EQ(query(":CLOS:ALL"), "Relay Closure Limit Exceeded");
    EXPECT_EQ(chassis->closedRelays(), before);

    // The image still holds the refused request; opening all clears both.
    EXPECT_EQ(query(":OPEN:ALL"), "Relays Operate Success");
    EXPECT_TRUE(chassis->closedRelays().empty());
}

}  // namespace
