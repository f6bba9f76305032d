// The resource file that declares simulated chassis, and where the library
// finds it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>

#include <unistd.h>

#include "sim_support.h"
#include "visa-sim/simulation.h"
#include "visa/visa.h"

namespace {

using namespace korvax;

struct FileCase {
    const char *name;
    const char *text;
    std::vector<std::string> declared;
    std::vector<int> problemLines;
};

const FileCase kFileCases[] = {
    {"two chassis, comments and blank lines",
     "# bench set-up\n"
     "\n"
     "[TCPIP0::sim-rq521::INSTR]\n"
     "model = RQ521\n"
     "; the serial port one\n"
     "[ASRL1::INSTR]\r\n"
     "model=042A\r\n"
     "baud = 9600\r\n",
     {"TCPIP0::sim-rq521::INSTR", "ASRL1::INSTR"}, {}},
    {"a bad value drops its resource only",
     "[GPIB0::5::INSTR]\nmodel = RQ523\ngpib = 31\n[GPIB0::6::INSTR]\nmodel = RQ523B\n",
     {"GPIB0::6::INSTR"}, {3}},
    {"unknown key", "[GPIB0::5::INSTR]\nmodel = RQ523\ncolour = red\n", {}, {3}},
    {"missing model", "[GPIB0::5::INSTR]\nserial = 12345678\n", {}, {1}},
    {"a bare section is a real instrument, not a chassis",
     "[ASRL/dev/ttyUSB0::INSTR]\n[ASRL2::INSTR]\nbaud = 9600\n[GPIB0::5::INSTR]\n",
     {}, {2}},
    {"unknown model", "[GPIB0::5::INSTR]\nmodel = RQ999\n", {}, {2}},
    {"key before any section", "model = RQ521\n[GPIB0::5::INSTR]\nmodel = RQ521\n", {"GPIB0::5::INSTR"}, {1}},
    {"settings before the first section: serial-scan only, all or named, once",
     "serial-scan = all\nserial-scan = named\nserial-scan = some\nbaud = 9600\n"
     "[GPIB0::5::INSTR]\nmodel = RQ521\n",
     {"GPIB0::5::INSTR"}, {2, 3, 4}},
    {"line that is neither", "[GPIB0::5::INSTR]\nmodel = RQ521\njust words\n", {}, {3}},
    {"malformed header", "[GPIB0::5::INSTR\nmodel = RQ521\n", {}, {1}},
    {"header that is not a resource string", "[bench one]\nmodel = RQ521\n", {}, {1}},
    {"same resource twice, in another spelling",
     "[TCPIP0::a::INSTR]\nmodel = RQ521\n[tcpip::A]\nmodel = RQ522\n", {"TCPIP0::a::INSTR"}, {3}},
    {"key given twice", "[GPIB0::5::INSTR]\nmodel = RQ521\ngpib = 4\ngpib = 5\n", {}, {4}},
    {"slot beyond the chassis", "[GPIB0::5::INSTR]\nmodel = RQ521\nslot5.serial = 1\n", {}, {3}},
    {"old slot layout holds 7 digits: an 8-digit serial is refused, whatever the key order",
     "[GPIB0::5::INSTR]\nmodel = RQ520\nserial = 12345678\nfirmware = 3.05\n"
     "[GPIB0::6::INSTR]\nmodel = RQ520B\nfirmware = 1.00, 3.05\nserial = 9999999\n"
     "[GPIB0::7::INSTR]\nmodel = RQ520\nfirmware = 3.06\nserial = 12345678\n",
     {"GPIB0::6::INSTR", "GPIB0::7::INSTR"}, {3}},
    {"every problem of a section is listed",
     "[GPIB0::5::INSTR]\nmodel = RQ520\nbaud = 4800\nfirmware = 3\nip = 1.2.3\nfitted = 0\n", {}, {3, 4, 5, 6}},
};

TEST(ResourceFile, SectionsWithAnyBadLineAreLeftOut) {
    for (const FileCase &c : kFileCases) {
        SCOPED_TRACE(c.name);
        const auto parsed = visa::parseResourceFile(c.text);
        std::vector<std::string> names;
        for (const auto &r : parsed.resources) names.push_back(r.name);
        EXPECT_EQ(names, c.declared);
        std::vector<int> lines;
        for (const auto &p : parsed.problems) lines.push_back(p.line);
        EXPECT_EQ(lines, c.problemLines);
        for (const auto &p : parsed.problems) EXPECT_FALSE(p.message.empty());
    }
}

TEST(ResourceFile, BareSectionsNameRealInstruments) {
    const auto parsed = visa::parseResourceFile(
        "[ASRL/dev/ttyUSB0::INSTR]\n[ASRL2::INSTR]\nbaud = 9600\n[GPIB0::5::INSTR]\n");
    std::vector<std::string> names;
    for (const auto &i : parsed.instruments) names.push_back(i.name);
    EXPECT_EQ(names, (std::vector<std::string>{"ASRL/dev/ttyUSB0::INSTR", "GPIB0::5::INSTR"}));
}

TEST(ResourceFile, EveryKeyReachesTheConfiguration) {
    const auto parsed = visa::parseResourceFile(
        "[TCPIP0::full::INSTR]\n"
        "model = rq520b\n"
        "idn-maker = Quillmark\n"
        "idn-model = 041B\n"
        "serial = 1234567\n"
        "hw-version = 31\n"
        "maker-code = XY\n"
        "adapter-code = 0x041A\n"
        "firmware = 1.00, 3.05\n"
        "comm-firmware = 2.10\n"
        "fitted = 1, 3, 6\n"
        "slot3.serial = unset\n"
        "slot3.hw = 15\n"
        "slot1.loopback = 0x7\n"
        "slot6.hw = 9\n"
        "rf-kind = 12\n"
        "adapter = no\n"
        "control-mode = remote\n"
        "ip = 192.168.1.77\n"
        "lan-mode = auto\n"
        "gpib = 30\n"
        "baud = 57600\n"
        "reply-delay-ms = 5\n"
        "refuse-after = 3\n"
        "drop-after = 0\n");
    ASSERT_TRUE(parsed.problems.empty()) << parsed.problems.front().message;
    ASSERT_EQ(parsed.resources.size(), 1u);
    const sim::Config &c = parsed.resources[0].config;
    EXPECT_EQ(c.model, sim::kRQ520B);
    EXPECT_EQ(c.idnMaker, "Quillmark");
    EXPECT_EQ(c.idnModel, "041B");
    EXPECT_EQ(c.serial, 1234567u);
    EXPECT_EQ(c.hwVersion, 31);
    EXPECT_EQ(c.makerCode, (std::array<char, 2>{'X', 'Y'}));
    EXPECT_EQ(c.adapterCode, 0x041A);
    EXPECT_EQ(c.firmware, (std::vector<sim::Version>{{1, 0}, {3, 5}}));
    EXPECT_EQ(c.commFirmware, (sim::Version{2, 0x10}));
    ASSERT_EQ(c.slots.size(), 6u);
    EXPECT_TRUE(c.slots[0].fitted);
    EXPECT_FALSE(c.slots[1].fitted);
    EXPECT_TRUE(c.slots[2].fitted);
    EXPECT_FALSE(c.slots[3].fitted);
    EXPECT_TRUE(c.slots[5].fitted);
    EXPECT_EQ(c.slots[2].serial, sim::kSerialUnset);
    EXPECT_EQ(c.slots[2].hwVersion, 15);
    EXPECT_EQ(c.slots[0].loopback, 7);
    EXPECT_EQ(c.slots[5].hwVersion, 9);
    EXPECT_EQ(c.rfCardKind, 12);
    EXPECT_FALSE(c.adapterFitted);
    EXPECT_EQ(c.controlMode, 1);
    EXPECT_EQ(c.ip, (std::array<uint8_t, 4>{192, 168, 1, 77}));
    EXPECT_EQ(c.lanMode, 1);
    EXPECT_EQ(c.gpibAddress, 30);
    EXPECT_EQ(c.baudRate, 57600u);
    EXPECT_EQ(c.replyDelayMs, 5u);
    EXPECT_EQ(c.refuseFramesAfter, 3u);
    EXPECT_EQ(c.dropAfter, 0u);
}

class ResourceFileLocation : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char *v : {"KORVAX_VISA_RESOURCES", "XDG_CONFIG_HOME", "HOME"})
            if (const char *old = std::getenv(v)) saved_.emplace_back(v, old);
        visa::clearDeclared();
    }
    void TearDown() override {
        for (const char *v : {"KORVAX_VISA_RESOURCES", "XDG_CONFIG_HOME", "HOME"}) unsetenv(v);
        for (const auto &[k, v] : saved_) setenv(k.c_str(), v.c_str(), 1);
        setenv("KORVAX_VISA_RESOURCES", "", 1);
        visa::clearDeclared();
    }
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(ResourceFileLocation, EnvironmentPicksTheFile) {
    struct Case {
        const char *resources;   // nullptr: unset
        const char *xdg;
        const char *home;
        std::string path;
    };
    const Case cases[] = {
        {"/tmp/r.conf", "/x", "/h", "/tmp/r.conf"},
        {"", "/x", "/h", ""},
        {nullptr, "/x", "/h", "/x/korvax/resources.conf"},
        {nullptr, "", "/h", "/h/.config/korvax/resources.conf"},
        {nullptr, nullptr, "/h", "/h/.config/korvax/resources.conf"},
        {nullptr, nullptr, nullptr, ""},
    };
    for (const Case &c : cases) {
        auto assign = [](const char *name, const char *value) {
            if (value) {
                setenv(name, value, 1);
            } else {
                unsetenv(name);
            }
        };
        assign("KORVAX_VISA_RESOURCES", c.resources);
        assign("XDG_CONFIG_HOME", c.xdg);
        assign("HOME", c.home);
        EXPECT_EQ(visa::resourceFilePath(), c.path);
    }
}

