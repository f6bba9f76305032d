#include "scpi/scpi_parser.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "base/build_policy.h"
#include "base/records.h"
#include "scpi/compact_tables.h"

// The long forms keep the manual's spelling, oddities included: users copy
// them from it, so a "corrected" text would stop matching what they type.
const ScpiCommand commandMapUpperAndLower[KORVAX_SCPI_COMMAND_COUNT] = {
    {"*IDN?", SCPI_OP_IDENTITY},
    {"*RST>", SCPI_OP_RESET},
    {":SYSTem:VERSion?", SCPI_OP_FW_VERSION},
    {":SYSTem:MANF?", SCPI_OP_MANUFACTURER},
    {":SYSTem:MODule?", SCPI_OP_MODEL},
    {":SYSemT:COMMunication:LAN:IP:ADDRess ", SCPI_OP_SET_IP_ADDRESS},
    {":SYSemT:COMMunication:LAN:IP:ADDRess?", SCPI_OP_IP_ADDRESS},
    {":SYSemT:COMMunication:LAN:SET:MODE ", SCPI_OP_SET_LAN_MODE},
    {":SYSemT:COMMunication:LAN:MODE?", SCPI_OP_LAN_MODE},
    {":SYSTem:COMMunicate:GPIB:RDEVice:ADDRess ", SCPI_OP_SET_GPIB_ADDRESS},
    {":SYSTem:COMMunicate:RS232:BAUD ", SCPI_OP_SET_BAUD_RATE},
    {":SYSTem:COMMunicate:GPIB:RDEVice:ADDRess?", SCPI_OP_GPIB_ADDRESS},
    {":SYSTem:COMMunicate:RS232:BAUD?", SCPI_OP_BAUD_RATE},
    {":SYSTem:ConTRoL:MODE?", SCPI_OP_CONTROL_MODE},
    {":SYSTem:ConTRoL:SET: ", SCPI_OP_SET_CONTROL_MODE},
    {":DIAGnostic:TEST:CARD:BIP?", SCPI_OP_BOARD_IN_PLACE},
    {":DIAGnostic:TEST:CARD:SPILOOP?", SCPI_OP_SPI_LOOP},
    {":DIAGnostic:TEST:CARD:STATe?", SCPI_OP_CARD_STATE},
    {"[:ROUTe]:OPEN ", SCPI_OP_OPEN},
    {"[:ROUTe]:OPEN:ALL", SCPI_OP_OPEN_ALL},
    {":OPEN ", SCPI_OP_OPEN},
    {":OPEN:ALL", SCPI_OP_OPEN_ALL},
    {"[:ROUTe]:CLOSe ", SCPI_OP_CLOSE},
    {"[:ROUTe]:CLOSe:ALL", SCPI_OP_CLOSE_ALL},
    {":CLOSe ", SCPI_OP_CLOSE},
    {":CLOSe:ALL", SCPI_OP_CLOSE_ALL},
};

// The brackets are literal: "[:ROUT]:CLOS " and ":CLOS " are two spellings.
const ScpiCommand commandMapAllUpper[KORVAX_SCPI_COMMAND_COUNT] = {
    {"*IDN?", SCPI_OP_IDENTITY},
    {"*RST>", SCPI_OP_RESET},
    {":SYST:VERS?", SCPI_OP_FW_VERSION},
    {":SYST:MANF?", SCPI_OP_MANUFACTURER},
    {":SYST:MOD?", SCPI_OP_MODEL},
    {":SYST:CTRL:MODE?", SCPI_OP_CONTROL_MODE},
    {":SYST:CTRL:SET: ", SCPI_OP_SET_CONTROL_MODE},
    {":SYST:COMM:LAN:IP:ADDR ", SCPI_OP_SET_IP_ADDRESS},
    {":SYST:COMM:LAN:IP:ADDR?", SCPI_OP_IP_ADDRESS},
    {":SYST:COM:LAN:SET:MODE ", SCPI_OP_SET_LAN_MODE},
    {":SYST:COMM:LAN:MODE?", SCPI_OP_LAN_MODE},
    {":SYST:COMM:GPIB:RDEV:ADDR ", SCPI_OP_SET_GPIB_ADDRESS},
    {":SYST:COMM:RS232:BAUD ", SCPI_OP_SET_BAUD_RATE},
    {":SYST:COMM:GPIB:RDEV:ADDR?", SCPI_OP_GPIB_ADDRESS},
    {":SYST:COMM:RS232:BAUD?", SCPI_OP_BAUD_RATE},
    {":DIAG:TEST:CARD:BIP?", SCPI_OP_BOARD_IN_PLACE},
    {":DIAG:TEST:CARD:SPILOOP?", SCPI_OP_SPI_LOOP},
    {":DIAG:TEST:CARD:STAT?", SCPI_OP_CARD_STATE},
    {"[:ROUT]:OPEN ", SCPI_OP_OPEN},
    {"[:ROUT]:OPEN:ALL", SCPI_OP_OPEN_ALL},
    {":OPEN ", SCPI_OP_OPEN},
    {":OPEN:ALL", SCPI_OP_OPEN_ALL},
    {"[:ROUT]:CLOS ", SCPI_OP_CLOSE},
    {"[:ROUT]:CLOS:ALL", SCPI_OP_CLOSE_ALL},
    {":CLOS ", SCPI_OP_CLOSE},
    {":CLOS:ALL", SCPI_OP_CLOSE_ALL},
};

