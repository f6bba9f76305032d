#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "korvax/extensions.h"
#include "support/open_matrix.h"

namespace {

using testsupport::openMatrix;

TEST(Extensions, GeometryOfEveryModelOnceTheCardsAreIdentified) {
    struct {
        uint16_t model;
        uint32_t presence;  // presence bits the chassis reports
        KORVAX_Geometry want;
    } rows[] = {
        {KORVAX_MODEL_RQ520, 0x1F, {KORVAX_MODEL_RQ520, 3, 12, 12, 5, 10, 50, 5, 32, 400}},
        {KORVAX_MODEL_RQ520B, 0x03, {KORVAX_MODEL_RQ520B, 3, 12, 12, 5, 10, 50, 2, 32, 400}},
        {KORVAX_MODEL_RQ521, 0x0F, {KORVAX_MODEL_RQ521, 1, 10, 10, 4, 12, 48, 4, 15, 270}},
        {KORVAX_MODEL_RQ522, 0x07, {KORVAX_MODEL_RQ522, 1, 16, 4, 21, 96, 2016, 3, 1008, -1}},
        {KORVAX_MODEL_RQ523, 0x01, {KORVAX_MODEL_RQ523, 1, 8, 8, 1, 12, 12, 1, 3, -1}},
        {KORVAX_MODEL_RQ523B, 0x01, {KORVAX_MODEL_RQ523B, 1, 8, 8, 1, 12, 12, 1, 3, -1}},
    };
    for (const auto &r : rows) {
        auto f = openMatrix(r.model, {.presence = r.presence});
        KORVAX_Geometry g{};
        ASSERT_EQ(KORVAX_GetGeometry(f.handle, 0, &g), 0) << r.model;
        const KORVAX_Geometry &w = r.want;
        EXPECT_EQ(std::vector<int>({g.model, g.subUnits, g.rows, g.switchableRows, g.positions,
                                    g.cardColumns, g.columns, g.cardsFitted, g.stateWords,
                                    g.closureLimit}),
                  std::vector<int>({w.model, w.subUnits, w.rows, w.switchableRows, w.positions,
                                    w.cardColumns, w.columns, w.cardsFitted, w.stateWords,
                                    w.closureLimit}))
            << r.model;
    }
}

TEST(Extensions, GeometryRefusals) {
    auto f = testsupport::installChassis(KORVAX_MODEL_RQ520);
    KORVAX_Geometry g{};
    // Before identification the model's facts are there, no card is fitted.
    ASSERT_EQ(KORVAX_GetGeometry(f.handle, 0, &g), 0);
    EXPECT_EQ(g.rows, 12);
    EXPECT_EQ(g.cardsFitted, 0);
    EXPECT_EQ(KORVAX_GetGeometry(f.handle, 1, &g), KORVAX_ERR_UNKNOWN_CARD_TYPE);
    EXPECT_EQ(KORVAX_GetGeometry(f.handle, 7, &g), KORVAX_ERR_UNKNOWN_CARD_TYPE);
    EXPECT_EQ(KORVAX_GetGeometry(f.handle, 0, nullptr), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(KORVAX_GetGeometry(f.handle + 99, 0, &g), KORVAX_ERR_HANDLE);
    auto u = testsupport::installChassis(0x0999);
    EXPECT_EQ(KORVAX_GetGeometry(u.handle, 0, &g), KORVAX_ERR_NOT_SUPPORTED);
}

TEST(Extensions, StoredStateFollowsWhatTheChassisAcknowledged) {
    auto f = openMatrix(KORVAX_MODEL_RQ521);
    const int32_t words = KORVAX_GetStoredState(f.handle, 0, nullptr, 0);
    ASSERT_EQ(words, 15);
    std::vector<uint32_t> want(words, 0), got(words + 2, 0xDEADBEEF);
    want[0] = 0x5;
    want[14] = 0x1;
    ASSERT_EQ(KORVAX_OpMatrix(f.handle, 0, want.data(), words), 0);
    ASSERT_EQ(KORVAX_GetStoredState(f.handle, 0, got.data(), words + 2), words);
    EXPECT_EQ(std::vector<uint32_t>(got.begin(), got.begin() + words), want);
    EXPECT_EQ(got[words], 0xDEADBEEFu);  // only the sub-unit's words are written

    // A refused frame leaves it; SCPI relay commands add to it.
    std::vector<uint32_t> tooMany(words, 0xFFFFFFFF);
    EXPECT_EQ(KORVAX_OpMatrix(f.handle, 0, tooMany.data(), words), KORVAX_ERR_CLOSURE_LIMIT);
    char reply[400];
    KORVAX_SCPIQuery(f.handle, ":CLOS (@0(1!2))", reply);
    KORVAX_GetStoredState(f.handle, 0, got.data(), words);
    EXPECT_EQ(got[0], 0x7u) << reply;

    EXPECT_EQ(KORVAX_GetStoredState(f.handle, 0, nullptr, 1), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(KORVAX_GetStoredState(f.handle, 0, got.data(), -1), KORVAX_ERR_PARAMETER);
    EXPECT_EQ(KORVAX_GetStoredState(f.handle + 99, 0, got.data(), 1), KORVAX_ERR_HANDLE);
}

// The names are what tools print and bindings raise: they must be the
// header's own, code for code.
TEST(Extensions, ErrorNamesAreTheHeadersEnumerators) {
    std::ifstream in(KORVAX_PUBLIC_HEADER);
    std::stringstream text;
    text << in.rdbuf();
    const std::string header = text.str();
    const std::regex enumerator(R"((KORVAX_(?:OK|ERR_[A-Z0-9_]+)) = (-?\d+),)");
    int seen = 0;
    for (std::sregex_iterator it(header.begin(), header.end(), enumerator), end; it != end; ++it) {
        EXPECT_STREQ(KORVAX_ErrorName(std::stoll((*it)[2])), (*it)[1].str().c_str());
        ++seen;
    }
    EXPECT_EQ(seen, 54);  // KORVAX_OK and every code but the last, which has no comma
    EXPECT_STREQ(KORVAX_ErrorName(KORVAX_ERR_VISA_API), "KORVAX_ERR_VISA_API");
    for (int64_t outside : {int64_t{-9999}, int64_t{-10054}, int64_t{1}, INT64_MIN})
        EXPECT_STREQ(KORVAX_ErrorName(outside), "") << outside;
}

}  // namespace
