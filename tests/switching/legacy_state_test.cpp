// The relay-state files of earlier korvax commands, as the record adopts
// them: whole files are read, everything else is refused naming the file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/legacy_state.h"

namespace korvax::switching::core {
namespace {

TEST(LegacyState, ReadsWholeFilesAndRefusesEverythingElse) {
    const auto folder = std::filesystem::temp_directory_path() / ("korvax-legacy-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const auto file = legacyStateFile(folder, "TCPIP0::bench::INSTR");
    EXPECT_EQ(file.filename(), "TCPIP0__bench__INSTR.sub0");
    const LegacyLimits rq521{"RQ521", 10, 48};
    const struct {
        const char *text;
        std::set<Crosspoint> closed;
        const char *error;  // null: read
    } cases[] = {
        {"# korvax relay record 1\n1!1\n10!48\n# end 2\n", {{1, 1}, {10, 48}}, nullptr},
        {"# korvax relay record 1\n# end 0\n", {}, nullptr},
        {"1!1\n2!3\n", {{1, 1}, {2, 3}}, nullptr},  // crosspoint lines only
        {"", {}, nullptr},                            // ... after a clear
        {"1001!1\n", {}, "line 1: crosspoint 1001!1 is outside the RQ521's 10 switchable rows x 48 columns"},
        {"999999!999999\n", {}, "crosspoint 999999!999999 is outside"},
        {"99999999999!1\n", {}, "is not a crosspoint"},
        {"1!49\n", {}, "crosspoint 1!49 is outside"},
        {"0!1\n", {}, "crosspoint 0!1 is outside"},
        {"1!1\nhello\n", {}, "line 2: 'hello' is not a crosspoint"},
        {"\x7f\x45\x4c\x46\x02", {}, "is not a crosspoint"},
        {"# korvax relay record 1\n1!1\n", {}, "cut short"},
        {"# korvax relay record 1\n1!1\n# end 2\n", {}, "does not count the 1 crosspoints"},
        {"# korvax relay record 1\n1!1\n# end 1\n2!2\n", {}, "text after the end line"},
    };
    for (const auto &c : cases) {
        std::ofstream(file) << c.text;
        try {
            EXPECT_EQ(readLegacyState(file, rq521), c.closed) << c.text;
            EXPECT_EQ(c.error, nullptr) << c.text;
        } catch (const Error &e) {
            ASSERT_NE(c.error, nullptr) << c.text << ": " << e.what();
            EXPECT_EQ(e.kind(), ErrorKind::Record);
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
        }
    }
    std::filesystem::remove(file);
    EXPECT_EQ(readLegacyState(file, rq521), std::nullopt);  // never kept
    std::filesystem::create_directory(file);
    EXPECT_THROW(readLegacyState(file, rq521), Error);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace korvax::switching::core
