"""The korvax command end to end, on simulated chassis of several models."""
import json
import os
import pty
import subprocess

import pytest

CLI = os.environ.get("KORVAX_CLI", "build/bin/korvax")


def korvax(*args: str, env: dict | None = None) -> subprocess.CompletedProcess:
    full = dict(os.environ, COLUMNS="80", **(env or {}))
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=60, env=full)


def as_json(*args: str) -> object:
    run = korvax(*args, "--json")
    assert run.returncode == 0, run.stderr
    return json.loads(run.stdout)


MODELS = [  # model, rows, card columns, cards fitted
    ("RQ520", 12, 10, 5),
    ("RQ521", 10, 12, 4),
    ("RQ522", 16, 96, 21),
    ("RQ523B", 8, 12, 1),
]


@pytest.mark.parametrize("model,rows,columns,cards", MODELS)
def test_find_info_and_show_describe_the_chassis(model, rows, columns, cards):
    found = as_json("--sim", model, "find")
    assert [(f["model"], f["resource"]) for f in found] == [(model, f"TCPIP0::sim-{model.lower()}::INSTR")]

    info = as_json("--sim", model, "info")
    assert info["model"] == model
    assert info["manufacturer"] == "QM"
    assert info["firmware"] == "3.08"
    assert info["subunits"][0]["card_size"] in (f"{rows}*{columns}", f"{columns}*{rows}")
    assert sum(s["present"] for s in info["slots"]) >= cards

    shown = as_json("--sim", model, "show")
    assert (shown["rows"], shown["card_columns"], shown["cards"]) == (rows, columns, cards)
    assert shown["closed"] == []


@pytest.mark.parametrize("model,rows,columns,cards", MODELS)
def test_closed_crosspoints_are_what_the_chassis_reports(model, rows, columns, cards):
    last = columns * cards
    run = korvax("--sim", model, "close", f"1!1,2!{last},1!2:2!3", "--show")
    assert run.returncode == 0, run.stderr
    wanted = {(1, 1), (2, last), (1, 2), (1, 3), (2, 2), (2, 3)}
    text = run.stdout
    assert "6 closed now" in text
    # The grid printed afterwards is the simulated chassis's own report.
    assert text.count(" X") == len(wanted)
    assert all(len(line) <= 80 for line in text.splitlines())

    result = as_json("--sim", model, "close", f"1!1,2!{last},1!2:2!3")
    assert {(p["row"], p["column"]) for p in result["closed"]} == wanted


def test_close_open_and_show_carry_the_recorded_state_between_runs(tmp_path):
    # A resource file chassis lives only as long as each process, like a
    # chassis someone else switched: korvax works from what it recorded.
    conf = tmp_path / "resources.conf"
    conf.write_text("[TCPIP0::bench::INSTR]\nmodel = RQ521\ncontrol-mode = remote\n"
                    "[TCPIP0::panel::INSTR]\nmodel = RQ521\n")
    env = {"KORVAX_VISA_RESOURCES": str(conf), "KORVAX_STATE_DIR": str(tmp_path / "state")}
    assert korvax("close", "TCPIP0::bench::INSTR", "1!1:2!2", env=env).returncode == 0
    assert korvax("open", "TCPIP0::bench::INSTR", "2!2", env=env).returncode == 0
    run = korvax("close", "TCPIP0::bench::INSTR", "10!48", "--json", env=env)
    assert run.returncode == 0, run.stderr
    closed = {(p["row"], p["column"]) for p in json.loads(run.stdout)["closed"]}
    assert closed == {(1, 1), (1, 2), (2, 1), (10, 48)}
    assert korvax("clear", "TCPIP0::bench::INSTR", env=env).returncode == 0
    # A chassis under front-panel control refuses the clear, and so does korvax.
    refused = korvax("clear", "TCPIP0::panel::INSTR", env=env)
    assert refused.returncode == 1 and "-10040" in refused.stderr
    assert json.loads(korvax("close", "TCPIP0::bench::INSTR", "3!3", "--json", env=env).stdout)["closed"] == [
        {"row": 3, "column": 3}
    ]


