#include "sim/config_keys.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <map>
#include <vector>

namespace korvax::sim {
namespace {

// A minute: longer is no relay, and would hold a client past any timeout.
constexpr uint64_t kMaxReplyDelayMs = 60000;

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::vector<std::string_view> splitList(std::string_view s) {
    std::vector<std::string_view> out;
    for (;;) {
        const std::size_t comma = s.find(',');
        out.push_back(trim(s.substr(0, comma)));
        if (comma == std::string_view::npos) return out;
        s.remove_prefix(comma + 1);
    }
}

// A whole number, decimal or with 0x in hexadecimal.
std::optional<uint64_t> number(std::string_view s, uint64_t max) {
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size() || value > max)
        return std::nullopt;
    return value;
}

std::optional<uint64_t> hex(std::string_view s, uint64_t max) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 16);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size() || value > max)
        return std::nullopt;
    return value;
}

// "3.06" as the library prints it: two hexadecimal bytes.
std::optional<Version> version(std::string_view s) {
    const std::size_t dot = s.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    const auto major = hex(s.substr(0, dot), 0xFF);
    const auto minor = hex(s.substr(dot + 1), 0xFF);
    if (!major || !minor || dot > 2 || s.size() - dot - 1 > 2) return std::nullopt;
    return Version{static_cast<uint8_t>(*major), static_cast<uint8_t>(*minor)};
}

std::optional<bool> flag(std::string_view s, std::string_view no, std::string_view yes) {
    const std::string v = lower(s);
    if (v == "0" || v == no) return false;
    if (v == "1" || v == yes) return true;
    return std::nullopt;
}

std::optional<uint32_t> serial(std::string_view s) {
    if (lower(s) == "unset") return kSerialUnset;
    const auto v = number(s, 0xFFFFFFFFu);
    if (!v) return std::nullopt;
    return static_cast<uint32_t>(*v);
}

// Applies one key; returns the complaint, empty when the line is good.
using Setter = std::function<std::string(Config &, std::string_view)>;

template <typename T>
std::string set(T &field, std::optional<T> value, std::string_view expected) {
    if (!value) return "expected " + std::string(expected);
    field = *value;
    return {};
}

// A count for a key whose absence means "never": set, it holds a value.
std::optional<std::optional<uint64_t>> count(std::string_view s) {
    const auto n = number(s, UINT32_MAX);
    if (!n) return std::nullopt;
    return std::optional<uint64_t>(*n);
}

template <typename T>
std::optional<T> narrow(std::optional<uint64_t> v) {
    return v ? std::optional<T>(static_cast<T>(*v)) : std::nullopt;
}

