#include "errors.h"

#include <cstdio>
#include <string_view>

#include "KORVAX.h"
#include "api/errors.h"

namespace korvax::tools {

std::string errorName(int32_t code) {
    if (code == 0) return "KORVAX_OK";
    if (const std::string_view name = ErrorCodeName(code); !name.empty()) return std::string(name);
    char text[40];
    std::snprintf(text, sizeof text, "VISA status 0x%08X", static_cast<uint32_t>(code));
    return text;
}

std::string errorMessage(int32_t code) {
    char text[256] = {};
    if (KORVAX_ErrorCodeToMessage(code, text, sizeof text) < 0) return "status " + std::to_string(code);
    return text;
}

}  // namespace korvax::tools
