#include "base/hex_model.h"

namespace korvax {

std::optional<uint16_t> parseHexModel(std::string_view field) {
    while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
    while (!field.empty() && field.back() == ' ') field.remove_suffix(1);
    if (field.size() > 2 && field[0] == '0' && (field[1] == 'x' || field[1] == 'X'))
        field.remove_prefix(2);
    if (field.empty() || field.size() > 4) return std::nullopt;
    uint16_t code = 0;
    for (const char ch : field) {
        unsigned digit;
        if (ch >= '0' && ch <= '9') digit = static_cast<unsigned>(ch - '0');
        else if (ch >= 'a' && ch <= 'f') digit = static_cast<unsigned>(ch - 'a' + 10);
        else if (ch >= 'A' && ch <= 'F') digit = static_cast<unsigned>(ch - 'A' + 10);
        else return std::nullopt;
        code = static_cast<uint16_t>(code * 16 + digit);
    }
    return code;
}

}  // namespace korvax
