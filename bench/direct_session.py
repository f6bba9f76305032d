#!/usr/bin/python3
"""Wall time of one korvax command against korvax-sim on loopback, on a machine
with a silent on-board serial port.

    /usr/bin/python3 bench/direct_session.py [BUILD_DIR] [RUNS]

korvax-sim serves an RQ521 over VXI-11 at 127.0.0.1 (portmapper on a free
port). A device folder and a sysfs tree of our own hold ttyS0: a real UART
as far as the built-in VISA can tell (type 4 on the pnp bus), behind a
pseudo-terminal nobody answers on. Timed, RUNS times each:

- `korvax info TCPIP0::127.0.0.1::inst0::INSTR`: a direct session, probing
  only the resource named;
- `korvax find`: a whole discovery, which also asks ttyS0 "*IDN?" at five
  baud rates and waits out the timeout at each.

Nothing but loopback and the pseudo-terminal is touched.
"""
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import tty
from pathlib import Path

RESOURCE = "TCPIP0::127.0.0.1::inst0::INSTR"


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def timed(command: list[str], env: dict, runs: int) -> list[float]:
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        run = subprocess.run(command, env=env, capture_output=True, text=True, timeout=120)
        times.append(time.perf_counter() - start)
        if run.returncode != 0:
            raise SystemExit(f"{' '.join(command)} failed:\n{run.stderr}")
    return times


def main() -> int:
    build = Path(sys.argv[1] if len(sys.argv) > 1 else "build")
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    korvax, sim = str(build / "bin/korvax"), str(build / "bin/korvax-sim")
    with tempfile.TemporaryDirectory(prefix="korvax-direct-") as folder:
        root = Path(folder)
        # The silent on-board port.
        master, secondary = os.openpty()
        tty.setraw(secondary)
        (root / "dev").mkdir()
        (root / "dev/ttyS0").symlink_to(os.ttyname(secondary))
        port = root / "sys/class/tty/ttyS0"
        (port / "device").mkdir(parents=True)
        (port / "type").write_text("4\n")
        (root / "sys/bus/pnp").mkdir(parents=True)
        (port / "device/subsystem").symlink_to(root / "sys/bus/pnp")

        conf = root / "served.conf"
        conf.write_text(f"[{RESOURCE}]\nmodel = RQ521\n")
        portmapper = free_port()
        server = subprocess.Popen([sim, "--portmapper-port", str(portmapper), str(conf)],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            assert server.stdout and server.stdout.readline().startswith("serving "), "korvax-sim did not start"
            env = {
                **os.environ,
                "KORVAX_DEV_ROOT": str(root / "dev"),
                "KORVAX_SYSFS_ROOT": str(root / "sys"),
                "KORVAX_VXI11_PORTMAPPER_PORT": str(portmapper),
                "KORVAX_VISA_RESOURCES": "",
                "KORVAX_STATE_DIR": str(root / "state"),
            }
            env.pop("KORVAX_VISA_LIBRARY", None)
            env.pop("KORVAX_VISA_ONLY", None)
            direct = timed([korvax, "info", RESOURCE], env, runs)
            whole = timed([korvax, "find"], env, max(1, runs // 10))
        finally:
            server.terminate()
            server.wait(timeout=10)
            os.close(master)
            os.close(secondary)
    for name, times in (("korvax info RSRC (direct session)", direct), ("korvax find (whole discovery)", whole)):
        print(f"{name}: median {statistics.median(times):.3f} s, max {max(times):.3f} s over {len(times)} runs")
    return 0


if __name__ == "__main__":
    sys.exit(main())
