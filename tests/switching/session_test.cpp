// Sessions against a test double of the chassis: the frames on the wire,
// failures and rollback, the record shared between sessions, wear.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "KORVAX.h"
#include "korvax/switching.hpp"

namespace korvax::switching {
namespace {

using Closed = std::set<Crosspoint>;

// What reached one chassis: every frame sent, and the statuses to answer.
struct Wire {
    std::vector<Closed> frames;       // as sent, refused ones included
    std::map<size_t, int32_t> fail;   // send number -> status
};

ChassisGeometry rq521() { return {0x042A, 10, 10, 4, 12, 4, 15, 270}; }

class FakeBackend final : public Backend {
public:
    explicit FakeBackend(std::shared_ptr<Wire> wire) : wire_(std::move(wire)) {}
    ChassisGeometry geometry() const override { return rq521(); }
    std::vector<uint32_t> storedState() override { return std::vector<uint32_t>(15, 0); }
    int32_t send(std::span<const uint32_t> state) override {
        Closed closed;
        for (size_t p = 0; p < state.size() * 32; ++p)
            if (state[p / 32] & (1u << (p % 32))) closed.insert({static_cast<int>(p / 48) + 1, static_cast<int>(p % 48) + 1});
        const size_t n = wire_->frames.size();
        wire_->frames.push_back(closed);
        const auto it = wire_->fail.find(n);
        return it == wire_->fail.end() ? 0 : it->second;
    }

private:
    std::shared_ptr<Wire> wire_;
};

class FakeOpener final : public ChassisOpener {
public:
    std::map<std::string, std::shared_ptr<Wire>> wires;
    std::vector<std::unique_ptr<Backend>> open(const std::vector<std::string> &resources) override {
        std::vector<std::unique_ptr<Backend>> out;
        for (const auto &r : resources) {
            auto &w = wires[r];
            if (!w) w = std::make_shared<Wire>();
            out.push_back(std::make_unique<FakeBackend>(w));
        }
        return out;
    }
};

constexpr const char *kTopology = R"(
[chassis.bench]
resource = "TCPIP0::bench::INSTR"
rows = { 1 = "DMM_HI", 2 = "DMM_LO", 3 = "PSU_POS" }
columns = { 1 = "DUT1", 2 = "DUT2", 3 = "DUT3" }
sources = ["DMM_HI", "PSU_POS"]

[chassis.aux]
resource = "TCPIP0::aux::INSTR"
rows = { 1 = "SCOPE" }
columns = { 5 = "PROBE" }

[routes]
measure_dut1 = ["DMM_HI:DUT1", "DMM_LO:DUT2"]
both = ["bench/PSU_POS:bench/DUT3", "SCOPE:PROBE"]
)";

class Sessions : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/korvax-switch-test-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        folder_ = dir;
        opener_ = std::make_shared<FakeOpener>();
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    Session open(const std::string &program = "test") {
        SessionOptions o;
        o.record = folder_ + "/switching.sqlite3";
        o.program = program;
        o.opener = opener_;
        return Session(Topology::parse(kTopology, "t.toml"), o);
    }
    Wire &wire(const std::string &rsrc) { return *opener_->wires.at(rsrc); }

    std::string folder_;
    std::shared_ptr<FakeOpener> opener_;
};

TEST_F(Sessions, BreakBeforeMakeOnTheWire) {
    Session s = open();
    Matrix &m = s.matrix("bench");
    m.connect("DMM_HI", "DUT1");
    m.connect("R5", "C7");
    const auto t = m.apply(std::vector<Change>{Change::disconnect("DMM_HI", "DUT1"), Change::connect("DMM_HI", "DUT2")});
    const auto &f = wire("TCPIP0::bench::INSTR").frames;
    ASSERT_EQ(f.size(), 4u);
    EXPECT_EQ(f[2], (Closed{{5, 7}}));          // the opening alone
    EXPECT_EQ(f[3], (Closed{{1, 2}, {5, 7}}));  // then the closing
    EXPECT_EQ(t.frames.size(), 2u);
    // A refusal sends nothing.
    EXPECT_THROW(m.connect("PSU_POS", "DUT2"), Error);
    EXPECT_EQ(f.size(), 4u);
    EXPECT_EQ(m.canConnect("PSU_POS", "DUT2").answer, Answer::SourceConflict);
}

