// Building the relay maps: tables held from load, builders that touch only
// their own table, and initialisation that is repeatable and safe from any
// number of threads.
//
// The first-build tests need tables nobody has built yet, so they run in a
// child process started afresh ("threadsafe" death-test style re-executes
// this test binary with only the one test selected) and report back on
// stderr.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "maps/KORVAX_common.h"
#include "maps_support.h"

namespace {

using mapstest::digest;
using mapstest::snapshot;

bool allZero(std::span<const std::byte> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::byte b) { return b == std::byte{0}; });
}

std::span<const std::byte> tableBytes(const char *name) {
    for (const auto &t : mapstest::exportedTables())
        if (std::string(t.name) == name) return t.bytes;
    return {};
}

// Runs body in a freshly started copy of this test program; the child's
// stderr comes back in *childOutput.
template <typename Body>
void inFreshProcess(Body body, std::string *childOutput) {
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            body();
            std::fflush(stderr);
            std::exit(0);  // lets a sanitizer report through the exit code
        },
        ::testing::ExitedWithCode(0), ::testing::Truly([childOutput](const std::string &err) {
            *childOutput = err;
            return true;
        }));
    GTEST_FLAG_SET(death_test_style, style);
}

TEST(MapsInit, SecondRunLeavesEveryTableByteIdentical) {
    InitPointInfo();
    const auto first = snapshot();
    InitPointInfo();
    EXPECT_TRUE(snapshot() == first);
}

// Eight threads initialise at the same moment, several times each, in a
// process where nothing is built yet; each then reads the whole map and must
// find it complete.
TEST(MapsInit, ConcurrentFirstInitialisation) {
    std::string child;
    inFreshProcess(
        [] {
            if (!allZero(tableBytes("QD3_matrixLocationAB"))) {
                std::fprintf(stderr, "tables already built\n");
                std::_Exit(2);
            }
            std::fprintf(stderr, "load=%s\n", digest(snapshot(true)).c_str());
            constexpr int kThreads = 8;
            constexpr int kRounds = 4;
            std::latch start(kThreads);
            std::array<std::string, kThreads> seen;
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([&start, &seen, t] {
                    start.arrive_and_wait();
                    for (int round = 0; round < kRounds; ++round) InitPointInfo();
                    seen[t] = digest(snapshot());
                });
            }
            for (auto &th : threads) th.join();
            for (const auto &s : seen) std::fprintf(stderr, "built=%s\n", s.c_str());
        },
        &child);

    InitPointInfo();
    const std::string load = "load=" + digest(snapshot(true)) + "\n";
    const std::string built = "built=" + digest(snapshot()) + "\n";
    EXPECT_NE(child.find(load), std::string::npos) << child;
    size_t count = 0;
    for (size_t at = child.find(built); at != std::string::npos; at = child.find(built, at + 1))
        ++count;
    EXPECT_EQ(count, 8u) << child;
}

// Each builder, run alone on fresh tables, changes its own table and no
// other; the builders of the tables held from load change nothing. The
// base-family builders have no exported table: they must change nothing.
TEST(MapsInit, EachBuilderWritesOnlyItsOwnTable) {
    std::string child;
    inFreshProcess(
        [] {
            const auto tables = mapstest::exportedTables();
            struct Run {
                void (*build)();
                const char *own;  // table it fills; nullptr: none
            };
            std::vector<Run> runs{{setMatrixLocation, nullptr},
                                  {setISOLocationRow, nullptr},
                                  {setISOLocationColumn, nullptr}};
            for (const auto &t : tables) {
                if (t.builder != nullptr)
                    runs.push_back({t.builder, t.heldFromLoad ? nullptr : t.name});
                if (!t.heldFromLoad && !allZero(t.bytes))
                    std::fprintf(stderr, "FAULT %s not empty before its builder\n", t.name);
            }
            for (const Run &run : runs) {
                std::vector<std::vector<std::byte>> before;
                for (const auto &t : tables) before.emplace_back(t.bytes.begin(), t.bytes.end());
                const auto mapsBefore = snapshot();
                run.build();
                for (size_t i = 0; i < tables.size(); ++i) {
                    const bool changed = !std::ranges::equal(tables[i].bytes, before[i]);
                    const bool own = run.own != nullptr && std::string(run.own) == tables[i].name;
                    if (changed != own)
                        std::fprintf(stderr, "FAULT builder of %s: %s %s\n",
                                     run.own ? run.own : "(none)", tables[i].name,
                                     changed ? "changed" : "unchanged");
                }
                if (run.own == nullptr && snapshot() != mapsBefore)
                    std::fprintf(stderr, "FAULT a builder without a table changed the maps\n");
            }
            std::fprintf(stderr, "builders checked: %zu\n", runs.size());
        },
        &child);
    EXPECT_THAT(child, ::testing::HasSubstr("builders checked: 54"));
    EXPECT_THAT(child, ::testing::Not(::testing::HasSubstr("FAULT"))) << child;
}

}  // namespace
