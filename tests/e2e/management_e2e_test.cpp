// Identity, settings, board presence and firmware update end to end: what
// the library reports is what the chassis holds, and what it changes the
// chassis keeps.
#include <cstdio>
#include <fstream>
#include <string>

#include <unistd.h>

#include "bench.h"

namespace {

using namespace e2e;

std::string text(const char *buf) { return std::string(buf); }

TEST_F(Bench, DeviceInfoMatchesTheChassis) {
    struct Case {
        const char *name;
        uint16_t model;
        std::vector<sim::Version> firmware;
        uint32_t serial;
        const char *modelText, *serialText, *firmwareText;
    };
    const Case cases[] = {
        {"RQ521", sim::kRQ521, {{3, 8}}, 12345678, "042A", "12345678", "3.08"},
        {"RQ522", sim::kRQ522, {{3, 0x10}, {1, 2}}, 20240017, "043A", "20240017", "3.10"},
        {"RQ523B", sim::kRQ523B, {{2, 0}}, 99999999, "044B", "99999999", "2.00"},
        {"RQ520 firmware 3.05, short layout", sim::kRQ520, {{0, 0}, {3, 5}}, 1234567, "041A", " 1234567", "3.05"},
        {"RQ520B firmware 3.06", sim::kRQ520B, {{1, 0}, {3, 6}}, 10000000, "041B", "10000000", "3.06"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::Config config = sim::Config::forModel(c.model);
        config.firmware = c.firmware;
        config.serial = c.serial;
        config.makerCode = {'Q', 'K'};
        attach("TCPIP0::id::INSTR", config);
        char model[16] = {}, maker[16] = {}, serial[16] = {}, firmware[16] = {};
        ASSERT_EQ(KORVAX_GetDeviceInfo(handle, model, maker, serial, firmware, 10), 0);
        EXPECT_EQ(text(model), c.modelText);
        EXPECT_EQ(text(maker), "QK");
        EXPECT_EQ(text(serial), c.serialText);
        EXPECT_EQ(text(firmware), c.firmwareText);
    }
}

TEST_F(Bench, SerialNumbersReadAndWriteThrough) {
    sim::Config config = sim::Config::forModel(sim::kRQ521);
    config.slots[2].fitted = false;
    const auto chassis = attach("TCPIP0::sn::INSTR", config);
    std::array<uint32_t, 5> serials{};
    ASSERT_EQ(KORVAX_GetSN(handle, serials.data(), 5), 0);
    EXPECT_EQ(serials, (std::array<uint32_t, 5>{config.serial, config.slots[0].serial, config.slots[1].serial, 0,
                                                config.slots[3].serial}));

    ASSERT_EQ(KORVAX_SetSN(handle, "23456789", "34"), 0);
    EXPECT_EQ(chassis->config().serial, 23456789u);
    EXPECT_EQ(chassis->config().hwVersion, 34);
    EXPECT_EQ(chassis->counters().resets, 1u);
    ASSERT_EQ(KORVAX_SetCardSN(handle, "87654321", "12", 2), 0);
    EXPECT_EQ(chassis->config().slots[1].serial, 87654321u);
    EXPECT_EQ(chassis->config().slots[1].hwVersion, 12);
    ASSERT_EQ(KORVAX_GetSN(handle, serials.data(), 3), 0);
    EXPECT_EQ(serials[0], 23456789u);
    EXPECT_EQ(serials[2], 87654321u);

    chassis->reconfigure([](sim::Config &c) { c.slots[3].serial = sim::kSerialUnset; });
    EXPECT_EQ(KORVAX_GetSN(handle, serials.data(), 5), KORVAX_ERR_SN_UNSET);
}

// A serial port declared in lower case is still probed and read as a
// serial port: replies holding a newline byte (serial 12323406 is
// 0x00BC0A4E) arrive whole.
TEST_F(Bench, SerialPortDeclaredInLowerCaseReadsWholeReplies) {
    sim::Config config = sim::Config::forModel(sim::kRQ521);
    config.serial = 12323406;
    visa::declareSimulated("asrl7::instr", config);
    std::array<RsrcEntry, KORVAX_MAX_CHASSIS> entries{};
    uint32_t count = 0;
    ASSERT_EQ(KORVAX_FindRsrc(entries.data(), &count), 0);
    ASSERT_EQ(count, 1u);
    EXPECT_STREQ(entries[0].rsrcName, "ASRL7::INSTR");
    ASSERT_EQ(KORVAX_Connect("ASRL7::INSTR", &handle), 0);
    std::array<uint32_t, 2> serials{};
    ASSERT_EQ(KORVAX_GetSN(handle, serials.data(), 2), 0);
    EXPECT_EQ(serials, (std::array<uint32_t, 2>{12323406, config.slots[0].serial}));
}

// An RQ520 or RQ520B with old firmware and no serial of its own reports a
// valid 7-digit one.
TEST_F(Bench, OldLayoutChassisHasAValidDefaultSerial) {
    for (const uint16_t model : {sim::kRQ520, sim::kRQ520B}) {
        SCOPED_TRACE(model);
        sim::Config config = sim::Config::forModel(model);
        config.firmware = {{3, 5}};
        attach("TCPIP0::old::INSTR", config);
        char type[16] = {}, maker[16] = {}, serial[16] = {}, firmware[16] = {};
        ASSERT_EQ(KORVAX_GetDeviceInfo(handle, type, maker, serial, firmware, 10), 0);
        EXPECT_EQ(text(serial), " 1234567");
    }
}

TEST_F(Bench, OldRQ520FirmwareRefusesCardRecords) {
    sim::Config config = sim::Config::forModel(sim::kRQ520);
    config.firmware = {{3, 5}};
    config.serial = 1234567;
    attach("TCPIP0::old::INSTR", config);
    std::array<uint32_t, 7> serials{};
    char versions[80] = {};
    EXPECT_EQ(KORVAX_GetSN(handle, serials.data(), 7), KORVAX_ERR_NOT_SUPPORTED);
    EXPECT_EQ(KORVAX_GetHWVersion(handle, versions, sizeof versions), KORVAX_ERR_NOT_SUPPORTED);
    EXPECT_EQ(KORVAX_SetCardSN(handle, "12345678", "1", 1), KORVAX_ERR_NOT_SUPPORTED);
}

TEST_F(Bench, VersionsMatchTheChassis) {
    sim::Config config = sim::Config::forModel(sim::kRQ523);
    config.hwVersion = 21;
    config.slots[0].hwVersion = 13;
    config.firmware = {{3, 8}, {1, 2}, {0, 5}};
    attach("TCPIP0::ver::INSTR", config);
    char versions[40] = {};
    ASSERT_EQ(KORVAX_GetHWVersion(handle, versions, sizeof versions), 0);
    EXPECT_EQ(text(versions), "2.1");
    EXPECT_EQ(text(versions + 10), "1.3");
    std::fill(std::begin(versions), std::end(versions), '\0');
    ASSERT_EQ(KORVAX_GetSWVersion(handle, versions, sizeof versions), 0);
    EXPECT_EQ(text(versions), "3.08");
    EXPECT_EQ(text(versions + 10), "1.02");
    EXPECT_EQ(text(versions + 20), "");   // a pair with a zero byte ends the list

    sim::Config rq521 = sim::Config::forModel(sim::kRQ521);
    rq521.firmware = {{3, 6}};
    rq521.commFirmware = {2, 0x11};
    attach("TCPIP0::ver::INSTR", rq521);
    std::fill(std::begin(versions), std::end(versions), '\0');
    ASSERT_EQ(KORVAX_GetSWVersion(handle, versions, sizeof versions), 0);
    EXPECT_EQ(text(versions), "3.06");
    EXPECT_EQ(text(versions + 10), "2.11");
}

TEST_F(Bench, RQ521SettingsChangeTheChassis) {
    sim::Config config = sim::Config::forModel(sim::kRQ521);
    config.lanMode = 1;
    config.gpibAddress = 4;
    config.baudRate = 38400;
    const auto chassis = attach("TCPIP0::settings::INSTR", config);
    bringUp();   // takes the chassis into remote control

    uint32_t value = 0;
    ASSERT_EQ(KORVAX_GetControlMode(handle, &value), 0);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(KORVAX_SetControlMode(handle, 1), KORVAX_ERR_SAME_MODE);
    ASSERT_EQ(KORVAX_SetControlMode(handle, 0), 0);
    EXPECT_EQ(chassis->config().controlMode, 0);

    ASSERT_EQ(KORVAX_GetLANMode(handle, &value), 0);
    EXPECT_EQ(value, 1u);
    ASSERT_EQ(KORVAX_GetGPIBAddress(handle, &value), 0);
    EXPECT_EQ(value, 4u);
    ASSERT_EQ(KORVAX_SetGPIBAddress(handle, 30), 0);
    EXPECT_EQ(chassis->config().gpibAddress, 30);
    ASSERT_EQ(KORVAX_GetBaudRate(handle, &value), 0);
    EXPECT_EQ(value, 38400u);
    ASSERT_EQ(KORVAX_SetBaudRate(handle, 115200), 0);
    EXPECT_EQ(chassis->config().baudRate, 115200u);

    ASSERT_EQ(KORVAX_SetIPAddress(handle, "192.168.1.33"), 0);
    EXPECT_EQ(chassis->config().ip, (std::array<uint8_t, 4>{192, 168, 1, 33}));
    EXPECT_EQ(chassis->counters().resets, 0u);   // an RQ521 takes the address without a restart
    char ip[16] = {};
    ASSERT_EQ(KORVAX_GetCOMMIPAddr(handle, ip), 0);
    EXPECT_EQ(text(ip), "192.168.1.33");
    EXPECT_EQ(chassis->counters().errorReplies, 0u);
}

TEST_F(Bench, OtherModelsTakeOnlyTheIPAddress) {
    const auto chassis = attach("TCPIP0::rq520::INSTR", sim::Config::forModel(sim::kRQ520));
    const auto requests = chassis->counters().requests;
    uint32_t value = 0;
    EXPECT_EQ(KORVAX_GetGPIBAddress(handle, &value), KORVAX_ERR_NOT_SUPPORTED);
    EXPECT_EQ(KORVAX_GetControlMode(handle, &value), KORVAX_ERR_NOT_SUPPORTED);
    EXPECT_EQ(chassis->counters().requests, requests);
    ASSERT_EQ(KORVAX_SetIPAddress(handle, "192.168.1.44"), 0);
    EXPECT_EQ(chassis->config().ip, (std::array<uint8_t, 4>{192, 168, 1, 44}));
    EXPECT_EQ(chassis->counters().resets, 1u);
}

// A baud-rate change over a serial line: the chassis moves first, then the
// session; the next request still gets through.
TEST_F(Bench, SerialBaudRateChangeKeepsTheLine) {
    sim::Config config = sim::Config::forModel(sim::kRQ521);
    config.baudRate = 19200;
    const auto chassis = attach("ASRL7::INSTR", config);
    ASSERT_EQ(KORVAX_SetBaudRate(handle, 57600), 0);
    EXPECT_EQ(chassis->config().baudRate, 57600u);
    uint32_t rate = 0;
    ASSERT_EQ(KORVAX_GetBaudRate(handle, &rate), 0);
    EXPECT_EQ(rate, 57600u);
    bringUp();
    const auto state = stateOf(userGeometry(sim::kRQ521, config), {{1, 1, 1}});
    ASSERT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), 15), 0);
    EXPECT_EQ(chassis->closedCrosspoints(), (std::vector<sim::Crosspoint>{{1, 1, 1, 1}}));
}

