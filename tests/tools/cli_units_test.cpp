#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "KORVAX.h"
#include "crosspoints.h"
#include "diagnosis.h"
#include "errors.h"
#include "grid.h"
#include "terminal.h"

using namespace korvax::tools;

namespace {

struct ListCase {
    const char *text;
    std::vector<Crosspoint> points;  // empty: malformed
};

TEST(CrosspointList, ParsesElementsAndRectanglesOrRefusesTheWholeList) {
    const ListCase cases[] = {
        {"1!1", {{1, 1}}},
        {"1!1,2!3", {{1, 1}, {2, 3}}},
        {" 1!1 , 2!3 ", {{1, 1}, {2, 3}}},
        {"2!3:3!4", {{2, 3}, {2, 4}, {3, 3}, {3, 4}}},
        {"3!4:2!3", {{2, 3}, {2, 4}, {3, 3}, {3, 4}}},  // either corner first
        {"1!4:2!3", {{1, 3}, {1, 4}, {2, 3}, {2, 4}}},  // crossed corners
        {"1!1,2!3:4!3", {{1, 1}, {2, 3}, {3, 3}, {4, 3}}},
        {"16!2016", {{16, 2016}}},
        {"", {}},
        {"  ", {}},
        {"1!1,", {}},
        {",1!1", {}},
        {"1!1,,2!2", {}},
        {"1", {}},
        {"1!", {}},
        {"!1", {}},
        {"0!1", {}},
        {"1!0", {}},
        {"-1!1", {}},
        {"+1!1", {}},
        {"1!1!1", {}},
        {"1!x", {}},
        {"a!1", {}},
        {"1 !1", {}},
        {"1!1:2", {}},
        {"1!1:", {}},
        {"1!1:2!2:3!3", {}},
        {"(@0(1!1))", {}},
        {"99999999!1", {}},
        {"1!1:1000!1000", {}},  // a million crosspoints: more than any chassis
    };
    for (const auto &c : cases) {
        const auto r = parseCrosspoints(c.text);
        EXPECT_EQ(r.points, c.points) << c.text;
        EXPECT_EQ(r.error.empty(), !c.points.empty()) << c.text << ": " << r.error;
        if (!r.error.empty()) {
            EXPECT_NE(r.error.find("ROW!COLUMN"), std::string::npos) << r.error;
        }
    }
}

TEST(CrosspointList, NamesTheFaultyElement) {
    const auto r = parseCrosspoints("1!1,2!x,3!3");
    EXPECT_NE(r.error.find("'2!x'"), std::string::npos) << r.error;
}

TEST(CrosspointList, IndexAndBoundsFollowTheStateArrayLayout) {
    // 48 columns per row on an RQ521: row 2 column 1 is bit 48.
    EXPECT_EQ(pointIndex({1, 1}, 48), 0u);
    EXPECT_EQ(pointIndex({2, 1}, 48), 48u);
    EXPECT_EQ(pointIndex({16, 2016}, 2016), 32255u);
    EXPECT_FALSE(firstOutside({{10, 48}}, 10, 48));
    EXPECT_EQ(firstOutside({{1, 1}, {11, 1}, {1, 49}}, 10, 48), (Crosspoint{11, 1}));
    EXPECT_EQ(firstOutside({{1, 49}}, 10, 48), (Crosspoint{1, 49}));
}

TEST(ColumnRange, AcceptsOrderedRangesOnly) {
    const struct {
        const char *text;
        std::optional<std::pair<int, int>> range;
    } cases[] = {{"1:96", std::pair{1, 96}}, {"5", std::pair{5, 5}}, {"97:192", std::pair{97, 192}},
                 {"9:3", std::nullopt},      {"0:3", std::nullopt}, {"a:b", std::nullopt},
                 {"", std::nullopt},         {"1:", std::nullopt}};
    for (const auto &c : cases) EXPECT_EQ(parseRange(c.text), c.range) << c.text;
}

TEST(Grid, SmallCardIsOneBlockWithNumbersAndMarks) {
    const std::string grid = renderGrid({2, 3, 1}, {{1, 2}, {2, 3}});
    EXPECT_EQ(grid,
              "card 1, columns 1-3 (2 closed)\n"
              "     1  2  3\n"
              " 1   .  X  .\n"
              " 2   .  .  X\n");
}

TEST(Grid, EveryLineFitsTheWidth) {
    const struct {
        GridLayout layout;
        int width;
    } cases[] = {{{10, 12, 4}, 80}, {{12, 10, 5}, 80}, {{8, 12, 1}, 80}, {{16, 96, 21}, 80}, {{16, 96, 3}, 40}};
    for (const auto &c : cases) {
        GridSelection all;
        all.width = c.width;
        all.columns = std::pair{1, c.layout.cards * c.layout.cardColumns};
        const std::string grid = renderGrid(c.layout, {{1, 1}}, all);
        size_t start = 0, widest = 0;
        for (size_t nl; (nl = grid.find('\n', start)) != std::string::npos; start = nl + 1)
            widest = std::max(widest, nl - start);
        EXPECT_LE(widest, static_cast<size_t>(c.width)) << c.layout.cardColumns;
        EXPECT_EQ(grid.find("columns 1-"), grid.find("card 1, columns 1-") + 8);
    }
}

TEST(Grid, WideCardsArePagedAndQuietOnesSummarised) {
    // RQ522-like: 21 cards of 16 x 96; one crosspoint closed on card 2.
    const GridLayout rq522{16, 96, 21};
    const std::string grid = renderGrid(rq522, {{3, 100}});
    EXPECT_EQ(grid.find("card 1,"), std::string::npos);
    EXPECT_NE(grid.find("card 2, columns 97-"), std::string::npos);
    EXPECT_NE(grid.find("-192 (1 closed)"), std::string::npos);
    EXPECT_NE(grid.find("cards 1, 3-21: all open"), std::string::npos);

    GridSelection window;
    window.columns = std::pair{97, 100};
    const std::string picked = renderGrid(rq522, {{3, 100}}, window);
    EXPECT_EQ(picked.substr(0, picked.find('\n')), "card 2, columns 97-100 (1 closed)");
    EXPECT_EQ(picked.find("all open"), std::string::npos);
    EXPECT_NE(picked.find("\n  3     .    .    .    X\n"), std::string::npos) << picked;

    GridSelection card;
    card.card = 5;
    EXPECT_NE(renderGrid(rq522, {}, card).find("card 5, columns 385-"), std::string::npos);
}

TEST(ErrorNames, FollowTheHeader) {
    EXPECT_EQ(errorName(0), "KORVAX_OK");
    EXPECT_EQ(errorName(-10023), "KORVAX_ERR_HANDLE");
    EXPECT_EQ(errorName(-10053), "KORVAX_ERR_VISA_API");
    EXPECT_EQ(errorName(-1073807202), "KORVAX_ERR_VISA_API");  // a VISA status
    EXPECT_EQ(visaStatusName(-1073807202), "VI_ERROR_LIBRARY_NFOUND");
    EXPECT_EQ(visaStatusName(-1073807000), "VISA status 0xBFFF0168");
}

TEST(ScpiReplies, ErrorTextsAreFailuresAnswersAreNot) {
    const struct {
        const char *reply;
        int32_t code;
    } cases[] = {
        {"Relays Operate Success", 0},
        {"QM,RQ521,12345678,3.08", 0},
        {"Control Mode : Local", 0},
        {"GPIB Address:5", 0},
        {"0000", 0},
        {"Relay Closure Limit Exceeded", KORVAX_ERR_CLOSURE_LIMIT},
        {"Local/Remote Control Mode Conflict", KORVAX_ERR_MODE_CONFLICT},
        {"Invalid GPIB Address, Please check the GPIB address between 1~30", KORVAX_ERR_GPIB_ADDRESS},
        {"Receive data failed!", KORVAX_ERR_RECEIVE},
        {"send data failed!", KORVAX_ERR_SEND},
        {"Error: Invalid crosspoint format", KORVAX_ERR_PARAMETER},
        {"Error: Crosspoint out of range", KORVAX_ERR_PARAMETER},
        {"Unknown SCPI Command, Please Refer to the User Manual And Try Again", KORVAX_ERR_PARAMETER},
        {"Invalid Relays Opearation Parameter", KORVAX_ERR_PARAMETER},
    };
    for (const auto &c : cases) EXPECT_EQ(scpiFailure(c.reply), c.code) << c.reply;
}

TEST(Diagnosis, ClosestNameCatchesSlipsOnly) {
    const std::vector<std::string> declared = {"TCPIP0::sim-rq521::INSTR", "TCPIP0::sim-rq522::INSTR",
                                               "ASRL1::INSTR"};
    const struct {
        const char *typed;
        const char *meant;  // null: no suggestion
    } cases[] = {
        {"TCPIP0::sim-rq52::INSTR", "TCPIP0::sim-rq521::INSTR"},    // a letter left out
        {"TCPIP0::sim-rq512::INSTR", "TCPIP0::sim-rq521::INSTR"},   // two swapped
        {"tcpip0::sim-rq522::instr", "TCPIP0::sim-rq522::INSTR"},   // case only
        {"ASRL2::INSTR", "ASRL1::INSTR"},
        {"TCPIP0::sim-rq521::INSTR", "TCPIP0::sim-rq522::INSTR"},   // never itself
        {"TCPIP0::192.168.1.20::INSTR", nullptr},
        {"GPIB0::5::INSTR", nullptr},
    };
    for (const auto &c : cases) {
        const auto meant = closestName(c.typed, declared);
        EXPECT_EQ(meant.value_or("-"), c.meant ? c.meant : "-") << c.typed;
    }
}

TEST(ProgressLine, FitsEveryWidth) {
    for (int width : {200, 80, 40, 24, 12, 6, 1}) {
        for (uint64_t sent : {0ull, 128ull, 999872ull, 1000000ull}) {
            const std::string line = ProgressLine::render(sent, 1000000, width);
            EXPECT_LE(static_cast<int>(line.size()), std::max(width - 1, 1)) << width << " " << line;
        }
    }
    EXPECT_EQ(ProgressLine::render(500, 1000, 40), "[########         ]  50% 500/1000 bytes");
    EXPECT_EQ(ProgressLine::render(500, 1000, 24), " 50% 500/1000 bytes");
    EXPECT_EQ(ProgressLine::render(500, 1000, 12), "50%");
    EXPECT_EQ(ProgressLine::render(500, 0, 40), "500 bytes");
}

TEST(ProgressLine, DrawsAtMostTenTimesASecondAndAlwaysTheEnd) {
    ProgressLine line(80);
    const auto t0 = ProgressLine::Clock::time_point{};
    int drawn = 0;
    for (int ms = 0; ms < 1000; ++ms)  // a block acknowledged every millisecond
        drawn += line.update(static_cast<uint64_t>(ms) * 128, 128000, t0 + std::chrono::milliseconds(ms)).has_value();
    EXPECT_EQ(drawn, 10);
    const auto last = line.update(128000, 128000, t0 + std::chrono::milliseconds(1001));
    ASSERT_TRUE(last);
    EXPECT_EQ(last->substr(0, 2), "\r[");
    EXPECT_EQ(last->size(), 80u);  // "\r" and 79 columns, blanks over a longer earlier line
}

// The record is what the next command switches from: nothing in it may
// reach the state array unchecked, and nothing unreadable may pass for
// "all open".
}  // namespace
