// Chassis attached to the machine, end to end: libKORVAX through the
// built-in VISA library's serial and USBTMC transports to simulated chassis
// served on pseudo-terminals. On a serial line the chassis listens only at
// its own baud rate, as a chassis on a cable does.
#include <chrono>
#include <fstream>
#include <memory>

#include <stdlib.h>

#include "bench.h"
#include "sim/server/pty_server.h"
#include "support/host_support.h"
#include "visa/visa.h"

namespace {

using namespace e2e;

class AttachedBench : public Bench {
protected:
    void TearDown() override {
        // Discovery's sessions go before the terminals they are on.
        std::array<RsrcEntry, KORVAX_MAX_CHASSIS> entries{};
        uint32_t count = 0;
        visa::clearDeclared();
        KORVAX_FindRsrc(entries.data(), &count);
        servers.clear();
        Bench::TearDown();
    }

    // A chassis on a terminal of its own, listening at `baud`; its port is
    // named in a resource file, as a user names a port discovery should probe.
    std::shared_ptr<sim::Chassis> serve(uint16_t model, uint32_t baud) {
        sim::Config config = sim::Config::forModel(model);
        config.baudRate = baud;
        auto chassis = std::make_shared<sim::Chassis>(config);
        servers.push_back(std::make_unique<simserver::PtyServer>(chassis, 9600, false));
        return chassis;
    }
    std::string rsrcOf(std::size_t server) const {
        return "ASRL" + servers.at(server)->path() + "::INSTR";
    }
    void nameThePorts() {
        char path[] = "/tmp/korvax-ports-XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        {
            std::ofstream file(path);
            for (std::size_t i = 0; i < servers.size(); ++i) file << "[" << rsrcOf(i) << "]\n";
        }
        EXPECT_EQ(visa::loadResourceFile(path), static_cast<int>(servers.size()));
        unlink(path);
    }
    std::vector<std::pair<std::string, uint16_t>> discover() {
        std::array<RsrcEntry, KORVAX_MAX_CHASSIS> entries{};
        uint32_t count = 0;
        EXPECT_EQ(KORVAX_FindRsrc(entries.data(), &count), 0);
        std::vector<std::pair<std::string, uint16_t>> found;
        for (uint32_t i = 0; i < count; ++i) found.emplace_back(entries[i].rsrcName, entries[i].typeCode);
        return found;
    }

    std::vector<std::unique_ptr<simserver::PtyServer>> servers;
};

// The probe tries 115200, 9600, 19200, 38400 and 57600 baud in turn: a port
// whose chassis is at none of them stays silent, one at 57600 answers last.
TEST_F(AttachedBench, ProbeFindsTheRateThenSwitchingAndRetuneWork) {
    serve(sim::kRQ522, 4800);
    const auto chassis = serve(sim::kRQ521, 57600);
    nameThePorts();
    ASSERT_EQ(discover(), (std::vector<std::pair<std::string, uint16_t>>{{rsrcOf(1), sim::kRQ521}}));
    ASSERT_EQ(KORVAX_Connect(rsrcOf(1).c_str(), &handle), 0);
    bringUp();

    const auto state = stateOf(userGeometry(sim::kRQ521, chassis->config()), {{1, 2, 3}});
    EXPECT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), static_cast<uint32_t>(state.size())), 0);
    const auto closed = chassis->closedCrosspoints();
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].card, 1);
    EXPECT_EQ(closed[0].row, 2);
    EXPECT_EQ(closed[0].column, 3);
    uint32_t rate = 0;
    EXPECT_EQ(KORVAX_GetBaudRate(handle, &rate), 0);
    EXPECT_EQ(rate, 57600u);

    // The chassis and the session change rate together, and talk on.
    EXPECT_EQ(KORVAX_SetBaudRate(handle, 115200), 0);
    EXPECT_EQ(chassis->config().baudRate, 115200u);
    ViUInt32 lineRate = 0;
    EXPECT_EQ(viGetAttribute(handle, VI_ATTR_ASRL_BAUD, &lineRate), VI_SUCCESS);
    EXPECT_EQ(lineRate, 115200u);
    EXPECT_EQ(KORVAX_GetBaudRate(handle, &rate), 0);
    EXPECT_EQ(rate, 115200u);
}

// The far end of the line goes away mid-session: the next exchange fails
// at once (the line hangs up), well within the session's timeout.
TEST_F(AttachedBench, ChassisGoneMidSessionFailsTheExchange) {
    const auto chassis = serve(sim::kRQ521, 115200);
    nameThePorts();
    ASSERT_EQ(discover().size(), 1u);
    ASSERT_EQ(KORVAX_Connect(rsrcOf(0).c_str(), &handle), 0);
    bringUp();
    ASSERT_EQ(viSetAttribute(handle, VI_ATTR_TMO_VALUE, 500), VI_SUCCESS);
    servers.clear();
    const auto start = std::chrono::steady_clock::now();
    uint32_t rate = 0;
    const int32_t st = KORVAX_GetBaudRate(handle, &rate);
    EXPECT_TRUE(st == KORVAX_ERR_SEND || st == KORVAX_ERR_RECEIVE) << st;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

// A USB chassis: the usbtmc node of a device folder and sysfs tree of the
// test's own is the terminal a chassis is served on.
TEST_F(AttachedBench, UsbChassisFoundThroughSysfsAndSwitched) {
    const auto chassis = serve(sim::kRQ523, 9600);  // the rate the terminal starts at
    hosttest::TempDir tree;
    tree.file("sys/devices/usb1/1-4/idVendor", "1234\n");
    tree.file("sys/devices/usb1/1-4/idProduct", "abcd\n");
    tree.file("sys/devices/usb1/1-4/serial", "RQ523-0001\n");
    tree.file("sys/devices/usb1/1-4/1-4:1.0/bInterfaceNumber", "00\n");
    tree.link("sys/class/usbmisc/usbtmc0/device", tree.path() / "sys/devices/usb1/1-4/1-4:1.0");
    tree.link("dev/usbtmc0", servers[0]->path());
    hosttest::HostRoots roots(tree.path() / "dev", tree.path() / "sys");

    const std::string rsrc = "USB0::0x1234::0xABCD::RQ523-0001::INSTR";
    ASSERT_EQ(discover(), (std::vector<std::pair<std::string, uint16_t>>{{rsrc, sim::kRQ523}}));
    ASSERT_EQ(KORVAX_Connect(rsrc.c_str(), &handle), 0);
    bringUp();
    const auto state = stateOf(userGeometry(sim::kRQ523, chassis->config()), {{0, 2, 2}});
    EXPECT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), static_cast<uint32_t>(state.size())), 0);
    EXPECT_EQ(chassis->closedCrosspoints(), (std::vector<sim::Crosspoint>{{0, 0, 2, 2}}));
}

}  // namespace