@pytest.mark.parametrize(
    "args,code,message",
    [
        (["--sim", "RQ521", "close", "1!x"], 2, "malformed crosspoint list '1!x'"),
        (["--sim", "RQ521", "close", "1!1,"], 2, "malformed crosspoint list"),
        (["--sim", "RQ521", "open", "0!1"], 2, "malformed crosspoint list"),
        (["--sim", "RQ521", "close", "11!1"], 2, "outside the RQ521's 10 rows x 48 columns"),
        (["--sim", "RQ522", "show", "--columns", "9:3"], 2, "--columns wants A:B"),
        (["--sim", "RQ999", "find"], 2, "unknown model 'RQ999'"),
        (["--sim", "RQ520", "show", "--subunit", "1"], 2, "only sub-unit 0 has a crosspoint matrix"),
        (["--sim", "RQ521", "settings", "set", "colour", "red"], 2, "unknown setting 'colour'"),
        (["frobnicate"], 2, ""),
        (["close"], 2, ""),
        (["info", "TCPIP0::nowhere::INSTR"], 1,
         "Resource is not present in the system (-10048 KORVAX_ERR_RESOURCE_ABSENT)"),
        (["--sim", "RQ521", "close", "1!1:10!48"], 1, "Relay Closure Limit Exceeded (-10030 KORVAX_ERR_CLOSURE_LIMIT)"),
        (["--sim", "RQ523", "settings", "set", "gpib", "7"], 1, "KORVAX_ERR_"),
        (["--sim", "RQ521", "update", "/nonexistent/image.bin"], 1, "KORVAX_ERR_UPDATE_FILE_OPEN"),
    ],
)
def test_failures_say_why_and_exit_with_their_class(args, code, message):
    run = korvax(*args)
    assert run.returncode == code, run.stdout + run.stderr
    assert message in run.stderr


def test_json_errors_carry_code_name_and_message():
    run = korvax("info", "TCPIP0::nowhere::INSTR", "--json")
    assert run.returncode == 1
    error = json.loads(run.stdout)["error"]
    assert (error["code"], error["name"]) == (-10048, "KORVAX_ERR_RESOURCE_ABSENT")
    assert error["message"] == "Resource is not present in the system"


def test_scpi_selftest_settings_and_update():
    assert as_json("--sim", "RQ521", "scpi", ":CLOS (@0(1!1))")["reply"] == "Relays Operate Success"
    assert as_json("--sim", "RQ521", "scpi", "*IDN?")["reply"].startswith("QM,RQ521,")
    assert as_json("--sim", "RQ520", "selftest")["passed"] is True

    settings = as_json("--sim", "RQ521", "settings", "get")
    assert settings["gpib"] == "5" and settings["control-mode"] == "local"
    assert as_json("--sim", "RQ521", "settings", "set", "gpib", "7")["value"] == "7"
    assert as_json("--sim", "RQ523", "settings")["gpib"] is None  # RQ521 only


def test_update_reports_progress_as_plain_lines_off_a_terminal(tmp_path):
    image = tmp_path / "image.bin"
    image.write_bytes(bytes(range(256)) * 4)
    run = korvax("--sim", "RQ521", "update", str(image))
    assert run.returncode == 0, run.stderr
    lines = run.stderr.splitlines()
    assert lines[-1] == "update: 1024 of 1024 bytes sent (100%)"
    assert "\r" not in run.stderr


def test_update_draws_a_progress_bar_on_a_terminal(tmp_path):
    image = tmp_path / "image.bin"
    image.write_bytes(b"\x5a" * 1000)
    main, secondary = pty.openpty()
    try:
        run = subprocess.run([CLI, "--sim", "RQ521", "update", str(image)], stdout=subprocess.PIPE,
                             stderr=secondary, text=True, timeout=60)
        os.close(secondary)
        secondary = -1
        drawn = b""
        while True:
            try:
                chunk = os.read(main, 4096)
            except OSError:  # the terminal is gone once everything was read
                break
            if not chunk:
                break
            drawn += chunk
    finally:
        os.close(main)
        if secondary >= 0:
            os.close(secondary)
    assert run.returncode == 0
    assert b"\r[" in drawn and b"100% 1000/1000 bytes" in drawn


def test_demo_runs_the_whole_session_on_every_model():
    for model in ["RQ521", "RQ520B", "RQ522", "RQ523"]:
        run = korvax("demo", "--model", model)
        assert run.returncode == 0, run.stderr
        assert "Relays Operate Success" in run.stdout
        assert "clear: 0 crosspoints closed" in run.stdout
    assert as_json("--sim", "RQ523B", "demo")["resource"] == "TCPIP0::sim-rq523b::INSTR"
    report = as_json("demo")
    assert {(p["row"], p["column"]) for p in report["closed"]} == {(1, 1), (2, 12), (1, 3), (1, 4)}
    assert report["closed_after_clear"] == 0


def test_help_lists_every_subcommand():
    run = korvax("--help")
    assert run.returncode == 0
    for name in ["find", "info", "close", "open", "clear", "scpi", "show", "selftest", "settings", "update", "demo"]:
        assert name in run.stdout
