#include "errors.h"

#include <array>
#include <cstdio>
#include <string_view>

#include "KORVAX.h"

namespace korvax::tools {
namespace {

// Indexed by -10000 - code.
constexpr std::array<std::string_view, 54> kNames = {
    "LOAD_WINSOCK", "INVALID_IO", "BIND_PORT", "SET_TIMEOUT", "SEND", "RECEIVE", "CLOSE",
    "ROW_RANGE", "COLUMN_RANGE", "STATE_RANGE", "IP_CONFLICT", "ARRAY_SIZE", "ERROR_CODE",
    "NO_LOCATION", "CARD_IN_PLACE_SET", "UPDATE_FILE_OPEN", "NO_TYPE0_CARD", "NEWER_DRIVER",
    "SPI_LOOPBACK", "UPDATE_CHECK", "NOT_SUPPORTED", "POINT_DEFINITION", "DEVICE_TYPE", "HANDLE",
    "NO_TYPE1_CARD", "NO_TYPE2_CARD", "UNKNOWN_CARD_TYPE", "DEVICE_TYPE2", "SN_INPUT", "SN_UNSET",
    "CLOSURE_LIMIT", "BAD_IP", "BAD_HW_NUMBER", "BAD_SLOT", "CHASSIS_NUM", "MALLOC",
    "PARALLEL_TIMEOUT", "BAD_PORT", "PARAMETER", "BAD_MODEL", "MODE_CONFLICT", "SAME_MODE",
    "BAD_SUBUNIT", "INVALID_MODE", "FILE_MAPPING", "SHM_NOT_MAPPED", "SHM_CAPACITY",
    "INVALID_PORT", "RESOURCE_ABSENT", "USB_ADAPTER", "GPIB_ADDRESS", "BAUDRATE", "IP_MODE",
    "VISA_API"};

}  // namespace

std::string errorName(int32_t code) {
    if (code == 0) return "KORVAX_OK";
    if (code <= -10000 && code >= -10053) return "KORVAX_ERR_" + std::string(kNames[-10000 - code]);
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
