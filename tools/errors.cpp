#include "errors.h"

#include <array>
#include <cstdio>

#include "KORVAX.h"
#include "korvax/extensions.h"

namespace korvax::tools {

std::string errorName(int32_t code) {
    if (code < KORVAX_ERR_VISA_API) return KORVAX_ErrorName(KORVAX_ERR_VISA_API);
    return KORVAX_ErrorName(code);
}

std::string errorMessage(int32_t code) {
    char text[256] = {};
    if (KORVAX_ErrorCodeToMessage(code, text, sizeof text) < 0) return "status " + std::to_string(code);
    return text;
}

std::string visaStatusName(int32_t status) {
    struct Name {
        uint32_t status;
        const char *name;
    };
    static constexpr std::array<Name, 12> kNames = {{
        {0xBFFF0011u, "VI_ERROR_RSRC_NFOUND"},
        {0xBFFF0012u, "VI_ERROR_INV_RSRC_NAME"},
        {0xBFFF0015u, "VI_ERROR_TMO"},
        {0xBFFF003Eu, "VI_ERROR_IO"},
        {0xBFFF0072u, "VI_ERROR_RSRC_BUSY"},
        {0xBFFF00A6u, "VI_ERROR_CONN_LOST"},
        {0xBFFF009Eu, "VI_ERROR_LIBRARY_NFOUND"},
        {0xBFFF000Fu, "VI_ERROR_RSRC_LOCKED"},
        {0xBFFF001Du, "VI_ERROR_NSUP_ATTR"},
        {0xBFFF001Eu, "VI_ERROR_NSUP_ATTR_STATE"},
        {0xBFFF0000u, "VI_ERROR_SYSTEM_ERROR"},
        {0xBFFF0067u, "VI_ERROR_NSUP_OPER"},
    }};
    for (const auto &n : kNames)
        if (n.status == static_cast<uint32_t>(status)) return n.name;
    char text[40];
    std::snprintf(text, sizeof text, "VISA status 0x%08X", static_cast<uint32_t>(status));
    return text;
}

int32_t scpiFailure(std::string_view reply) {
    // The SCPI replies carry at most 99 characters of a message.
    for (int32_t code = KORVAX_ERR_LOAD_WINSOCK; code >= KORVAX_ERR_VISA_API; --code) {
        const std::string message = errorMessage(code);
        if (!reply.empty() && reply == std::string_view(message).substr(0, 99)) return code;
    }
    if (reply == "Send data failed!" || reply == "send data failed!") return KORVAX_ERR_SEND;
    if (reply == "Receive data failed!" || reply == "recv data failed!") return KORVAX_ERR_RECEIVE;
    for (std::string_view refusal : {"Error:", "Unknown ", "Invalid "})
        if (reply.starts_with(refusal)) return KORVAX_ERR_PARAMETER;
    return 0;
}

}  // namespace korvax::tools
