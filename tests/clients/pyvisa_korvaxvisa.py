"""PyVISA with the built-in VISA library as its VISA library: a chassis
simulated in process, and korvax-sim over VXI-11 and a raw socket."""
import argparse
import os
import sys
import tempfile
import time

import pyvisa

from simserver import RQ522_OPEN_FRAME, SimServer, free_port


def exercise(rm, name):
    print("--", name)
    inst = rm.open_resource(name)
    try:
        inst.read_termination = "\n"
        inst.write_termination = "\n"
        inst.timeout = 1000
        idn = inst.query("*IDN?")
        assert idn.startswith("QM,RQ522,"), idn
        inst.write_raw(RQ522_OPEN_FRAME)
        reply = inst.read_raw()
        assert len(reply) == 400 and reply[0] == 19, reply[:4]
        inst.write_raw(bytes([11, 0, 0, 0]))
        assert len(inst.read_bytes(400)) == 400
        inst.clear()
        info = inst.resource_info
        assert info.interface_type == pyvisa.constants.InterfaceType.tcpip, info
        # Nothing asked: the read times out, after the timeout and not much later.
        inst.timeout = 200
        start = time.monotonic()
        try:
            inst.read()
            raise AssertionError("a read with nothing asked returned")
        except pyvisa.errors.VisaIOError as e:
            assert e.error_code == pyvisa.constants.StatusCode.error_timeout, e
        assert time.monotonic() - start < 0.4
    finally:
        inst.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--visa", required=True)
    ap.add_argument("--sim", required=True)
    args = ap.parse_args()
    # A port picked free may be taken before the server binds it: try
    # other ports then.
    for attempt in range(5):
        pm, raw = free_port(), free_port()
        served = ("[TCPIP0::127.0.0.1::inst0::INSTR]\nmodel = RQ522\n"
                  "[TCPIP0::127.0.0.1::%d::SOCKET]\nmodel = RQ522\n" % raw)
        try:
            server = SimServer(args.sim, served, 2, pm)
            break
        except RuntimeError:
            if attempt == 4:
                raise
    with server, tempfile.TemporaryDirectory() as d:
        conf = os.path.join(d, "resources.conf")
        with open(conf, "w") as f:
            f.write("[TCPIP0::sim-rq522::INSTR]\nmodel = RQ522\n"
                    "[TCPIP0::127.0.0.1::inst0::INSTR]\nportmapper-port = %d\n"
                    "[TCPIP0::127.0.0.1::%d::SOCKET]\n" % (pm, raw))
        os.environ["KORVAX_VISA_RESOURCES"] = conf
        rm = pyvisa.ResourceManager(args.visa)
        found = rm.list_resources()
        assert found == ("TCPIP0::sim-rq522::INSTR", "TCPIP0::127.0.0.1::inst0::INSTR"), found
        sockets = rm.list_resources("?*SOCKET")
        assert sockets == ("TCPIP0::127.0.0.1::%d::SOCKET" % raw,), sockets
        for name in found + sockets:
            exercise(rm, name)
        rm.close()
    print("PyVISA on the built-in VISA library: all good")
    return 0


if __name__ == "__main__":
    sys.exit(main())
