#include "sim/config.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <stdexcept>

namespace korvax::sim {

bool isModel(uint16_t model) {
    return std::find(kModels.begin(), kModels.end(), model) != kModels.end();
}

std::string_view modelName(uint16_t model) {
    switch (model) {
    case kRQ520: return "RQ520";
    case kRQ520B: return "RQ520B";
    case kRQ521: return "RQ521";
    case kRQ522: return "RQ522";
    case kRQ523: return "RQ523";
    case kRQ523B: return "RQ523B";
    default: return "";
    }
}

std::optional<uint16_t> parseModel(std::string_view text) {
    std::string upper(text);
    for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (uint16_t m : kModels)
        if (upper == modelName(m)) return m;
    std::string_view digits = upper;
    if (digits.starts_with("0X")) digits.remove_prefix(2);
    if (digits.size() != 4) return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (ec != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
    if (!isModel(static_cast<uint16_t>(value))) return std::nullopt;
    return static_cast<uint16_t>(value);
}

bool hasRfAndAdapter(uint16_t model) {
    return model == kRQ520 || model == kRQ520B;
}

Version controllerVersion(const Config &config) {
    const auto &fw = config.firmware;
    if (hasRfAndAdapter(config.model) && fw.size() > 1 && (fw[1].major || fw[1].minor))
        return fw[1];
    return fw.empty() ? Version{} : fw[0];
}

bool usesOldSlotLayout(const Config &config) {
    return hasRfAndAdapter(config.model) && controllerVersion(config) < Version{3, 6};
}

Geometry geometry(const Config &config) {
    switch (config.model) {
    case kRQ520:
    case kRQ520B:
        // Firmware 0.x and 1.x drive the cards with a thirteenth word.
        return {6, 5, controllerVersion(config).major <= 1 ? 13 : 12, 12, 10};
    case kRQ521: return {4, 4, 13, 10, 12};
    case kRQ522: return {21, 21, 49, 16, 96};
    default: return {1, 1, 10, 8, 12};
    }
}

Config Config::forModel(uint16_t model) {
    if (!isModel(model)) throw std::invalid_argument("not a chassis model code");
    Config c;
    c.model = model;
    c.adapterCode = 0;
    const Geometry g = geometry(c);
    c.slots.resize(static_cast<std::size_t>(g.slotTotal));
    for (std::size_t i = 0; i < c.slots.size(); ++i) {
        c.slots[i].serial = 87650001u + static_cast<uint32_t>(i);
        c.slots[i].hwVersion = 10;
    }
    if (hasRfAndAdapter(model)) {
        // The RF card in slot 6 identifies itself by a hardware code above 9.
        c.slots[5].hwVersion = 12;
    }
    return c;
}

}  // namespace korvax::sim