TEST_F(Sessions, AFailedClosingFrameIsRolledBack) {
    struct Case {
        const char *name;
        std::map<size_t, int32_t> fail;  // sends: 0 the connect, 1 opening, 2 closing, 3 rollback
        Rollback rollback;
        Closed recorded;
    };
    const std::vector<Case> cases = {
        {"rollback acknowledged", {{2, KORVAX_ERR_RECEIVE}}, Rollback::Acknowledged, {{1, 1}}},
        {"rollback fails too", {{2, KORVAX_ERR_RECEIVE}, {3, KORVAX_ERR_SEND}}, Rollback::Failed, {}},
        {"the first frame fails", {{1, KORVAX_ERR_SEND}}, Rollback::None, {{1, 1}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(folder_);
        opener_->wires.clear();
        Session s = open();
        Matrix &m = s.matrix("bench");
        m.connect("DMM_HI", "DUT1");
        wire("TCPIP0::bench::INSTR").fail = c.fail;
        try {
            m.apply(std::vector<Change>{Change::disconnect("DMM_HI", "DUT1"), Change::connect("DMM_HI", "DUT2")});
            ADD_FAILURE() << "no failure";
        } catch (const Error &e) {
            EXPECT_EQ(e.kind(), ErrorKind::Chassis);
            EXPECT_EQ(e.code(), c.fail.begin()->second);
            EXPECT_EQ(e.rollback(), c.rollback) << e.what();
        }
        const auto &f = wire("TCPIP0::bench::INSTR").frames;
        if (c.rollback != Rollback::None) {
            ASSERT_EQ(f.size(), 4u);
            EXPECT_EQ(f[3], (Closed{{1, 1}}));  // the state from before, sent again
        }
        const auto closed = m.closed();
        EXPECT_EQ(Closed(closed.begin(), closed.end()), c.recorded);
        EXPECT_EQ(m.paths().size(), c.recorded.size());
        const auto events = m.events(1);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].outcome.substr(0, 7), "failed:");
    }
}

TEST_F(Sessions, TheChassisClosureLimitIsALimitRefusal) {
    Session s = open();
    Matrix &m = s.matrix("bench");
    wire("TCPIP0::bench::INSTR").fail = {{0, KORVAX_ERR_CLOSURE_LIMIT}};
    try {
        m.connect("DMM_HI", "DUT1");
        ADD_FAILURE() << "no refusal";
    } catch (const Error &e) {
        EXPECT_EQ(e.kind(), ErrorKind::Refused);
        EXPECT_EQ(e.reason(), Answer::Limit);
        EXPECT_EQ(e.code(), KORVAX_ERR_CLOSURE_LIMIT);
        EXPECT_EQ(e.rule(), "chassis closure limit 270");
    }
    EXPECT_TRUE(m.closed().empty());
}

TEST_F(Sessions, TheRecordIsSharedAndCountsWear) {
    {
        Session a = open("first");
        for (int i = 0; i < 3; ++i) {
            a.matrix("bench").connect("DMM_HI", "DUT1");
            a.matrix("bench").disconnect("DMM_HI", "DUT1");
        }
        a.matrix("bench").connect("DMM_LO", "DUT2");
    }
    // Another session (another process, as far as the record knows)
    // starts from what the first one left, not from its own library state.
    Session b = open("second");
    Matrix &m = b.matrix("bench");
    EXPECT_EQ(m.path("DUT2", "DMM_LO").crosspoints, (std::vector<Crosspoint>{{2, 2}}));
    m.connect("PSU_POS", "DUT3");
    EXPECT_EQ(wire("TCPIP0::bench::INSTR").frames.back(), (Closed{{2, 2}, {3, 3}}));
    const auto wear = m.wear(1);
    ASSERT_EQ(wear.size(), 1u);
    EXPECT_EQ(wear[0].crosspoint, (Crosspoint{1, 1}));
    EXPECT_EQ(wear[0].closures, 3);
    EXPECT_EQ(wear[0].column, "DUT1");
    const auto events = m.events(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].program, "first");
    EXPECT_EQ(events[1].program, "second");
    EXPECT_EQ(events[1].what, "connect PSU_POS DUT3");
    EXPECT_EQ(events[1].closed, "3!3");
}

