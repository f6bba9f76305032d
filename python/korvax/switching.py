"""Switching by channel name: the engine of libkorvaxswitch through its C interface.

    from korvax.switching import Session, Answer

    with Session("bench.toml") as session:          # None: the default topology file
        matrix = session.matrix()                    # the only chassis, or matrix("bench")
        matrix.connect("DMM_HI", "DUT1")
        if matrix.can_connect("PSU_POS", "DUT3") is Answer.POSSIBLE:
            ...
        with matrix.routed("measure_dut1"):          # disconnected on leaving
            ...
        print(matrix.dry_run([("route", "power_dut3")])["frames"])

Every failure raises SwitchingError (Refused when a rule refused; nothing was
sent then). The record these calls share with the korvax command and every
other process is described in docs/switching.md.
"""
from __future__ import annotations

import contextlib
import ctypes
import enum
import json
import os
import sys
from dataclasses import dataclass, field
from typing import Any, Iterable, Iterator, Sequence

from ._library import load_companion
from .chassis import _sessions
from .errors import KorvaxError

_SONAME = "libkorvaxswitch.so.1"
_KORVAX_ERR_PARAMETER = -10038


class Answer(enum.IntEnum):
    """The answers of can_connect(), after the IVI switch class."""

    POSSIBLE = 0
    EXISTS = 1
    IN_USE = 2
    SOURCE_CONFLICT = 3
    EXCLUDED = 4
    LIMIT = 5
    UNSUPPORTED = 6

    @property
    def word(self) -> str:
        """As the korvax command prints it: "possible", "in-use", ..."""
        return self.name.lower().replace("_", "-")

    @classmethod
    def from_word(cls, word: str) -> "Answer":
        return cls[word.upper().replace("-", "_")]


class SwitchingError(Exception):
    """A failure of the engine: kind ("refused", "chassis", "topology", "record",
    "not-found", "invalid"), the status (code: the library's own where the chassis or the
    library refused, else the engine's, -1 to -5) and its name ("KORVAX_ERR_CLOSURE_LIMIT",
    "KORVAXSW_REFUSED", ...), and for a refusal the answer (reason) and the rule; rollback
    says what a failed closing frame left."""

    def __init__(self, error: dict[str, Any]) -> None:
        super().__init__(error.get("message", "switching failed"))
        self.kind: str = error.get("kind", "invalid")
        self.code: int = int(error.get("code", 0))
        self.name: str = error.get("name", "")
        reason = error.get("reason")
        self.reason: Answer | None = Answer.from_word(reason) if reason else None
        self.rule: str = error.get("rule", "")
        self.rollback: str = error.get("rollback", "none")


class Refused(SwitchingError):
    """A rule refused the change; nothing was sent."""


@dataclass
class Verdict:
    """What the rules say about connecting two channels."""

    answer: Answer
    rule: str
    message: str
    channels: list[str] = field(default_factory=list)
    path: list[str] = field(default_factory=list)


_loaded: ctypes.CDLL | None = None
# A failure inside the discovery hook, raised again once the engine's call
# returns (an exception cannot cross the C interface).
_hook_failure: list[BaseException] = []


class _Engine:
    """The engine's sessions as the package's discovery rule sees them: chassis the process
    holds, to be discovered with every other and attached again after each discovery."""

    @staticmethod
    def held() -> list[str]:
        return _call("KORVAXSW_HeldResources")

    @staticmethod
    def reattach() -> None:
        _call("KORVAXSW_Reattach")


_HOOK = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_char_p, ctypes.c_void_p)


@_HOOK
def _discovery_hook(resources: bytes, _context: object) -> int:
    """The engine needs these resources for a new session: one discovery rule for the process."""
    try:
        _sessions.ensure([r for r in resources.decode().split(";") if r])
        return 0
    except BaseException as error:  # raised again by _call, not across C
        _hook_failure.append(error)
        return error.code if isinstance(error, KorvaxError) else _KORVAX_ERR_PARAMETER


def library() -> ctypes.CDLL:
    """The loaded libkorvaxswitch (loaded on first use, after libKORVAX): KORVAX_SWITCH_LIBRARY,
    beside the libKORVAX loaded, beside the package, then the system's library path. Raises
    korvax.LibraryNotFound naming every path tried."""
    global _loaded
    if _loaded is None:
        lib = load_companion(_SONAME, "KORVAX_SWITCH_LIBRARY", _declare)
        lib.KORVAXSW_SetDiscoveryHook(_discovery_hook, None)
        _sessions.peers.append(_Engine)
        _loaded = lib
    return _loaded


