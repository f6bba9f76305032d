// The rules and the plans of the switching core, one table per concern.
#include <gtest/gtest.h>

#include "core/engine.h"

namespace korvax::switching::core {
namespace {

constexpr const char *kBench = R"(
[chassis.bench]
resource = "TCPIP0::bench::INSTR"
rows = { 1 = "DMM_HI", 2 = "DMM_LO", 3 = "PSU_POS", 4 = "PSU_NEG", 5 = "SCOPE", 10 = "BUS_R" }
columns = { 1 = "DUT1", 2 = "DUT2", 3 = "DUT3", 47 = "BUS_B", 48 = "BUS_A" }
configuration = ["BUS_A", "BUS_B", "BUS_R"]
sources = ["DMM_HI", "PSU_POS"]
exclusions = [["PSU_POS", "PSU_NEG"], ["PSU_POS", "DMM_LO"], ["SCOPE", "DUT2", "DUT3"]]
max-per-column = 2
max-per-row = 3

[routes]
measure_dut1 = ["DMM_HI:DUT1", "DMM_LO:DUT2"]
power_dut3 = ["PSU_POS:DUT3"]

[groups]
bring_up = ["power_dut3", "measure_dut1"]
)";

// An RQ521: 10 rows, four cards of 12 columns, 270 relays at once.
ChassisGeometry rq521(int closureLimit = 270) { return {0x042A, 10, 10, 4, 12, 4, 15, closureLimit}; }
// An RQ522 with two of its 21 cards fitted: rows 5 to 16 cannot be switched.
ChassisGeometry rq522() { return {0x043A, 16, 4, 21, 96, 2, 1008, -1}; }

std::map<std::string, std::vector<Leg>, std::less<>> routesOf(const Topology &t) {
    std::map<std::string, std::vector<Leg>, std::less<>> out;
    for (const auto &r : t.routes)
        for (const auto &l : r.legs) out[r.name].push_back({l.a, l.b, r.name});
    for (const auto &g : t.groups)
        for (const auto &r : g.routes) out[g.name].insert(out[g.name].end(), out[r].begin(), out[r].end());
    return out;
}

Layout layoutOf(const char *text, const ChassisGeometry &g) {
    const Topology t = Topology::parse(text, "bench.toml");
    return Layout(t.chassis.front(), g, routesOf(t));
}

// The state after connecting these pairs one by one.
State connected(const Layout &l, const std::vector<std::pair<std::string, std::string>> &pairs) {
    State s;
    for (const auto &[a, b] : pairs) {
        const Change c = Change::connect(a, b);
        const Plan p = plan(l, s, std::span<const Change>(&c, 1));
        EXPECT_TRUE(p.verdict.possible()) << a << "-" << b << ": " << p.verdict.message;
        s = p.after;
    }
    return s;
}

struct CanConnectCase {
    const char *name;
    std::vector<std::pair<std::string, std::string>> before;
    std::string a, b;
    Answer answer;
    std::string rule;               // the verdict's rule
    std::vector<Crosspoint> path;   // for possible
};

TEST(CanConnect, AnswersWithTheRuleThatDecides) {
    const std::vector<CanConnectCase> cases = {
        {"row and column: their crosspoint", {}, "DMM_HI", "DUT1", Answer::Possible, "", {{1, 1}}},
        {"named with the chassis", {}, "bench/DMM_HI", "bench/DUT1", Answer::Possible, "", {{1, 1}}},
        {"unnamed channels by number", {}, "R6", "C7", Answer::Possible, "", {{6, 7}}},
        {"two rows: the lowest free configuration column", {}, "DMM_HI", "SCOPE", Answer::Possible, "",
         {{1, 47}, {5, 47}}},
        {"two rows: the next one when the lowest is in use", {{"DMM_HI", "SCOPE"}}, "R6", "R7", Answer::Possible, "",
         {{6, 48}, {7, 48}}},
        {"two columns: through a configuration row", {}, "DUT1", "DUT2", Answer::Possible, "", {{10, 1}, {10, 2}}},
        {"already connected", {{"DMM_HI", "DUT1"}}, "DUT1", "DMM_HI", Answer::Exists, "", {}},
        {"connected through a shared column", {{"DMM_HI", "DUT1"}, {"R6", "DUT1"}}, "DMM_HI", "R6", Answer::Exists,
         "", {}},
        {"every configuration column in use", {{"DMM_HI", "SCOPE"}, {"R6", "R7"}}, "R8", "R9", Answer::InUse,
         "configuration columns BUS_B, BUS_A", {}},
        {"a configuration channel in use as an end", {{"DMM_HI", "SCOPE"}}, "R6", "BUS_B", Answer::InUse,
         "configuration channel BUS_B", {}},
        {"two sources in one net", {{"DMM_HI", "DUT1"}}, "PSU_POS", "DUT1", Answer::SourceConflict,
         "sources DMM_HI, PSU_POS", {}},
        {"two sources joined through other channels", {{"DMM_HI", "DUT1"}, {"PSU_POS", "DUT2"}}, "DUT1", "DUT2",
         Answer::SourceConflict, "sources DMM_HI, PSU_POS", {}},
        {"an excluded pair", {{"PSU_POS", "DUT3"}}, "PSU_NEG", "DUT3", Answer::Excluded,
         "exclusion PSU_POS, PSU_NEG", {}},
        {"an excluded pair met in a net neither end is in", {{"PSU_POS", "DUT3"}, {"DMM_LO", "DUT2"}}, "DUT2", "DUT3",
         Answer::Excluded, "exclusion PSU_POS, DMM_LO", {}},
        {"an exclusion of three: two members meet through a third channel", {{"R6", "DUT2"}}, "R6", "DUT3",
         Answer::Excluded, "exclusion SCOPE, DUT2, DUT3", {}},
        {"an exclusion of three: one member among others is fine", {{"R6", "DUT2"}}, "R6", "C4", Answer::Possible, "",
         {{6, 4}}},
        {"max-per-column", {{"DMM_HI", "DUT1"}, {"R6", "DUT1"}}, "R7", "DUT1", Answer::Limit, "max-per-column 2", {}},
        {"max-per-row", {{"R6", "C4"}, {"R6", "C5"}, {"R6", "C6"}}, "R6", "C7", Answer::Limit, "max-per-row 3", {}},
        {"unknown channel", {}, "NOPE", "DUT1", Answer::Unsupported, "unknown channel", {}},
        {"another chassis", {}, "rack/DMM_HI", "DUT1", Answer::Unsupported, "another chassis", {}},
        {"a row beyond the chassis", {}, "R11", "DUT1", Answer::Unsupported, "switchable rows", {}},
        {"a column beyond the chassis", {}, "DMM_HI", "C49", Answer::Unsupported, "fitted columns", {}},
        {"a channel to itself", {}, "DUT1", "DUT1", Answer::Unsupported, "same channel", {}},
    };
    const Layout l = layoutOf(kBench, rq521());
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const State s = connected(l, c.before);
        const Verdict v = canConnect(l, s, c.a, c.b);
        EXPECT_EQ(answerWord(v.answer), answerWord(c.answer)) << v.message;
        EXPECT_EQ(v.rule, c.rule);
        EXPECT_FALSE(v.message.empty());
        if (c.answer == Answer::Possible) {
            EXPECT_EQ(v.path, c.path);
        } else {
            // Refused: nothing changes.
            EXPECT_EQ(plan(l, s, std::vector<Change>{Change::connect(c.a, c.b)}).frames.size(), 0u);
        }
    }
}

