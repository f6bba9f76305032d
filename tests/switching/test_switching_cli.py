"""The korvax command switching by name against korvax-sim, a chassis in another process."""
import json
import os
import socket
import subprocess
import time
from pathlib import Path

import pytest

CLI = os.environ["KORVAX_CLI"]
SIM = os.environ["KORVAX_SIM"]

TOPOLOGY = """
[chassis.bench]
resource = "TCPIP0::127.0.0.1::INSTR"
settle-ms = 1
rows = { 1 = "DMM_HI", 2 = "DMM_LO", 3 = "PSU_POS", 4 = "PSU_NEG" }
columns = { 1 = "DUT1", 2 = "DUT2", 3 = "DUT3", 48 = "BUS_A" }
configuration = ["BUS_A"]
sources = ["DMM_HI", "PSU_POS"]
exclusions = [["PSU_POS", "PSU_NEG"], ["PSU_POS", "DMM_LO"]]
max-per-column = 2

[routes]
measure_dut1 = ["DMM_HI:DUT1", "DMM_LO:DUT2"]
power_dut3 = ["PSU_POS:DUT3"]
"""


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.fixture(scope="module")
def bench(tmp_path_factory):
    folder = tmp_path_factory.mktemp("switching-cli")
    port = free_port()
    (folder / "sim.conf").write_text(f"[TCPIP0::127.0.0.1::{port}::SOCKET]\nmodel = RQ521\n")
    (folder / "client.conf").write_text(f"[TCPIP0::127.0.0.1::INSTR]\nsocket-port = {port}\n")
    (folder / "topology.toml").write_text(TOPOLOGY)
    server = subprocess.Popen(
        [SIM, "--portmapper-port", str(free_port()), str(folder / "sim.conf")],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
    )
    try:
        assert server.stdout.readline().startswith("serving ")
        yield folder
    finally:
        server.terminate()
        server.wait(timeout=10)


def korvax(bench: Path, *args: str) -> subprocess.CompletedProcess:
    env = dict(os.environ, KORVAX_VISA_RESOURCES=str(bench / "client.conf"), KORVAX_STATE_DIR=str(bench / "state"),
               KORVAX_DEV_ROOT="/nonexistent", KORVAX_SYSFS_ROOT="/nonexistent")
    return subprocess.run([CLI, "--topology", str(bench / "topology.toml"), *args], capture_output=True, text=True,
                          timeout=60, env=env)


def test_a_session_of_commands(bench):
    assert korvax(bench, "disconnect", "--all").returncode == 0
    assert korvax(bench, "connect", "DMM_HI", "DUT1").returncode == 0
    answers = {pair: korvax(bench, "can-connect", *pair) for pair in
               [("PSU_POS", "DUT1"), ("DMM_HI", "DUT1"), ("DMM_LO", "PSU_NEG"), ("X", "DUT1")]}
    assert {pair: (r.returncode, r.stdout) for pair, r in answers.items()} == {
        ("PSU_POS", "DUT1"): (0, "source-conflict\n"),
        ("DMM_HI", "DUT1"): (0, "exists\n"),
        ("DMM_LO", "PSU_NEG"): (0, "possible\n"),
        ("X", "DUT1"): (0, "unsupported\n"),
    }
    refused = korvax(bench, "--json", "connect", "PSU_POS", "DUT1")
    assert refused.returncode == 1
    assert json.loads(refused.stdout)["error"]["reason"] == "source-conflict"

    assert korvax(bench, "route", "power_dut3").returncode == 0
    plan = json.loads(korvax(bench, "--json", "--dry-run", "route", "measure_dut1", "--only").stdout)
    assert plan["transactions"][0]["frames"] == [["1!1"], ["1!1", "2!2"]]
    done = korvax(bench, "route", "measure_dut1", "--only")
    assert done.stdout == "bench: opened 3!3, then closed 2!2\n  frame 1 closed: 1!1\n  frame 2 closed: 1!1 2!2\n"
    paths = json.loads(korvax(bench, "paths", "--json").stdout)["paths"]
    assert [(p["a"], p["b"], p["crosspoints"], p["route"]) for p in paths] == [
        ("DMM_HI", "DUT1", ["1!1"], ""), ("DMM_LO", "DUT2", ["2!2"], "measure_dut1")]
    wear = json.loads(korvax(bench, "wear", "--top", "1", "--json").stdout)["wear"]
    assert [(w["crosspoint"], w["row"], w["column"]) for w in wear] == [("1!1", "DMM_HI", "DUT1")]
    shown = korvax(bench, "show").stdout
    assert "DMM_HI" in shown and "BUS_A" in shown


def test_a_wrong_topology_names_file_line_and_key(bench, tmp_path):
    (tmp_path / "bad.toml").write_text('[chassis.x]\nresource = "r"\nsources = ["NOPE"]\n')
    run = subprocess.run([CLI, "--topology", str(tmp_path / "bad.toml"), "paths"], capture_output=True, text=True,
                         timeout=60)
    assert run.returncode == 1
    assert f"{tmp_path / 'bad.toml'}:3: chassis.x.sources: 'NOPE' is no channel" in run.stderr
