"""Finding and loading libKORVAX, and the C signatures used from it."""
from __future__ import annotations

import ctypes
import ctypes.util
import os
from pathlib import Path

_SONAME = "libKORVAX.so.1"


class LibraryNotFound(OSError):
    """libKORVAX (or libkorvaxswitch) could not be loaded from any of the places looked at."""

    def __init__(self, tried: list[tuple[str, str]], name: str = "libKORVAX",
                 variable: str = "KORVAX_LIBRARY") -> None:
        self.tried = tried
        lines = "\n".join(f"  {path}: {why}" for path, why in tried)
        super().__init__(f"{name} could not be loaded; set {variable} to its path. Tried:\n" + lines)


def candidates() -> list[str]:
    """Paths and names tried in order: KORVAX_LIBRARY, beside the package, the system."""
    out: list[str] = []
    explicit = os.environ.get("KORVAX_LIBRARY")
    if explicit:
        out.append(explicit)
    here = Path(__file__).resolve().parent
    out += [str(here / _SONAME), str(here / "libKORVAX.so")]
    out.append(_SONAME)
    found = ctypes.util.find_library("KORVAX")
    if found and found not in out:
        out.append(found)
    return out


def companion(soname: str, variable: str) -> list[str]:
    """Where a library built with libKORVAX is looked for: the path in `variable`, beside the
    libKORVAX loaded (they come from one build), beside the package, then the system."""
    out: list[str] = []
    explicit = os.environ.get(variable)
    if explicit:
        out.append(explicit)
    places = [Path(__file__).resolve().parent / soname]
    loaded = library()._name
    if os.sep in loaded:  # a path, not a name the system's loader looked up
        places.insert(0, Path(loaded).resolve().parent / soname)
    for path in [str(p) for p in places] + [soname]:
        if path not in out:
            out.append(path)
    return out


def load_companion(soname: str, variable: str, declare) -> ctypes.CDLL:
    """Loads a library built with libKORVAX (after libKORVAX); raises LibraryNotFound."""
    tried: list[tuple[str, str]] = []
    for path in companion(soname, variable):
        try:
            lib = ctypes.CDLL(path)
        except OSError as error:
            tried.append((path, str(error).split(": ")[-1] or "cannot be loaded"))
            continue
        try:
            declare(lib)
        except AttributeError as error:
            tried.append((path, f"not {soname} ({error})"))
            continue
        return lib
    raise LibraryNotFound(tried, soname, variable)


class Geometry(ctypes.Structure):
    """KORVAX_Geometry of korvax/extensions.h."""

    _fields_ = [
        ("model", ctypes.c_uint16),
        ("subUnits", ctypes.c_uint16),
        ("rows", ctypes.c_uint16),
        ("switchableRows", ctypes.c_uint16),
        ("positions", ctypes.c_uint16),
        ("cardColumns", ctypes.c_uint16),
        ("columns", ctypes.c_uint16),
        ("cardsFitted", ctypes.c_uint16),
        ("stateWords", ctypes.c_uint16),
        ("closureLimit", ctypes.c_int32),
    ]


class ProbeReport(ctypes.Structure):
    """KORVAX_ProbeReport of korvax/extensions.h."""

    _fields_ = [
        ("resource", ctypes.c_char * 256),
        ("outcome", ctypes.c_int32),
        ("status", ctypes.c_int32),
        ("model", ctypes.c_uint16),
        ("baudRate", ctypes.c_uint32),
        ("reply", ctypes.c_char * 128),
    ]


