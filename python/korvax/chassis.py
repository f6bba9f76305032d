"""Discovery and the Chassis session."""
from __future__ import annotations

import ctypes
import os
from dataclasses import dataclass, field
from typing import Callable, Iterable, Sequence

from ._library import UPDATE_PROGRESS, library
from .crosspoints import MODELS, Crosspoint, Model, normalise
from .errors import KorvaxError, check

MAX_CHASSIS = 5


class _RsrcEntry(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("rsrcName", ctypes.c_char * 64), ("typeCode", ctypes.c_uint16)]


@dataclass(frozen=True)
class Found:
    """One chassis found by discovery."""

    resource: str
    model_code: int

    @property
    def model(self) -> str:
        """Model name ("RQ521"), or the code in hex for a model this package does not know."""
        known = MODELS.get(self.model_code)
        return known.name if known else f"{self.model_code:04X}"


@dataclass(frozen=True)
class SubUnitCard:
    """Card of a sub-unit: its name and size text ("rows*columns"), or why there is none."""

    sub_unit: int
    card_type: str | None
    card_size: str | None
    error: str | None = None


@dataclass(frozen=True)
class Info:
    """Identity, versions, serial numbers, cards and board presence of a chassis."""

    model_code: str
    manufacturer: str
    serial: str
    firmware: str
    firmware_versions: list[str]
    hardware_versions: list[str]
    serial_numbers: list[int]
    boards_present: list[bool]
    cards: list[SubUnitCard] = field(default_factory=list)


def library_version() -> str:
    """Version of the loaded libKORVAX."""
    text = ctypes.create_string_buffer(16)
    library().KORVAX_GetLibVersion(text)
    return text.value.decode()


def find() -> list[Found]:
    """Every chassis that answers discovery (at most 5).

    Discovery closes every earlier session: handles of Chassis objects made
    before it are no longer valid.
    """
    entries = (_RsrcEntry * MAX_CHASSIS)()
    count = ctypes.c_uint32(0)
    check(library().KORVAX_FindRsrc(entries, ctypes.byref(count)), "find")
    return [
        Found(entries[i].rsrcName.decode(errors="replace"), entries[i].typeCode)
        for i in range(min(count.value, MAX_CHASSIS))
    ]


def _text(buffer: ctypes.Array, start: int = 0, width: int | None = None) -> str:
    raw = bytes(buffer[start : start + width] if width else buffer[start:])
    return raw.split(b"\0", 1)[0].decode(errors="replace")