TEST_F(Bench, BoardPresenceFollowsTheFittedSlots) {
    struct Case {
        const char *name;
        uint16_t model;
        std::vector<int> empty;
        std::vector<uint32_t> states;
    };
    const Case cases[] = {
        {"RQ520 without card 3", sim::kRQ520, {2}, {1, 1, 0, 1, 1, 1}},
        {"RQ521 full", sim::kRQ521, {}, {1, 1, 1, 1}},
        {"RQ522 with gaps", sim::kRQ522, {0, 13, 20},
         {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 0}},
        {"RQ523B", sim::kRQ523B, {}, {1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::Config config = sim::Config::forModel(c.model);
        for (int s : c.empty) config.slots[static_cast<std::size_t>(s)].fitted = false;
        attach("TCPIP0::bip::INSTR", config);
        std::vector<uint32_t> states(21, 7);
        uint32_t count = 0;
        EXPECT_GT(KORVAX_BoardInPlaceInfo(handle, states.data(), &count), 0);
        ASSERT_EQ(count, c.states.size());
        states.resize(count);
        EXPECT_EQ(states, c.states);
        EXPECT_EQ(KORVAXBoardInPlaceHDW(handle, 0), 0);
    }
}

TEST_F(Bench, EmptyChassisHasNoCardToOpen) {
    sim::Config config = sim::Config::forModel(sim::kRQ523);
    config.slots[0].fitted = false;
    attach("TCPIP0::empty::INSTR", config);
    int64_t opened = -1;
    EXPECT_EQ(KORVAX_OpenSpecifiedCard(handle, 0, &opened), KORVAX_ERR_NO_TYPE0_CARD);
}

TEST_F(Bench, RQ520SubUnitsOfRFCardAndAdapterPlate) {
    struct Case {
        const char *name;
        std::function<void(sim::Config &)> tweak;
        int64_t subUnit;
        int32_t status;
    };
    const Case cases[] = {
        {"RF card of kind 0", [](sim::Config &c) { c.rfCardKind = 0; }, 1, 0},
        {"RF card of kind 12", [](sim::Config &c) { c.rfCardKind = 12; }, 1, 0},
        {"RF card of an unknown kind", [](sim::Config &c) { c.rfCardKind = 2; }, 1, KORVAX_ERR_DEVICE_TYPE},
        {"RF card hardware too old", [](sim::Config &c) { c.slots[5].hwVersion = 9; }, 1, KORVAX_ERR_NOT_SUPPORTED},
        {"no RF card", [](sim::Config &c) { c.slots[5].fitted = false; }, 1, KORVAX_ERR_NO_TYPE1_CARD},
        {"adapter plate", [](sim::Config &) {}, 2, 0},
        {"adapter plate of another chassis", [](sim::Config &c) { c.adapterCode = 0x041B; }, 2, 0},
        {"unknown adapter plate", [](sim::Config &c) { c.adapterCode = 0x0500; }, 2, KORVAX_ERR_DEVICE_TYPE2},
        {"no adapter plate", [](sim::Config &c) { c.adapterFitted = false; }, 2, KORVAX_ERR_NO_TYPE2_CARD},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::Config config = sim::Config::forModel(sim::kRQ520);
        c.tweak(config);
        attach("TCPIP0::rq520::INSTR", config);
        int64_t opened = -1;
        EXPECT_EQ(KORVAX_OpenSpecifiedCard(handle, c.subUnit, &opened), c.status);
        if (c.status == 0) {
            EXPECT_EQ(opened, c.subUnit);
        }
    }
}

TEST_F(Bench, FirmwareFileArrivesIntact) {
    for (const std::size_t size : {std::size_t{300}, std::size_t{256}, std::size_t{0}, std::size_t{4099}}) {
        SCOPED_TRACE(size);
        const auto chassis = attach("TCPIP0::fw::INSTR", sim::Config::forModel(sim::kRQ522));
        const std::string path =
            ::testing::TempDir() + "korvax_firmware_" + std::to_string(getpid()) + ".bin";
        sim::Bytes image(size);
        for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>((i * 131 + 7) & 0xFF);
        {
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char *>(image.data()), static_cast<std::streamsize>(image.size()));
        }
        ASSERT_EQ(KORVAX_OnlineUpdate(handle, path.c_str()), 0);
        const auto installed = chassis->installedFirmware();
        ASSERT_TRUE(installed.has_value());
        EXPECT_EQ(installed->bytes, image);
        EXPECT_EQ(installed->blocks, size / 128 + 1);
        EXPECT_EQ(chassis->counters().errorReplies, 0u);
        std::remove(path.c_str());
    }
}

}  // namespace
