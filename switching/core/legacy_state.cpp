#include "core/legacy_state.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace korvax::switching::core {
namespace {

constexpr std::string_view kHeader = "# korvax relay record 1";
constexpr std::string_view kEnd = "# end ";

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())) != 0) s.remove_suffix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())) != 0) s.remove_prefix(1);
    return s;
}

std::optional<long> number(std::string_view s) {
    long v = 0;
    if (s.empty() || s.size() > 9) return std::nullopt;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return v;
}

Error fault(const std::filesystem::path &file, const std::string &why) {
    return Error(ErrorKind::Record, "relay state file of an earlier korvax " + file.string() + ": " + why);
}

}  // namespace

std::filesystem::path legacyStateFile(const std::filesystem::path &folder, std::string_view resource) {
    std::string name;
    for (const char c : resource) name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    return folder / (name + ".sub0");
}

std::optional<std::set<Crosspoint>> readLegacyState(const std::filesystem::path &file, const LegacyLimits &limits) {
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (status.type() == std::filesystem::file_type::not_found) return std::nullopt;
    if (ec || status.type() != std::filesystem::file_type::regular) throw fault(file, "not a readable file");
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in || in.bad()) throw fault(file, std::string("cannot be read: ") + std::strerror(errno));

    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    const bool framed = !lines.empty() && trimmed(lines.front()) == kHeader;
    std::set<Crosspoint> closed;
    std::size_t points = 0;
    bool ended = false;
    auto at = [&](std::size_t i, const std::string &why) { return fault(file, "line " + std::to_string(i + 1) + ": " + why); };
    for (std::size_t i = framed ? 1 : 0; i < lines.size(); ++i) {
        const std::string_view line = trimmed(lines[i]);
        if (ended) {
            if (!line.empty()) throw at(i, "text after the end line");
            continue;
        }
        if (framed && line.starts_with(kEnd)) {
            const auto count = number(line.substr(kEnd.size()));
            if (!count || static_cast<std::size_t>(*count) != points)
                throw at(i, "the end line does not count the " + std::to_string(points) + " crosspoints before it");
            ended = true;
            continue;
        }
        if (line.empty() && !framed) continue;
        const auto bang = line.find('!');
        const auto row = bang == std::string_view::npos ? std::nullopt : number(line.substr(0, bang));
        const auto column = bang == std::string_view::npos ? std::nullopt : number(line.substr(bang + 1));
        if (!row || !column) throw at(i, "'" + std::string(line) + "' is not a crosspoint ROW!COLUMN");
        if (*row < 1 || *column < 1 || *row > limits.rows || *column > limits.columns)
            throw at(i, "crosspoint " + std::string(line) + " is outside the " + limits.model + "'s " +
                            std::to_string(limits.rows) + " switchable rows x " + std::to_string(limits.columns) +
                            " columns");
        closed.insert({static_cast<int>(*row), static_cast<int>(*column)});
        ++points;
    }
    if (framed && !ended) throw fault(file, "cut short (no end line)");
    return closed;
}

}  // namespace korvax::switching::core
