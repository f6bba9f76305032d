"""Switching round trips per second of PyVISA with its pure-Python backend
(pyvisa-py) against korvax-sim serving an RQ522, over a raw socket and over
VXI-11, with the relay frame the network benchmark sends. pyvisa-py wants
the portmapper on port 111, so the server and this client run in a network
namespace made for the run (as root) and removed afterwards.

    /usr/bin/python3 bench/pyvisa_roundtrips.py build/bin/korvax-sim
"""
import os
import subprocess
import sys
import tempfile
import time

FRAME = bytes([19, 0]) + (21 * 49 * 2).to_bytes(2, "little") + bytes(96) + b"\x01" + bytes(21 * 49 * 2 - 97)


def client(seconds):
    import pyvisa
    rm = pyvisa.ResourceManager("@py")
    for name in ("TCPIP::127.0.0.1::5025::SOCKET", "TCPIP::127.0.0.1::INSTR"):
        inst = rm.open_resource(name)
        inst.timeout = 2000
        count = 0
        start = time.monotonic()
        while time.monotonic() - start < seconds:
            inst.write_raw(FRAME)
            reply = inst.read_bytes(400)
            assert reply[0] == 19
            count += 1
        elapsed = time.monotonic() - start
        print("%-32s %8.0f round trips/s  %8.1f us each" % (name, count / elapsed, 1e6 * elapsed / count))
        inst.close()


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--client":
        client(float(sys.argv[2]))
        return 0
    sim = sys.argv[1]
    ns = "korvax-bench-%d" % os.getpid()
    subprocess.run(["ip", "netns", "add", ns], check=True)
    server = None
    try:
        subprocess.run(["ip", "netns", "exec", ns, "ip", "link", "set", "lo", "up"], check=True)
        with tempfile.NamedTemporaryFile("w", suffix=".conf", delete=False) as f:
            f.write("[TCPIP0::127.0.0.1::inst0::INSTR]\nmodel = RQ522\n"
                    "[TCPIP0::127.0.0.1::5025::SOCKET]\nmodel = RQ522\n")
        server = subprocess.Popen(["ip", "netns", "exec", ns, sim, f.name], stdout=subprocess.PIPE, text=True)
        for _ in range(2):
            server.stdout.readline()
        subprocess.run(["ip", "netns", "exec", ns, sys.executable, __file__, "--client", "3"],
                       check=True, timeout=60)
    finally:
        if server:
            server.terminate()
            server.wait(timeout=5)
        subprocess.run(["ip", "netns", "del", ns])
        os.unlink(f.name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
