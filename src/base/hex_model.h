// The model field of an identification answer written as a hexadecimal
// model code ("41A", "041A" or "0x41A"), as the Windows driver reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace korvax {

// The code, or nothing when the field is not one to four hex digits (after
// an optional 0x and with surrounding blanks ignored): a longer or mixed
// field names no model rather than a code cut from it.
std::optional<uint16_t> parseHexModel(std::string_view field);

}  // namespace korvax