TEST(CanConnect, ChassisLimitsAndRowsItCannotSwitch) {
    const char *plain = R"(
[chassis.big]
resource = "TCPIP0::big::INSTR"
rows = { 5 = "DEEP" }
configuration = ["R1"]
)";
    struct Case {
        const char *name;
        ChassisGeometry geometry;
        std::vector<std::pair<std::string, std::string>> before;
        std::string a, b;
        Answer answer;
        std::string rule;
    };
    const std::vector<Case> cases = {
        {"more crosspoints than the chassis closes relays", rq521(2), {{"R2", "C1"}, {"R3", "C2"}}, "R4", "C3",
         Answer::Limit, "chassis closure limit 2"},
        {"a row the RQ522's frames do not reach", rq522(), {}, "DEEP", "C1", Answer::Unsupported, "switchable rows"},
        {"a column beyond the cards fitted", rq522(), {}, "R2", "C193", Answer::Unsupported, "fitted columns"},
        {"the last column of the last card fitted", rq522(), {}, "R2", "C192", Answer::Possible, ""},
        {"two rows with no configuration column", rq522(), {}, "R2", "R3", Answer::Unsupported,
         "no configuration column"},
        {"two columns through the configuration row", rq522(), {}, "C2", "C3", Answer::Possible, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Layout l = layoutOf(plain, c.geometry);
        const Verdict v = canConnect(l, connected(l, c.before), c.a, c.b);
        EXPECT_EQ(answerWord(v.answer), answerWord(c.answer)) << v.message;
        EXPECT_EQ(v.rule, c.rule);
    }
}

