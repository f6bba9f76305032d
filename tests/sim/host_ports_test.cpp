// Instruments attached to this machine, as the built-in VISA library finds
// and talks to them: serial ports and USBTMC devices, played by
// pseudo-terminals behind a device folder and sysfs tree of the test's own.
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "support/host_support.h"
#include "visa-sim/simulation.h"
#include "visa/visa.h"

namespace {

using namespace korvax;
using hosttest::Pty;
using hosttest::TempDir;

std::vector<std::string> findAll(ViSession rm, const char *expr) {
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    char desc[VI_FIND_BUFLEN];
    std::vector<std::string> names;
    if (viFindRsrc(rm, expr, &list, &count, desc) < 0) return names;
    names.push_back(desc);
    for (ViUInt32 i = 1; i < count && viFindNext(list, desc) == VI_SUCCESS; ++i) names.push_back(desc);
    viClose(list);
    return names;
}

class HostPorts : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("KORVAX_VISA_RESOURCES", "", 1);
        visa::clearDeclared();
        ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    }
    void TearDown() override { viClose(rm); }

    ViStatus open(const std::string &name, ViSession &vi, ViUInt32 timeoutMs = 300) {
        const ViStatus st = viOpen(rm, name.c_str(), VI_NO_LOCK, 0, &vi);
        if (st == VI_SUCCESS) viSetAttribute(vi, VI_ATTR_TMO_VALUE, timeoutMs);
        return st;
    }
    static ViStatus write(ViSession vi, const std::string &text) {
        ViUInt32 n = 0;
        return viWrite(vi, reinterpret_cast<const ViByte *>(text.data()),
                       static_cast<ViUInt32>(text.size()), &n);
    }
    static std::string read(ViSession vi, ViStatus &status, ViUInt32 count = 400) {
        std::vector<ViByte> buf(count);
        ViUInt32 n = 0;
        status = viRead(vi, buf.data(), count, &n);
        return std::string(buf.begin(), buf.begin() + n);
    }

    ViSession rm = VI_NULL;
};

// ---- which serial ports are listed --------------------------------------

enum class Node { Terminal, PlainFile, Dangling };

struct PortCase {
    const char *dev;           // file in the device folder
    Node node;
    const char *type;          // sysfs class/tty/<dev>/type; nullptr: no such file
    const char *bus;           // its device's subsystem; nullptr: no sysfs device at all
    const char *listedAs;      // nullptr: not listed; "@" stands for the device folder
};

