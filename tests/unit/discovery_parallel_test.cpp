// Discovery probes the listed resources side by side and takes the answers
// in list order: for the same instruments it must leave exactly what a
// one-by-one discovery leaves, whatever order the answers come back in.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "KORVAX.h"
#include "api/operations.h"
#include "base/records.h"
#include "fakevisa/fake_visa.h"

namespace {

enum class Kind { Chassis, OtherMaker, UnknownModel, Silent, OpenFails, Serial };

struct Instrument {
    std::string name;
    Kind kind;
    std::string idn;
    uint32_t baud = 0;
    int delayMs = 0;
};

// What an application can see after a discovery. Handles are VISA session
// numbers, which any VISA hands out in its own order: they are compared
// through the resource each one belongs to.
struct Outcome {
    int32_t status = 0;
    uint32_t count = 0;
    uint8_t firstFind = 0;
    std::vector<std::string> entries;   // resource and model code of each entry
    std::vector<std::string> records;   // the records' fields
    std::vector<std::string> open;      // resources with a session still open
    bool operator==(const Outcome &) const = default;
};

std::string describe(const ChassisInfo &c) {
    std::string s = std::string(c.rsrcName) + "|" + c.model + "|" + std::to_string(c.typeCode) + "|" +
                    std::to_string(c.deviceType) + "|" + std::to_string(c.slotTotal) + "|" +
                    std::to_string(c.baudRate) + "|" + std::to_string(c.connected);
    for (const auto &u : c.subUnits)
        s += "|" + std::to_string(u.slotCount) + "/" + std::to_string(u.boardType);
    // The handle must be the session of this record's own resource.
    s += c.vi == 0 ? "|no session"
                   : (c.vi == fakevisa::sessionOf(c.rsrcName) ? "|own session" : "|foreign session");
    return s;
}

Outcome discover(const std::vector<Instrument> &set, uint32_t threads) {
    fakevisa::reset();
    std::memset(globalChassisInfo, 0, sizeof globalChassisInfo);
    defaultRM = 0;
    first_findrsc = 1;
    for (const auto &i : set) {
        auto &r = fakevisa::add(i.name, i.idn);
        r.baud = i.baud;
        r.readDelayMs = i.delayMs;
        if (i.kind == Kind::Silent) r.failReads = 100;
        if (i.kind == Kind::OpenFails) r.openStatus = VI_ERROR_RSRC_BUSY;
    }
    SetDiscoveryThreads(threads);
    Outcome o;
    std::vector<RsrcEntry> entries(KORVAX_MAX_CHASSIS + 1);
    std::memset(entries.data(), 0x5A, entries.size() * sizeof(RsrcEntry));
    o.status = KORVAX_FindRsrc(entries.data(), &o.count);
    o.firstFind = first_findrsc;
    for (const auto &e : entries)
        o.entries.push_back(std::string(e.rsrcName, strnlen(e.rsrcName, sizeof e.rsrcName)) + "#" +
                            std::to_string(e.typeCode));
    for (int i = 0; i < KORVAX_MAX_CHASSIS + 1; ++i) o.records.push_back(describe(globalChassisInfo[i]));
    o.open = fakevisa::openResources();
    return o;
}

std::vector<Instrument> randomSet(std::mt19937 &rng) {
    static const char *models[] = {"RQ520", "RQ520B", "RQ521", "RQ522", "RQ523", "044B"};
    static const uint32_t rates[] = {115200, 9600, 19200, 38400, 57600};
    std::uniform_int_distribution<int> size(1, 9), kind(0, 9), pick(0, 5), rate(0, 4), delay(0, 4);
    std::vector<Instrument> set;
    const int n = size(rng);
    for (int i = 0; i < n; ++i) {
        Instrument in;
        const std::string model = models[pick(rng)];
        switch (kind(rng)) {
        case 0: in.kind = Kind::OtherMaker; in.idn = "Other," + model + ",1,1"; break;
        case 1: in.kind = Kind::UnknownModel; in.idn = "QM,RQ999,1,1"; break;
        case 2: in.kind = Kind::Silent; in.idn = "QM," + model + ",1,1"; break;
        case 3: in.kind = Kind::OpenFails; in.idn = "QM," + model + ",1,1"; break;
        case 4: case 5: in.kind = Kind::Serial; in.idn = "QM," + model + ",1,1";
            in.baud = rates[rate(rng)]; break;
        default: in.kind = Kind::Chassis; in.idn = "Quillmark," + model + ",1,1"; break;
        }
        in.name = in.kind == Kind::Serial ? "ASRL" + std::to_string(i + 1) + "::INSTR"
                                          : "TCPIP0::10.0.0." + std::to_string(i + 1) + "::INSTR";
        // Later resources often answer sooner, so answers arrive out of order.
        in.delayMs = delay(rng);
        set.push_back(in);
    }
    return set;
}

std::string show(const std::vector<Instrument> &set) {
    std::string s;
    for (const auto &i : set) s += i.name + "=" + i.idn + "@" + std::to_string(i.baud) + " ";
    return s;
}

TEST(ParallelDiscovery, SameOutcomeAsOneByOne) {
    // Fixed cases first: the fifth-chassis limit, and an unknown model in
    // the middle of the list with chassis on both sides.
    std::vector<std::vector<Instrument>> sets;
    std::vector<Instrument> seven;
    for (int i = 0; i < 7; ++i)
        seven.push_back({"TCPIP0::10.0.1." + std::to_string(i) + "::INSTR", Kind::Chassis, "QM,RQ523,1,1", 0,
                         7 - i});
    sets.push_back(seven);
    sets.push_back({{"TCPIP0::a::INSTR", Kind::Chassis, "QM,RQ521,1,1", 0, 4},
                    {"ASRL1::INSTR", Kind::Serial, "QM,RQ520,1,1", 57600, 1},
                    {"TCPIP0::b::INSTR", Kind::UnknownModel, "QM,RQ999,1,1", 0, 3},
                    {"TCPIP0::c::INSTR", Kind::Chassis, "QM,RQ522,1,1", 0, 0}});
    std::mt19937 rng(20261208);
    for (int i = 0; i < 40; ++i) sets.push_back(randomSet(rng));

    for (const auto &set : sets) {
        const Outcome one = discover(set, 1);
        const Outcome many = discover(set, 32);
        EXPECT_EQ(one.status, many.status) << show(set);
        EXPECT_EQ(one.count, many.count) << show(set);
        EXPECT_EQ(one.firstFind, many.firstFind) << show(set);
        EXPECT_EQ(one.entries, many.entries) << show(set);
        EXPECT_EQ(one.records, many.records) << show(set);
        EXPECT_EQ(one.open, many.open) << show(set);
    }
    SetDiscoveryThreads(32);
}

TEST(ParallelDiscovery, ThreadCountIsBounded) {
    EXPECT_EQ(SetDiscoveryThreads(0), 1u);
    EXPECT_EQ(SetDiscoveryThreads(1000), 32u);
    EXPECT_EQ(SetDiscoveryThreads(4), 4u);
    SetDiscoveryThreads(32);
}

}  // namespace
