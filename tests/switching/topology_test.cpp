// Topology files: the example of docs/switching.md read as written, and every
// mistake reported with its file, line and key.
#include <gtest/gtest.h>

#include "core/engine.h"

namespace korvax::switching {
namespace {

TEST(Topology, ReadsChassisRoutesAndGroupsInFileOrder) {
    const Topology t = Topology::parse(R"(
[chassis.bench]                 # a name for a chassis
resource = "TCPIP0::192.168.1.20::INSTR"
settle-ms = 5
rows = { 1 = "DMM_HI", 2 = "DMM_LO", 3 = "PSU_POS", 4 = "PSU_NEG" }
columns = { 1 = "DUT1", 2 = "DUT2", 3 = "DUT3", 48 = "BUS_A" }
configuration = ["BUS_A"]       # reserved for row-to-row paths
sources = ["DMM_HI", "PSU_POS"] # never two in one net
exclusions = [["PSU_POS", "PSU_NEG"], ["PSU_POS", "DMM_LO"]]
max-per-column = 2              # closed crosspoints per column (also max-per-row)

[chassis.aux]
resource = "TCPIP0::192.168.1.21::INSTR"
rows = { 1 = "SCOPE" }
columns = { 1 = "DUT1", 5 = "PROBE" }

[routes]
measure_dut1 = ["bench/DMM_HI:bench/DUT1", "DMM_LO:DUT2"]
power_dut3 = ["PSU_POS:DUT3"]
scope = ["SCOPE:PROBE", "aux/R2:aux/C3"]

[groups]
bring_up = ["power_dut3", "measure_dut1"]
)",
                                       "t.toml");
    ASSERT_EQ(t.chassis.size(), 2u);
    EXPECT_EQ(t.chassis[0].name, "bench");
    EXPECT_EQ(t.chassis[0].settleMs, 5);
    EXPECT_EQ(t.chassis[0].columns.at(48), "BUS_A");
    EXPECT_EQ(t.chassis[0].maxPerColumn, 2);
    EXPECT_FALSE(t.chassis[0].maxPerRow);
    EXPECT_EQ(t.chassis[1].name, "aux");
    ASSERT_EQ(t.routes.size(), 3u);
    EXPECT_EQ(t.routes[0].name, "measure_dut1");
    EXPECT_EQ(t.routes[0].legs[1].chassis, "bench");
    EXPECT_EQ(t.routes[2].legs[0].chassis, "aux");
    EXPECT_EQ(t.routes[2].legs[1].a, "R2");
    ASSERT_EQ(t.groups.size(), 1u);
    EXPECT_EQ(t.groups[0].routes, (std::vector<std::string>{"power_dut3", "measure_dut1"}));
}

// The topology file of the README's first session and of the panel's
// commands, as shipped.
TEST(Topology, TheExampleFileReads) {
    const Topology t = Topology::load(KORVAX_SOURCE_DIR "/examples/bench.toml");
    ASSERT_EQ(t.chassis.size(), 1u);
    EXPECT_EQ(t.chassis[0].resource, "TCPIP0::127.0.0.1::inst0::INSTR");
    EXPECT_NE(t.findRoute("measure_dut1"), nullptr);
}

TEST(Topology, MistakesNameFileLineAndKey) {
    const std::string head = "[chassis.a]\nresource = \"TCPIP0::a::INSTR\"\n";
    struct Case {
        const char *name;
        std::string text;
        std::string expected;  // the start of the message
    };
    const std::vector<Case> cases = {
        {"syntax", head + "rows = { 1 = \"X\"\n", "t.toml:3: "},
        {"no chassis", "[routes]\n", "t.toml: chassis: no chassis"},
        {"unknown top-level key", head + "[router]\n", "t.toml:3: router: unknown key"},
        {"unknown chassis key", head + "colums = { 1 = \"X\" }\n", "t.toml:3: chassis.a.colums: unknown key"},
        {"no resource", "[chassis.a]\nsettle-ms = 1\n", "t.toml:1: chassis.a: no resource"},
        {"a resource twice", head + "[chassis.b]\nresource = \"TCPIP0::a::INSTR\"\n",
         "t.toml:4: chassis.b.resource: resource TCPIP0::a::INSTR belongs to another chassis"},
        {"settle-ms out of range", head + "settle-ms = -1\n", "t.toml:3: chassis.a.settle-ms: wants 0 to 60000"},
        {"a row number that is none", head + "rows = { x = \"X\" }\n", "t.toml:3: chassis.a.rows.x: row numbers"},
        {"a name twice", head + "rows = { 1 = \"X\" }\ncolumns = { 2 = \"X\" }\n",
         "t.toml:4: chassis.a.columns.2: channel name 'X' is used twice"},
        {"a name with a slash", head + "rows = { 1 = \"A/B\" }\n", "t.toml:3: chassis.a.rows.1: 'A/B' is not"},
        {"another channel's number name", head + "rows = { 1 = \"C4\" }\n",
         "t.toml:3: chassis.a.rows.1: 'C4' is the number name"},
        {"an unknown source", head + "sources = [\"NOPE\"]\n", "t.toml:3: chassis.a.sources: 'NOPE' is no channel"},
        {"an exclusion of one", head + "exclusions = [[\"R1\"]]\n",
         "t.toml:3: chassis.a.exclusions: an exclusion names at least two"},
        {"a limit of 0", head + "max-per-row = 0\n", "t.toml:3: chassis.a.max-per-row: wants 1 to"},
        {"a leg without a colon", head + "[routes]\nr = [\"R1-C1\"]\n", "t.toml:4: routes.r: 'R1-C1' is not a leg"},
        {"a leg across chassis", head + "[chassis.b]\nresource = \"TCPIP0::b::INSTR\"\n[routes]\nr = [\"a/R1:b/C1\"]\n",
         "t.toml:6: routes.r: 'a/R1:b/C1' joins two chassis"},
        {"a leg two chassis could hold", head + "[chassis.b]\nresource = \"TCPIP0::b::INSTR\"\n[routes]\nr = [\"R1:C1\"]\n",
         "t.toml:6: routes.r: 'R1:C1' could be on chassis a, b"},
        {"a leg no chassis holds", head + "rows = { 1 = \"X\" }\n[routes]\nr = [\"X:NOPE\"]\n",
         "t.toml:5: routes.r: no chassis has both X and NOPE"},
        {"a group of an unknown route", head + "[groups]\ng = [\"nope\"]\n", "t.toml:4: groups.g: no route 'nope'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        try {
            (void)Topology::parse(c.text, "t.toml");
            ADD_FAILURE() << "accepted";
        } catch (const Error &e) {
            EXPECT_EQ(e.kind(), ErrorKind::Topology);
            EXPECT_EQ(std::string(e.what()).substr(0, c.expected.size()), c.expected) << e.what();
        }
    }
}

TEST(Topology, AFileThatCannotBeReadSaysSo) {
    try {
        (void)Topology::load("/nonexistent/korvax/topology.toml");
        ADD_FAILURE() << "read";
    } catch (const Error &e) {
        EXPECT_EQ(std::string(e.what()), "/nonexistent/korvax/topology.toml: cannot be read");
    }
}

}  // namespace
}  // namespace korvax::switching