TEST_F(ResourceFileLocation, TheFileIsReadWhenTheManagerOpens) {
    const std::string path =
        ::testing::TempDir() + "korvax_resources_" + std::to_string(getpid()) + ".conf";
    {
        std::ofstream out(path);
        out << "[TCPIP0::from-file::INSTR]\nmodel = RQ522\nserial = 20000001\n"
               "[TCPIP0::declared::INSTR]\nmodel = RQ523\n"
               "[TCPIP0::broken::INSTR]\nmodel = RQ521\ngpib = 0\n";
    }
    setenv("KORVAX_VISA_RESOURCES", path.c_str(), 1);
    visa::declareSimulated("TCPIP0::declared::INSTR", sim::Config::forModel(sim::kRQ521));

    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    EXPECT_EQ(visa::declaredResources(),
              (std::vector<std::string>{"TCPIP0::declared::INSTR", "TCPIP0::from-file::INSTR"}));
    // The programmatic declaration wins over the file's section.
    EXPECT_EQ(visa::simulated("TCPIP0::declared::INSTR")->config().model, sim::kRQ521);
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(rm, "TCPIP0::from-file::INSTR", VI_NO_LOCK, 0, &vi), VI_SUCCESS);
    const auto idn = simtest::text("*IDN?\n");
    ViUInt32 n = 0;
    ASSERT_EQ(viWrite(vi, idn.data(), static_cast<ViUInt32>(idn.size()), &n), VI_SUCCESS);
    char reply[64] = {};
    ASSERT_EQ(viRead(vi, reinterpret_cast<ViBuf>(reply), sizeof reply - 1, &n), VI_SUCCESS);
    EXPECT_STREQ(reply, "QM,RQ522,20000001,3.08\n");
    viClose(rm);
    std::remove(path.c_str());
}

}  // namespace

