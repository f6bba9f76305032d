"""korvax-sim as a child process for the client tests: started on a
resource file of the test's own, stopped whatever happens."""
import os
import socket
import subprocess
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SimServer:
    def __init__(self, program, config, serving, portmapper_port=None, prefix=()):
        self.dir = tempfile.TemporaryDirectory(prefix="korvax-client-test-")
        path = os.path.join(self.dir.name, "resources.conf")
        with open(path, "w") as f:
            f.write(config)
        self.out_path = os.path.join(self.dir.name, "out.txt")
        args = list(prefix) + [program]
        if portmapper_port is not None:
            args += ["--portmapper-port", str(portmapper_port)]
        self.out = open(self.out_path, "w")
        self.proc = subprocess.Popen(args + [path], stdout=self.out, stderr=subprocess.STDOUT)
        for _ in range(100):  # 5 s at most
            if self.output().count("serving ") >= serving:
                return
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        self.stop()
        output = self.output()
        self.dir.cleanup()
        raise RuntimeError("korvax-sim did not start: " + output)

    def output(self):
        with open(self.out_path) as f:
            return f.read()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=3)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=3)
        self.out.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        self.dir.cleanup()


# A relay-state frame that opens every relay of an RQ522: command 19, the
# payload length, then 21 boards of 49 words.
RQ522_OPEN_FRAME = bytes([19, 0]) + (21 * 49 * 2).to_bytes(2, "little") + bytes(21 * 49 * 2)
