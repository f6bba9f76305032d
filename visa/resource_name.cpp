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

std::string upperCase(std::string_view text) {
    std::string out(text);
    for (char &c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::vector<std::string> fields(const std::string &name) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t sep = name.find("::", start);
        out.push_back(
            name.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
        if (sep == std::string::npos) return out;
        start = sep + 2;
    }
}

}  // namespace

std::optional<std::string> canonicalResourceName(std::string_view name) {
    if (name.empty() || name.size() >= 256) return std::nullopt;
    if (std::any_of(name.begin(), name.end(), [](char c) {
            return std::isspace(static_cast<unsigned char>(c)) ||
                   std::iscntrl(static_cast<unsigned char>(c));
        }))
        return std::nullopt;
    std::vector<std::string> parts = fields(upperCase(name));
    if (std::any_of(parts.begin(), parts.end(), [](const std::string &f) { return f.empty(); }))
        return std::nullopt;

    std::string &head = parts.front();
    const auto interface = std::find_if(kInterfaces.begin(), kInterfaces.end(),
                                        [&](std::string_view i) { return head.starts_with(i); });
    if (interface == kInterfaces.end()) return std::nullopt;
    const std::string_view board = std::string_view(head).substr(interface->size());
    if (*interface == "ASRL") {
        // Serial ports are named by number or by device path; either must be there.
        if (board.empty()) return std::nullopt;
    } else if (board.empty()) {
        head += '0';
    } else if (!std::all_of(board.begin(), board.end(),
                            [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return std::nullopt;
    }

    const bool hasClass = parts.size() > 1 && std::find(kClasses.begin(), kClasses.end(),
                                                        parts.back()) != kClasses.end();
    if (!hasClass) parts.emplace_back("INSTR");
    if (parts.size() < 2) return std::nullopt;

    std::string out = parts.front();
    for (std::size_t i = 1; i < parts.size(); ++i) out += "::" + parts[i];
    return out;
}

bool isSerialResource(std::string_view name) {
    return upperCase(name.substr(0, std::min<std::size_t>(4, name.size()))) == "ASRL";
}

}  // namespace korvax::visa
