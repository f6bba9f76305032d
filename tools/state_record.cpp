#include "state_record.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

namespace korvax::tools {
namespace {

constexpr std::string_view kHeader = "# korvax relay record 1";
constexpr std::string_view kEnd = "# end ";

std::string quoted(const std::filesystem::path &p) { return "'" + p.string() + "'"; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    return s;
}

std::optional<long> number(std::string_view s) {
    long v = 0;
    if (s.empty() || s.size() > 9) return std::nullopt;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return v;
}

std::string outsideText(const Crosspoint &p, const RecordLimits &l) {
    return "crosspoint " + std::to_string(p.row) + "!" + std::to_string(p.column) + " is outside the " + l.model +
           "'s " + std::to_string(l.rows) + " switchable rows x " + std::to_string(l.columns) + " columns";
}

bool inside(const Crosspoint &p, const RecordLimits &l) {
    return p.row >= 1 && p.column >= 1 && p.row <= l.rows && p.column <= l.columns;
}

}  // namespace

std::filesystem::path StateRecord::defaultFolder() {
    if (const char *d = std::getenv("KORVAX_STATE_DIR"); d && *d) return d;
    if (const char *x = std::getenv("XDG_STATE_HOME"); x && *x) return std::filesystem::path(x) / "korvax";
    if (const char *h = std::getenv("HOME"); h && *h) return std::filesystem::path(h) / ".local/state/korvax";
    return ".";
}

std::filesystem::path StateRecord::fileOf(const std::string &rsrc, int64_t subUnit) const {
    std::string name;
    for (char c : rsrc) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return folder_ / (name + ".sub" + std::to_string(subUnit));
}

std::set<Crosspoint> StateRecord::read(const std::string &rsrc, int64_t subUnit, const RecordLimits &limits) const {
    const auto path = fileOf(rsrc, subUnit);
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return {};
    if (ec || status.type() != std::filesystem::file_type::regular)
        throw RecordError("relay record " + quoted(path) + " is not a readable file");
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in || in.bad())
        throw RecordError("relay record " + quoted(path) + " cannot be read: " + std::strerror(errno));

    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    const bool framed = !lines.empty() && trimmed(lines.front()) == kHeader;
    std::set<Crosspoint> closed;
    std::size_t points = 0;
    bool ended = false;
    auto fail = [&](std::size_t i, const std::string &why) {
        return RecordError("relay record " + quoted(path) + " line " + std::to_string(i + 1) + ": " + why);
    };
    for (std::size_t i = framed ? 1 : 0; i < lines.size(); ++i) {
        const std::string_view line = trimmed(lines[i]);
        if (ended) {
            if (!line.empty()) throw fail(i, "text after the end line");
            continue;
        }
        if (framed && line.starts_with(kEnd)) {
            const auto count = number(line.substr(kEnd.size()));
            if (!count || static_cast<std::size_t>(*count) != points)
                throw fail(i, "the end line does not count the " + std::to_string(points) + " crosspoints before it");
            ended = true;
            continue;
        }
        if (line.empty() && !framed) continue;
        const auto bang = line.find('!');
        const auto row = bang == std::string_view::npos ? std::nullopt : number(line.substr(0, bang));
        const auto column = bang == std::string_view::npos ? std::nullopt : number(line.substr(bang + 1));
        if (!row || !column) throw fail(i, "'" + std::string(line) + "' is not a crosspoint ROW!COLUMN");
        if (*row < 1 || *column < 1 || *row > limits.rows || *column > limits.columns)
            throw fail(i, "crosspoint " + std::string(line) + " is outside the " + limits.model + "'s " +
                              std::to_string(limits.rows) + " switchable rows x " +
                              std::to_string(limits.columns) + " columns");
        closed.insert({static_cast<int>(*row), static_cast<int>(*column)});
        ++points;
    }
    if (framed && !ended)
        throw RecordError("relay record " + quoted(path) + " is cut short (no end line)");
    return closed;
}

StateRecord::Staged StateRecord::stage(const std::string &rsrc, int64_t subUnit, const std::set<Crosspoint> &closed,
                                       const RecordLimits &limits) const {
    for (const auto &p : closed)
        if (!inside(p, limits)) throw RecordError("cannot record " + outsideText(p, limits));
    const auto target = fileOf(rsrc, subUnit);
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec) throw RecordError("relay record folder " + quoted(folder_) + " cannot be made: " + ec.message());
    auto temporary = target;
    temporary += ".new" + std::to_string(getpid());
    std::string body = std::string(kHeader) + "\n";
    for (const auto &p : closed) body += std::to_string(p.row) + "!" + std::to_string(p.column) + "\n";
    body += std::string(kEnd) + std::to_string(closed.size()) + "\n";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out) out << body;
    if (out) out.flush();
    if (!out) {
        const std::string why = std::strerror(errno);
        std::filesystem::remove(temporary, ec);
        throw RecordError("relay record " + quoted(target) + " cannot be written: " + why);
    }
    return Staged(temporary, target);
}

StateRecord::Staged::Staged(Staged &&other) noexcept
    : temporary_(std::move(other.temporary_)), target_(std::move(other.target_)) {
    other.temporary_.clear();
}

StateRecord::Staged::~Staged() {
    if (temporary_.empty()) return;
    std::error_code ec;
    std::filesystem::remove(temporary_, ec);
}

void StateRecord::Staged::commit() {
    std::error_code ec;
    std::filesystem::rename(temporary_, target_, ec);
    if (ec) throw RecordError("relay record " + quoted(target_) + " cannot be replaced: " + ec.message());
    temporary_.clear();
}

}  // namespace korvax::tools