const std::map<std::string, Setter, std::less<>> &chassisKeys() {
    static const std::map<std::string, Setter, std::less<>> keys = {
        {"idn-maker",
         [](Config &c, std::string_view v) {
             c.idnMaker = v;
             return std::string();
         }},
        {"idn-model",
         [](Config &c, std::string_view v) {
             c.idnModel = v;
             return std::string();
         }},
        {"serial",
         [](Config &c, std::string_view v) {
             return set(c.serial, serial(v), "a serial number or \"unset\"");
         }},
        {"hw-version",
         [](Config &c, std::string_view v) {
             return set(c.hwVersion, narrow<uint8_t>(number(v, 255)), "a number 0..255");
         }},
        {"maker-code",
         [](Config &c, std::string_view v) {
             if (v.size() != 2) return std::string("expected two characters");
             c.makerCode = {v[0], v[1]};
             return std::string();
         }},
        {"adapter-code",
         [](Config &c, std::string_view v) {
             return set(c.adapterCode, narrow<uint16_t>(hex(v, 0xFFFF)),
                        "a hexadecimal code such as 041A");
         }},
        {"firmware",
         [](Config &c, std::string_view v) {
             std::vector<Version> pairs;
             for (std::string_view item : splitList(v)) {
                 const auto ver = version(item);
                 if (!ver) return std::string("expected versions such as 3.06, 1.02");
                 pairs.push_back(*ver);
             }
             c.firmware = std::move(pairs);
             return std::string();
         }},
        {"comm-firmware",
         [](Config &c, std::string_view v) {
             return set(c.commFirmware, version(v), "a version such as 1.02");
         }},
        {"fitted",
         [](Config &c, std::string_view v) {
             const std::string all = lower(v);
             if (all == "all" || all == "none") {
                 for (auto &s : c.slots) s.fitted = all == "all";
                 return std::string();
             }
             std::vector<bool> fitted(c.slots.size(), false);
             for (std::string_view item : splitList(v)) {
                 const auto n = number(item, c.slots.size());
                 if (!n || *n == 0)
                     return "expected \"all\", \"none\" or slot numbers 1.." +
                            std::to_string(c.slots.size());
                 fitted[*n - 1] = true;
             }
             for (std::size_t i = 0; i < c.slots.size(); ++i) c.slots[i].fitted = fitted[i];
             return std::string();
         }},
        {"rf-kind",
         [](Config &c, std::string_view v) {
             return set(c.rfCardKind, narrow<uint8_t>(number(v, 255)), "a number 0..255");
         }},
        {"adapter",
         [](Config &c, std::string_view v) {
             return set(c.adapterFitted, flag(v, "no", "yes"), "yes or no");
         }},
        {"control-mode",
         [](Config &c, std::string_view v) {
             const auto remote = flag(v, "local", "remote");
             return set(c.controlMode, remote ? std::optional<uint8_t>(*remote) : std::nullopt,
                        "local or remote (0 or 1)");
         }},
        {"ip",
         [](Config &c, std::string_view v) {
             std::array<uint8_t, 4> ip{};
             std::size_t count = 0;
             for (std::string_view rest = v;; ++count) {
                 const std::size_t dot = rest.find('.');
                 const auto octet = number(rest.substr(0, dot), 255);
                 if (!octet || count >= 4)
                     return std::string("expected an address such as 192.168.1.10");
                 ip[count] = static_cast<uint8_t>(*octet);
                 if (dot == std::string_view::npos) break;
                 rest.remove_prefix(dot + 1);
             }
             if (count != 3) return std::string("expected an address such as 192.168.1.10");
             c.ip = ip;
             return std::string();
         }},
        {"lan-mode",
         [](Config &c, std::string_view v) {
             const auto automatic = flag(v, "manual", "auto");
             return set(c.lanMode, automatic ? std::optional<uint8_t>(*automatic) : std::nullopt,
                        "manual or auto (0 or 1)");
         }},
        {"gpib",
         [](Config &c, std::string_view v) {
             const auto a = number(v, 30);
             return set(c.gpibAddress, a && *a >= 1 ? narrow<uint8_t>(a) : std::nullopt,
                        "an address 1..30");
         }},
        {"reply-delay-ms",
         [](Config &c, std::string_view v) {
             return set(c.replyDelayMs, narrow<uint32_t>(number(v, kMaxReplyDelayMs)),
                        "milliseconds 0.." + std::to_string(kMaxReplyDelayMs));
         }},
        {"refuse-after",
         [](Config &c, std::string_view v) {
             return set(c.refuseFramesAfter, count(v), "a number of relay frames");
         }},
        {"drop-after",
         [](Config &c, std::string_view v) {
             return set(c.dropAfter, count(v), "a number of requests");
         }},
        {"baud",
         [](Config &c, std::string_view v) {
             const auto b = number(v, 115200);
             const bool ok =
                 b && (*b == 9600 || *b == 19200 || *b == 38400 || *b == 57600 || *b == 115200);
             return set(c.baudRate, ok ? narrow<uint32_t>(b) : std::nullopt,
                        "9600, 19200, 38400, 57600 or 115200");
         }},
    };
    return keys;
}

// "slot<N>.<field>" for the card in physical slot N (1-based).
std::string setSlot(Config &c, std::string_view key, std::string_view v) {
    key.remove_prefix(4);
    const std::size_t dot = key.find('.');
    const auto n = number(key.substr(0, dot), 255);
    if (dot == std::string_view::npos || !n) return "unknown key";
    if (*n < 1 || *n > c.slots.size())
        return "this chassis has slots 1.." + std::to_string(c.slots.size());
    Slot &slot = c.slots[*n - 1];
    const std::string_view field = key.substr(dot + 1);
    if (field == "serial") return set(slot.serial, serial(v), "a serial number or \"unset\"");
    if (field == "hw")
        return set(slot.hwVersion, narrow<uint8_t>(number(v, 255)), "a number 0..255");
    if (field == "loopback")
        return set(slot.loopback, narrow<uint8_t>(number(v, 15)), "a line mask 0..15");
    return "unknown key";
}

}  // namespace

std::optional<Config> configFromLines(std::span<const ConfigLine> lines, int sectionLine,
                                      const Complaint &complain) {
    std::optional<Config> config;
    bool modelGiven = false;
    for (const ConfigLine &e : lines) {
        if (e.key != "model") continue;
        modelGiven = true;
        if (const auto model = parseModel(e.value))
            config = Config::forModel(*model);
        else
            complain(e.line, "model: expected RQ520, RQ520B, RQ521, RQ522, RQ523 or RQ523B");
    }
    if (!modelGiven) complain(sectionLine, "no model given");
    if (!config) return std::nullopt;
    for (const ConfigLine &e : lines) {
        if (e.key == "model") continue;
        std::string complaint;
        if (const auto it = chassisKeys().find(e.key); it != chassisKeys().end())
            complaint = it->second(*config, e.value);
        else if (e.key.starts_with("slot"))
            complaint = setSlot(*config, e.key, e.value);
        else
            complaint = "unknown key";
        if (!complaint.empty()) complain(e.line, e.key + ": " + complaint);
    }
    // Checked once every key is in: the firmware decides the layout.
    for (const ConfigLine &e : lines)
        if (e.key == "serial" && usesOldSlotLayout(*config) && config->serial != kSerialUnset &&
            config->serial > kOldLayoutSerialMax)
            complain(e.line, "serial: an " + std::string(modelName(config->model)) +
                                 " with firmware before 3.06 stores 7 digits (at most " +
                                 std::to_string(kOldLayoutSerialMax) + ")");
    return config;
}

}  // namespace korvax::sim
