#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "scpi/scpi_parser.h"

namespace {

using Points = std::vector<std::pair<int32_t, int32_t>>;

Points pointsOf(const ScpiResult &r) {
    Points out;
    for (int32_t i = 0; i < r.count; ++i) out.emplace_back(r.points[i].row, r.points[i].col);
    return out;
}

// Rows, row by row, columns inner: what the relay commands switch in order.
Points rectangle(int32_t r1, int32_t c1, int32_t r2, int32_t c2) {
    Points out;
    for (int32_t r = r1; r <= r2; ++r)
        for (int32_t c = c1; c <= c2; ++c) out.emplace_back(r, c);
    return out;
}

// Elements of 4 characters ("1!1,") make list texts of a chosen length.
std::string listOfLength(size_t length) {
    std::string list;
    while (list.size() + 4 <= length) list += "1!1,";
    return list + std::string(length - list.size(), ',');
}

struct CommandCase {
    std::string command;
    ScpiOp op;
    std::string argument;
    std::string message;
};

TEST(ScpiParser, RecognisesCommands) {
    const std::string gpib = ":SYSTem:COMMunicate:GPIB:RDEVice:ADDRess ";
    const CommandCase cases[] = {
        {"*RST>", 4, "", ""},
        {"*RST", 22, "", "Unknown Command"},
        {"*IDN?", 0, "", ""},
        {"*IDN?trailing text", 0, "", ""},
        {":SYST:VERS?", 1, "", ""},
        {":SYSTem:VERSion?", 1, "", ""},
        {":SYSTEM:VERSION?", 22, "", "Unknown Command"},
        {":SYSTEM:VERSion?", 22, "", "Unknown Command"},
        {":syst:vers?", 22, "", "Unknown Command"},
        {":SYST:VERS? 12", 1, "", ""},  // not an argument op: nothing copied
        {gpib + "5", 14, "5", ""},
        {":SYSTem:COMMunicate:GPIB:RDEVice:ADDRess?", 16, "", ""},
        {":SYST:COMM:GPIB:RDEV:ADDR 7", 14, "7", ""},
        {":SYSemT:COMMunication:LAN:IP:ADDRess 192.168.1.9", 5, "192.168.1.9", ""},
        {":SYSemT:COMMunication:LAN:SET:MODE AUTO", 7, "AUTO", ""},
        {":SYST:COM:LAN:SET:MODE 1", 7, "1", ""},
        {":SYST:COMM:LAN:SET:MODE 1", 22, "", "Unknown Command"},
        {":SYSTem:ConTRoL:SET: REMOTE", 13, "REMOTE", ""},
        {":SYST:CTRL:SET: LOCAL", 13, "LOCAL", ""},
        {":SYST:COMM:RS232:BAUD 9600", 15, "9600", ""},
        {":CLOS (@0(1!1,2!2))", 19, "(@0(1!1,2!2))", ""},
        {":CLOS (@0(1!1))\r\n", 19, "(@0(1!1))\r\n", ""},
        {":CLOS ", 19, "", ""},
        {":CLOS:ALL", 21, "", ""},
        {":CLOS", 22, "", "Unknown Command"},
        {"[:ROUT]:CLOS (@0(1!1))", 19, "(@0(1!1))", ""},
        {"[:ROUT]:OPEN:ALL", 20, "", ""},
        {":ROUT:CLOS (@0(1!1))", 22, "", "Unknown Command"},
        {":OPEN (@1(2!2))", 18, "(@1(2!2))", ""},
        {":CLOSe (@0(1!1))", 19, "(@0(1!1))", ""},
        // A lower-case letter anywhere, the argument included, picks the
        // long forms, where the short spelling does not exist.
        {":CLOS (@0(a))", 22, "", "Unknown Command"},
        {"", 22, "", "Unknown Command"},
        {":CLOS " + std::string(199, '1'), 19, std::string(199, '1'), ""},
        {":CLOS " + std::string(200, '1'), 19, "", "Error: Parameter too long"},
    };
    for (const auto &c : cases) {
        std::array<char, 256> message{};
        std::array<char, KORVAX_SCPI_ARGUMENT_SIZE> argument{};
        ScpiOp op = 99;
        scpi_parser(0, c.command.c_str(), message.data(), argument.data(), &op);
        EXPECT_EQ(op, c.op) << c.command;
        EXPECT_EQ(std::string(argument.data()), c.argument) << c.command;
        EXPECT_EQ(std::string(message.data()), c.message) << c.command;
    }
}

// Every spelling must reach its own entry: an earlier entry that is a prefix
// of a later one, or a lower-case letter in the short table, would hide it.
TEST(ScpiParser, EveryTableEntryIsReachable) {
    for (const auto *table : {commandMapUpperAndLower, commandMapAllUpper}) {
        std::set<ScpiOp> ops;
        for (int i = 0; i < KORVAX_SCPI_COMMAND_COUNT; ++i) {
            std::array<char, 256> message{};
            std::array<char, KORVAX_SCPI_ARGUMENT_SIZE> argument{};
            ScpiOp op = 99;
            scpi_parser(0, table[i].text, message.data(), argument.data(), &op);
            EXPECT_EQ(op, table[i].op) << table[i].text;
            EXPECT_STREQ(message.data(), "") << table[i].text;
            ops.insert(table[i].op);
        }
        EXPECT_EQ(ops.size(), 22u) << "each of the ops 0..21 has a spelling";
    }
}

struct ListCase {
    std::string text;
    int32_t subUnit;
    Points points;
    std::string message;
};

TEST(ScpiParser, ParsesChannelLists) {
    const ListCase cases[] = {
        {"(@0(1!1,2!2))", 0, {{1, 1}, {2, 2}}, ""},
        {"(@2(5!6))", 2, {{5, 6}}, ""},
        {"(@0(1!2:3!4))", 0, rectangle(1, 2, 3, 4), ""},
        {"(@0(3!4:1!2))", 0, rectangle(1, 2, 3, 4), ""},
        {"(@0(1!1!1))", 0, {{1, 1}}, ""},
        {"(@0(1:3!4))", 0, {{1, 4}, {2, 4}, {3, 4}}, ""},
        {"(@0(1!1,,2!2,))", 0, {{1, 1}, {2, 2}}, ""},
        {"(@0(1!1,x,2!2))", 0, {{1, 1}, {2, 2}}, "Error: Invalid crosspoint format"},
        {"(@0(x,1!1:2,2!2))", 0, {{2, 2}}, "Error: Invalid range format."},
        {"@1", 1, {}, ""},
        {"(@x(1!1))", 0, {}, "Error: Invalid subunit format\n"},
        {"(@", 0, {}, "Error: Invalid subunit format\n"},
        {"(1!1)", 0, {}, "Error: Invalid subunit format\n"},
        {"", 0, {}, "Error: Invalid subunit format\n"},
        {"(@2147483648(1!1))", 0, {}, "Error: Invalid subunit format\n"},
        {"(@99999999999(1!1))", 0, {}, "Error: Invalid subunit format\n"},
        {"(@0(1!1)", 0, {}, "Error: Unmatched parentheses in input."},
        {")(@0(1!1)(", 0, {}, "Error: Unmatched parentheses in input."},
        {"(@0())", 0, {}, "Error: Empty content in parentheses.\n"},
        {"(@0(1))", 0, {}, "Error: Empty content in parentheses.\n"},
        // The list offset counts the sub-unit's digits past the first '('; a
        // long sub-unit or an '@' outside the parentheses must not read past
        // the end of the text.
        {"(@1000000000)", 1000000000, {}, "Error: Empty content in parentheses.\n"},
        {"@1000000000(     )", 1000000000, {}, "Error: Empty content in parentheses.\n"},
        // Leading zeros shift the list onto the inner '(' and spoil the row.
        {"(@00(1!1))", 0, {}, "Error: Invalid crosspoint format"},
        // 63 single points: the array grows several times on the way.
        {"(@0(" + listOfLength(255) + "))", 0, Points(63, {1, 1}), ""},
        {"(@0(" + listOfLength(256) + "))", 0, {}, "Error: Parameter too long"},
    };
    for (const auto &c : cases) {
        std::array<char, 256> message{};
        const ScpiResult r = parseSCPICrossPoint(c.text.c_str(), message.data());
        EXPECT_EQ(r.subUnit, c.subUnit) << c.text;
        EXPECT_EQ(pointsOf(r), c.points) << c.text;
        EXPECT_EQ(std::string(message.data()), c.message) << c.text;
        freeSCPIResult(r);
    }
}

struct ElementCase {
    std::string element;
    int32_t status;
    int32_t count;  // points appended
    std::string message;
};

TEST(ScpiParser, ParsesOneElement) {
    const ElementCase cases[] = {
        {"1!1", 0, 1, ""},
        {"x", -1, 0, "Error: Invalid crosspoint format"},
        {"0!1", -1, 0, "Error: Invalid crosspoint format"},
        {"1!0", -1, 0, "Error: Invalid crosspoint format"},
        {"(1!1", -1, 0, "Error: Invalid crosspoint format"},
        {"1!1:2", -1, 0, "Error: Invalid range format."},
        {"1!1:0!2", -1, 0, "Error: Invalid crosspoint format"},
        {"123456789!1", 0, 1, ""},
        {"1234567890!1", -1, 0, "Error: Parameter too long"},
        {"1!2147483647", 0, 1, ""},
        {"1!2147483648", -1, 0, "Error: Invalid crosspoint format"},
        {"1!99999999999999999999", -1, 0, "Error: Invalid crosspoint format"},
        {"1!1:99999999999!1", -1, 0, "Error: Invalid crosspoint format"},
        // A rectangle never names more crosspoints than the 48,000-bit image.
        {"1!1:1000!48", 0, 48000, ""},
        {"1!1:1!48000", 0, 48000, ""},
        {"1!1:1!48001", -1, 0, "Error: Invalid range format."},
        {"1!1:999999999!999999999", -1, 0, "Error: Invalid range format."},
        {"1!1:1!2147483647", -1, 0, "Error: Invalid range format."},
        // A bound at the top of int32 must not overflow the loop.
        {"1!2147483647:2!2147483647", 0, 2, ""},
    };
    for (const auto &c : cases) {
        std::array<char, 256> message{};
        ScpiResult r{};
        EXPECT_EQ(parseCrosspoints(&r, c.element.c_str(), message.data()), c.status) << c.element;
        EXPECT_EQ(r.count, c.count) << c.element;
        EXPECT_EQ(std::string(message.data()), c.message) << c.element;
        freeSCPIResult(r);
    }
}

TEST(ScpiParser, ChecksParentheses) {
    const struct {
        const char *text;
        bool balanced;
    } cases[] = {
        {"", true},     {"abc", true},   {"()", true},    {"(()())", true},
        {")(", false},  {"(()", false},  {"())(", false}, {"(@0(1!1))", true},
    };
    for (const auto &c : cases) EXPECT_EQ(areParenthesesBalanced(c.text), c.balanced) << c.text;
}

}  // namespace
