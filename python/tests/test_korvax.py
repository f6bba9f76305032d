"""The Python package against simulated chassis of the built-in VISA library."""
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

import korvax

HEADER = Path(os.environ.get("KORVAX_HEADER") or Path(__file__).resolve().parents[2] / "include" / "KORVAX.h")


def test_find_lists_every_declared_chassis():
    found = {(f.resource, f.model) for f in korvax.find()}
    assert found == {
        ("TCPIP0::sim-rq521::INSTR", "RQ521"),
        ("TCPIP0::sim-rq520::INSTR", "RQ520"),
        ("TCPIP0::sim-rq522::INSTR", "RQ522"),
        ("TCPIP0::sim-rq523b::INSTR", "RQ523B"),
    }


@pytest.mark.parametrize(
    "resource,serial,boards,card",
    [
        ("TCPIP0::sim-rq521::INSTR", "24681357", [True] * 4, ("Y8342", "10*12")),
        ("TCPIP0::sim-rq522::INSTR", "12345678", [s in (1, 2, 5) for s in range(1, 22)], None),
        ("TCPIP0::sim-rq520::INSTR", "12345678", [True] * 6, ("Y8340", "12*10")),
    ],
)
def test_info_reports_what_the_chassis_was_declared_with(resource, serial, boards, card):
    with korvax.Chassis(resource) as chassis:
        chassis.open_card()
        info = chassis.info()
    assert (info.manufacturer, info.serial) == ("QM", serial)
    assert info.boards_present == boards
    assert info.cards[0].error is None
    if card:
        assert (info.cards[0].card_type, info.cards[0].card_size) == card
    assert len(info.cards) == (3 if chassis.model == "RQ520" else 1)


def test_switching_session_on_an_rq521():
    with korvax.Chassis("TCPIP0::sim-rq521::INSTR") as chassis:
        chassis.open_card()
        chassis.init()
        chassis.close("1!1,2!3:3!4")
        chassis.open([(2, 3)])
        assert chassis.closed == {(1, 1), (2, 4), (3, 3), (3, 4)}
        assert chassis.scpi(":CLOS (@0(5!48))") == "Relays Operate Success"
        assert chassis.scpi(":SYST:VERS?") == "Fw Version: CTR 3.08, COM 1.02"
        assert chassis.self_test() == "SelfTest:SelfTest Success!"
        chassis.clear()
        assert chassis.closed == frozenset()


def test_relay_closure_limit_is_a_korvax_error_and_keeps_the_state():
    with korvax.Chassis("TCPIP0::sim-rq521::INSTR") as chassis:
        chassis.open_card()
        chassis.init()
        chassis.close("1!1")
        with pytest.raises(korvax.KorvaxError) as caught:
            chassis.close("1!1:10!48")
        assert (caught.value.code, caught.value.name) == (-10030, "KORVAX_ERR_CLOSURE_LIMIT")
        assert caught.value.message == "Relay Closure Limit Exceeded"
        assert "Relay Closure Limit Exceeded (-10030 KORVAX_ERR_CLOSURE_LIMIT)" in str(caught.value)
        assert chassis.closed == {(1, 1)}


def test_unknown_resource_is_a_korvax_error():
    with pytest.raises(korvax.KorvaxError) as caught:
        korvax.Chassis("TCPIP0::nowhere::INSTR")
    assert (caught.value.code, caught.value.name) == (-10048, "KORVAX_ERR_RESOURCE_ABSENT")
    assert caught.value.message == "Resource is not present in the system"


@pytest.mark.parametrize(
    "call,code",
    [
        (lambda c: c.close("11!1"), None),  # outside the geometry: ValueError
        (lambda c: c.close("1!x"), None),
        (lambda c: c.set_setting("colour", 1), None),
        (lambda c: c.set_setting("gpib", 31), -10050),
        (lambda c: c.set_setting("baud", 1234), -10051),
        (lambda c: c.set_setting("lan_mode", 2), -10052),
        (lambda c: c.set_setting("ip", "10.0.0.1"), -10031),
    ],
)
def test_refusals(call, code):
    with korvax.Chassis("TCPIP0::sim-rq521::INSTR") as chassis:
        chassis.open_card()
        if code is None:
            with pytest.raises(ValueError):
                call(chassis)
        else:
            with pytest.raises(korvax.KorvaxError) as caught:
                call(chassis)
            assert caught.value.code == code


