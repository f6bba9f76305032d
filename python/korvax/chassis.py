"""Discovery and the Chassis session."""
from __future__ import annotations

import ctypes
import os
import warnings
import weakref
from dataclasses import dataclass, field
from typing import Callable, Iterable, Sequence

from ._library import UPDATE_PROGRESS, Geometry as _Geometry, ProbeReport as _ProbeReport, builtin_visa, library
from .crosspoints import Crosspoint, normalise
from .errors import KorvaxError, check

MAX_CHASSIS = 5
MAX_IMAGE_BYTES = 16 * 1024 * 1024
"""Largest firmware image ``Chassis.update`` sends (the ``korvax`` command's limit too)."""

_RESOURCE_ABSENT = -10048
_HANDLE = -10023
_UPDATE_FILE_OPEN = -10015


class _RsrcEntry(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("rsrcName", ctypes.c_char * 64), ("typeCode", ctypes.c_uint16)]


def model_name(code: int) -> str:
    """Model name of a model code ("RQ521"), or the code in hex for one the library does not know."""
    return library().KORVAX_ModelName(code).decode() or f"{code:04X}"


@dataclass(frozen=True)
class Found:
    """One chassis found by discovery."""

    resource: str
    model_code: int

    @property
    def model(self) -> str:
        """Model name ("RQ521"), or the code in hex for a model the library does not know."""
        return model_name(self.model_code)


@dataclass(frozen=True)
class Geometry:
    """The crosspoint matrix of sub-unit 0, as the state array numbers it.

    ``rows`` are the rows a relay frame switches (4 on an RQ522, whose 16-row
    cards fold rows 5 to 16 beyond a frame's reach); ``card_rows`` the rows of
    each card. A row runs across every card position: ``columns`` =
    ``positions`` x ``card_columns``.
    """

    model: str
    model_code: int
    sub_units: int
    rows: int
    card_rows: int
    positions: int
    card_columns: int
    columns: int
    cards_fitted: int
    state_words: int
    closure_limit: int | None

    def index(self, point: Crosspoint) -> int:
        """Bit index of a crosspoint in the state array."""
        row, column = point
        return (row - 1) * self.columns + (column - 1)


_OUTCOMES = {
    0: "accepted",
    1: "beyond-limit",
    2: "open-failed",
    3: "write-failed",
    4: "no-answer",
    5: "not-ours",
    6: "unknown-model",
    7: "not-probed",
}
_VI_ERROR_RSRC_NFOUND = 0xBFFF0011
_VI_ERROR_TMO = 0xBFFF0015


@dataclass(frozen=True)
class ProbeReport:
    """What the last discovery saw at one resource the VISA library listed."""

    resource: str
    outcome: str
    """accepted, beyond-limit, open-failed, write-failed, no-answer, not-ours, unknown-model, not-probed"""
    status: int
    model_code: int
    reply: str

    @property
    def detail(self) -> str:
        """What happened, in words."""
        status = self.status & 0xFFFFFFFF
        visa = f" (VISA status 0x{status:08X})" if self.status else ""
        if self.outcome == "accepted":
            return f"answered as {model_name(self.model_code)}"
        if self.outcome == "beyond-limit" and not self.model_code:
            return "not probed: listed beyond the five chassis a discovery keeps"
        if self.outcome == "beyond-limit":
            return f"answered as {model_name(self.model_code)}, beyond the five chassis a discovery keeps"
        if self.outcome == "open-failed" and status == _VI_ERROR_RSRC_NFOUND:
            return f"could not be opened: connection refused, or no such instrument there{visa}"
        if self.outcome == "open-failed" and status == _VI_ERROR_TMO:
            return f"could not be opened: no answer within the timeout while connecting{visa}"
        if self.outcome == "open-failed":
            return f"could not be opened{visa}"
        if self.outcome == "write-failed":
            return f"the identity query *IDN? could not be sent{visa}"
        if self.outcome == "no-answer":
            return f"no answer to *IDN? within the timeout{visa}"
        if self.outcome == "not-ours":
            return f"answered {self.reply!r}: not our maker's identity"
        if self.outcome == "unknown-model":
            return f"answered {self.reply!r}: a model this library does not know"
        return "not probed: discovery had stopped at a model it does not know"