TEST_F(HostPorts, SerialPortsListedAreTheOnesWithHardwareBehindThem) {
    const std::vector<PortCase> ports = {
        {"ttyS0", Node::Terminal, "0", "platform", nullptr},  // legacy placeholder
        {"ttyS1", Node::Terminal, "4", "serial-base", "ASRL2::INSTR"},
        {"ttyS2", Node::Terminal, nullptr, "pnp", "ASRL3::INSTR"},
        {"ttyS3", Node::Terminal, nullptr, "platform", nullptr},
        {"ttyS4", Node::Terminal, "4", nullptr, nullptr},  // no device in sysfs
        {"ttyS5", Node::PlainFile, "4", "pnp", nullptr},
        {"ttyS6", Node::Terminal, "0", "serial-base", nullptr},  // placeholder, newer kernels
        {"ttyS10", Node::Terminal, "4", "pci", "ASRL11::INSTR"},
        {"ttyUSB0", Node::Terminal, nullptr, nullptr, "ASRL@/ttyUSB0::INSTR"},
        {"ttyUSB1", Node::Dangling, nullptr, nullptr, nullptr},
        {"ttyUSBx", Node::Terminal, nullptr, nullptr, nullptr},
        {"ttyACM0", Node::Terminal, nullptr, nullptr, "ASRL@/ttyACM0::INSTR"},
        {"tty0", Node::Terminal, nullptr, nullptr, nullptr},
    };
    TempDir tree;
    std::vector<std::unique_ptr<Pty>> ptys;
    std::vector<std::string> expected;
    const std::string dev = (tree.path() / "dev").string();
    for (const PortCase &p : ports) {
        const auto at = hosttest::fs::path("dev") / p.dev;
        if (p.node == Node::Terminal) {
            ptys.push_back(std::make_unique<Pty>());
            tree.link(at, ptys.back()->path());
        } else if (p.node == Node::PlainFile) {
            tree.file(at, "");
        } else {
            tree.link(at, tree.path() / "gone");
        }
        const auto sys = hosttest::fs::path("sys/class/tty") / p.dev;
        if (p.type) tree.file(sys / "type", std::string(p.type) + "\n");
        if (p.bus) tree.link(sys / "device/subsystem", tree.path() / "sys/bus" / p.bus);
        if (p.listedAs) {
            std::string name = p.listedAs;
            if (const auto at = name.find('@'); at != std::string::npos) name.replace(at, 1, dev);
            expected.push_back(name);
        }
    }
    // The table is in listing order: ttyS by number, then ttyUSB, ttyACM.
    // On-board (ttyS) ports are listed only when asked for, by the
    // environment or the resource file (the environment's "named" wins), or
    // when the file names them; USB serial adapters always.
    hosttest::HostRoots roots(tree.path() / "dev", tree.path() / "sys");
    std::vector<std::string> adapters;
    std::copy_if(expected.begin(), expected.end(), std::back_inserter(adapters),
                 [](const std::string &n) { return n.find('/') != std::string::npos; });
    std::vector<std::string> named = {"ASRL11::INSTR"};
    named.insert(named.end(), adapters.begin(), adapters.end());
    struct Scan {
        const char *env;   // KORVAX_VISA_SERIAL_SCAN; nullptr: not set
        const char *file;  // the resource file
        const std::vector<std::string> &listed;
    };
    const Scan scans[] = {
        {nullptr, "", adapters},
        {"all", "", expected},
        {nullptr, "serial-scan = all\n", expected},
        {"named", "serial-scan = all\n", adapters},
        {nullptr, "[ASRL11::INSTR]\n", named},
    };
    tree.file("resources.conf", "");
    for (const Scan &scan : scans) {
        SCOPED_TRACE(std::string(scan.env ? scan.env : "-") + " / " + scan.file);
        tree.file("resources.conf", scan.file);
        setenv("KORVAX_VISA_RESOURCES", (tree.path() / "resources.conf").c_str(), 1);
        if (scan.env) setenv("KORVAX_VISA_SERIAL_SCAN", scan.env, 1);
        visa::clearDeclared();
        ViSession reading = VI_NULL;
        ASSERT_EQ(viOpenDefaultRM(&reading), VI_SUCCESS);
        EXPECT_EQ(findAll(reading, "ASRL?*INSTR"), scan.listed);
        viClose(reading);
        unsetenv("KORVAX_VISA_SERIAL_SCAN");
    }
    setenv("KORVAX_VISA_RESOURCES", "", 1);
}

