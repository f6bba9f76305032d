"""pyvisa-py (PyVISA's pure-Python backend) against korvax-sim: "*IDN?",
a relay frame and its reply, over VXI-11 (portmapper on port 111) and a
raw socket. Run inside the network namespace that netns_clients.sh made."""
import sys

import pyvisa

from simserver import RQ522_OPEN_FRAME


def main():
    raw_port = int(sys.argv[1])
    rm = pyvisa.ResourceManager("@py")
    for name in ("TCPIP::127.0.0.1::INSTR", "TCPIP::127.0.0.1::%d::SOCKET" % raw_port):
        inst = rm.open_resource(name)
        inst.read_termination = "\n"
        inst.write_termination = "\n"
        inst.timeout = 2000
        idn = inst.query("*IDN?")
        assert idn.startswith("QM,RQ522,"), idn
        inst.write_raw(RQ522_OPEN_FRAME)
        reply = inst.read_bytes(400)
        assert reply[0] == 19 and reply[1:4] == bytes(3), reply[:4]
        inst.close()
        print(name, "->", idn)
    rm.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
