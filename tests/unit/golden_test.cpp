// Golden dump of the relay maps and of the relay-state frames: a checksum
// of every location table, the relays of every crosspoint of the four
// matrix-card families, and the exact frames every model sends for a few
// fixed states (switching, the literal builder and the clear). The library
// may be reorganised freely, but not one cell or byte of this may change.
//
// To regenerate after a deliberate change of the maps or the wire format:
//   KORVAX_GOLDEN_UPDATE=1 build/bin/korvax_unit_tests --gtest_filter=Golden.*
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "KORVAX.h"
#include "relay/point_model.h"
#include "relay/relay.h"
#include "support/open_matrix.h"
#include "unit/maps_support.h"

namespace {

using fakevisa::Bytes;
using testsupport::FakeChassis;
using testsupport::InstrumentState;

std::string hexLines(const Bytes &bytes) {
    std::string out;
    char pair[3];
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 64 == 0) out += "  ";
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        out += pair;
        if (i % 64 == 63 || i + 1 == bytes.size()) out += '\n';
    }
    return out;
}

void dumpTables(std::ostream &out) {
    InitPointInfo();
    for (const mapstest::NamedTable &t : mapstest::exportedTables()) {
        const std::vector<std::byte> image(t.bytes.begin(), t.bytes.end());
        out << "table " << t.name << ' ' << mapstest::digest(image) << '\n';
    }
    // The base-family tables are private: their cells as GetPoint gives them.
    std::vector<std::byte> base;
    for (int32_t group : {MATRIX, ISO_X, ISO_Y})
        for (uint32_t row = 0; row < 12; ++row)
            for (uint32_t col = 0; col < 10; ++col) {
                PointLocation loc{-1, -1};
                GetPoint(0, group, row, col, &loc);
                const auto bytes = std::as_bytes(std::span(&loc, 1));
                base.insert(base.end(), bytes.begin(), bytes.end());
            }
    out << "table base-family " << mapstest::digest(base) << '\n';
}

// One line per card row: the relays (word.bit) of each column's crosspoint.
void dumpCrosspoints(std::ostream &out) {
    struct Card {
        uint32_t type;
        int rows, cols, wordsPerBoard;
    };
    constexpr Card kCards[] = {{0, 12, 10, 12}, {1, 10, 12, 13}, {2, 16, 96, 49}, {3, 8, 12, 10}};
    for (const Card &card : kCards)
        for (int r = 0; r < card.rows; ++r) {
            out << "card " << card.type << " row " << r << ':';
            for (int col = 0; col < card.cols; ++col) {
                std::string relays;
                korvax::forEachRelayOfCrosspoint(card.type, r, col, card.wordsPerBoard,
                                                 [&](int32_t w, int32_t b) {
                                                     if (!relays.empty()) relays += '+';
                                                     relays += std::to_string(w) + '.' +
                                                               std::to_string(b);
                                                 });
                out << ' ' << relays;
            }
            out << '\n';
        }
}

struct ModelCase {
    const char *name;
    uint16_t model;
    uint8_t fwMajor;
    uint32_t presence;
};

constexpr ModelCase kModels[] = {
    {"RQ520-fw1", KORVAX_MODEL_RQ520, 1, 0x1FFFFF},
    {"RQ520-fw3", KORVAX_MODEL_RQ520, 3, 0x1FFFFF},
    {"RQ520-sparse", KORVAX_MODEL_RQ520, 3, 0b10110},
    {"RQ520B", KORVAX_MODEL_RQ520B, 3, 0x1FFFFF},
    {"RQ521", KORVAX_MODEL_RQ521, 3, 0x1FFFFF},
    {"RQ521-sparse", KORVAX_MODEL_RQ521, 3, 0b1010},
    {"RQ522", KORVAX_MODEL_RQ522, 3, 0x1FFFFF},
    {"RQ523", KORVAX_MODEL_RQ523, 3, 0x1FFFFF},
    {"RQ523B", KORVAX_MODEL_RQ523B, 3, 0x1FFFFF},
};

struct StateCase {
    const char *name;
    // Closed points: every `step`-th from `first`, or only `first` (step 0).
    int64_t first;
    int64_t step;
    bool cascade;  // RQ523 LT relays: first closed, second open
    int64_t end = INT64_MAX;  // no point from here on
};

