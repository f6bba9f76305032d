"""Simulated chassis for the package's tests, declared in a resource file.

The built-in VISA library reads the file when the process first opens a
resource manager, so it is written before anything touches the library.
"""
import os
import sys
import tempfile
from pathlib import Path

import pytest

RESOURCES = """
[TCPIP0::sim-rq521::INSTR]
model = RQ521
serial = 24681357
firmware = 3.08
control-mode = local
gpib = 7

[TCPIP0::sim-rq520::INSTR]
model = RQ520
firmware = 3.06

[TCPIP0::sim-rq522::INSTR]
model = RQ522
fitted = 1, 2, 5

[TCPIP0::sim-rq523b::INSTR]
model = RQ523B
slot1.loopback = 7
"""

_folder = Path(tempfile.mkdtemp(prefix="korvax-py-"))
(_folder / "resources.conf").write_text(RESOURCES)
os.environ["KORVAX_VISA_RESOURCES"] = str(_folder / "resources.conf")
os.environ.pop("KORVAX_VISA_LIBRARY", None)

# Run from the source tree unless an installed package is being tested.
if not os.environ.get("KORVAX_TEST_INSTALLED"):
    sys.path.insert(0, str(Path(__file__).resolve().parents[1]))


@pytest.fixture
def workdir() -> Path:
    return _folder
