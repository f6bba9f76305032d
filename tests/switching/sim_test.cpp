// The engine through the C interface on simulated chassis: what a session
// switches by name is what the chassis closes; and two processes switching
// one chassis (korvax-sim) lose nothing of each other's changes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "korvax/switching.hpp"
#include "sim/chassis.h"
#include "support/sim_server.h"
#include "visa-sim/simulation.h"

namespace korvax::switching {
namespace {

class SimulatedChassis : public ::testing::Test {
protected:
    void SetUp() override {
        visa::clearDeclared();
        char dir[] = "/tmp/korvax-switch-sim-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        folder_ = dir;
    }
    void TearDown() override {
        visa::clearDeclared();
        std::filesystem::remove_all(folder_);
    }
    Session open(const std::string &topology) {
        const std::string file = folder_ + "/topology.toml";
        std::ofstream(file) << topology;
        SessionOptions o;
        o.record = folder_ + "/switching.sqlite3";
        return Session(file, o);
    }
    std::string folder_;
};

TEST_F(SimulatedChassis, NamesLandOnTheirCrosspoints) {
    // An RQ521 starts in local control: the engine takes it into remote
    // control before its first frame. On the RQ522 the column counts across
    // the chassis row, 96 per card.
    visa::declareSimulated("TCPIP0::sw-rq521::INSTR", sim::Config::forModel(sim::kRQ521));
    visa::declareSimulated("TCPIP0::sw-rq522::INSTR", sim::Config::forModel(sim::kRQ522));
    Session s = open(R"(
[chassis.small]
resource = "TCPIP0::sw-rq521::INSTR"
rows = { 1 = "DMM_HI", 2 = "DMM_LO" }
columns = { 14 = "DUT1", 48 = "BUS" }
configuration = ["BUS"]

[chassis.big]
resource = "TCPIP0::sw-rq522::INSTR"
rows = { 4 = "SCOPE" }
columns = { 100 = "PROBE" }
)");
    s.matrix("small").connect("DMM_HI", "DUT1");
    s.matrix("small").connect("DMM_HI", "DMM_LO");
    s.matrix("big").connect("SCOPE", "PROBE");
    EXPECT_EQ(visa::simulated("TCPIP0::sw-rq521::INSTR")->closedCrosspoints(),
              (std::vector<sim::Crosspoint>{{1, 1, 0, 1}, {3, 3, 0, 11}, {3, 3, 1, 11}}));
    EXPECT_EQ(visa::simulated("TCPIP0::sw-rq522::INSTR")->closedCrosspoints(),
              (std::vector<sim::Crosspoint>{{1, 1, 3, 3}}));
    EXPECT_EQ(s.matrix("big").canConnect("R5", "PROBE").answer, Answer::Unsupported);
    s.matrix("small").disconnectAll();
    EXPECT_TRUE(visa::simulated("TCPIP0::sw-rq521::INSTR")->closedCrosspoints().empty());
}

TEST_F(SimulatedChassis, ASessionThatNeedsADiscoveryKeepsTheOthersAttached) {
    // A discovery ends every handle of the one before: the engine runs it
    // for the chassis of every open session, and attaches them again.
    visa::declareSimulated("TCPIP0::sw-first::INSTR", sim::Config::forModel(sim::kRQ523));
    Session first = open("[chassis.first]\nresource = \"TCPIP0::sw-first::INSTR\"\n");
    first.matrix().connect("R1", "C1");
    visa::declareSimulated("TCPIP0::sw-second::INSTR", sim::Config::forModel(sim::kRQ523));
    Session second = open("[chassis.second]\nresource = \"TCPIP0::sw-second::INSTR\"\n");
    EXPECT_EQ(heldResources(), (std::vector<std::string>{"TCPIP0::sw-first::INSTR", "TCPIP0::sw-second::INSTR"}));
    first.matrix().connect("R2", "C2");
    second.matrix().connect("R3", "C3");
    EXPECT_EQ(visa::simulated("TCPIP0::sw-first::INSTR")->closedCrosspoints(),
              (std::vector<sim::Crosspoint>{{0, 0, 0, 0}, {0, 0, 1, 1}}));
    EXPECT_EQ(visa::simulated("TCPIP0::sw-second::INSTR")->closedCrosspoints(),
              (std::vector<sim::Crosspoint>{{0, 0, 2, 2}}));
}

// A program of the build beside this test (bin/), unless the environment
// names it.
std::string program(const char *variable, const char *name) {
    if (const char *p = std::getenv(variable); p != nullptr && *p != '\0') return p;
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

// Runs the worker in a child process; returns its pid.
pid_t spawn(const std::vector<std::string> &args, const std::string &resources) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        setenv("KORVAX_VISA_RESOURCES", resources.c_str(), 1);
        std::vector<char *> argv;
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// Waits for a child, at most `limit`; kills it beyond.
int reap(pid_t pid, std::chrono::seconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(SimulatedChassis, TwoProcessesSwitchingOneChassisLoseNothing) {
    const std::string worker = program("KORVAX_SWITCH_WORKER", "korvax_switch_worker");
    setenv("KORVAX_SIM", program("KORVAX_SIM", "korvax-sim").c_str(), 1);
    korvax::testing::SimServer server("[TCPIP0::127.0.0.1::{raw}::SOCKET]\nmodel = RQ521\n", 1, {"--log-relays"});
    const std::string resources = folder_ + "/resources.conf";
    std::ofstream(resources) << "[TCPIP0::127.0.0.1::INSTR]\nsocket-port = " << server.rawPort() << "\n";
    const std::string topology = folder_ + "/topology.toml";
    std::ofstream(topology) << "[chassis.shared]\nresource = \"TCPIP0::127.0.0.1::INSTR\"\n";
    const std::string record = folder_ + "/switching.sqlite3";

    // Each process keeps one crosspoint of its own closed and toggles
    // another 200 times; every frame either sends carries the other's.
    constexpr int kRounds = 200;
    const pid_t a = spawn({worker, topology, record, "1", std::to_string(kRounds)}, resources);
    const pid_t b = spawn({worker, topology, record, "2", std::to_string(kRounds)}, resources);
    EXPECT_EQ(reap(a, std::chrono::seconds(90)), 0);
    EXPECT_EQ(reap(b, std::chrono::seconds(90)), 0);

    setenv("KORVAX_VISA_RESOURCES", resources.c_str(), 1);
    visa::clearDeclared();
    SessionOptions o;
    o.record = record;
    Session s(topology, o);
    Matrix &m = s.matrix();
    EXPECT_EQ(m.closed(), (std::vector<Crosspoint>{{1, 2}, {2, 3}}));
    for (const Wear &w : m.wear()) {
        SCOPED_TRACE(toString(w.crosspoint));
        EXPECT_EQ(w.closures, w.crosspoint.column == 1 ? kRounds / 2 : 1);
    }
    EXPECT_EQ(m.wear().size(), 4u);
    EXPECT_EQ(m.events(10000).size(), 2u * (kRounds + 1) + 1);  // and the adoption
    // The chassis holds what the record says: the last frame it applied.
    const std::string logged = "TCPIP0::127.0.0.1::" + std::to_string(server.rawPort()) + "::SOCKET closed: ";
    const std::string output = server.output();
    const auto last = output.rfind(logged);
    ASSERT_NE(last, std::string::npos) << output;
    std::string relays = output.substr(last + logged.size());
    relays.resize(relays.find('\n'));
    std::string held;
    for (const Crosspoint &x : m.closed()) held += (held.empty() ? "" : " ") + toString(x);
    EXPECT_EQ(relays, held);
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1 + 2 * (kRounds + 1));  // serving, then every frame
    setenv("KORVAX_VISA_RESOURCES", "", 1);
}

}  // namespace
}  // namespace korvax::switching