constexpr StateCase kStates[] = {
    {"open", -1, 0, false},   {"point-3", 3, 0, false}, {"last", -2, 0, false},
    {"every-11", 0, 11, false}, {"cascade", 5, 0, true},
    // The first four rows of an RQ522, which its frame folds onto one block.
    {"every-13-of-8064", 1, 13, false, 8064},
};

std::vector<uint32_t> stateOf(const StateCase &s, const SubUnitInfo &sub) {
    std::vector<uint32_t> words(sub.userWords, 0);
    const int64_t points = sub.pointCount;
    auto close = [&](int64_t p) {
        if (p >= 0 && p < points) words[p / 32] |= 1u << (p % 32);
    };
    if (s.step > 0)
        for (int64_t p = s.first; p < std::min(points, s.end); p += s.step) close(p);
    else
        close(s.first == -2 ? points - 1 : s.first);
    return words;
}

Bytes lastWrite(const FakeChassis &f) {
    const auto w = fakevisa::writes(f.rsrc);
    return w.empty() ? Bytes{} : w.back();
}

void dumpFrames(std::ostream &out) {
    for (const ModelCase &m : kModels) {
        for (const StateCase &s : kStates) {
            if (s.cascade && m.model != KORVAX_MODEL_RQ523 && m.model != KORVAX_MODEL_RQ523B)
                continue;
            InstrumentState st;
            st.fwMajor = m.fwMajor;
            st.fwMinor = 6;
            st.presence = m.presence;
            FakeChassis f = testsupport::openMatrix(m.model, st);
            SubUnitInfo &sub = f.rec->subUnits[0];
            if (s.cascade) {
                sub.cascadeState[0] = 1;
                sub.cascadeState[1] = 0;
            }
            const std::vector<uint32_t> words = stateOf(s, sub);
            const auto count = static_cast<int32_t>(words.size());

            fakevisa::clearEvents();
            const int32_t fast = KORVAX_OpMatrix(f.handle, 0, words.data(), count);
            out << "frame " << m.name << ' ' << s.name << " switch status " << fast << '\n'
                << (fast == 0 ? hexLines(lastWrite(f)) : "");

            // The literal builder of the same state, from point flags.
            std::vector<uint8_t> flags(korvax::kFlagCount, 0);
            UserArrayToMatrixPoints(words.data(), count, count, flags.data());
            std::vector<uint8_t> request(4 + 2 * 25 * 200, 0);
            fakevisa::clearEvents();
            const int32_t literal = SendRelayStateType0(f.rec, flags.data(), request.data(), 1);
            out << "frame " << m.name << ' ' << s.name << " literal status " << literal << '\n'
                << (literal == 0 ? hexLines(lastWrite(f)) : "");
        }
        InstrumentState st;
        st.fwMajor = m.fwMajor;
        st.fwMinor = 6;
        st.presence = m.presence;
        FakeChassis f = testsupport::openMatrix(m.model, st);
        fakevisa::clearEvents();
        const int32_t cleared = KORVAX_Clear(f.handle, 0);
        out << "frame " << m.name << " clear status " << cleared << '\n'
            << (cleared >= 0 ? hexLines(lastWrite(f)) : "");
    }
}

std::string dump() {
    std::ostringstream out;
    out << "# Relay maps and relay-state frames; see tests/unit/golden_test.cpp.\n";
    dumpTables(out);
    dumpCrosspoints(out);
    dumpFrames(out);
    return out.str();
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST(Golden, MapsAndFramesAreUnchanged) {
    const std::string now = dump();
    if (std::getenv("KORVAX_GOLDEN_UPDATE") != nullptr) {
        std::ofstream(KORVAX_GOLDEN_FILE) << now;
        GTEST_SKIP() << "rewrote " << KORVAX_GOLDEN_FILE;
    }
    std::ifstream in(KORVAX_GOLDEN_FILE);
    ASSERT_TRUE(in) << "missing " << KORVAX_GOLDEN_FILE;
    std::stringstream stored;
    stored << in.rdbuf();
    const auto want = lines(stored.str());
    const auto got = lines(now);
    // Name the first line that differs, with the header it belongs to.
    std::string header;
    for (size_t i = 0; i < std::min(want.size(), got.size()); ++i) {
        if (want[i].rfind("  ", 0) != 0) header = want[i];
        ASSERT_EQ(got[i], want[i]) << "line " << i + 1 << " under: " << header;
    }
    EXPECT_EQ(got.size(), want.size());
}

}  // namespace
