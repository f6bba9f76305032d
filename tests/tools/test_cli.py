"""The korvax command end to end, on simulated chassis of several models."""
import json
import os
import pty
import socket
import struct
import subprocess
import termios
import fcntl
from pathlib import Path

import pytest

CLI = os.environ.get("KORVAX_CLI", "build/bin/korvax")


def korvax(*args: str, env: dict | None = None, stdin: str = "") -> subprocess.CompletedProcess:
    full = {**os.environ, "COLUMNS": "80", **(env or {})}
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=60, env=full, input=stdin)


def as_json(*args: str, env: dict | None = None) -> dict:
    run = korvax(*args, "--json", env=env)
    assert run.returncode == 0, run.stderr
    out = json.loads(run.stdout)
    assert isinstance(out, dict)
    return out


@pytest.fixture
def bench(tmp_path):
    """A resource file of chassis that live only as long as each korvax process, like a chassis
    someone else switched: korvax works from what it recorded."""
    conf = tmp_path / "resources.conf"
    conf.write_text("[TCPIP0::bench::INSTR]\nmodel = RQ521\ncontrol-mode = remote\n\n"
                    "[TCPIP0::wide::INSTR]\nmodel = RQ522\n\n[TCPIP0::panel::INSTR]\nmodel = RQ521\n")
    return {"KORVAX_VISA_RESOURCES": str(conf), "KORVAX_STATE_DIR": str(tmp_path / "state")}


def closed_points(result: dict) -> set:
    return {(p["row"], p["column"]) for p in result["closed"]}


MODELS = [  # model, rows a frame switches, card columns, cards fitted
    ("RQ520", 12, 10, 5),
    ("RQ521", 10, 12, 4),
    ("RQ522", 4, 96, 21),
    ("RQ523B", 8, 12, 1),
]


@pytest.mark.parametrize("model,rows,columns,cards", MODELS)
def test_find_info_and_show_describe_the_chassis(model, rows, columns, cards):
    found = as_json("--sim", model, "find")["chassis"]
    assert [(f["model"], f["resource"]) for f in found] == [(model, f"TCPIP0::sim-{model.lower()}::INSTR")]

    info = as_json("--sim", model, "info")
    assert info["model"] == model and info["manufacturer"] == "QM" and info["firmware"] == "3.08"
    assert (info["matrix"]["rows"], info["matrix"]["columns"]) == (rows, columns * cards)

    shown = as_json("--sim", model, "show")
    assert (shown["rows"], shown["card_columns"], shown["cards"]) == (rows, columns, cards)
    assert shown["closed"] == [] and shown["simulated"] is True


@pytest.mark.parametrize("width", [80, 40])
@pytest.mark.parametrize("model,rows,columns,cards", MODELS)
def test_closed_crosspoints_are_what_the_chassis_reports(model, rows, columns, cards, width):
    last = columns * cards
    run = korvax("--sim", model, "close", f"1!1,2!{last},1!2:2!3", "--show", env={"COLUMNS": str(width)})
    assert run.returncode == 0, run.stderr
    assert "6 closed now" in run.stdout
    # The grid printed afterwards is the simulated chassis's own report.
    assert run.stdout.count(" X") == 6
    assert all(len(line) <= width for line in run.stdout.splitlines())


def test_show_fits_the_terminal_it_draws_on():
    main, secondary = pty.openpty()
    fcntl.ioctl(secondary, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 30, 0, 0))
    try:
        run = subprocess.run([CLI, "--sim", "RQ521", "show"], stdout=secondary, stderr=subprocess.PIPE,
                             env=dict(os.environ, COLUMNS="200"), timeout=60)
        os.close(secondary)
        secondary = -1
        drawn = _drain(main)
    finally:
        os.close(main)
        if secondary >= 0:
            os.close(secondary)
    assert run.returncode == 0
    lines = drawn.decode().splitlines()
    assert lines[1] == "as the simulated chassis reports it"
    assert max(len(line) for line in lines[2:]) <= 30  # the grid; the resource name above may be longer


def test_close_open_and_show_carry_the_recorded_state_between_runs(bench):
    rsrc = "TCPIP0::bench::INSTR"
    assert korvax("close", rsrc, "1!1:2!2", env=bench).returncode == 0
    assert korvax("open", rsrc, "2!2", env=bench).returncode == 0
    assert closed_points(as_json("close", rsrc, "10!48", env=bench)) == {(1, 1), (1, 2), (2, 1), (10, 48)}
    # SCPI relay commands start from the record and add to it (48 columns per row on an RQ521 too).
    assert as_json("scpi", rsrc, ":CLOS (@0(3!1))", env=bench)["reply"] == "Relays Operate Success"
    assert closed_points(as_json("show", rsrc, env=bench)) == {(1, 1), (1, 2), (2, 1), (3, 1), (10, 48)}
    assert korvax("clear", rsrc, env=bench).returncode == 0
    assert closed_points(as_json("close", rsrc, "3!3", env=bench)) == {(3, 3)}
    # A chassis under front-panel control refuses the clear, and so does korvax.
    refused = korvax("clear", "TCPIP0::panel::INSTR", env=bench)
    assert refused.returncode == 1 and "-10040" in refused.stderr


