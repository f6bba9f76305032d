#include "visa/status_text.h"

#include <array>
#include <cstdio>
#include <utility>

namespace korvax::visa {
namespace {

constexpr std::array<std::pair<ViStatus, const char *>, 35> kTexts = {{
    {VI_SUCCESS, "VI_SUCCESS: Operation completed successfully."},
    {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR: The specified termination character was read."},
    {VI_SUCCESS_MAX_CNT, "VI_SUCCESS_MAX_CNT: The number of bytes read is equal to the input count."},
    {VI_SUCCESS_NESTED_SHARED, "VI_SUCCESS_NESTED_SHARED: Shared access lock acquired; the session already held one."},
    {VI_SUCCESS_NESTED_EXCLUSIVE, "VI_SUCCESS_NESTED_EXCLUSIVE: Exclusive lock acquired; the session already held one."},
    {VI_WARN_NULL_OBJECT, "VI_WARN_NULL_OBJECT: The specified object reference is uninitialized."},
    {VI_WARN_UNKNOWN_STATUS, "VI_WARN_UNKNOWN_STATUS: The status code passed to the operation could not be interpreted."},
    {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR: Unknown system error."},
    {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT: The given session or object reference is invalid."},
    {VI_ERROR_RSRC_LOCKED, "VI_ERROR_RSRC_LOCKED: Specified type of lock cannot be obtained, or the operation cannot be performed, because the resource is locked."},
    {VI_ERROR_INV_EXPR, "VI_ERROR_INV_EXPR: Invalid expression specified for search."},
    {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND: Insufficient location information, or the requested device or resource is not present in the system."},
    {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME: Invalid resource reference specified; parsing error."},
    {VI_ERROR_INV_ACC_MODE, "VI_ERROR_INV_ACC_MODE: Invalid access mode."},
    {VI_ERROR_TMO, "VI_ERROR_TMO: Timeout expired before operation completed."},
    {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR: The specified attribute is not defined or not supported by the referenced session or resource."},
    {VI_ERROR_NSUP_ATTR_STATE, "VI_ERROR_NSUP_ATTR_STATE: The specified state of the attribute is not valid or is not supported."},
    {VI_ERROR_ATTR_READONLY, "VI_ERROR_ATTR_READONLY: The specified attribute is read-only."},
    {VI_ERROR_INV_LOCK_TYPE, "VI_ERROR_INV_LOCK_TYPE: The specified type of lock is not supported by this resource."},
    {VI_ERROR_ABORT, "VI_ERROR_ABORT: User abort occurred during transfer."},
    {VI_ERROR_INV_SETUP, "VI_ERROR_INV_SETUP: Unable to start the operation because setup is invalid."},
    {VI_ERROR_ALLOC, "VI_ERROR_ALLOC: Insufficient system resources to perform the necessary memory allocation."},
    {VI_ERROR_INV_MASK, "VI_ERROR_INV_MASK: Invalid buffer mask specified."},
    {VI_ERROR_IO, "VI_ERROR_IO: Could not perform the operation because of an I/O error."},
    {VI_ERROR_NLISTENERS, "VI_ERROR_NLISTENERS: No listeners condition is detected."},
    {VI_ERROR_NSUP_OPER, "VI_ERROR_NSUP_OPER: The given session or object reference does not support this operation."},
    {VI_ERROR_USER_BUF, "VI_ERROR_USER_BUF: A specified user buffer is not valid or cannot be accessed for the required size."},
    {VI_ERROR_RSRC_BUSY, "VI_ERROR_RSRC_BUSY: The resource is valid, but VISA cannot currently access it."},
    {VI_ERROR_INV_PARAMETER, "VI_ERROR_INV_PARAMETER: The value of a parameter is invalid."},
    {VI_ERROR_INV_PROT, "VI_ERROR_INV_PROT: The protocol specified is invalid."},
    {VI_ERROR_INV_SIZE, "VI_ERROR_INV_SIZE: Invalid size of window specified."},
    {VI_ERROR_SESN_NLOCKED, "VI_ERROR_SESN_NLOCKED: The current session did not have any lock on the resource."},
    {VI_ERROR_LIBRARY_NFOUND, "VI_ERROR_LIBRARY_NFOUND: A code library required by VISA could not be located or loaded."},
    {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST: The connection for the given session has been lost."},
    {VI_ERROR_INV_ACCESS_KEY, "VI_ERROR_INV_ACCESS_KEY: The access key to the resource associated with this session is invalid."},
}};

}  // namespace

std::string statusDescription(ViStatus status) {
    for (const auto &[code, text] : kTexts)
        if (code == status) return text;
    char buf[64];
    std::snprintf(buf, sizeof buf, "Unknown status 0x%08X.", static_cast<unsigned>(status));
    return buf;
}

}  // namespace korvax::visa