namespace {

constexpr std::string_view kUnknownCommand = "Unknown Command";
constexpr std::string_view kBadSubUnit = "Error: Invalid subunit format\n";
constexpr std::string_view kUnbalanced = "Error: Unmatched parentheses in input.";
constexpr std::string_view kEmptyList = "Error: Empty content in parentheses.\n";
constexpr std::string_view kBadCrosspoint = "Error: Invalid crosspoint format";
constexpr std::string_view kBadRange = "Error: Invalid range format.";
constexpr std::string_view kTooLong = "Error: Parameter too long";

// Callers hand in their reply text (256 or 400 bytes). Every message is far
// shorter than 64 bytes, so that bound keeps a write inside any of them.
constexpr std::size_t kMessageRoom = 64;

// Widths of the texts the parser works on. A longer text is refused rather
// than cut: a cut channel list would switch relays nobody asked for.
constexpr std::size_t kArgumentMax = KORVAX_SCPI_ARGUMENT_SIZE - 1;
constexpr std::size_t kRowTextMax = 9;
constexpr std::size_t kListTextMax = 255;

// A rectangle can never name more distinct crosspoints than the state image
// the relay commands edit has bits; refusing larger ones up front keeps a
// typo such as 1!1:999999999!999999999 from allocating gigabytes.
constexpr std::int64_t kMaxRectanglePoints = std::int64_t{KORVAX_USER_WORDS} * 32;

void putMessage(char *buffer, std::string_view text) {
    if (buffer == nullptr) return;
    const std::size_t n = std::min(text.size(), kMessageRoom - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }


// The leading decimal digits of text (0 when there are none); nothing when
// they do not fit in 32 bits.
std::optional<std::int32_t> leadingNumber(std::string_view text) {
    std::int64_t value = 0;
    for (const char c : text) {
        if (!isDigit(c)) break;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

// Row and column numbers: an overflowing one is as unusable as 0.
std::int32_t pointNumber(std::string_view text) { return leadingNumber(text).value_or(-1); }

std::size_t decimalDigits(std::int32_t value) {
    std::size_t digits = 1;
    for (; value >= 10; value /= 10) ++digits;
    return digits;
}

// The result crosses the C boundary by value and freeSCPIResult releases it
// with free(), so its array is malloc'd storage grown with realloc rather
// than a C++ container.
bool reserveFor(ScpiResult &result, std::int64_t extra) {
    const std::int32_t capacity = result.points != nullptr ? result.capacity : 0;
    const std::int64_t needed = std::int64_t{result.count} + extra;
    if (result.count < 0 || needed > INT32_MAX) return false;
    if (needed <= capacity) return true;
    const std::int64_t grown =
        std::min<std::int64_t>(INT32_MAX, std::max<std::int64_t>({needed, std::int64_t{capacity} * 2, 8}));
    void *points = std::realloc(result.points, static_cast<std::size_t>(grown) * sizeof(ScpiCrosspoint));
    if (points == nullptr) return false;
    result.points = static_cast<ScpiCrosspoint *>(points);
    result.capacity = static_cast<std::int32_t>(grown);
    return true;
}

void append(ScpiResult &result, std::int64_t row, std::int64_t col) {
    result.points[result.count++] = {static_cast<std::int32_t>(row), static_cast<std::int32_t>(col)};
}

std::int32_t refuse(char *message, std::string_view text) {
    putMessage(message, text);
    return -1;
}

}  // namespace

korvax::ParsedCommand korvax::parseCommand(std::string_view text) {
    const bool lower = std::any_of(text.begin(), text.end(), [](char c) {
        return std::islower(static_cast<unsigned char>(c)) != 0;
    });
    std::span<const ScpiCommand> table(lower ? commandMapUpperAndLower : commandMapAllUpper,
                                       KORVAX_SCPI_COMMAND_COUNT);
    if constexpr (BuildPolicy::kCompactScpiTables) table = compactScpiTable(lower);
    for (const ScpiCommand &entry : table) {
        const std::string_view spelling = entry.text;
        if (!text.starts_with(spelling)) continue;
        ParsedCommand parsed{entry.op, {}, {}};
        if (!scpiTakesArgument(entry.op)) return parsed;
        const std::string_view rest = text.substr(spelling.size());
        if (rest.size() > kArgumentMax)
            parsed.error = kTooLong;
        else
            parsed.argument = rest;
        return parsed;
    }
    return {SCPI_OP_UNKNOWN, {}, kUnknownCommand};
}

void scpi_parser(uint32_t /*handle*/, const char *command, char *message, char *argument,
                 ScpiOp *op) {
    const korvax::ParsedCommand parsed = korvax::parseCommand(command != nullptr ? command : "");
    if (op != nullptr) *op = parsed.op;
    if (parsed.op == SCPI_OP_UNKNOWN) return putMessage(message, parsed.error);
    // Without an argument buffer there is nothing to fill and nothing to refuse.
    if (!korvax::scpiTakesArgument(parsed.op) || argument == nullptr) return;
    if (!parsed.error.empty()) {
        argument[0] = '\0';
        return putMessage(message, parsed.error);
    }
    std::memcpy(argument, parsed.argument.data(), parsed.argument.size());
    argument[parsed.argument.size()] = '\0';
}

bool areParenthesesBalanced(const char *text) {
    if (text == nullptr) return true;
    std::int64_t depth = 0;
    for (; *text != '\0'; ++text) {
        if (*text == '(') ++depth;
        else if (*text == ')' && --depth < 0) return false;
    }
    return depth == 0;
}

int32_t parseCrosspoints(ScpiResult *result, const char *element, char *message) {
    if (result == nullptr || element == nullptr) return refuse(message, kBadCrosspoint);
    const std::string_view text = element;
    const std::size_t bang = text.find('!');
    if (bang == std::string_view::npos) return refuse(message, kBadCrosspoint);
    if (bang > kRowTextMax) return refuse(message, kTooLong);

    // The first '!' and the first ':' are looked up independently, and each
    // number ends at its first non-digit: 1:3!4 is rows 1 to 3 of column 4.
    std::int32_t row1 = pointNumber(text.substr(0, bang));
    std::int32_t col1 = pointNumber(text.substr(bang + 1));
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        if (row1 < 1 || col1 < 1) return refuse(message, kBadCrosspoint);
        if (!reserveFor(*result, 1)) return refuse(message, kBadCrosspoint);
        append(*result, row1, col1);
        return 0;
    }

    const std::size_t bang2 = text.find('!', colon + 1);
    if (bang2 == std::string_view::npos) return refuse(message, kBadRange);
    std::int32_t row2 = pointNumber(text.substr(colon + 1));
    std::int32_t col2 = pointNumber(text.substr(bang2 + 1));
    if (row1 < 1 || col1 < 1 || row2 < 1 || col2 < 1) return refuse(message, kBadCrosspoint);
    if (row1 > row2) std::swap(row1, row2);
    if (col1 > col2) std::swap(col1, col2);

    const std::int64_t rows = std::int64_t{row2} - row1 + 1;
    const std::int64_t cols = std::int64_t{col2} - col1 + 1;
    if (rows * cols > kMaxRectanglePoints) return refuse(message, kBadRange);
    if (!reserveFor(*result, rows * cols)) return refuse(message, kBadRange);
    // 64-bit counters: a bound of INT32_MAX must not overflow the loop.
    for (std::int64_t row = row1; row <= row2; ++row)
        for (std::int64_t col = col1; col <= col2; ++col) append(*result, row, col);
    return 0;
}

ScpiResult parseSCPICrossPoint(const char *argument, char *message) {
    ScpiResult result{};
    const std::string_view text = argument != nullptr ? argument : "";

    // Without '@' the list names no sub-unit, and switching a guessed one
    // is worse than refusing.
    const std::size_t at = text.find('@');
    if (at == std::string_view::npos || at + 1 >= text.size() || !isDigit(text[at + 1])) {
        putMessage(message, kBadSubUnit);
        return result;
    }
    const std::optional<std::int32_t> subUnit = leadingNumber(text.substr(at + 1));
    if (!subUnit) {
        putMessage(message, kBadSubUnit);
        return result;
    }
    result.subUnit = *subUnit;

    if (!areParenthesesBalanced(text.data())) {
        putMessage(message, kUnbalanced);
        return result;
    }
    const std::size_t open = text.find('(');
    const std::size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return result;
    const std::size_t span = close - open;
    if (span < 5) {
        putMessage(message, kEmptyList);
        return result;
    }
    // The list sits after "(@", the sub-unit digits and "(", and before "))".
    // The offset counts the digits of the value, so with a long sub-unit or
    // an '@' outside the parentheses it can run past the text: stop at its end.
    const std::size_t start = open + 3 + decimalDigits(*subUnit);
    const std::string_view list =
        start < text.size() ? text.substr(start, span - 5) : std::string_view{};
    if (list.size() > kListTextMax) {
        putMessage(message, kTooLong);
        return result;
    }
    if (list.size() < 3) {
        putMessage(message, kEmptyList);
        return result;
    }

    // Every element is tried; a bad one leaves its message and the good ones
    // around it are kept, so the caller sees the last failure.
    std::array<char, kListTextMax + 1> pieces{};
    std::memcpy(pieces.data(), list.data(), list.size());
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= list.size(); ++i) {
        if (pieces[i] != ',' && pieces[i] != '\0') continue;
        pieces[i] = '\0';
        if (i > begin) parseCrosspoints(&result, pieces.data() + begin, message);
        begin = i + 1;
    }
    return result;
}

void freeSCPIResult(ScpiResult result) { std::free(result.points); }
