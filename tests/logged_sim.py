"""korvax-sim in a child process with --log-relays, its output read as it prints: what the chassis applied, in order."""
import socket
import subprocess
import threading
import time
from pathlib import Path


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class LoggedSim:
    """Serves the sections of a resource file; waits until each says it is serving."""

    def start(self, program: str, conf: Path, sections: int) -> None:
        self.lines: list[str] = []
        self.process = subprocess.Popen(
            [program, "--log-relays", "--portmapper-port", str(free_port()), str(conf)],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
        )
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.wait_for(lambda: sum(line.startswith("serving ") for line in self.lines) == sections)

    def _read(self) -> None:
        for line in self.process.stdout:
            self.lines.append(line.rstrip("\n"))

    def wait_for(self, condition, seconds: float = 10) -> None:
        for _ in range(int(seconds * 100)):
            if condition():
                return
            time.sleep(0.01)
        raise AssertionError("korvax-sim printed:\n" + "\n".join(self.lines))

    def relays_of(self, served: str) -> list[str]:
        """What each frame the chassis served as `served` applied left closed, in order ("none" for nothing)."""
        prefix = served + " closed: "
        return [line[len(prefix):] for line in list(self.lines) if line.startswith(prefix)]

    def stop(self) -> None:
        self.process.terminate()
        self.process.wait(timeout=10)
        self.reader.join(timeout=10)
