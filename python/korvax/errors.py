"""The library's status codes, their names and messages, and the exception."""
from __future__ import annotations

import ctypes

from ._library import library


def _name(code: int) -> str:
    return library().KORVAX_ErrorName(code).decode()


#: Every KORVAX_ERR_ name with its code (the library spells them as its header does).
CODES: dict[str, int] = {_name(code): code for code in range(-10000, -10054, -1)}


def error_name(code: int) -> str:
    """``KORVAX_ERR_...`` for a library code, ``KORVAX_OK`` for 0, else a VISA status in hex."""
    name = _name(code) if -10053 <= code <= 0 else ""
    return name or f"VISA status 0x{code & 0xFFFFFFFF:08X}"


def error_message(code: int) -> str:
    """The library's own message for a status code."""
    text = ctypes.create_string_buffer(256)
    if library().KORVAX_ErrorCodeToMessage(code, text, len(text)) < 0:
        return f"status {code}"
    return text.value.decode(errors="replace")


class KorvaxError(Exception):
    """A call that the library or the instrument refused.

    Attributes: ``code`` (the negative status), ``name`` (its ``KORVAX_ERR_`` name),
    ``message`` (the library's text), ``operation`` (what was being done) and
    ``detail`` (what the transport saw or what to do about it; may be empty).
    """

    def __init__(self, code: int, operation: str = "", detail: str = "") -> None:
        self.code = code
        self.name = error_name(code)
        self.message = error_message(code)
        self.operation = operation
        self.detail = detail
        where = f"{operation}: " if operation else ""
        more = f"; {detail}" if detail else ""
        super().__init__(f"{where}{self.message} ({code} {self.name}){more}")


def check(status: int, operation: str, detail: str = "") -> int:
    """Returns a non-negative status; raises KorvaxError for a negative one."""
    if status < 0:
        raise KorvaxError(status, operation, detail)
    return status
