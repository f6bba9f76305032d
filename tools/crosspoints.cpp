#include "crosspoints.h"

#include <algorithm>
#include <charconv>

namespace korvax::tools {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// A positive decimal number that is the whole of `s` (no sign, no blanks).
std::optional<int> number(std::string_view s) {
    if (s.empty() || s.size() > 6) return std::nullopt;
    int value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || value < 1) return std::nullopt;
    return value;
}

std::optional<Crosspoint> corner(std::string_view s) {
    const auto bang = s.find('!');
    if (bang == std::string_view::npos) return std::nullopt;
    const auto row = number(s.substr(0, bang));
    const auto column = number(s.substr(bang + 1));
    if (!row || !column) return std::nullopt;
    return Crosspoint{*row, *column};
}

}  // namespace

CrosspointList parseCrosspoints(std::string_view text) {
    CrosspointList out;
    auto fail = [&](std::string_view element, std::string_view why) {
        out.points.clear();
        out.error = "malformed crosspoint list '" + std::string(text) + "': element '" +
                    std::string(element) + "' " + std::string(why) +
                    " (expected ROW!COLUMN or ROW!COLUMN:ROW!COLUMN, numbers from 1, "
                    "separated by commas)";
        return out;
    };
    if (trim(text).empty()) return fail("", "is empty");
    std::string_view rest = text;
    while (true) {
        const auto comma = rest.find(',');
        const std::string_view element = trim(rest.substr(0, comma));
        if (element.empty()) return fail(element, "is empty");
        const auto colon = element.find(':');
        const auto first = corner(element.substr(0, colon));
        if (!first) return fail(element, "is not a crosspoint");
        Crosspoint second = *first;
        if (colon != std::string_view::npos) {
            const auto other = corner(element.substr(colon + 1));
            if (!other) return fail(element, "is not a range of crosspoints");
            second = *other;
        }
        const int r0 = std::min(first->row, second.row), r1 = std::max(first->row, second.row);
        const int c0 = std::min(first->column, second.column);
        const int c1 = std::max(first->column, second.column);
        const auto size = static_cast<std::size_t>(r1 - r0 + 1) * static_cast<std::size_t>(c1 - c0 + 1);
        if (out.points.size() + size > kMaxListedCrosspoints)
            return fail(element, "names more crosspoints than any chassis has");
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c) out.points.push_back({r, c});
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return out;
}

std::optional<Crosspoint> firstOutside(const std::vector<Crosspoint> &points, int rows, int columns) {
    for (const auto &p : points)
        if (p.row > rows || p.column > columns) return p;
    return std::nullopt;
}

std::optional<std::pair<int, int>> parseRange(std::string_view text) {
    const auto colon = text.find(':');
    const auto a = number(text.substr(0, colon));
    const auto b = colon == std::string_view::npos ? a : number(text.substr(colon + 1));
    if (!a || !b || *a > *b) return std::nullopt;
    return std::pair{*a, *b};
}

}  // namespace korvax::tools