// A restricted search lists exactly the named resources (a declared one as
// declared, others when their interface needs no declaration) and scans no
// port: a silent on-board port is not even opened.
TEST_F(HostPorts, RestrictedSearchListsTheNamedAndTouchesNoPort) {
    TempDir tree;
    tree.file("dev/ttyS0", "");  // opened by a scan (and then found to be no terminal)
    tree.file("sys/class/tty/ttyS0/type", "4\n");
    tree.link("sys/class/tty/ttyS0/device/subsystem", tree.path() / "sys/bus/pnp");
    hosttest::HostRoots roots(tree.path() / "dev", tree.path() / "sys");
    setenv("KORVAX_VISA_SERIAL_SCAN", "all", 1);
    visa::declareSimulated("TCPIP0::sim::INSTR", sim::Config::forModel(sim::kRQ521));
    visa::declareInstrument("TCPIP0::10.0.0.9::INSTR");
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, (tree.path() / "dev/ttyS0").c_str(), IN_OPEN), 0);
    auto opened = [watch] {
        std::array<char, 4096> events;
        return ::read(watch, events.data(), events.size()) > 0;
    };
    findAll(rm, "?*");
    ASSERT_TRUE(opened()) << "an unrestricted search scans the port";

    visa::restrictSearch({"TCPIP0::sim::INSTR", "tcpip::192.168.7.7::inst0", "ASRL/dev/ttyUSB9::INSTR",
                          "GPIB0::3::INSTR", "USB0::0x1234::0x5678::SN1::INSTR", "ASRL1::INSTR"});
    EXPECT_EQ(findAll(rm, "?*"),
              (std::vector<std::string>{"TCPIP0::sim::INSTR", "TCPIP0::192.168.7.7::inst0::INSTR",
                                        "ASRL/dev/ttyUSB9::INSTR", "USB0::0x1234::0x5678::SN1::INSTR",
                                        "ASRL1::INSTR"}));
    EXPECT_EQ(findAll(rm, "TCPIP?*"),
              (std::vector<std::string>{"TCPIP0::sim::INSTR", "TCPIP0::192.168.7.7::inst0::INSTR"}));
    EXPECT_THROW(visa::restrictSearch({"not a resource"}), std::invalid_argument);
    visa::restrictSearch({});
    setenv("KORVAX_VISA_ONLY", " TCPIP0::sim::INSTR ;ASRL3::INSTR;", 1);
    EXPECT_EQ(findAll(rm, "?*INSTR"), (std::vector<std::string>{"TCPIP0::sim::INSTR", "ASRL3::INSTR"}));
    unsetenv("KORVAX_VISA_ONLY");
    unsetenv("KORVAX_VISA_SERIAL_SCAN");
    EXPECT_FALSE(opened()) << "a restricted search opened the port";
    ::close(watch);
}

// ---- serial line settings -----------------------------------------------

struct LineCase {
    ViAttr attr;
    ViAttrState value;
    ViStatus status;
    tcflag_t cflagMask;  // bits of c_cflag to compare
    tcflag_t cflag;
    speed_t speed;  // expected line speed afterwards
};

// A pseudo-terminal carries 8 data bits without parity only, so those two
// settings cannot be shown here.
TEST_F(HostPorts, SerialAttributesSetTheLine) {
    const std::vector<LineCase> cases = {
        {VI_ATTR_ASRL_BAUD, 57600, VI_SUCCESS, 0, 0, B57600},
        {VI_ATTR_ASRL_BAUD, 12345, VI_ERROR_NSUP_ATTR_STATE, 0, 0, B9600},
        {VI_ATTR_ASRL_STOP_BITS, VI_ASRL_STOP_TWO, VI_SUCCESS, CSTOPB, CSTOPB, B9600},
        {VI_ATTR_ASRL_STOP_BITS, VI_ASRL_STOP_ONE5, VI_ERROR_NSUP_ATTR_STATE, CSTOPB, 0, B9600},
        {VI_ATTR_ASRL_FLOW_CNTRL, VI_ASRL_FLOW_RTS_CTS, VI_SUCCESS, CRTSCTS, CRTSCTS, B9600},
        {VI_ATTR_ASRL_FLOW_CNTRL, VI_ASRL_FLOW_DTR_DSR, VI_ERROR_NSUP_ATTR_STATE, CRTSCTS, 0, B9600},
        {VI_ATTR_ASRL_END_IN, VI_ASRL_END_LAST_BIT, VI_ERROR_NSUP_ATTR_STATE, 0, 0, B9600},
    };
    for (const LineCase &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.attr << " = " << std::dec << c.value);
        Pty pty;
        ViSession vi = VI_NULL;
        ASSERT_EQ(open("ASRL" + pty.path() + "::INSTR", vi), VI_SUCCESS);
        EXPECT_EQ(viSetAttribute(vi, c.attr, c.value), c.status);
        const termios line = pty.line();
        EXPECT_EQ(cfgetospeed(&line), c.speed);
        EXPECT_EQ(line.c_cflag & c.cflagMask, c.cflag);
        EXPECT_EQ(line.c_lflag & (ICANON | ECHO), 0u) << "raw mode";
        // A refused value leaves the attribute as it was.
        ViAttrState now = 0;
        ASSERT_EQ(viGetAttribute(vi, c.attr, &now), VI_SUCCESS);
        if (c.status < 0) {
            EXPECT_NE(now, c.value);
        }
        viClose(vi);
    }
}