TEST_F(Sessions, TheCommandsOldStateFileIsAdoptedOnceAndChecked) {
    struct Case {
        const char *name;
        std::string text;
        std::string error;  // empty: adopted
    };
    const std::vector<Case> cases = {
        {"as the command last wrote it", "# korvax relay record 1\n1!1\n2!3\n# end 2\n", ""},
        {"as earlier commands wrote it", "1!1\n2!3\n", ""},
        {"a row beyond the chassis", "1!1\n11!1\n", "TCPIP0__bench__INSTR.sub0: line 2: crosspoint 11!1 is outside"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(folder_);
        opener_->wires.clear();
        std::filesystem::create_directories(folder_);
        std::ofstream(folder_ + "/TCPIP0__bench__INSTR.sub0") << c.text;
        Session s = open();
        Matrix &m = s.matrix("bench");
        if (c.error.empty()) {
            EXPECT_EQ(m.closed(), (std::vector<Crosspoint>{{1, 1}, {2, 3}}));
            m.connect("PSU_POS", "DUT3");
            EXPECT_EQ(m.closed(), (std::vector<Crosspoint>{{1, 1}, {2, 3}, {3, 3}}));
            continue;
        }
        try {
            m.connect("PSU_POS", "DUT3");
            ADD_FAILURE() << "adopted";
        } catch (const Error &e) {
            EXPECT_EQ(e.kind(), ErrorKind::Record);
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
        EXPECT_TRUE(wire("TCPIP0::bench::INSTR").frames.empty());
        // Disconnecting everything needs no belief in the file: it puts the
        // chassis right, and the record starts from there.
        m.disconnectAll();
        EXPECT_EQ(wire("TCPIP0::bench::INSTR").frames, std::vector<Closed>{Closed{}});
        m.connect("PSU_POS", "DUT3");
        EXPECT_EQ(m.closed(), (std::vector<Crosspoint>{{3, 3}}));
    }
}

TEST_F(Sessions, ProcessesOpeningANewRecordAtOnceAllGetIt) {
    // The first opening turns the file into WAL mode, which needs it alone:
    // the others wait for it instead of failing.
    for (int round = 0; round < 20; ++round) {
        const std::string record = folder_ + "/new" + std::to_string(round) + ".sqlite3";
        std::array<int, 2> start{};
        ASSERT_EQ(::pipe(start.data()), 0);
        std::vector<pid_t> children;
        for (int i = 0; i < 4; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::close(start[1]);
                char go = 0;
                (void)::read(start[0], &go, 1);  // all at once: when the parent closes its end
                try {
                    SessionOptions o;
                    o.record = record;
                    o.opener = std::make_shared<FakeOpener>();
                    Session(Topology::parse(kTopology, "t.toml"), o).matrix("bench").closed();
                    ::_exit(0);
                } catch (...) {
                    ::_exit(1);
                }
            }
            children.push_back(pid);
        }
        ::close(start[0]);
        ::close(start[1]);
        for (const pid_t pid : children) {
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
    }
}

TEST_F(Sessions, ARouteAcrossChassisIsUndoneWhenALaterChassisFails) {
    Session s = open();
    wire("TCPIP0::aux::INSTR").fail = {{0, KORVAX_ERR_SEND}};
    EXPECT_THROW(s.route("both"), Error);
    const auto &bench = wire("TCPIP0::bench::INSTR").frames;
    ASSERT_EQ(bench.size(), 2u);
    EXPECT_EQ(bench[0], (Closed{{3, 3}}));
    EXPECT_EQ(bench[1], Closed{});
    EXPECT_TRUE(s.matrix("bench").closed().empty());
    // Once the chassis answers, the route lands on both, bench first.
    wire("TCPIP0::aux::INSTR").fail.clear();
    const auto ts = s.route("both");
    ASSERT_EQ(ts.size(), 2u);
    EXPECT_EQ(ts[0].chassis, "bench");
    EXPECT_EQ(s.matrix("aux").path("SCOPE", "PROBE").route, "both");
}

}  // namespace
}  // namespace korvax::switching