def _slots(buffer: ctypes.Array) -> list[str]:
    """The texts of a buffer of 10-byte version slots."""
    return [_text(buffer, 10 * i, 10) for i in range(len(buffer) // 10)]


class Chassis:
    """A connected chassis. Use it as a context manager::

        with korvax.Chassis("TCPIP0::sim-rq521::INSTR") as chassis:
            chassis.open_card()
            chassis.init()
            chassis.close("1!1,2!3")

    The library has no close operation: a handle stays valid until the next
    discovery, and leaving the ``with`` block leaves the relays as they are.
    """

    def __init__(self, resource: str) -> None:
        """Connects (running discovery first to learn the model). Raises KorvaxError."""
        self.resource = resource
        self.model_code = next((f.model_code for f in find() if f.resource == resource), 0)
        handle = ctypes.c_uint32(0)
        check(library().KORVAX_Connect(resource.encode(), ctypes.byref(handle)), f"connect {resource}")
        self.handle = handle.value
        self._closed: dict[int, set[Crosspoint]] = {}

    def __enter__(self) -> "Chassis":
        return self

    def __exit__(self, *exc: object) -> None:
        return None

    def __repr__(self) -> str:
        return f"Chassis({self.resource!r}, model={self.model})"

    @property
    def model(self) -> str:
        """Model name, e.g. "RQ521"."""
        known = MODELS.get(self.model_code)
        return known.name if known else f"{self.model_code:04X}"

    @property
    def geometry(self) -> Model:
        """Rows, card positions and columns of sub-unit 0."""
        try:
            return MODELS[self.model_code]
        except KeyError:
            raise KorvaxError(-10020, f"geometry of model {self.model_code:04X}") from None

    # ---- bring-up --------------------------------------------------------

    def open_card(self, sub_unit: int = 0) -> int:
        """Identifies the cards of a sub-unit; returns the sub-unit actually opened."""
        opened = ctypes.c_int64(0)
        check(library().KORVAX_OpenSpecifiedCard(self.handle, sub_unit, ctypes.byref(opened)), "open card")
        return opened.value

    def init(self, sub_unit: int = 0) -> None:
        """Builds the relay maps, takes an RQ521 into remote control and opens every relay."""
        check(library().KORVAX_Init(self.handle, sub_unit), "init")
        self._closed[sub_unit] = set()

    # ---- switching -------------------------------------------------------

    def op_matrix(self, state: Sequence[int], sub_unit: int = 0) -> None:
        """Applies a whole state array: bit p of the 32-bit words closes crosspoint p."""
        words = (ctypes.c_uint32 * max(len(state), 1))(*[w & 0xFFFFFFFF for w in state])
        check(library().KORVAX_OpMatrix(self.handle, sub_unit, words, len(state)), "switch")
        model = MODELS.get(self.model_code)
        if model:
            self._closed[sub_unit] = {
                (p // model.columns + 1, p % model.columns + 1)
                for i, w in enumerate(state)
                for b in range(32)
                if (w >> b) & 1 and (p := i * 32 + b) < model.rows * model.columns
            }

    @property
    def closed(self) -> frozenset[Crosspoint]:
        """Crosspoints of sub-unit 0 this object closed (a chassis cannot report its relays)."""
        return frozenset(self._closed.get(0, set()))

    def _switch(self, crosspoints: str | Iterable[Crosspoint], closing: bool, sub_unit: int) -> None:
        model = self.geometry
        points = normalise(crosspoints)
        for row, column in points:
            if row > model.rows or column > model.columns:
                raise ValueError(
                    f"crosspoint {row}!{column} is outside the {model.name}'s "
                    f"{model.rows} rows x {model.columns} columns"
                )
        wanted = set(self._closed.get(sub_unit, set()))
        wanted = wanted | set(points) if closing else wanted - set(points)
        words = [0] * ((model.rows * model.columns + 31) // 32)
        for point in wanted:
            p = model.index(point)
            words[p // 32] |= 1 << (p % 32)
        self.op_matrix(words, sub_unit)

    def close(self, crosspoints: str | Iterable[Crosspoint], sub_unit: int = 0) -> None:
        """Closes crosspoints ("1!1,2!3:4!5" or (row, column) pairs), keeping the others."""
        self._switch(crosspoints, True, sub_unit)

    def open(self, crosspoints: str | Iterable[Crosspoint], sub_unit: int = 0) -> None:
        """Opens crosspoints, keeping the others as they are."""
        self._switch(crosspoints, False, sub_unit)

    def clear(self, sub_unit: int = 0) -> None:
        """Opens every relay of the sub-unit."""
        check(library().KORVAX_Clear(self.handle, sub_unit), "clear")
        self._closed[sub_unit] = set()

    def scpi(self, command: str) -> str:
        """Executes one SCPI command and returns the reply text (failures are texts too)."""
        reply = ctypes.create_string_buffer(512)
        library().KORVAX_SCPIQuery(self.handle, command.encode(), reply)
        return reply.value.decode(errors="replace")

    # ---- information -----------------------------------------------------

    def info(self) -> Info:
        """Identity, versions, serials, the card of every sub-unit and board presence."""
        lib = library()
        model, maker, serial, firmware = (ctypes.create_string_buffer(16) for _ in range(4))
        check(lib.KORVAX_GetDeviceInfo(self.handle, model, maker, serial, firmware, 15), "device info")
        hw, sw = ctypes.create_string_buffer(220), ctypes.create_string_buffer(220)
        check(lib.KORVAX_GetHWVersion(self.handle, hw, len(hw)), "hardware versions")
        check(lib.KORVAX_GetSWVersion(self.handle, sw, len(sw)), "firmware versions")
        serials = (ctypes.c_uint32 * 30)()
        serial_numbers = list(serials) if lib.KORVAX_GetSN(self.handle, serials, 30) >= 0 else []
        present = self.boards_present()
        cards = []
        for sub_unit in (0, 1, 2) if self.model in ("RQ520", "RQ520B") else (0,):
            name, size = ctypes.create_string_buffer(32), ctypes.create_string_buffer(32)
            opened = ctypes.c_int64(0)
            status = lib.KORVAX_OpenSpecifiedCard(self.handle, sub_unit, ctypes.byref(opened))
            if status == 0:
                status = lib.KORVAX_GetCardType(self.handle, sub_unit, name)
            if status < 0:
                cards.append(SubUnitCard(sub_unit, None, None, KorvaxError(status).message))
                continue
            lib.KORVAX_GetCardSize(name, size)
            cards.append(SubUnitCard(sub_unit, name.value.decode(), size.value.decode()))
        lib.KORVAX_OpenSpecifiedCard(self.handle, 0, ctypes.byref(ctypes.c_int64(0)))
        fw = [v for v in _slots(sw) if v]
        return Info(
            model_code=model.value.decode(),
            manufacturer=maker.value.decode(),
            serial=serial.value.decode().strip(),
            firmware=firmware.value.decode(),
            firmware_versions=fw,
            hardware_versions=_slots(hw)[: len(present) + 1],
            serial_numbers=serial_numbers[: len(present) + 1],
            boards_present=present,
            cards=cards,
        )

    def boards_present(self) -> list[bool]:
        """Presence of every slot of the chassis, slot 1 first."""
        states = (ctypes.c_uint32 * 32)()
        count = ctypes.c_uint32(0)
        check(library().KORVAX_BoardInPlaceInfo(self.handle, states, ctypes.byref(count)), "board presence")
        return [states[i] == 1 for i in range(min(count.value, 32))]

    def self_test(self, sub_unit: int = 0) -> str:
        """Runs the loop-back self test; returns its line, raises KorvaxError when it fails."""
        text = ctypes.create_string_buffer(512)
        status = library().KORVAX_SelfTest(self.handle, sub_unit, text, len(text))
        check(status, f"self test: {text.value.decode(errors='replace').strip()}")
        return text.value.decode(errors="replace").strip()

    # ---- settings (RQ521) --------------------------------------------------

    _GETTERS = {
        "lan_mode": "KORVAX_GetLANMode",
        "gpib": "KORVAX_GetGPIBAddress",
        "baud": "KORVAX_GetBaudRate",
        "control_mode": "KORVAX_GetControlMode",
    }
    _SETTERS = {
        "lan_mode": "KORVAX_SetLANMode",
        "gpib": "KORVAX_SetGPIBAddress",
        "baud": "KORVAX_SetBaudRate",
        "control_mode": "KORVAX_SetControlMode",
    }

    def settings(self) -> dict[str, str | int | None]:
        """ip, lan_mode (0 manual, 1 auto), gpib, baud, control_mode (0 local, 1 remote).

        A setting the chassis does not keep (every model but the RQ521) is None.
        """
        lib = library()
        address = ctypes.create_string_buffer(32)
        out: dict[str, str | int | None] = {
            "ip": address.value.decode() if lib.KORVAX_GetCOMMIPAddr(self.handle, address) >= 0 else None
        }
        for key, name in self._GETTERS.items():
            value = ctypes.c_uint32(0)
            out[key] = value.value if getattr(lib, name)(self.handle, ctypes.byref(value)) >= 0 else None
        return out

    def set_setting(self, key: str, value: str | int) -> None:
        """Changes one setting (keys of settings()). Raises KorvaxError when refused."""
        if key == "ip":
            check(library().KORVAX_SetIPAddress(self.handle, str(value).encode()), "set ip")
        elif key in self._SETTERS:
            check(getattr(library(), self._SETTERS[key])(self.handle, int(value)), f"set {key}")
        else:
            raise ValueError(f"unknown setting {key!r}; known: ip, {', '.join(self._SETTERS)}")

    # ---- firmware ----------------------------------------------------------

    def update(self, path: str | os.PathLike[str], progress: Callable[[int, int], None] | None = None) -> None:
        """Streams a firmware image to the chassis.

        ``progress(sent, total)`` is called after every block the chassis
        acknowledged (total is 0 when the size is not known in advance). An
        exception raised by the callback is re-raised after the transfer.
        """
        failure: list[BaseException] = []

        def report(sent: int, total: int, _context: object) -> None:
            if progress is not None and not failure:
                try:
                    progress(sent, total)
                except BaseException as error:  # re-raised below, not across C
                    failure.append(error)

        callback = UPDATE_PROGRESS(report)
        status = library().OnlineUpdateWithProgress(self.handle, os.fsencode(path), callback, None)
        if failure:
            raise failure[0]
        check(status, f"update from {os.fspath(path)}")