def discovery_report() -> list[ProbeReport]:
    """What the last discovery saw at each resource, in the VISA library's order."""
    lib = library()
    out = []
    for i in range(max(0, lib.KORVAX_GetDiscoveryReport(0, None))):
        r = _ProbeReport()
        if lib.KORVAX_GetDiscoveryReport(i, ctypes.byref(r)) <= i:
            break
        out.append(
            ProbeReport(
                r.resource.decode(errors="replace"),
                _OUTCOMES.get(r.outcome, "not-probed"),
                r.status,
                r.model,
                r.reply.decode(errors="replace"),
            )
        )
    return out


def _why_absent(resource: str) -> str:
    for r in discovery_report():
        if r.resource == resource:
            return f"{resource}: {r.detail}"
    return f"{resource}: not among the resources the VISA library listed"


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


class _Sessions:
    """The chassis this process holds, across the discoveries that would end them.

    A discovery closes every VISA session of the one before, which ends the
    handle of every Chassis. So discovery runs for the set of resources the
    program holds (a direct session: the built-in VISA probes only those),
    and afterwards every live Chassis is attached again: a new handle, its
    cards identified again, and the relay state the library kept for it put
    back (sent once more: the chassis holds that state already, so no relay
    moves).
    """

    def __init__(self) -> None:
        self.live: weakref.WeakSet[Chassis] = weakref.WeakSet()
        self.generation = 0
        self.warned = False
        # Others in the process that hold chassis (the switching engine's
        # sessions): held() lists their resources, reattach() runs after
        # every discovery.
        self.peers: list = []

    def _restrict(self, names: list[str]) -> None:
        if os.environ.get("KORVAX_VISA_LIBRARY"):
            if not self.warned:
                self.warned = True
                warnings.warn(
                    "KORVAX_VISA_LIBRARY names another VISA library: discovery probes everything it lists "
                    "(only the built-in VISA probes just the resources asked for)",
                    RuntimeWarning,
                    stacklevel=4,
                )
            return
        os.environ["KORVAX_VISA_ONLY"] = ";".join(names)

    def discover(self, wanted: list[str] | None, timeout: int | None = None) -> list[Found]:
        """Discovery of `wanted` and the live chassis (of everything for None); re-attaches the live ones."""
        live = [c for c in list(self.live) if c._lost is None]
        names = None
        if wanted is not None:
            held = [c.resource for c in live] + [r for peer in self.peers for r in peer.held()]
            names = list(dict.fromkeys(held + wanted))
            if len(names) > MAX_CHASSIS:
                raise ValueError(
                    f"a process holds at most {MAX_CHASSIS} chassis at once (a discovery keeps five); "
                    f"already holding {', '.join(dict.fromkeys(held))}"
                )
        timeouts = [c._timeout for c in live if c._timeout] + ([timeout] if timeout else [])
        library().KORVAX_SetTimeout(0, max(timeouts, default=0))
        kept = {c: c._snapshot() for c in live}
        entries = (_RsrcEntry * MAX_CHASSIS)()
        count = ctypes.c_uint32(0)
        # The restriction holds for this discovery only: the program's own
        # environment (and its child processes) see what they saw before.
        saved = os.environ.get("KORVAX_VISA_ONLY")
        try:
            if names is not None:
                self._restrict(names)
            status = library().KORVAX_FindRsrc(entries, ctypes.byref(count))
        finally:
            if saved is None:
                os.environ.pop("KORVAX_VISA_ONLY", None)
            else:
                os.environ["KORVAX_VISA_ONLY"] = saved
        self.generation += 1
        for chassis, snapshot in kept.items():
            chassis._reattach(snapshot)
        for peer in self.peers:
            peer.reattach()
        check(status, "find")
        return [
            Found(entries[i].rsrcName.decode(errors="replace"), entries[i].typeCode)
            for i in range(min(count.value, MAX_CHASSIS))
        ]


    def ensure(self, resources: list[str]) -> None:
        """Makes `resources` connectable: a discovery (by the rule above) unless this process
        ran one that found them all."""
        lib = library()
        if self.generation > 0:
            handle = ctypes.c_uint32(0)
            if all(lib.KORVAX_Connect(r.encode(), ctypes.byref(handle)) != _RESOURCE_ABSENT for r in resources):
                return
        self.discover(resources)