def test_local_control_refuses_switching_until_init():
    with korvax.Chassis("TCPIP0::sim-rq521::INSTR") as chassis:
        chassis.open_card()
        if chassis.settings()["control_mode"] == 1:
            chassis.set_setting("control_mode", 0)
        with pytest.raises(korvax.KorvaxError) as caught:
            chassis.close("1!1")
        assert caught.value.name == "KORVAX_ERR_MODE_CONFLICT"
        chassis.init()
        chassis.close("1!1")


def test_settings_read_and_change_on_an_rq521_only():
    with korvax.Chassis("TCPIP0::sim-rq521::INSTR") as chassis:
        assert chassis.settings()["gpib"] == 7
        chassis.set_setting("gpib", 9)
        assert chassis.settings()["gpib"] == 9
        assert chassis.settings()["ip"] == "192.168.1.10"
    with korvax.Chassis("TCPIP0::sim-rq523b::INSTR") as other:
        assert set(other.settings().values()) == {None}


def test_self_test_failure_raises_with_the_test_line():
    with korvax.Chassis("TCPIP0::sim-rq523b::INSTR") as chassis:
        with pytest.raises(korvax.KorvaxError) as caught:
            chassis.self_test()
    assert caught.value.code < 0


def test_update_reports_progress_up_to_the_file_size(workdir):
    image = workdir / "image.bin"
    image.write_bytes(bytes(range(256)) * 3 + b"tail")
    seen = []
    with korvax.Chassis("TCPIP0::sim-rq520::INSTR") as chassis:
        chassis.update(image, lambda sent, total: seen.append((sent, total)))
        with pytest.raises(korvax.KorvaxError) as caught:
            chassis.update(workdir / "missing.bin")
    assert caught.value.name == "KORVAX_ERR_UPDATE_FILE_OPEN"
    assert [s for s, _ in seen] == [128, 256, 384, 512, 640, 768, 772]
    assert {t for _, t in seen} == {772}


def test_progress_callback_exception_reaches_the_caller(workdir):
    image = workdir / "image2.bin"
    image.write_bytes(b"x" * 300)

    def stop(sent, total):
        raise KeyboardInterrupt

    with korvax.Chassis("TCPIP0::sim-rq520::INSTR") as chassis:
        with pytest.raises(KeyboardInterrupt):
            chassis.update(image, stop)


@pytest.mark.parametrize(
    "text,points",
    [
        ("1!1", [(1, 1)]),
        ("1!2:2!1", [(1, 1), (1, 2), (2, 1), (2, 2)]),
        (" 3!3 ,1!1", [(3, 3), (1, 1)]),
        ("", None),
        ("1!1,", None),
        ("0!1", None),
        ("1!1:2", None),
        ("1!1:2!2:3!3", None),
        ("1!1:1000!1000", None),
    ],
)
def test_crosspoint_lists(text, points):
    if points is None:
        with pytest.raises(ValueError):
            korvax.parse(text)
    else:
        assert korvax.parse(text) == points


def test_error_names_match_the_header():
    declared = dict(
        (name, int(code)) for name, code in re.findall(r"(KORVAX_ERR_\w+) = (-\d+)", HEADER.read_text())
    )
    assert korvax.CODES == declared
    assert korvax.error_name(-10023) == "KORVAX_ERR_HANDLE"
    assert korvax.error_message(-10023) == "Handle Error, Not Found This Handle or ResourceName"


def test_missing_library_names_every_path_tried(monkeypatch):
    from korvax import _library

    monkeypatch.setenv("KORVAX_LIBRARY", "/nonexistent/libKORVAX.so.1")
    monkeypatch.setattr(_library, "_loaded", None)
    monkeypatch.setattr(_library.ctypes.util, "find_library", lambda name: None)
    monkeypatch.setattr(_library, "_SONAME", "libKORVAX-missing.so.1")
    with pytest.raises(korvax.LibraryNotFound) as caught:
        _library.library()
    text = str(caught.value)
    assert "/nonexistent/libKORVAX.so.1" in text
    assert "libKORVAX-missing.so.1" in text
    assert "KORVAX_LIBRARY" in text


def test_two_chassis_in_one_with_and_a_later_find_keep_working():
    with korvax.Chassis("TCPIP0::sim-rq523b::INSTR") as b, korvax.Chassis("TCPIP0::sim-rq521::INSTR") as a:
        a.open_card()
        a.init()
        a.close("1!1,2!2")
        b.open_card()
        assert {f.resource for f in korvax.find()} >= {a.resource, b.resource}
        # Attached again: new sessions, the cards identified, the relay state kept.
        assert a.closed == {(1, 1), (2, 2)}
        a.close("3!3")
        assert a.closed == {(1, 1), (2, 2), (3, 3)}
        assert b.boards_present() == [True]
        a.clear()
    korvax.find()
    with pytest.raises(korvax.KorvaxError, match="a discovery after the end of its with block"):
        a.close("1!1")
    # Or one discovery for the set the program asks for.
    c, d = korvax.connect("TCPIP0::sim-rq520::INSTR", "TCPIP0::sim-rq522::INSTR")
    assert (c.model, d.model) == ("RQ520", "RQ522")


