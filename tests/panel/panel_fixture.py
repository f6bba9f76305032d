"""korvax-sim chassis and a korvax-panel serving them, for the panel's API and browser tests."""
import json
import os
import queue
import subprocess
import threading
import urllib.error
import urllib.request
from pathlib import Path

from logged_sim import LoggedSim, free_port

CLI = os.environ["KORVAX_CLI"]
SIM = os.environ["KORVAX_SIM"]
PANEL = os.environ["KORVAX_PANEL"]

# The bench of the tests: an RQ521 with named channels and rules, a large
# RQ522 that is paged by card, and an RQ523 that refuses every relay frame
# after its fourth (a chassis that stops taking orders mid-session).
TOPOLOGY = """
[chassis.bench]
resource = "{bench}"
settle-ms = 1
rows = {{ 1 = "DMM_HI", 2 = "DMM_LO", 3 = "PSU_POS", 4 = "PSU_NEG" }}
columns = {{ 1 = "DUT1", 2 = "DUT2", 3 = "DUT3", 4 = "DUT4", 5 = "DUT5", 6 = "DUT6", 12 = "BUS_A" }}
configuration = ["BUS_A"]
sources = ["DMM_HI", "PSU_POS"]
exclusions = [["PSU_POS", "PSU_NEG"], ["PSU_POS", "DMM_LO"]]
max-per-column = 2

[chassis.big]
resource = "{big}"
rows = {{ 1 = "SCOPE_A", 2 = "SCOPE_B" }}

[chassis.tired]
resource = "{tired}"

[routes]
measure_dut1 = ["DMM_HI:DUT1", "DMM_LO:DUT2"]
power_dut3 = ["PSU_POS:DUT3", "PSU_NEG:DUT4"]
scope_far = ["big/SCOPE_A:C2000"]

[groups]
bring_up = ["power_dut3", "measure_dut1"]
"""

TIRED_FRAMES = 4


class Sim(LoggedSim):
    """korvax-sim serving the three chassis, with --log-relays read as it prints."""

    def __init__(self, folder: Path) -> None:
        self.folder = folder
        models = {"bench": "RQ521", "big": "RQ522", "tired": "RQ523"}
        ports = {name: free_port() for name in models}
        served = {name: f"TCPIP0::127.0.0.1::{port}::SOCKET" for name, port in ports.items()}
        # The panel's library reaches each as an instrument to probe, on its own board number.
        self.resources = {name: f"TCPIP{board}::127.0.0.1::INSTR" for board, name in enumerate(models)}
        self.served = served
        conf = ""
        for name, model in models.items():
            conf += f"[{served[name]}]\nmodel = {model}\n"
            if name == "tired":
                conf += f"refuse-after = {TIRED_FRAMES}\n"
            conf += "\n"
        (folder / "sim.conf").write_text(conf)
        (folder / "client.conf").write_text("".join(f"[{self.resources[name]}]\nsocket-port = {ports[name]}\n\n"
                                                    for name in models))
        (folder / "topology.toml").write_text(TOPOLOGY.format(**self.resources))
        self.start(SIM, folder / "sim.conf", len(models))

    def relays(self, chassis: str) -> list[str]:
        return self.relays_of(self.served[chassis])

    def environment(self) -> dict:
        return dict(os.environ, KORVAX_VISA_RESOURCES=str(self.folder / "client.conf"),
                    KORVAX_STATE_DIR=str(self.folder / "state"), XDG_CONFIG_HOME=str(self.folder / "config"),
                    KORVAX_DEV_ROOT="/nonexistent", KORVAX_SYSFS_ROOT="/nonexistent")

    def korvax(self, *args: str) -> subprocess.CompletedProcess:
        return subprocess.run([CLI, "--topology", str(self.folder / "topology.toml"), *args], capture_output=True,
                              text=True, timeout=60, env=self.environment())


class Panel:
    """korvax-panel on a free loopback port; its URL is the one line it prints."""

    def __init__(self, sim: Sim, *args: str, topology: bool = True) -> None:
        chosen = ["--topology", str(sim.folder / "topology.toml")] if topology else []
        self.process = subprocess.Popen(
            [PANEL, *chosen, "--listen", "127.0.0.1:0", *args],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=sim.environment())
        lines: queue.Queue = queue.Queue()
        threading.Thread(target=lambda: lines.put(self.process.stdout.readline()), daemon=True).start()
        try:
            line = lines.get(timeout=60)
        except queue.Empty:
            line = ""
        if not line.startswith("http://"):
            self.process.kill()
            raise AssertionError(f"korvax-panel printed {line!r}; stderr: {self.process.stderr.read()}")
        self.url = line.strip().rstrip("/")
        self.port = int(self.url.rsplit(":", 1)[1])

    def request(self, method: str, path: str, body=None, headers: dict | None = None):
        """(status, decoded JSON or text) of one request; a JSON body unless it is bytes."""
        data = body if body is None or isinstance(body, bytes) else json.dumps(body).encode()
        all_headers = {"Content-Type": "application/json"} if data is not None else {}
        all_headers.update(headers or {})
        req = urllib.request.Request(self.url + path, data=data, method=method, headers=all_headers)
        try:
            with urllib.request.urlopen(req, timeout=60) as res:
                status, text = res.status, res.read().decode()
        except urllib.error.HTTPError as e:
            status, text = e.code, e.read().decode()
        try:
            return status, json.loads(text)
        except json.JSONDecodeError:
            return status, text

    def stop(self) -> int:
        self.process.terminate()
        try:
            return self.process.wait(timeout=20)
        finally:
            self.process.stdout.close()
            self.process.stderr.close()