std::set<Crosspoint> xs(std::initializer_list<Crosspoint> l) { return l; }

struct PlanCase {
    const char *name;
    std::vector<std::pair<std::string, std::string>> before;
    std::vector<Change> changes;
    Answer answer;
    std::vector<std::set<Crosspoint>> frames;  // closed after each
};

TEST(Plan, BreakBeforeMakeAndRulesOnTheFinalState) {
    const std::vector<PlanCase> cases = {
        {"nothing opens: one frame", {}, {Change::connect("DMM_HI", "DUT1")}, Answer::Possible, {xs({{1, 1}})}},
        {"nothing closes: one frame", {{"DMM_HI", "DUT1"}}, {Change::disconnect("DUT1", "DMM_HI")}, Answer::Possible,
         {xs({})}},
        {"openings first, then the closings",
         {{"DMM_HI", "DUT1"}, {"R6", "C7"}},
         {Change::disconnect("DMM_HI", "DUT1"), Change::connect("DMM_HI", "DUT2")},
         Answer::Possible,
         {xs({{6, 7}}), xs({{1, 2}, {6, 7}})}},
        {"a source moves where another was: fine on the final state",
         {{"DMM_HI", "DUT1"}},
         {Change::connect("PSU_POS", "DUT1"), Change::disconnect("DMM_HI", "DUT1")},
         Answer::Possible,
         {xs({}), xs({{3, 1}})}},
        {"a route on", {}, {Change::routeOn("measure_dut1")}, Answer::Possible, {xs({{1, 1}, {2, 2}})}},
        {"a route already on: nothing to send", {{"DMM_HI", "DUT1"}, {"DMM_LO", "DUT2"}},
         {Change::routeOn("measure_dut1")}, Answer::Possible, {}},
        {"a group: its routes together", {}, {Change::routeOn("bring_up")}, Answer::Possible,
         {xs({{1, 1}, {2, 2}, {3, 3}})}},
        {"a route alone: every other path opens first, its own legs stay",
         {{"DMM_HI", "DUT1"}, {"R6", "C7"}},
         {Change::routeOnly("measure_dut1")},
         Answer::Possible,
         {xs({{1, 1}}), xs({{1, 1}, {2, 2}})}},
        {"a route off", {{"DMM_HI", "DUT1"}, {"DMM_LO", "DUT2"}, {"R6", "C7"}}, {Change::routeOff("measure_dut1")},
         Answer::Possible, {xs({{6, 7}})}},
        {"disconnect all", {{"DMM_HI", "DUT1"}, {"DMM_HI", "SCOPE"}}, {Change::disconnectAll()}, Answer::Possible,
         {xs({})}},
        {"disconnect all with nothing recorded still sends its frame", {}, {Change::disconnectAll()},
         Answer::Possible, {xs({})}},
        {"by number", {{"R6", "C7"}}, {Change::open({{6, 7}}), Change::close({{8, 9}})}, Answer::Possible,
         {xs({}), xs({{8, 9}})}},
        {"an explicit path", {}, {Change::setPath("DMM_HI", "SCOPE", {{1, 48}, {5, 48}})}, Answer::Possible,
         {xs({{1, 48}, {5, 48}})}},
        {"refused as a whole: nothing sent",
         {{"DMM_HI", "DUT1"}},
         {Change::connect("R6", "C7"), Change::connect("PSU_POS", "DUT1")},
         Answer::SourceConflict,
         {}},
        {"a crosspoint the chassis cannot switch", {}, {Change::close({{11, 1}})}, Answer::Unsupported, {}},
    };
    const Layout l = layoutOf(kBench, rq521());
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const State s = connected(l, c.before);
        const Plan p = plan(l, s, c.changes);
        EXPECT_EQ(answerWord(p.verdict.answer), answerWord(c.answer)) << p.verdict.message;
        EXPECT_EQ(p.frames, c.frames);
        if (!p.frames.empty()) {
            EXPECT_EQ(p.after.closed, p.frames.back());
        }
    }
}