def test_scpi_and_close_number_columns_differently_on_an_rq522(bench):
    rsrc = "TCPIP0::wide::INSTR"
    as_json("scpi", rsrc, ":CLOS (@0(43!1))", env=bench)  # point 42 * 48 = 2016: row 2, column 1
    as_json("scpi", rsrc, ":CLOS (@0(2!1))", env=bench)   # point 48: row 1, column 49
    assert closed_points(as_json("show", rsrc, env=bench)) == {(2, 1), (1, 49)}


def test_a_state_file_of_an_earlier_korvax_is_adopted_once_and_checked(bench):
    state = Path(bench["KORVAX_STATE_DIR"])
    state.mkdir()
    kept = state / "TCPIP0__wide__INSTR.sub0"
    kept.write_text("# korvax relay record 1\n1!1\n# end 1\n")
    assert closed_points(as_json("close", "TCPIP0::wide::INSTR", "2!2", env=bench)) == {(1, 1), (2, 2)}
    kept.write_text("3!3\n")  # read once: the record holds the chassis from then on
    assert closed_points(as_json("show", "TCPIP0::wide::INSTR", env=bench)) == {(1, 1), (2, 2)}

    rsrc = "TCPIP0::bench::INSTR"
    wrong = state / "TCPIP0__bench__INSTR.sub0"
    wrong.write_text("1!49\n")  # would close 2!1, a relay nobody asked for
    for args in (["close", rsrc, "2!2"], ["show", rsrc], ["scpi", rsrc, ":CLOS (@0(1!1))"]):
        run = korvax(*args, env=bench)
        assert run.returncode == 1, run.stdout
        assert "crosspoint 1!49 is outside" in run.stderr and str(wrong) in run.stderr
    assert korvax("clear", rsrc, env=bench).returncode == 0  # the way out: every relay open
    assert closed_points(as_json("show", rsrc, env=bench)) == set()


def test_a_record_that_cannot_be_opened_stops_before_switching(bench, tmp_path):
    blocked = tmp_path / "not-a-folder"
    blocked.write_text("")
    state = tmp_path / "state"
    state.mkdir()
    (state / "switching.sqlite3").write_bytes(b"not a database " * 100)
    for env in (dict(bench, KORVAX_STATE_DIR=str(blocked)), bench):
        run = korvax("close", "TCPIP0::bench::INSTR", "1!1", "--json", env=env)
        assert run.returncode == 1
        assert env["KORVAX_STATE_DIR"] in run.stderr and "nothing was switched" in run.stderr
        error = json.loads(run.stdout)["error"]
        assert (error["code"], error["name"]) == (-5, "KORVAXSW_RECORD")


@pytest.mark.parametrize(
    "args,code,message",
    [
        (["--sim", "RQ521", "close", "1!x"], 2, "malformed crosspoint list '1!x'"),
        (["--sim", "RQ521", "open", "0!1"], 2, "malformed crosspoint list"),
        (["--sim", "RQ521", "close", "11!1"], 2, "outside the RQ521's 10 rows x 48 columns"),
        (["--sim", "RQ522", "close", "5!1"], 2, "the RQ522 switches rows 1 to 4 only"),
        (["--sim", "RQ521", "close", "--subunit", "7", "1!1"], 2, "the RQ521 has no sub-unit 7: it has sub-unit 0 only"),
        (["--sim", "RQ520", "selftest", "--subunit", "3"], 2, "sub-units 0 (the matrix), 1 (the RF card) and 2"),
        (["--sim", "RQ520", "show", "--subunit", "1"], 2, "only sub-unit 0 has a crosspoint matrix"),
        (["--sim", "RQ522", "show", "--columns", "9:3"], 2, "--columns wants A:B"),
        (["--sim", "RQ999", "find"], 2, "unknown model 'RQ999'"),
        (["--sim", "RQ521", "settings", "set", "colour", "red"], 2, "unknown setting 'colour'"),
        (["--sim", "RQ521", "settings", "set", "gpib", "31"], 1, "gpib takes 1..30"),
        (["--sim", "RQ521", "settings", "set", "baud", "1234"], 1, "9600, 19200, 38400, 57600 or 115200"),
        (["--sim", "RQ521", "settings", "set", "ip", "10.0.0.1"], 1, "192.168.1.X"),
        (["frobnicate"], 2, "unknown command 'frobnicate' (commands: find, info, close"),
        (["close"], 2, ""),
        (["info", "TCPIP0::nowhere::INSTR"], 1, "Resource is not present in the system (-10048 KORVAX_ERR_RESOURCE_ABSENT)"),
        (["--sim", "RQ521", "close", "1!1:10!48"], 1, "Relay Closure Limit Exceeded (-10030 KORVAX_ERR_CLOSURE_LIMIT)"),
        (["--sim", "RQ521", "scpi", ":CLOS (@0(1!1:10!48))"], 1, "Relay Closure Limit Exceeded"),
        (["--sim", "RQ521", "scpi", ":FROB"], 1, "Unknown SCPI Command"),
        (["--sim", "RQ523", "settings", "set", "gpib", "7"], 1, "KORVAX_ERR_"),
        (["--sim", "RQ521", "update", "--yes", "/nonexistent/image.bin"], 1, "KORVAX_ERR_UPDATE_FILE_OPEN"),
        (["--sim", "RQ521", "update", "--yes", "/dev/null"], 1, "not a regular file"),
    ],
)
def test_failures_say_why_and_exit_with_their_class(args, code, message):
    run = korvax(*args)
    assert run.returncode == code, run.stdout + run.stderr
    assert message in run.stderr


