// Messages of the library's status codes. The texts are part of the
// interface (applications compare them), spelling and spacing included.
#include <cstring>

#include "KORVAX.h"
#include "api/errors.h"

const char errmsg[KORVAX_ERRMSG_COUNT][256] = {
    "VISA_IO:Load winsock error",
    "VISA_IO:Invalid VISA_IO",
    "VISA_IO:Bind port fail, Please check the port is in use",
    "VISA_IO:Set timeout fail",
    "VISA_IO:Network communicate fail,Send data fail",
    "VISA_IO:Network communicate fail,Receive data fail",
    "VISA_IO:Close VISA_IO fail,invalid VISA_IO handle",
    "Matrix row value out of range",
    "Matrix column value out of range",
    "Matrix state value out of range",
    "VISA_IO:IP address conflict",
    "Matrix Array size error",
    "ErrorCode error",
    "Can not found physics location",
    "Card in place set error",
    "Online Update file open fail",
    "No Type0 card",
    "Card requires newer driver",
    "Spi loop back fail",
    "Online update check fail",
    "MCU Software Version is not Supported or Hardware Does Not Support This Function",
    "Point Definition Error ",
    "RF Device Type Error",
    "Handle Error, Not Found This Handle or ResourceName",
    "No Type1 card Exists",
    "No Type2 card Exists",
    "Unknown CardType",
    "Device Type 2 Not Recognized",
    "Input SN_Num Error",
    "SN_Num Unset",
    "Relay Closure Limit Exceeded",
    "Bad IP Address",
    "Bad Input HardWare Number",
    "Bad Input Slot Number",
    "Chassis Num error",
    "malloc error",
    "Parallel signal timeout",
    "Bad Input Port Number",
    "parameter error",
    "Bad Model Number",
    "Local/Remote Control Mode Conflict",
    "Now In Same Control Mode",
    "Bad Input subUnit Number",
    "Invalid Mode",
    "Could not create file mapping object",
    "Shared memory is not mapped",
    "Data size exceeds shared memory capacity",
    "This Port Number is Invalid",
    "Resource is not present in the system",
    "USB Error: Adapter card failed to connect. Check connection",
    "Invalid GPIB Address, Please check the GPIB address between 1~30",
    "Invalid Baudrate, Please set the baudrate:9600/19200/38400/57600/115200",
    "Invalid IP Communication Mode Setting, Please set the IP Communication Mode: 0/1 (ManualIP/AutoIP)",
    "Error caused by VISA API",
};

namespace {
// Entry n names code -10000 - n, as the public header spells it.
constexpr const char *kCodeNames[KORVAX_ERRMSG_COUNT] = {
    "KORVAX_ERR_LOAD_WINSOCK", "KORVAX_ERR_INVALID_IO", "KORVAX_ERR_BIND_PORT",
    "KORVAX_ERR_SET_TIMEOUT", "KORVAX_ERR_SEND", "KORVAX_ERR_RECEIVE", "KORVAX_ERR_CLOSE",
    "KORVAX_ERR_ROW_RANGE", "KORVAX_ERR_COLUMN_RANGE", "KORVAX_ERR_STATE_RANGE",
    "KORVAX_ERR_IP_CONFLICT", "KORVAX_ERR_ARRAY_SIZE", "KORVAX_ERR_ERROR_CODE",
    "KORVAX_ERR_NO_LOCATION", "KORVAX_ERR_CARD_IN_PLACE_SET", "KORVAX_ERR_UPDATE_FILE_OPEN",
    "KORVAX_ERR_NO_TYPE0_CARD", "KORVAX_ERR_NEWER_DRIVER", "KORVAX_ERR_SPI_LOOPBACK",
    "KORVAX_ERR_UPDATE_CHECK", "KORVAX_ERR_NOT_SUPPORTED", "KORVAX_ERR_POINT_DEFINITION",
    "KORVAX_ERR_DEVICE_TYPE", "KORVAX_ERR_HANDLE", "KORVAX_ERR_NO_TYPE1_CARD",
    "KORVAX_ERR_NO_TYPE2_CARD", "KORVAX_ERR_UNKNOWN_CARD_TYPE", "KORVAX_ERR_DEVICE_TYPE2",
    "KORVAX_ERR_SN_INPUT", "KORVAX_ERR_SN_UNSET", "KORVAX_ERR_CLOSURE_LIMIT", "KORVAX_ERR_BAD_IP",
    "KORVAX_ERR_BAD_HW_NUMBER", "KORVAX_ERR_BAD_SLOT", "KORVAX_ERR_CHASSIS_NUM",
    "KORVAX_ERR_MALLOC", "KORVAX_ERR_PARALLEL_TIMEOUT", "KORVAX_ERR_BAD_PORT",
    "KORVAX_ERR_PARAMETER", "KORVAX_ERR_BAD_MODEL", "KORVAX_ERR_MODE_CONFLICT",
    "KORVAX_ERR_SAME_MODE", "KORVAX_ERR_BAD_SUBUNIT", "KORVAX_ERR_INVALID_MODE",
    "KORVAX_ERR_FILE_MAPPING", "KORVAX_ERR_SHM_NOT_MAPPED", "KORVAX_ERR_SHM_CAPACITY",
    "KORVAX_ERR_INVALID_PORT", "KORVAX_ERR_RESOURCE_ABSENT", "KORVAX_ERR_USB_ADAPTER",
    "KORVAX_ERR_GPIB_ADDRESS", "KORVAX_ERR_BAUDRATE", "KORVAX_ERR_IP_MODE", "KORVAX_ERR_VISA_API",
};
}  // namespace

extern "C" KORVAX_API int32_t KORVAX_ErrorCodeToMessage(int64_t code, char *message,
                                                        uint64_t size) {
    if (code >= -9999 || message == nullptr) return KORVAX_ERR_ERROR_CODE;
    const char *text = korvax::errorText(code);
    const uint64_t len = std::strlen(text);
    if (size > len) {
        std::memcpy(message, text, len + 1);
    } else if (size > 0) {
        std::memcpy(message, text, size - 1);
        message[size - 1] = '\0';
    }
    return 0;
}

namespace korvax {
const char *errorText(int64_t code) {
    if (code >= -9999) return "";
    // VISA statuses are far below our range: they all read as a VISA error
    // (tested before negating, which would overflow for the lowest code).
    return errmsg[code < -10053 ? KORVAX_ERRMSG_COUNT - 1 : -code - 10000];
}
}  // namespace korvax

const char *ErrorCodeName(int64_t code) {
    if (code > -10000 || code < -10053) return "";
    return kCodeNames[-code - 10000];
}
