"""The library's status codes, their names and messages, and the exception."""
from __future__ import annotations

import ctypes

from ._library import library

# Names as the C header spells them (KORVAX_ERR_ + this), indexed by -10000 - code.
_NAMES = (
    "LOAD_WINSOCK", "INVALID_IO", "BIND_PORT", "SET_TIMEOUT", "SEND", "RECEIVE", "CLOSE",
    "ROW_RANGE", "COLUMN_RANGE", "STATE_RANGE", "IP_CONFLICT", "ARRAY_SIZE", "ERROR_CODE",
    "NO_LOCATION", "CARD_IN_PLACE_SET", "UPDATE_FILE_OPEN", "NO_TYPE0_CARD", "NEWER_DRIVER",
    "SPI_LOOPBACK", "UPDATE_CHECK", "NOT_SUPPORTED", "POINT_DEFINITION", "DEVICE_TYPE", "HANDLE",
    "NO_TYPE1_CARD", "NO_TYPE2_CARD", "UNKNOWN_CARD_TYPE", "DEVICE_TYPE2", "SN_INPUT", "SN_UNSET",
    "CLOSURE_LIMIT", "BAD_IP", "BAD_HW_NUMBER", "BAD_SLOT", "CHASSIS_NUM", "MALLOC",
    "PARALLEL_TIMEOUT", "BAD_PORT", "PARAMETER", "BAD_MODEL", "MODE_CONFLICT", "SAME_MODE",
    "BAD_SUBUNIT", "INVALID_MODE", "FILE_MAPPING", "SHM_NOT_MAPPED", "SHM_CAPACITY",
    "INVALID_PORT", "RESOURCE_ABSENT", "USB_ADAPTER", "GPIB_ADDRESS", "BAUDRATE", "IP_MODE",
    "VISA_API",
)

#: Every KORVAX_ERR_ name with its code.
CODES: dict[str, int] = {f"KORVAX_ERR_{name}": -10000 - i for i, name in enumerate(_NAMES)}


def error_name(code: int) -> str:
    """``KORVAX_ERR_...`` for a library code, ``KORVAX_OK`` for 0, else a VISA status in hex."""
    if code == 0:
        return "KORVAX_OK"
    if -10053 <= code <= -10000:
        return f"KORVAX_ERR_{_NAMES[-10000 - code]}"
    return f"VISA status 0x{code & 0xFFFFFFFF:08X}"


def error_message(code: int) -> str:
    """The library's own message for a status code."""
    text = ctypes.create_string_buffer(256)
    if library().KORVAX_ErrorCodeToMessage(code, text, len(text)) < 0:
        return f"status {code}"
    return text.value.decode(errors="replace")


class KorvaxError(Exception):
    """A call that the library or the instrument refused.

    Attributes: ``code`` (the negative status), ``name`` (its ``KORVAX_ERR_`` name),
    ``message`` (the library's text) and ``operation`` (what was being done).
    """

    def __init__(self, code: int, operation: str = "") -> None:
        self.code = code
        self.name = error_name(code)
        self.message = error_message(code)
        self.operation = operation
        where = f"{operation}: " if operation else ""
        super().__init__(f"{where}{self.message} ({code} {self.name})")


def check(status: int, operation: str) -> int:
    """Returns a non-negative status; raises KorvaxError for a negative one."""
    if status < 0:
        raise KorvaxError(status, operation)
    return status
