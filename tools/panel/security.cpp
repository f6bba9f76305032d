#include "security.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace korvax::panel {
namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::optional<int> port(std::string_view text) {
    int p = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), p);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || p < 0 || p > 65535) return std::nullopt;
    return p;
}

// Splits "HOST:PORT" / "[V6]:PORT" / "HOST"; the port is empty when absent.
bool splitHostPort(std::string_view text, std::string &host, std::string_view &portText) {
    portText = {};
    if (text.starts_with('[')) {
        const auto close = text.find(']');
        if (close == std::string_view::npos) return false;
        host = std::string(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        if (rest.empty()) return true;
        if (rest.front() != ':') return false;
        portText = rest.substr(1);
        return true;
    }
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        host = std::string(text);
        return true;
    }
    if (text.find(':') != colon) return false;  // a bare IPv6 address needs brackets
    host = std::string(text.substr(0, colon));
    portText = text.substr(colon + 1);
    return true;
}

}  // namespace

std::optional<ListenAddress> parseListen(std::string_view text) {
    std::string host;
    std::string_view portText;
    if (!splitHostPort(text, host, portText) || host.empty() || portText.empty()) return std::nullopt;
    const auto p = port(portText);
    if (!p) return std::nullopt;
    return ListenAddress{host, *p};
}

bool isLoopbackHost(std::string_view host) {
    const std::string h = lower(host);
    if (h == "localhost" || h == "::1") return true;
    // 127.0.0.0/8 written as a dotted quad.
    if (!h.starts_with("127.")) return false;
    int parts = 0;
    size_t at = 0;
    while (at <= h.size()) {
        const size_t dot = std::min(h.find('.', at), h.size());
        const auto value = port(std::string_view(h).substr(at, dot - at));
        if (dot == at || !value || *value > 255) return false;
        ++parts;
        at = dot + 1;
    }
    return parts == 4;
}

bool isLoopbackHostHeader(std::string_view header, int listenPort) {
    std::string host;
    std::string_view portText;
    if (!splitHostPort(trim(header), host, portText)) return false;
    const std::string h = lower(host);
    if (h != "127.0.0.1" && h != "localhost" && h != "::1") return false;
    if (portText.empty()) return listenPort == 80;
    const auto p = port(portText);
    return p && *p == listenPort;
}

bool bearerMatches(std::string_view header, std::string_view token) {
    header = trim(header);
    constexpr std::string_view scheme = "bearer ";
    if (header.size() < scheme.size() || lower(header.substr(0, scheme.size())) != scheme) return false;
    const std::string_view given = trim(header.substr(scheme.size()));
    // Every byte of the longer text is looked at whatever matched before.
    unsigned diff = given.size() == token.size() ? 0u : 1u;
    const size_t n = std::max(given.size(), token.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char a = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        const unsigned char b = i < token.size() ? static_cast<unsigned char>(token[i]) : 0;
        diff |= static_cast<unsigned>(a ^ b);
    }
    return diff == 0 && !token.empty();
}

bool isJsonContentType(std::string_view header) {
    const std::string_view type = trim(header.substr(0, header.find(';')));
    return lower(type) == "application/json";
}

int jsonDepth(std::string_view text) {
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') inString = true;
        else if (c == '[' || c == '{') deepest = std::max(deepest, ++depth);
        else if (c == ']' || c == '}') --depth;
    }
    return deepest;
}

}  // namespace korvax::panel