_sessions = _Sessions()


def find() -> list[Found]:
    """Every chassis that answers discovery (at most 5).

    Chassis objects in use stay usable: they are attached again after the
    discovery; one that the discovery no longer finds raises KorvaxError at
    its next call.
    """
    return _sessions.discover(None)


def connect(*resources: str, timeout: int | None = None) -> list["Chassis"]:
    """A Chassis for each resource, after one discovery of all of them (and of the chassis
    already held). Raises KorvaxError for the first that did not connect."""
    _sessions.discover(list(resources), timeout)
    return [Chassis(resource, timeout=timeout) for resource in resources]


def _text(buffer: ctypes.Array, start: int = 0, width: int | None = None) -> str:
    raw = bytes(buffer[start : start + width] if width else buffer[start:])
    return raw.split(b"\0", 1)[0].decode(errors="replace")


def _slots(buffer: ctypes.Array) -> list[str]:
    """The texts of a buffer of 10-byte version slots."""
    return [_text(buffer, 10 * i, 10) for i in range(len(buffer) // 10)]


def _setting_text(key: str, value: object) -> str:
    if isinstance(value, (list, tuple, set)):
        return ", ".join(str(v) for v in value)
    if isinstance(value, bool):
        return "true" if value else "false"
    return str(value)


class Chassis:
    """A connected chassis. Use it as a context manager::

        with korvax.Chassis("TCPIP0::192.168.1.20::INSTR") as a, korvax.Chassis("ASRL1::INSTR") as b:
            a.open_card()
            a.init()
            a.close("1!1,2!3")

    Opening a chassis probes only the resources the program holds (with the
    built-in VISA library), and any number up to five can be held at once.
    The library has no close operation: leaving the ``with`` block leaves the
    relays as they are.
    """

    def __init__(self, resource: str, timeout: int | None = None) -> None:
        """Connects. ``timeout``: the VISA timeout in milliseconds for every reply. Raises KorvaxError."""
        self.resource = resource
        self._timeout = timeout
        self._opened: set[int] = set()
        self._lost: str | None = None
        self._handle = 0
        lib = library()
        # Discovery only when this process has none yet, or when it did not
        # find this resource: a chassis found before connects at once.
        discovered = _sessions.generation == 0
        if discovered:
            _sessions.discover([resource], timeout)
        handle = ctypes.c_uint32(0)
        status = lib.KORVAX_Connect(resource.encode(), ctypes.byref(handle))
        if status == _RESOURCE_ABSENT and not discovered:
            _sessions.discover([resource], timeout)
            status = lib.KORVAX_Connect(resource.encode(), ctypes.byref(handle))
        check(status, f"connect {resource}", _why_absent(resource) if status == _RESOURCE_ABSENT else "")
        self._handle = handle.value
        self._generation_seen = _sessions.generation
        if timeout:
            check(lib.KORVAX_SetTimeout(self._handle, timeout), f"set the timeout of {resource}")
        _sessions.live.add(self)

    @classmethod
    def simulated(cls, model: str, resource: str | None = None, timeout: int | None = None,
                  **settings: object) -> "Chassis":
        """A simulated chassis of `model` in this process, like ``korvax --sim MODEL``.

        ``resource`` names it (default ``TCPIP0::sim-MODEL::INSTR``, model in
        lower case); ``settings`` are the keys of a resource-file section with
        ``_`` for ``-`` (``serial=12345678``, ``control_mode="remote"``,
        ``fitted=[1, 2]``). No resource file is needed. Raises ValueError for
        a setting the simulator refuses.
        """
        name = resource or f"TCPIP0::sim-{model.lower()}::INSTR"
        lines = [f"[{name}]", f"model = {model}"]
        lines += [f"{key.replace('_', '-')} = {_setting_text(key, value)}" for key, value in settings.items()]
        problems = ctypes.create_string_buffer(1024)
        if builtin_visa().korvaxvisa_declare("\n".join(lines).encode(), problems, len(problems)) < 0:
            raise ValueError(f"simulated {model} {name}: {problems.value.decode(errors='replace')}")
        return cls(name, timeout=timeout)

    def __enter__(self) -> "Chassis":
        return self

    def __exit__(self, *exc: object) -> None:
        _sessions.live.discard(self)
        return None

    def __repr__(self) -> str:
        return f"Chassis({self.resource!r}, model={self.model})"

    @property
    def handle(self) -> int:
        """The library's handle; raises KorvaxError once a discovery ended it."""
        if self._lost is not None:
            raise KorvaxError(_HANDLE, self.resource, self._lost)
        if self not in _sessions.live and self._generation_seen != _sessions.generation:
            raise KorvaxError(_HANDLE, self.resource, "a discovery after the end of its with block ended the session")
        return self._handle

    def _snapshot(self) -> dict[int, list[int]]:
        """The relay state the library keeps for each identified sub-unit."""
        kept = {}
        for sub_unit in self._opened:
            words = (ctypes.c_uint32 * 1500)()
            n = library().KORVAX_GetStoredState(self._handle, sub_unit, words, len(words))
            if n > 0 and any(words[:n]):
                kept[sub_unit] = list(words[:n])
        return kept

    def _reattach(self, snapshot: dict[int, list[int]]) -> None:
        lib = library()
        handle = ctypes.c_uint32(0)
        status = lib.KORVAX_Connect(self.resource.encode(), ctypes.byref(handle))
        if status < 0:
            self._lost = f"a later discovery did not find it again ({_why_absent(self.resource)})"
            return
        self._handle = handle.value
        self._generation_seen = _sessions.generation
        if self._timeout:
            lib.KORVAX_SetTimeout(self._handle, self._timeout)
        try:
            for sub_unit in sorted(self._opened):
                check(lib.KORVAX_OpenSpecifiedCard(self._handle, sub_unit, ctypes.byref(ctypes.c_int64(0))),
                      "open card")
            for sub_unit, words in snapshot.items():
                now = (ctypes.c_uint32 * len(words))()
                lib.KORVAX_GetStoredState(self._handle, sub_unit, now, len(words))
                if list(now) != words:
                    state = (ctypes.c_uint32 * len(words))(*words)
                    check(lib.KORVAX_OpMatrix(self._handle, sub_unit, state, len(words)), "switch")
        except KorvaxError as error:
            self._lost = f"attaching it again after a discovery failed: {error}"

    # ---- geometry and checks --------------------------------------------

    def _geometry(self) -> Geometry:
        g = _Geometry()
        check(library().KORVAX_GetGeometry(self.handle, 0, ctypes.byref(g)), f"geometry of {self.resource}")
        return Geometry(
            model=model_name(g.model),
            model_code=g.model,
            sub_units=g.subUnits,
            rows=g.switchableRows,
            card_rows=g.rows,
            positions=g.positions,
            card_columns=g.cardColumns,
            columns=g.columns,
            cards_fitted=g.cardsFitted,
            state_words=g.stateWords,
            closure_limit=None if g.closureLimit < 0 else g.closureLimit,
        )

    @property
    def geometry(self) -> Geometry:
        """Rows, card positions and columns of sub-unit 0 (cards_fitted once open_card() ran)."""
        return self._geometry()

    @property
    def model(self) -> str:
        """Model name, e.g. "RQ521"."""
        return self._geometry().model

    def _sub_unit(self, sub_unit: int, matrix: bool = False) -> Geometry:
        """Refuses sub-unit numbers the chassis does not have (the library would take them as 0)."""
        g = self._geometry()
        if not 0 <= sub_unit < g.sub_units:
            has = "sub-units 0, 1 and 2" if g.sub_units == 3 else "sub-unit 0 only"
            raise ValueError(f"the {g.model} has no sub-unit {sub_unit}: it has {has}")
        if matrix and sub_unit != 0:
            raise ValueError(f"sub-unit {sub_unit} of the {g.model} is not switched by crosspoint: "
                             "only sub-unit 0 has a crosspoint matrix")
        return g

    # ---- bring-up --------------------------------------------------------

    def open_card(self, sub_unit: int = 0) -> int:
        """Identifies the cards of a sub-unit; returns the sub-unit actually opened."""
        self._sub_unit(sub_unit)
        opened = ctypes.c_int64(0)
        check(library().KORVAX_OpenSpecifiedCard(self.handle, sub_unit, ctypes.byref(opened)), "open card")
        self._opened.add(sub_unit)
        return opened.value

    def init(self, sub_unit: int = 0) -> None:
        """Builds the relay maps, takes an RQ521 into remote control and opens every relay."""
        self._sub_unit(sub_unit)
        check(library().KORVAX_Init(self.handle, sub_unit), "init")
        self._opened.add(sub_unit)

    # ---- switching -------------------------------------------------------

    def stored_state(self, sub_unit: int = 0) -> list[int]:
        """The state array the chassis last acknowledged (the library keeps it; SCPI relay
        commands, op_matrix, close, open and clear all change it)."""
        self._sub_unit(sub_unit)
        words = (ctypes.c_uint32 * 1500)()
        n = check(library().KORVAX_GetStoredState(self.handle, sub_unit, words, len(words)), "stored state")
        return list(words[:n])

    def op_matrix(self, state: Sequence[int], sub_unit: int = 0) -> None:
        """Applies a whole state array: bit p of the 32-bit words closes crosspoint p."""
        self._sub_unit(sub_unit)
        words = (ctypes.c_uint32 * max(len(state), 1))(*[w & 0xFFFFFFFF for w in state])
        check(library().KORVAX_OpMatrix(self.handle, sub_unit, words, len(state)), "switch")

    @property
    def closed(self) -> frozenset[Crosspoint]:
        """Crosspoints of sub-unit 0 the chassis last acknowledged closed (a chassis cannot report
        its relays: this is what it was last told, by this process)."""
        g = self._geometry()
        words = self.stored_state(0)
        return frozenset(
            (p // g.columns + 1, p % g.columns + 1)
            for i, w in enumerate(words)
            for b in range(32)
            if (w >> b) & 1 and (p := i * 32 + b) < g.card_rows * g.columns
        )

    def _switch(self, crosspoints: str | Iterable[Crosspoint], closing: bool, sub_unit: int) -> None:
        g = self._sub_unit(sub_unit, matrix=True)
        points = normalise(crosspoints)
        for row, column in points:
            if row > g.rows and row <= g.card_rows:
                raise ValueError(
                    f"crosspoint {row}!{column}: the {g.model} switches rows 1 to {g.rows} only "
                    f"(rows {g.rows + 1} to {g.card_rows} lie beyond what a relay frame reaches)"
                )
            if row > g.rows or column > g.columns:
                raise ValueError(
                    f"crosspoint {row}!{column} is outside the {g.model}'s {g.rows} rows x {g.columns} columns"
                )
        words = self.stored_state(sub_unit) or [0] * g.state_words
        for point in points:
            p = g.index(point)
            if closing:
                words[p // 32] |= 1 << (p % 32)
            else:
                words[p // 32] &= ~(1 << (p % 32)) & 0xFFFFFFFF
        self.op_matrix(words, sub_unit)

    def close(self, crosspoints: str | Iterable[Crosspoint], sub_unit: int = 0) -> None:
        """Closes crosspoints ("1!1,2!3:4!5" or (row, column) pairs), keeping the others."""
        self._switch(crosspoints, True, sub_unit)

    def open(self, crosspoints: str | Iterable[Crosspoint], sub_unit: int = 0) -> None:
        """Opens crosspoints, keeping the others as they are."""
        self._switch(crosspoints, False, sub_unit)

    def clear(self, sub_unit: int = 0) -> None:
        """Opens every relay of the sub-unit. A chassis that refuses (an RQ521 under local
        control) raises KorvaxError, and the relays it keeps closed stay in ``closed``."""
        self._sub_unit(sub_unit)
        check(library().KORVAX_Clear(self.handle, sub_unit), "clear")

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
        for sub_unit in range(self._geometry().sub_units):
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
        self._sub_unit(sub_unit)
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
    #: What the library takes for each setting.
    ACCEPTED = {
        "ip": "192.168.1.X with X from 1 to 254 except 200, no leading zeros",
        "lan_mode": "0 (manual) or 1 (auto)",
        "gpib": "1..30",
        "baud": "9600, 19200, 38400, 57600 or 115200",
        "control_mode": "0 (local) or 1 (remote)",
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
        """Changes one setting (keys of settings(); values as ACCEPTED says). Raises KorvaxError when refused."""
        if key not in self.ACCEPTED:
            raise ValueError(f"unknown setting {key!r}; known: {', '.join(self.ACCEPTED)}")
        detail = f"{key} takes {self.ACCEPTED[key]}"
        if key == "ip":
            check(library().KORVAX_SetIPAddress(self.handle, str(value).encode()), "set ip", detail)
        else:
            check(getattr(library(), self._SETTERS[key])(self.handle, int(value)), f"set {key}", detail)

    # ---- firmware ----------------------------------------------------------

    def update(self, path: str | os.PathLike[str], progress: Callable[[int, int], None] | None = None) -> None:
        """Streams a firmware image to the chassis.

        The file is checked first (readable, 1 byte to MAX_IMAGE_BYTES:
        ValueError otherwise, nothing sent). ``progress(sent, total)`` is called
        after every block the chassis acknowledged. An exception raised by the
        callback is re-raised after the transfer. A transfer that stops
        part-way raises KorvaxError saying so: the chassis then needs the update
        again.
        """
        name = os.fspath(path)
        try:
            with open(name, "rb"):
                size = os.stat(name).st_size
        except OSError as error:
            raise KorvaxError(_UPDATE_FILE_OPEN, f"update from {name}", str(error)) from None
        if not 0 < size <= MAX_IMAGE_BYTES:
            raise ValueError(f"firmware image {name!r} is {size} bytes: a chassis takes 1 to {MAX_IMAGE_BYTES}")
        failure: list[BaseException] = []
        sent_so_far = [0]

        def report(sent: int, total: int, _context: object) -> None:
            sent_so_far[0] = sent
            if progress is not None and not failure:
                try:
                    progress(sent, total)
                except BaseException as error:  # re-raised below, not across C
                    failure.append(error)

        callback = UPDATE_PROGRESS(report)
        status = library().KORVAX_OnlineUpdateProgress(self.handle, os.fsencode(path), callback, None)
        if failure:
            raise failure[0]
        check(status, f"update from {name}",
              f"the transfer stopped after {sent_so_far[0]} of {size} bytes: the chassis may be left without "
              "a complete firmware image and need the update again")