def _declare(lib: ctypes.CDLL) -> None:
    u32, i32, i64, u64 = ctypes.c_uint32, ctypes.c_int32, ctypes.c_int64, ctypes.c_uint64
    p_u32, p_char = ctypes.POINTER(u32), ctypes.c_char_p
    signatures = {
        "KORVAX_GetLibVersion": (None, [p_char]),
        "KORVAX_ErrorCodeToMessage": (i32, [i64, p_char, u64]),
        "KORVAX_ErrorName": (p_char, [i64]),
        "KORVAX_ModelName": (p_char, [ctypes.c_uint16]),
        "KORVAX_GetGeometry": (i32, [u32, i64, ctypes.POINTER(Geometry)]),
        "KORVAX_GetStoredState": (i32, [u32, i64, p_u32, i32]),
        "KORVAX_SetTimeout": (i32, [u32, u32]),
        "KORVAX_GetDiscoveryReport": (i32, [u32, ctypes.POINTER(ProbeReport)]),
        "KORVAX_FindRsrc": (i32, [ctypes.c_void_p, p_u32]),
        "KORVAX_Connect": (i32, [p_char, p_u32]),
        "KORVAX_OpenSpecifiedCard": (i32, [u32, i64, ctypes.POINTER(i64)]),
        "KORVAX_Init": (i32, [u32, i64]),
        "KORVAX_Clear": (i32, [u32, i64]),
        "KORVAX_OpMatrix": (i32, [u32, ctypes.c_long, p_u32, i32]),
        "KORVAX_SCPIQuery": (None, [u32, p_char, p_char]),
        "KORVAX_GetDeviceInfo": (i32, [u32, p_char, p_char, p_char, p_char, u64]),
        "KORVAX_GetSN": (i32, [u32, p_u32, u32]),
        "KORVAX_GetHWVersion": (i32, [u32, p_char, u64]),
        "KORVAX_GetSWVersion": (i32, [u32, p_char, u64]),
        "KORVAX_GetCardType": (i32, [u32, i64, p_char]),
        "KORVAX_GetCardSize": (i32, [p_char, p_char]),
        "KORVAX_GetCOMMIPAddr": (i32, [u32, p_char]),
        "KORVAX_SetIPAddress": (i32, [u32, p_char]),
        "KORVAX_GetLANMode": (i32, [u32, p_u32]),
        "KORVAX_SetLANMode": (i32, [u32, u32]),
        "KORVAX_GetGPIBAddress": (i32, [u32, p_u32]),
        "KORVAX_SetGPIBAddress": (i32, [u32, u32]),
        "KORVAX_GetBaudRate": (i32, [u32, p_u32]),
        "KORVAX_SetBaudRate": (i32, [u32, u32]),
        "KORVAX_GetControlMode": (i32, [u32, p_u32]),
        "KORVAX_SetControlMode": (i32, [u32, u32]),
        "KORVAX_BoardInPlaceInfo": (i32, [u32, p_u32, p_u32]),
        "KORVAX_SelfTest": (i32, [u32, i64, p_char, u64]),
        "KORVAX_OnlineUpdate": (i32, [u32, p_char]),
        "KORVAX_OnlineUpdateProgress": (i32, [u32, p_char, ctypes.c_void_p, ctypes.c_void_p]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes


UPDATE_PROGRESS = ctypes.CFUNCTYPE(None, ctypes.c_uint64, ctypes.c_uint64, ctypes.c_void_p)

_loaded: ctypes.CDLL | None = None
_visa: ctypes.CDLL | None = None
_VISA_SONAME = "libkorvaxvisa.so.1"


def builtin_visa() -> ctypes.CDLL:
    """The built-in VISA library libKORVAX loads (beside it), for declaring simulated chassis.

    Raises RuntimeError when KORVAX_VISA_LIBRARY names another VISA library:
    simulated chassis live in the built-in one.
    """
    global _visa
    if os.environ.get("KORVAX_VISA_LIBRARY"):
        raise RuntimeError(
            "simulated chassis live in the built-in VISA library, but KORVAX_VISA_LIBRARY names "
            f"{os.environ['KORVAX_VISA_LIBRARY']!r}"
        )
    if _visa is None:
        # The very file libKORVAX loads: the one beside it.
        loaded = library()._name
        beside = Path(loaded).resolve().parent / _VISA_SONAME if os.sep in loaded else None
        visa = ctypes.CDLL(str(beside) if beside and beside.exists() else _VISA_SONAME)
        visa.korvaxvisa_declare.restype = ctypes.c_int
        visa.korvaxvisa_declare.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t]
        _visa = visa
    return _visa


def library() -> ctypes.CDLL:
    """The loaded libKORVAX (loaded on first use)."""
    global _loaded
    if _loaded is None:
        tried: list[tuple[str, str]] = []
        for path in candidates():
            try:
                lib = ctypes.CDLL(path)
            except OSError as error:
                tried.append((path, str(error).split(": ")[-1] or "cannot be loaded"))
                continue
            try:
                _declare(lib)
            except AttributeError as error:
                tried.append((path, f"not libKORVAX ({error})"))
                continue
            _loaded = lib
            break
        else:
            raise LibraryNotFound(tried)
    return _loaded