@pytest.mark.parametrize(
    "args,code,name",
    [
        (["info", "TCPIP0::nowhere::INSTR"], 1, "KORVAX_ERR_RESOURCE_ABSENT"),
        (["frobnicate"], 2, "KORVAX_ERR_PARAMETER"),
        (["--sim", "RQ521", "close", "--bogus"], 2, "KORVAX_ERR_PARAMETER"),
        (["--sim", "RQ521", "scpi", ":FROB"], 1, "KORVAX_ERR_PARAMETER"),
        (["--sim", "RQ521", "close", "1!1:10!48"], 1, "KORVAX_ERR_CLOSURE_LIMIT"),
    ],
)
def test_every_failure_is_one_json_error_object(args, code, name):
    run = korvax(*args, "--json")
    assert run.returncode == code
    error = json.loads(run.stdout)["error"]
    assert set(error) == {"code", "name", "message", "during", "detail"}
    assert error["code"] < 0 and error["name"].startswith("KORVAX_ERR_") and error["message"]
    assert error["name"] == name


def test_every_command_answers_one_json_object(tmp_path):
    image = tmp_path / "image.bin"
    image.write_bytes(b"\x01" * 300)
    for args in (["find"], ["info"], ["close", "1!1"], ["open", "1!1"], ["clear"], ["scpi", "*IDN?"], ["show"],
                 ["selftest"], ["settings"], ["update", "--yes", str(image)], ["demo"]):
        out = as_json("--sim", "RQ520", *args)
        assert out["simulated"] is True, args


def test_a_real_resource_name_under_sim_says_simulated():
    run = korvax("--sim", "RQ521", "info", "TCPIP0::192.168.1.20::INSTR")
    assert run.returncode == 0
    assert run.stdout.startswith("(simulated RQ521 chassis under TCPIP0::192.168.1.20::INSTR")
    assert as_json("--sim", "RQ521", "info", "TCPIP0::192.168.1.20::INSTR")["simulated"] is True


def _free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_find_verbose_gives_one_reason_per_resource(tmp_path):
    silent = socket.socket()  # accepts connections, never answers
    silent.bind(("127.0.0.1", 0))
    silent.listen()
    sims = "".join(f"[TCPIP0::sim{i}::INSTR]\nmodel = RQ523\n\n" for i in range(6))
    conf = tmp_path / "resources.conf"
    conf.write_text(
        f"[TCPIP0::127.0.0.1::INSTR]\nsocket-port = {_free_port()}\n\n"
        f"[TCPIP0::localhost::INSTR]\nsocket-port = {silent.getsockname()[1]}\n\n"
        "[TCPIP0::dmm::INSTR]\nmodel = RQ521\nidn-maker = Other\n\n"
    )
    # Six chassis in a file of their own: the VISA library lists simulated
    # chassis first, and what is listed after the fifth chassis may go
    # unprobed, which would make the reasons above a matter of timing.
    crowd = tmp_path / "crowd.conf"
    crowd.write_text(sims)
    env = {"KORVAX_VISA_RESOURCES": str(conf)}
    try:
        report = as_json("--timeout", "300", "find", "--verbose", env=env)["resources"]
        typo = korvax("info", "TCPIP0::dmn::INSTR", env=env)
    finally:
        silent.close()
    report += as_json("find", "--verbose", env={"KORVAX_VISA_RESOURCES": str(crowd)})["resources"]
    outcomes = {r["resource"]: (r["outcome"], r["detail"]) for r in report}
    assert outcomes["TCPIP0::127.0.0.1::INSTR"][1].startswith("could not be opened: connection refused")
    assert outcomes["TCPIP0::localhost::INSTR"] == ("no-answer", "no answer to *IDN? within the timeout (VI_ERROR_TMO)")
    assert outcomes["TCPIP0::dmm::INSTR"][0] == "not-ours" and "not our maker's identity" in outcomes["TCPIP0::dmm::INSTR"][1]
    assert [outcomes[f"TCPIP0::sim{i}::INSTR"][0] for i in range(6)] == ["accepted"] * 5 + ["beyond-limit"]
    assert "beyond the five chassis a discovery keeps" in outcomes["TCPIP0::sim5::INSTR"][1]
    assert typo.returncode == 1 and "did you mean 'TCPIP0::dmm::INSTR'?" in typo.stderr


