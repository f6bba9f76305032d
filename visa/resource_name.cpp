#include "visa/resource_name.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace korvax::visa {
namespace {

// "GPIB-VXI" before "GPIB", so the longer prefix wins.
constexpr std::array<std::string_view, 7> kInterfaces = {"GPIB-VXI", "GPIB", "VXI", "ASRL",
                                                         "TCPIP",    "USB",  "PXI"};
constexpr std::array<std::string_view, 7> kClasses = {"INSTR",  "SOCKET",    "INTFC",  "RAW",
                                                      "MEMACC", "BACKPLANE", "SERVANT"};

bool allDigits(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

}  // namespace

std::optional<std::string> standardResourceName(std::string_view name) {
    if (name.empty() || name.size() > kMaxResourceNameLength) return std::nullopt;
    if (std::any_of(name.begin(), name.end(), [](char c) {
            return std::isspace(static_cast<unsigned char>(c)) ||
                   std::iscntrl(static_cast<unsigned char>(c));
        }))
        return std::nullopt;
    std::vector<std::string> parts = splitFields(name);
    // "::" separates fields; a ':' left inside one ("TCPIP0::a:") is a
    // broken separator, and would read differently once rebuilt.
    if (std::any_of(parts.begin(), parts.end(),
                    [](const std::string &f) { return f.empty() || f.find(':') != f.npos; }))
        return std::nullopt;

    std::string head = upperCase(parts.front());
    const auto interface = std::find_if(kInterfaces.begin(), kInterfaces.end(),
                                        [&](std::string_view i) { return head.starts_with(i); });
    if (interface == kInterfaces.end()) return std::nullopt;
    const bool serial = *interface == "ASRL";
    const std::string_view board = std::string_view(head).substr(interface->size());
    if (serial) {
        // Serial ports are named by number or by device path; either must
        // be there, and a path keeps its letter case.
        if (board.empty()) return std::nullopt;
        head = std::string(*interface) + parts.front().substr(interface->size());
    } else if (board.empty()) {
        head += '0';
    } else if (!allDigits(board)) {
        return std::nullopt;
    }
    parts.front() = head;

    std::string cls = upperCase(parts.back());
    const bool hasClass =
        parts.size() > 1 && std::find(kClasses.begin(), kClasses.end(), cls) != kClasses.end();
    if (hasClass)
        parts.back() = cls;
    else
        parts.emplace_back("INSTR");
    // An instrument or socket on a bus is named by its address; only a
    // serial port is named by the board alone.
    const bool needsAddress = parts.back() == "INSTR" || parts.back() == "SOCKET";
    if (needsAddress && !serial && parts.size() < 3) return std::nullopt;

    std::string out = parts.front();
    for (std::size_t i = 1; i < parts.size(); ++i) out += "::" + parts[i];
    if (out.size() > kMaxResourceNameLength) return std::nullopt;
    return out;
}

std::optional<std::string> canonicalResourceName(std::string_view name) {
    auto standard = standardResourceName(name);
    if (standard) *standard = upperCase(*standard);
    return standard;
}

bool isSerialResource(std::string_view name) {
    return upperCase(name.substr(0, std::min<std::size_t>(4, name.size()))) == "ASRL";
}

std::vector<std::string> splitFields(std::string_view name) {
    std::vector<std::string> out;
    for (;;) {
        const std::size_t sep = name.find("::");
        out.emplace_back(name.substr(0, sep));
        if (sep == std::string_view::npos) return out;
        name.remove_prefix(sep + 2);
    }
}

std::string upperCase(std::string_view text) {
    std::string out(text);
    for (char &c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

}  // namespace korvax::visa