// ---- where a serial read ends -------------------------------------------

struct ReadCase {
    const char *name;
    ViUInt16 endIn;
    ViUInt32 count;
    const char *sent;
    ViStatus status;
    const char *first;   // what the first read returns
    const char *second;  // and the next one
};

TEST_F(HostPorts, SerialReadEndsAtCountTermCharOrQuietLine) {
    const std::vector<ReadCase> cases = {
        {"termination character", VI_ASRL_END_TERMCHAR, 100, "ab\ncd\n", VI_SUCCESS_TERM_CHAR, "ab\n", "cd\n"},
        {"quiet line", VI_ASRL_END_NONE, 100, "ab\ncd\n", VI_SUCCESS, "ab\ncd\n", ""},
        {"count", VI_ASRL_END_NONE, 4, "ab\ncd\n", VI_SUCCESS_MAX_CNT, "ab\nc", "d\n"},
        {"count before termination", VI_ASRL_END_TERMCHAR, 2, "abc\n", VI_SUCCESS_MAX_CNT, "ab", "c\n"},
        {"nothing", VI_ASRL_END_NONE, 100, "", VI_ERROR_TMO, "", ""},
    };
    for (const ReadCase &c : cases) {
        SCOPED_TRACE(c.name);
        Pty pty;
        ViSession vi = VI_NULL;
        ASSERT_EQ(open("ASRL" + pty.path() + "::INSTR", vi, 200), VI_SUCCESS);
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_ASRL_END_IN, c.endIn), VI_SUCCESS);
        pty.send(c.sent);
        ViStatus st = VI_SUCCESS;
        long long ms = 0;
        std::string got;
        ms = hosttest::elapsedMs([&] { got = read(vi, st, c.count); });
        EXPECT_EQ(st, c.status);
        EXPECT_EQ(got, c.first);
        if (st == VI_ERROR_TMO) {
            EXPECT_GE(ms, 195);
            EXPECT_LT(ms, 400);
        }
        if (*c.second) {
            EXPECT_EQ(read(vi, st, 100), c.second);
        }
        viClose(vi);
    }
}

TEST_F(HostPorts, SerialWriteFlushAndHangUp) {
    Pty pty;
    ViSession vi = VI_NULL;
    ASSERT_EQ(open("ASRL" + pty.path() + "::INSTR", vi), VI_SUCCESS);
    EXPECT_EQ(write(vi, "*IDN?\n"), VI_SUCCESS);
    EXPECT_EQ(pty.received(), "*IDN?\n");
    // A stale answer is dropped by discarding the read buffer.
    pty.send("stale\nfresh");
    ViStatus st = VI_SUCCESS;
    EXPECT_EQ(read(vi, st, 100), "stale\n");
    EXPECT_EQ(viFlush(vi, VI_READ_BUF_DISCARD), VI_SUCCESS);
    EXPECT_EQ(read(vi, st, 100), "");
    EXPECT_EQ(st, VI_ERROR_TMO);
    // The termination character goes after each message when END_OUT asks.
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_ASRL_END_OUT, VI_ASRL_END_TERMCHAR), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR, '\r'), VI_SUCCESS);
    EXPECT_EQ(write(vi, "abc"), VI_SUCCESS);
    EXPECT_EQ(pty.received(), "abc\r");
    // The far end goes away: both directions say so at once.
    pty.hangUp();
    const long long ms = hosttest::elapsedMs([&] { read(vi, st, 100); });
    EXPECT_EQ(st, VI_ERROR_CONN_LOST);
    EXPECT_LT(ms, 300);
    EXPECT_EQ(write(vi, "x"), VI_ERROR_CONN_LOST);
    viClose(vi);
}