namespace {

TEST(ResourceFile, SectionsWithoutModelNameRealInstruments) {
    struct Case {
        const char *name;
        const char *text;
        std::vector<std::tuple<std::string, uint16_t, uint16_t>> instruments;
        std::vector<int> problemLines;
    };
    const Case cases[] = {
        {"bare section", "[TCPIP0::192.168.1.5::INSTR]\n", {{"TCPIP0::192.168.1.5::INSTR", 0, 0}}, {}},
        {"portmapper and socket ports",
         "[TCPIP0::10.0.0.1::INSTR]\nportmapper-port = 4111\n[TCPIP0::10.0.0.2::INSTR]\nsocket-port=5025\n",
         {{"TCPIP0::10.0.0.1::INSTR", 4111, 0}, {"TCPIP0::10.0.0.2::INSTR", 0, 5025}}, {}},
        {"port out of range", "[TCPIP0::h::INSTR]\nsocket-port = 70000\n", {}, {2}},
        {"port given twice", "[TCPIP0::h::INSTR]\nsocket-port = 1\nsocket-port = 2\n", {}, {3}},
        {"a chassis key still needs a model", "[TCPIP0::h::INSTR]\nserial = 1\n", {}, {1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto parsed = korvax::visa::parseResourceFile(c.text);
        std::vector<std::tuple<std::string, uint16_t, uint16_t>> got;
        for (const auto &i : parsed.instruments) got.emplace_back(i.name, i.portmapperPort, i.socketPort);
        EXPECT_EQ(got, c.instruments);
        EXPECT_TRUE(parsed.resources.empty());
        std::vector<int> lines;
        for (const auto &p : parsed.problems) lines.push_back(p.line);
        EXPECT_EQ(lines, c.problemLines);
    }
}

}  // namespace
