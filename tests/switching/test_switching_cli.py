"""The korvax command switching by name against korvax-sim, a chassis in another process."""
import json
import os
import subprocess
from pathlib import Path

import pytest
from logged_sim import LoggedSim, free_port

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


# A chassis that applies three frames and refuses every later one.
TIRED = """
[chassis.tired]
resource = "TCPIP0::localhost::INSTR"
rows = { 1 = "A", 2 = "B" }
columns = { 1 = "X", 2 = "Y", 3 = "Z" }

[routes]
probe = ["A:X", "A:Z"]
"""


class Sim(LoggedSim):
    """korvax-sim serving the bench and the tired chassis, with --log-relays read as it prints."""

    def __init__(self, folder: Path) -> None:
        self.folder = folder
        bench, tired = free_port(), free_port()
        self.resources = {"bench": f"TCPIP0::127.0.0.1::{bench}::SOCKET", "tired": f"TCPIP0::127.0.0.1::{tired}::SOCKET"}
        (folder / "sim.conf").write_text(f"[{self.resources['bench']}]\nmodel = RQ521\n\n"
                                         f"[{self.resources['tired']}]\nmodel = RQ523\nrefuse-after = 3\n")
        (folder / "client.conf").write_text(f"[TCPIP0::127.0.0.1::INSTR]\nsocket-port = {bench}\n\n"
                                            f"[TCPIP0::localhost::INSTR]\nsocket-port = {tired}\n")
        self.start(SIM, folder / "sim.conf", 2)

    def relays(self, chassis: str) -> list[str]:
        return self.relays_of(self.resources[chassis])


@pytest.fixture(scope="module")
def bench(tmp_path_factory):
    folder = tmp_path_factory.mktemp("switching-cli")
    (folder / "topology.toml").write_text(TOPOLOGY)
    (folder / "tired.toml").write_text(TIRED)
    sim = Sim(folder)
    try:
        yield sim
    finally:
        sim.stop()


def korvax(bench: Sim, *args: str, topology: str = "topology.toml") -> subprocess.CompletedProcess:
    folder = bench.folder
    env = dict(os.environ, KORVAX_VISA_RESOURCES=str(folder / "client.conf"), KORVAX_STATE_DIR=str(folder / "state"),
               KORVAX_DEV_ROOT="/nonexistent", KORVAX_SYSFS_ROOT="/nonexistent")
    return subprocess.run([CLI, "--topology", str(folder / topology), *args], capture_output=True, text=True,
                          timeout=60, env=env)


def recorded(bench: Sim, topology: str = "topology.toml") -> str:
    closed = json.loads(korvax(bench, "show", "--json", topology=topology).stdout)["closed"]
    return " ".join(closed) or "none"


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
    frames = len(bench.relays("bench"))
    refused = korvax(bench, "--json", "connect", "PSU_POS", "DUT1")
    assert refused.returncode == 1
    error = json.loads(refused.stdout)["error"]
    assert (error["code"], error["name"], error["during"]) == (-1, "KORVAXSW_REFUSED", "connect PSU_POS DUT1")
    assert (error["reason"], error["rule"]) == ("source-conflict", "sources DMM_HI, PSU_POS")

    assert korvax(bench, "route", "power_dut3").returncode == 0
    plan = json.loads(korvax(bench, "--json", "--dry-run", "route", "measure_dut1", "--only").stdout)
    assert plan["transactions"][0]["frames"] == [["1!1"], ["1!1", "2!2"]]
    done = korvax(bench, "route", "measure_dut1", "--only")
    assert done.stdout == "bench: opened 3!3, then closed 2!2\n  frame 1 closed: 1!1\n  frame 2 closed: 1!1 2!2\n"
    # On the wire, break before make: the opening alone, then the closing;
    # the refusal and the dry run sent nothing.
    bench.wait_for(lambda: len(bench.relays("bench")) == frames + 3)
    assert bench.relays("bench")[frames:] == ["1!1 3!3", "1!1", "1!1 2!2"]
    assert recorded(bench) == "1!1 2!2"
    paths = json.loads(korvax(bench, "paths", "--json").stdout)["paths"]
    assert [(p["a"], p["b"], p["crosspoints"], p["route"]) for p in paths] == [
        ("DMM_HI", "DUT1", ["1!1"], ""), ("DMM_LO", "DUT2", ["2!2"], "measure_dut1")]
    wear = json.loads(korvax(bench, "wear", "--top", "1", "--json").stdout)["wear"]
    assert [(w["crosspoint"], w["row"], w["column"]) for w in wear] == [("1!1", "DMM_HI", "DUT1")]
    shown = korvax(bench, "show").stdout
    assert "DMM_HI" in shown and "BUS_A" in shown


def test_a_refused_closing_frame_is_rolled_back_or_says_why_not(bench):
    assert korvax(bench, "connect", "A", "X", topology="tired.toml").returncode == 0
    assert korvax(bench, "connect", "B", "Y", topology="tired.toml").returncode == 0
    # The third frame (the opening) is the chassis's last: it refuses the
    # closing one and the state from before, sent again.
    run = korvax(bench, "--json", "route", "probe", "--only", topology="tired.toml")
    assert run.returncode == 1
    error = json.loads(run.stdout)["error"]
    assert (error["code"], error["name"], error["kind"], error["rollback"]) == (
        -10049, "KORVAX_ERR_USB_ADAPTER", "chassis", "failed")
    assert "the chassis holds the openings only (1!1)" in error["message"]
    bench.wait_for(lambda: len(bench.relays("tired")) == 3)
    assert bench.relays("tired") == ["1!1", "1!1 2!2", "1!1"]
    assert recorded(bench, "tired.toml") == "1!1"


def test_a_wrong_topology_names_file_line_and_key(bench, tmp_path):
    (tmp_path / "bad.toml").write_text('[chassis.x]\nresource = "r"\nsources = ["NOPE"]\n')
    run = subprocess.run([CLI, "--topology", str(tmp_path / "bad.toml"), "paths"], capture_output=True, text=True,
                         timeout=60)
    assert run.returncode == 1
    assert f"{tmp_path / 'bad.toml'}:3: chassis.x.sources: 'NOPE' is no channel" in run.stderr