def test_selftest_settings_and_scpi_replies():
    assert as_json("--sim", "RQ521", "scpi", "*IDN?")["reply"].startswith("QM,RQ521,")
    assert as_json("--sim", "RQ520", "selftest")["passed"] is True
    settings = as_json("--sim", "RQ521", "settings", "get")
    assert settings["gpib"] == "5" and settings["control-mode"] == "local"
    assert as_json("--sim", "RQ521", "settings", "set", "gpib", "7")["value"] == "7"
    assert as_json("--sim", "RQ523", "settings")["gpib"] is None  # RQ521 only
    assert "gpib: 1..30" in korvax("settings", "--help").stdout


@pytest.mark.parametrize(
    "content,answer,code,message",
    [
        (b"", None, 2, "a chassis takes 1 to 16777216 bytes"),
        (b"\x01" * 300, "n\n", 1, "update not confirmed"),
        (b"\x01" * 300, "", 1, "update not confirmed"),
        (b"\x01" * 300, "y\n", 0, "update: 300 of 300 bytes sent (100%)"),
    ],
)
def test_update_checks_the_file_and_asks_first(tmp_path, content, answer, code, message):
    image = tmp_path / "image.bin"
    image.write_bytes(content)
    run = korvax("--sim", "RQ521", "update", str(image), stdin=answer or "")
    assert run.returncode == code, run.stderr
    assert message in run.stderr


def test_update_reports_progress_as_plain_lines_off_a_terminal(tmp_path):
    image = tmp_path / "image.bin"
    image.write_bytes(bytes(range(256)) * 4)
    run = korvax("--sim", "RQ521", "update", "--yes", str(image))
    assert run.returncode == 0, run.stderr
    assert run.stderr.splitlines()[-1] == "update: 1024 of 1024 bytes sent (100%)"
    assert "\r" not in run.stderr


def _drain(fd: int) -> bytes:
    drawn = b""
    for _ in range(10000):
        try:
            chunk = os.read(fd, 4096)
        except OSError:  # the terminal is gone once everything was read
            break
        if not chunk:
            break
        drawn += chunk
    return drawn


def test_update_progress_fits_the_terminal_and_redraws_seldom(tmp_path):
    width = 30
    image = tmp_path / "image.bin"
    image.write_bytes(b"\x5a" * 64000)  # 500 blocks
    main, secondary = pty.openpty()
    fcntl.ioctl(secondary, termios.TIOCSWINSZ, struct.pack("HHHH", 24, width, 0, 0))
    try:
        run = subprocess.run([CLI, "--sim", "RQ521", "update", "--yes", str(image)], stdout=subprocess.PIPE,
                             stderr=secondary, timeout=60)
        os.close(secondary)
        secondary = -1
        drawn = _drain(main).decode()
    finally:
        os.close(main)
        if secondary >= 0:
            os.close(secondary)
    assert run.returncode == 0
    draws = [d for d in drawn.replace("\r\n", "\n").split("\r") if d.strip()]
    assert draws and all(len(d.rstrip("\n")) < width for d in draws)
    assert "100%" in draws[-1]
    assert len(draws) < 100  # 500 blocks acknowledged, at most ten redraws a second


def test_demo_runs_the_whole_session_on_every_model():
    for model in ["RQ521", "RQ520B", "RQ522", "RQ523"]:
        run = korvax("demo", "--model", model)
        assert run.returncode == 0, run.stderr
        assert "Relays Operate Success" in run.stdout
        assert "clear: 0 crosspoints closed" in run.stdout
    report = as_json("demo")
    assert closed_points(report) == {(1, 1), (2, 12), (1, 3), (1, 4)}
    assert report["closed_after_clear"] == 0


def test_help_lists_every_subcommand_and_the_numbering():
    run = korvax("--help")
    assert run.returncode == 0
    for name in ["find", "info", "close", "open", "clear", "scpi", "show", "selftest", "settings", "update", "demo"]:
        assert name in run.stdout
    for command in ("close", "scpi"):
        assert ":CLOS (@0(43!1))" in korvax(command, "--help").stdout
