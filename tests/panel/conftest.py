"""Fixtures of the panel's tests: korvax-sim chassis and a korvax-panel serving them, one pair per test module."""
import pytest

from panel_fixture import Panel, Sim


@pytest.fixture(scope="module")
def sim(tmp_path_factory, request):
    s = Sim(tmp_path_factory.mktemp(request.module.__name__))
    try:
        yield s
    finally:
        s.stop()


@pytest.fixture(scope="module")
def panel(sim):
    p = Panel(sim)
    yield p
    assert p.stop() == 0  # SIGTERM ends it cleanly