TEST(Plan, PathsAreRecordedAndOpenedExactly) {
    const Layout l = layoutOf(kBench, rq521());
    State s = connected(l, {{"DMM_HI", "SCOPE"}, {"DMM_HI", "DUT1"}});
    ASSERT_EQ(s.paths.size(), 2u);
    EXPECT_EQ(s.paths[0].crosspoints, (std::vector<Crosspoint>{{1, 47}, {5, 47}}));
    // Disconnecting one path leaves the other's crosspoints closed, though
    // they share the row.
    const Plan p = plan(l, s, std::vector<Change>{Change::disconnect("SCOPE", "DMM_HI")});
    EXPECT_EQ(p.after.closed, xs({{1, 1}}));
    ASSERT_EQ(p.after.paths.size(), 1u);
    EXPECT_EQ(p.after.paths[0].route, "");
    // Opening a path's crosspoint by number forgets the path.
    const Plan q = plan(l, s, std::vector<Change>{Change::open({{5, 47}})});
    EXPECT_EQ(q.after.paths.size(), 1u);
    // A route's paths carry its name.
    const Plan r = plan(l, State{}, std::vector<Change>{Change::routeOn("power_dut3")});
    ASSERT_EQ(r.after.paths.size(), 1u);
    EXPECT_EQ(r.after.paths[0].route, "power_dut3");
}

TEST(Plan, RulesRefuseOnlyWhatATransactionIntroduces) {
    const Layout l = layoutOf(kBench, rq521());
    // Two sources met through crosspoints closed by number, outside the rules.
    State s;
    s.closed = xs({{1, 1}, {3, 1}});
    EXPECT_TRUE(canConnect(l, s, "DMM_LO", "DUT2").possible());
    EXPECT_EQ(canConnect(l, s, "PSU_POS", "DUT2").answer, Answer::Possible);
    EXPECT_TRUE(plan(l, s, std::vector<Change>{Change::disconnect("DMM_HI", "DUT1")}).verdict.possible());
    // Another conflict is refused still.
    EXPECT_EQ(canConnect(l, s, "PSU_NEG", "DUT1").answer, Answer::Excluded);
}

TEST(Plan, MistakesThatAreNoRuleThrow) {
    const Layout l = layoutOf(kBench, rq521());
    const State s = connected(l, {{"DMM_HI", "DUT1"}});
    struct Case {
        const char *name;
        Change change;
        ErrorKind kind;
    };
    const std::vector<Case> cases = {
        {"no recorded path", Change::disconnect("DMM_LO", "DUT2"), ErrorKind::NotFound},
        {"unknown route", Change::routeOn("nope"), ErrorKind::NotFound},
        {"a path that joins nothing", Change::setPath("DMM_LO", "SCOPE", {{2, 48}, {6, 48}}), ErrorKind::Invalid},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        try {
            (void)plan(l, s, std::vector<Change>{c.change});
            ADD_FAILURE() << "no error";
        } catch (const Error &e) {
            EXPECT_EQ(e.kind(), c.kind) << e.what();
        }
    }
}

TEST(Nets, ChannelsJoinedThroughClosedCrosspoints) {
    // Rows 1 and 2 share column 5; row 3 and column 9 are a net of their own.
    const auto n = nets(xs({{1, 5}, {2, 5}, {3, 9}}));
    ASSERT_EQ(n.size(), 2u);
    EXPECT_EQ(n[0], (std::vector<Channel>{{true, 1}, {true, 2}, {false, 5}}));
    EXPECT_EQ(n[1], (std::vector<Channel>{{true, 3}, {false, 9}}));
}

TEST(StateArray, BitOfEachCrosspointAcrossTheChassisRow) {
    const ChassisGeometry g = rq522();  // 2016 columns in a row of the state array
    const auto words = toWords(xs({{1, 1}, {2, 100}, {4, 192}}), g);
    ASSERT_EQ(words.size(), 1008u);
    EXPECT_EQ(words[0], 1u);
    const size_t second = 2016 + 99, third = 3 * 2016 + 191;
    EXPECT_EQ(words[second / 32], 1u << (second % 32));
    EXPECT_EQ(words[third / 32], 1u << (third % 32));
    EXPECT_EQ(fromWords(words, g), xs({{1, 1}, {2, 100}, {4, 192}}));
}

}  // namespace
}  // namespace korvax::switching::core
