// Discovery end to end: which simulated chassis libKORVAX accepts, under
// which model code, over LAN, GPIB, USB and serial resources.
#include <functional>

#include "bench.h"

namespace {

using namespace e2e;

struct Declared {
    const char *rsrc;
    uint16_t model;
    std::function<void(sim::Config &)> tweak;
};

struct Scenario {
    const char *name;
    std::vector<Declared> declared;
    int32_t status;
    std::vector<std::pair<std::string, uint16_t>> found;
};

void asIs(sim::Config &) {}

const std::vector<Scenario> &scenarios() {
    static const std::vector<Scenario> s = {
        {"nothing declared", {}, 0, {}},
        {"every interface",
         {{"TCPIP0::sim-rq521::INSTR", sim::kRQ521, asIs},
          {"GPIB0::9::INSTR", sim::kRQ522, asIs},
          {"USB0::0x1::0x2::SN1::INSTR", sim::kRQ523, asIs},
          {"ASRL1::INSTR", sim::kRQ520, [](sim::Config &c) { c.baudRate = 57600; }}},
         0,
         {{"TCPIP0::sim-rq521::INSTR", sim::kRQ521},
          {"GPIB0::9::INSTR", sim::kRQ522},
          {"USB0::0x1::0x2::SN1::INSTR", sim::kRQ523},
          {"ASRL1::INSTR", sim::kRQ520}}},
        {"long maker name and model code",
         {{"TCPIP0::a::INSTR", sim::kRQ520, [](sim::Config &c) { c.idnMaker = "Quillmark"; c.idnModel = "041A"; }},
          {"TCPIP0::b::INSTR", sim::kRQ523B, asIs}},
         0,
         {{"TCPIP0::a::INSTR", sim::kRQ520}, {"TCPIP0::b::INSTR", sim::kRQ523B}}},
        {"other makers are passed over",
         {{"TCPIP0::a::INSTR", sim::kRQ521, [](sim::Config &c) { c.idnMaker = "qm"; }},
          {"TCPIP0::b::INSTR", sim::kRQ521, [](sim::Config &c) { c.idnMaker = "QMX"; }},
          {"TCPIP0::c::INSTR", sim::kRQ522, asIs}},
         0,
         {{"TCPIP0::c::INSTR", sim::kRQ522}}},
        {"a socket resource is not an instrument",
         {{"TCPIP0::10.0.0.1::5025::SOCKET", sim::kRQ521, asIs}}, 0, {}},
        {"our maker, a model nobody knows",
         {{"TCPIP0::a::INSTR", sim::kRQ521, [](sim::Config &c) { c.idnModel = "RQ599"; }}},
         KORVAX_ERR_NOT_SUPPORTED, {}},
        {"declared spellings are found in the standard one",
         {{"asrl7::INSTR", sim::kRQ520, asIs}, {"GPIB0::7", sim::kRQ522, asIs}, {"tcpip::sim-a", sim::kRQ523, asIs}},
         0,
         {{"ASRL7::INSTR", sim::kRQ520}, {"GPIB0::7::INSTR", sim::kRQ522}, {"TCPIP0::sim-a::INSTR", sim::kRQ523}}},
        {"serial chassis at each rate",
         {{"ASRL1::INSTR", sim::kRQ521, [](sim::Config &c) { c.baudRate = 9600; }},
          {"ASRL2::INSTR", sim::kRQ521, [](sim::Config &c) { c.baudRate = 19200; }},
          {"ASRL3::INSTR", sim::kRQ521, [](sim::Config &c) { c.baudRate = 38400; }},
          {"ASRL4::INSTR", sim::kRQ521, [](sim::Config &c) { c.baudRate = 115200; }}},
         0,
         {{"ASRL1::INSTR", sim::kRQ521}, {"ASRL2::INSTR", sim::kRQ521}, {"ASRL3::INSTR", sim::kRQ521},
          {"ASRL4::INSTR", sim::kRQ521}}},
    };
    return s;
}

TEST_F(Bench, DiscoveryFindsTheDeclaredChassis) {
    for (const Scenario &s : scenarios()) {
        SCOPED_TRACE(s.name);
        visa::clearDeclared();
        for (const Declared &d : s.declared) {
            sim::Config c = sim::Config::forModel(d.model);
            d.tweak(c);
            visa::declareSimulated(d.rsrc, c);
        }
        std::array<RsrcEntry, KORVAX_MAX_CHASSIS> entries{};
        uint32_t count = 99;
        EXPECT_EQ(KORVAX_FindRsrc(entries.data(), &count), s.status);
        if (s.status != 0) continue;
        std::vector<std::pair<std::string, uint16_t>> found;
        for (uint32_t i = 0; i < count; ++i) found.emplace_back(entries[i].rsrcName, entries[i].typeCode);
        EXPECT_EQ(found, s.found);
    }
}

// Discovery closes the sessions of the one before; a fresh connect works.
TEST_F(Bench, RediscoveryHandsOutWorkingHandles) {
    const auto chassis = attach("TCPIP0::again::INSTR", sim::Config::forModel(sim::kRQ523));
    bringUp();
    const uint32_t first = handle;
    std::array<RsrcEntry, KORVAX_MAX_CHASSIS> entries{};
    uint32_t count = 0;
    ASSERT_EQ(KORVAX_FindRsrc(entries.data(), &count), 0);
    ASSERT_EQ(KORVAX_Connect("TCPIP0::again::INSTR", &handle), 0);
    EXPECT_NE(handle, first);
    bringUp();
    const auto state = stateOf(userGeometry(sim::kRQ523, chassis->config()), {{0, 2, 2}});
    EXPECT_EQ(KORVAX_OpMatrix(handle, 0, state.data(), 3), 0);
    EXPECT_EQ(chassis->closedCrosspoints(), (std::vector<sim::Crosspoint>{{0, 0, 2, 2}}));
    EXPECT_EQ(KORVAX_Connect("tcpip0::again::instr", &handle), KORVAX_ERR_RESOURCE_ABSENT);
}

}  // namespace
