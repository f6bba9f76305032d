#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crosspoints.h"
#include "errors.h"
#include "grid.h"

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
    EXPECT_EQ(errorName(-10000), "KORVAX_ERR_LOAD_WINSOCK");
    EXPECT_EQ(errorName(-10023), "KORVAX_ERR_HANDLE");
    EXPECT_EQ(errorName(-10030), "KORVAX_ERR_CLOSURE_LIMIT");
    EXPECT_EQ(errorName(-10053), "KORVAX_ERR_VISA_API");
    EXPECT_EQ(errorName(-1073807202), "VISA status 0xBFFF009E");
}

}  // namespace