TEST_F(HostPorts, SerialResourcesThatCannotBeOpened) {
    TempDir tree;
    tree.file("dev/ttyS0", "not a terminal");
    hosttest::HostRoots roots(tree.path() / "dev", tree.path() / "sys");
    for (const std::string &name : std::vector<std::string>{"ASRL1::INSTR", "ASRL2::INSTR", "ASRL0::INSTR", "ASRL/nonexistent/ttyUSB9::INSTR",
          "ASRL" + (tree.path() / "dev/ttyS0").string() + "::INSTR"}) {
        SCOPED_TRACE(name);
        ViSession vi = VI_NULL;
        EXPECT_EQ(open(name, vi), VI_ERROR_RSRC_NFOUND);
    }
}

// ---- USBTMC -------------------------------------------------------------

struct UsbCase {
    const char *node;
    const char *vendor;
    const char *product;
    const char *serial;  // nullptr: the device has none
    const char *interface;
    bool nodeExists;
    const char *listedAs;
};

TEST_F(HostPorts, UsbtmcDevicesFoundThroughSysfs) {
    const std::vector<UsbCase> devices = {
        {"usbtmc0", "1234", "5678", "SN0042A", "00", true, "USB0::0x1234::0x5678::SN0042A::INSTR"},
        {"usbtmc1", "1234", "abcd", nullptr, "00", true, nullptr},
        {"usbtmc2", "1234", "abcd", "SN7", "01", true, "USB0::0x1234::0xABCD::SN7::1::INSTR"},
        {"usbtmc3", "1234", "abcd", "GONE", "00", false, nullptr},
    };
    TempDir tree;
    std::vector<std::unique_ptr<Pty>> ptys;
    std::vector<std::string> expected;
    int port = 1;
    for (const UsbCase &d : devices) {
        const auto device = hosttest::fs::path("sys/devices/usb1") / ("1-" + std::to_string(port++));
        tree.file(device / "idVendor", std::string(d.vendor) + "\n");
        tree.file(device / "idProduct", std::string(d.product) + "\n");
        if (d.serial) tree.file(device / "serial", std::string(d.serial) + "\n");
        const auto interface = device / (device.filename().string() + ":1.0");
        tree.file(interface / "bInterfaceNumber", std::string(d.interface) + "\n");
        tree.link(hosttest::fs::path("sys/class/usbmisc") / d.node / "device", tree.path() / interface);
        if (d.nodeExists) {
            ptys.push_back(std::make_unique<Pty>());
            tree.link(hosttest::fs::path("dev") / d.node, ptys.back()->path());
        }
        if (d.listedAs) expected.push_back(d.listedAs);
    }
    hosttest::HostRoots roots(tree.path() / "dev", tree.path() / "sys");
    EXPECT_EQ(findAll(rm, "USB?*INSTR"), expected);

    // Vendor and product compare by value, the serial number in any case.
    ViSession vi = VI_NULL;
    ASSERT_EQ(open("usb::0x1234::22136::sn0042a", vi, 200), VI_SUCCESS);
    const Pty &device = *ptys[0];
    EXPECT_EQ(write(vi, "*IDN?\n"), VI_SUCCESS);
    EXPECT_EQ(device.received(), "*IDN?\n");
    device.send("QM,RQ523,1,3.08\n");
    ViStatus st = VI_SUCCESS;
    EXPECT_EQ(read(vi, st), "QM,RQ523,1,3.08\n");
    EXPECT_EQ(st, VI_SUCCESS);
    long long ms = hosttest::elapsedMs([&] { read(vi, st); });
    EXPECT_EQ(st, VI_ERROR_TMO);
    EXPECT_GE(ms, 195);
    EXPECT_LT(ms, 400);
    ptys[0]->hangUp();
    read(vi, st);
    EXPECT_EQ(st, VI_ERROR_CONN_LOST);
    viClose(vi);

    for (const char *absent :
         {"USB0::0x1234::0x5678::OTHER::INSTR", "USB0::0x1234::0xABCD::GONE::INSTR",
          "USB0::0x1234::0xABCD::SN7::INSTR", "USB0::0xZZ::0x5678::SN0042A::INSTR",
          "USB0::0x1234::0x5678::INSTR", "USB0::0x1234::0x5678::SN0042A::0::7::INSTR"}) {
        EXPECT_EQ(open(absent, vi), VI_ERROR_RSRC_NFOUND) << absent;
    }
}

}  // namespace