def _declare(lib: ctypes.CDLL) -> None:
    p, c, i32, i64, u64 = ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int32, ctypes.c_int64, ctypes.c_uint64
    signatures = {
        "KORVAXSW_OpenSession": (i32, [c, c, c, ctypes.POINTER(p)]),
        "KORVAXSW_CloseSession": (None, [p]),
        "KORVAXSW_GetMatrix": (i32, [p, c, ctypes.POINTER(p)]),
        "KORVAXSW_Connect": (i32, [p, c, c]),
        "KORVAXSW_Disconnect": (i32, [p, c, c]),
        "KORVAXSW_DisconnectAll": (i32, [p]),
        "KORVAXSW_CanConnect": (i32, [p, c, c, ctypes.POINTER(i32)]),
        "KORVAXSW_GetPath": (i32, [p, c, c]),
        "KORVAXSW_SetPath": (i32, [p, c, c, c]),
        "KORVAXSW_Route": (i32, [p, c, i32]),
        "KORVAXSW_DryRunRoute": (i32, [p, c, i32]),
        "KORVAXSW_Apply": (i32, [p, c]),
        "KORVAXSW_DryRun": (i32, [p, c]),
        "KORVAXSW_WaitForDebounce": (i32, [p]),
        "KORVAXSW_IsDebounced": (i32, [p]),
        "KORVAXSW_Query": (i32, [p, c, i64]),
        "KORVAXSW_SessionInfo": (i32, [p]),
        "KORVAXSW_SetDiscoveryHook": (None, [_HOOK, p]),
        "KORVAXSW_HeldResources": (i32, []),
        "KORVAXSW_Reattach": (i32, []),
        "KORVAXSW_Result": (i64, [c, u64]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes


def _text(value: str | None) -> bytes | None:
    return None if value is None else value.encode()


def _call(name: str, *args: Any) -> Any:
    """Calls the C interface and decodes the thread's JSON result."""
    lib = library()
    status = getattr(lib, name)(*args)
    size = lib.KORVAXSW_Result(None, 0)
    buffer = ctypes.create_string_buffer(size + 1)
    lib.KORVAXSW_Result(buffer, size + 1)
    result = json.loads(buffer.value.decode()) if buffer.value else None
    if _hook_failure:
        failure = _hook_failure.pop()
        _hook_failure.clear()
        if status < 0:
            raise failure
    if status < 0:
        error = (result or {}).get("error", {"message": f"status {status}"})
        raise (Refused if error.get("kind") == "refused" else SwitchingError)(error)
    return result


_MODES = {"on": 0, "off": 1, "only": 2}


def _change(change: Any) -> dict[str, Any]:
    """("connect", "A", "B"), ("route", "NAME"), ("close", ["1!1"]), ... or the JSON dict itself."""
    if isinstance(change, dict):
        return change
    kind, *rest = change
    if kind in ("connect", "disconnect"):
        return {kind: list(rest)}
    if kind == "disconnect_all":
        return {kind: True}
    if kind in ("route", "route_off", "route_only"):
        return {kind: rest[0]}
    if kind in ("close", "open"):
        points = rest[0]
        return {kind: [points] if isinstance(points, str) else list(points)}
    if kind == "set_path":
        return {kind: [rest[0], rest[1], list(rest[2])]}
    raise ValueError(f"unknown change {kind!r}")


def _changes(changes: Iterable[Any]) -> bytes:
    return json.dumps([_change(c) for c in changes]).encode()


class Matrix:
    """One chassis of a session, switched by channel name."""

    def __init__(self, session: "Session", handle: int, info: dict[str, Any]) -> None:
        self._session = session
        self._handle = ctypes.c_void_p(handle)
        self.info = info
        self.name: str = info["name"]
        self.resource: str = info["resource"]

    def _h(self) -> ctypes.c_void_p:
        self._session._check_open()
        return self._handle

    def connect(self, a: str, b: str) -> dict[str, Any]:
        """Connects two channels; raises Refused (nothing sent) unless can_connect is POSSIBLE."""
        return _call("KORVAXSW_Connect", self._h(), _text(a), _text(b))

    def disconnect(self, a: str, b: str) -> dict[str, Any]:
        """Opens exactly the recorded path between two channels."""
        return _call("KORVAXSW_Disconnect", self._h(), _text(a), _text(b))

    def disconnect_all(self) -> dict[str, Any]:
        return _call("KORVAXSW_DisconnectAll", self._h())

    def can_connect(self, a: str, b: str) -> Answer:
        return self.check(a, b).answer

    def check(self, a: str, b: str) -> Verdict:
        """can_connect with the rule that decides and the path that would close."""
        v = _call("KORVAXSW_CanConnect", self._h(), _text(a), _text(b), None)
        return Verdict(Answer.from_word(v["answer"]), v["rule"], v["message"], v["channels"], v.get("path", []))

    def path(self, a: str, b: str) -> dict[str, Any]:
        return _call("KORVAXSW_GetPath", self._h(), _text(a), _text(b))

    def set_path(self, a: str, b: str, crosspoints: Sequence[str]) -> dict[str, Any]:
        return _call("KORVAXSW_SetPath", self._h(), _text(a), _text(b), ",".join(crosspoints).encode())

    def route(self, name: str) -> list[dict[str, Any]]:
        """A route or group on, on every chassis it spans."""
        return self._session.route(name)

    def route_off(self, name: str) -> list[dict[str, Any]]:
        return self._session.route_off(name)

    def route_only(self, name: str) -> list[dict[str, Any]]:
        return self._session.route_only(name)

    @contextlib.contextmanager
    def routed(self, name: str) -> Iterator["Matrix"]:
        """The route on for the with-block; off again on leaving, also on an exception."""
        self.route(name)
        try:
            yield self
        finally:
            self.route_off(name)

    def apply(self, changes: Iterable[Any]) -> dict[str, Any]:
        """Any mix of changes as one break-before-make transaction."""
        return _call("KORVAXSW_Apply", self._h(), _changes(changes))

    def dry_run(self, changes: Iterable[Any]) -> dict[str, Any]:
        """The frames and the rules' answer of apply(changes); sends nothing."""
        return _call("KORVAXSW_DryRun", self._h(), _changes(changes))

    def wait_for_debounce(self) -> None:
        _call("KORVAXSW_WaitForDebounce", self._h())

    @property
    def is_debounced(self) -> bool:
        return bool(library().KORVAXSW_IsDebounced(self._h()) == 1)

    @property
    def closed(self) -> list[str]:
        return _call("KORVAXSW_Query", self._h(), b"closed", 0)

    @property
    def nets(self) -> list[list[str]]:
        return _call("KORVAXSW_Query", self._h(), b"nets", 0)

    @property
    def paths(self) -> list[dict[str, Any]]:
        return _call("KORVAXSW_Query", self._h(), b"paths", 0)

    def wear(self, top: int = 0) -> list[dict[str, Any]]:
        return _call("KORVAXSW_Query", self._h(), b"wear", top)

    def events(self, last: int = 50) -> list[dict[str, Any]]:
        return _call("KORVAXSW_Query", self._h(), b"events", last)


class Session:
    """The chassis of a topology file, opened once; close() (or a with-block) releases them."""

    def __init__(
        self,
        topology: str | os.PathLike[str] | None = None,
        *,
        record: str | os.PathLike[str] | None = None,
        program: str | None = None,
    ) -> None:
        handle = ctypes.c_void_p()
        opened = _call(
            "KORVAXSW_OpenSession",
            _text(os.fspath(topology)) if topology is not None else None,
            _text(os.fspath(record)) if record is not None else None,
            _text(program or "python " + os.path.basename(sys.argv[0] if sys.argv and sys.argv[0] else "-")),
            ctypes.byref(handle),
        )
        self._handle: ctypes.c_void_p | None = handle
        self.chassis: list[str] = opened["chassis"]
        self._matrices: dict[str, Matrix] = {}
        self.info = _call("KORVAXSW_SessionInfo", handle)

    def _check_open(self) -> ctypes.c_void_p:
        if self._handle is None:
            raise SwitchingError({"kind": "invalid", "message": "the session is closed"})
        return self._handle

    def matrix(self, chassis: str | None = None) -> Matrix:
        """The matrix of a chassis; None for the only chassis of the topology."""
        h = self._check_open()
        handle = ctypes.c_void_p()
        info = _call("KORVAXSW_GetMatrix", h, _text(chassis), ctypes.byref(handle))
        if info["name"] not in self._matrices:
            self._matrices[info["name"]] = Matrix(self, handle.value or 0, info)
        return self._matrices[info["name"]]

    def route(self, name: str) -> list[dict[str, Any]]:
        return _call("KORVAXSW_Route", self._check_open(), _text(name), _MODES["on"])

    def route_off(self, name: str) -> list[dict[str, Any]]:
        return _call("KORVAXSW_Route", self._check_open(), _text(name), _MODES["off"])

    def route_only(self, name: str) -> list[dict[str, Any]]:
        return _call("KORVAXSW_Route", self._check_open(), _text(name), _MODES["only"])

    def dry_run_route(self, name: str, mode: str = "on") -> list[dict[str, Any]]:
        return _call("KORVAXSW_DryRunRoute", self._check_open(), _text(name), _MODES[mode])

    def close(self) -> None:
        if self._handle is not None:
            library().KORVAXSW_CloseSession(self._handle)
            self._handle = None

    def __enter__(self) -> "Session":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        with contextlib.suppress(Exception):
            self.close()