@pytest.mark.parametrize(
    "resource,call,message",
    [
        ("TCPIP0::sim-rq521::INSTR", lambda c: c.close("1!1", sub_unit=5), "the RQ521 has no sub-unit 5: it has sub-unit 0 only"),
        ("TCPIP0::sim-rq521::INSTR", lambda c: c.open_card(3), "no sub-unit 3"),
        ("TCPIP0::sim-rq521::INSTR", lambda c: c.self_test(2), "no sub-unit 2"),
        ("TCPIP0::sim-rq520::INSTR", lambda c: c.close("1!1", sub_unit=1), "only sub-unit 0 has a crosspoint matrix"),
        ("TCPIP0::sim-rq520::INSTR", lambda c: c.clear(3), "it has sub-units 0, 1 and 2"),
        ("TCPIP0::sim-rq522::INSTR", lambda c: c.close("5!1"), "the RQ522 switches rows 1 to 4 only"),
    ],
)
def test_sub_units_and_rows_the_chassis_does_not_have_are_refused_before_sending(resource, call, message):
    with korvax.Chassis(resource) as chassis:
        chassis.open_card()
        before = chassis.stored_state()
        with pytest.raises(ValueError, match=message):
            call(chassis)
        assert chassis.stored_state() == before


def test_scpi_state_arrays_and_close_share_one_state():
    with korvax.Chassis("TCPIP0::sim-rq522::INSTR") as chassis:
        chassis.open_card()
        chassis.init()
        assert chassis.geometry.rows == 4 and chassis.geometry.card_rows == 16
        chassis.close("1!1")
        assert chassis.scpi(":CLOS (@0(43!1))") == "Relays Operate Success"  # row 2, column 1 here
        assert chassis.closed == {(1, 1), (2, 1)}
        chassis.open("1!1")
        assert chassis.scpi(":OPEN:ALL") == "Relays Operate Success"
        assert chassis.closed == frozenset()


def test_simulated_chassis_need_no_resource_file():
    with korvax.Chassis.simulated("RQ521", resource="TCPIP0::bench-a::INSTR", serial=13572468, gpib=9) as chassis:
        chassis.open_card()
        assert chassis.info().serial == "13572468"
        assert chassis.settings()["gpib"] == 9
    with pytest.raises(ValueError, match="gpib"):
        korvax.Chassis.simulated("RQ521", resource="TCPIP0::bench-b::INSTR", gpib=99)


def test_update_checks_the_file_before_the_first_block(workdir):
    empty = workdir / "empty.bin"
    empty.write_bytes(b"")
    with korvax.Chassis("TCPIP0::sim-rq520::INSTR") as chassis:
        with pytest.raises(ValueError, match="a chassis takes 1 to 16777216"):
            chassis.update(empty)


def _python(code: str, **env: str) -> subprocess.CompletedProcess:
    full = {**os.environ, "PYTHONPATH": str(Path(korvax.__file__).parents[1]), **env}
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60, env=full)


def test_a_chassis_probes_only_the_resources_asked_for():
    run = _python(
        "import korvax\n"
        "with korvax.Chassis('TCPIP0::sim-rq521::INSTR'), korvax.Chassis('TCPIP0::sim-rq520::INSTR'):\n"
        "    print(sorted(r.resource for r in korvax.discovery_report()))"
    )
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "['TCPIP0::sim-rq520::INSTR', 'TCPIP0::sim-rq521::INSTR']"


def test_another_visa_library_falls_back_to_a_whole_discovery_and_says_so_once():
    builtin = Path(korvax.library()._name).resolve().parent / "libkorvaxvisa.so.1"
    run = _python(
        "import korvax\n"
        "a = korvax.Chassis('TCPIP0::sim-rq521::INSTR')\n"
        "b = korvax.Chassis('TCPIP0::sim-rq520::INSTR')\n"
        "print(len(korvax.discovery_report()))",
        KORVAX_VISA_LIBRARY=str(builtin),
    )
    assert run.returncode == 0, run.stderr
    assert run.stderr.count("KORVAX_VISA_LIBRARY names another VISA library") == 1
    assert run.stdout.strip() == "4"
