"""Switching by name from Python: the same engine as the korvax command, through libkorvaxswitch."""
import pytest

from korvax.switching import Answer, Refused, Session, SwitchingError

# sim-rq522 has cards in slots 1, 2 and 5: three card positions of 96 columns, rows 1 to 4.
TOPOLOGY = """
[chassis.bench]
resource = "TCPIP0::sim-rq522::INSTR"
rows = { 1 = "DMM_HI", 2 = "DMM_LO", 3 = "PSU_POS" }
columns = { 1 = "DUT1", 2 = "DUT2", 200 = "DUT3", 288 = "BUS_A" }
configuration = ["BUS_A"]
sources = ["DMM_HI", "PSU_POS"]

[routes]
measure_dut1 = ["DMM_HI:DUT1", "DMM_LO:DUT2"]
"""


@pytest.fixture
def session(tmp_path):
    (tmp_path / "topology.toml").write_text(TOPOLOGY)
    with Session(tmp_path / "topology.toml", record=tmp_path / "record.sqlite3", program="pytest") as s:
        s.matrix().disconnect_all()
        yield s


def test_connect_can_connect_and_refusals(session):
    matrix = session.matrix()
    matrix.connect("DMM_HI", "DUT1")
    assert matrix.can_connect("DMM_HI", "DUT1") is Answer.EXISTS
    assert matrix.can_connect("PSU_POS", "DUT1") is Answer.SOURCE_CONFLICT
    assert matrix.can_connect("R4", "C289") is Answer.UNSUPPORTED  # beyond the cards fitted
    verdict = matrix.check("DMM_LO", "PSU_POS")
    assert (verdict.answer, verdict.path) == (Answer.POSSIBLE, ["2!288", "3!288"])
    with pytest.raises(Refused) as refused:
        matrix.connect("PSU_POS", "DUT1")
    assert (refused.value.reason, refused.value.rule) == (Answer.SOURCE_CONFLICT, "sources DMM_HI, PSU_POS")
    with pytest.raises(SwitchingError) as missing:
        matrix.disconnect("DMM_LO", "DUT2")
    assert missing.value.kind == "not-found"
    assert matrix.closed == ["1!1"]


def test_routed_block_and_dry_run(session):
    matrix = session.matrix()
    matrix.connect("PSU_POS", "DUT3")
    plan = matrix.dry_run([("disconnect", "PSU_POS", "DUT3"), ("route", "measure_dut1")])
    assert plan["answer"] == "possible"
    assert plan["frames"] == [[], ["1!1", "2!2"]]
    assert matrix.closed == ["3!200"]  # a dry run sends nothing
    with matrix.routed("measure_dut1"):
        assert matrix.closed == ["1!1", "2!2", "3!200"]
        assert {p["route"] for p in matrix.paths} == {"measure_dut1", ""}
    assert matrix.closed == ["3!200"]
    assert matrix.wear(1)[0]["closures"] == 1


def test_chassis_and_sessions_in_one_process_share_one_discovery_rule(tmp_path):
    import korvax

    (tmp_path / "wide.toml").write_text('[chassis.wide]\nresource = "TCPIP0::sim-rq522::INSTR"\n')
    with korvax.Chassis("TCPIP0::sim-rq523b::INSTR") as held:
        held.open_card()
        held.close("1!1")
        # The session needs a chassis the last discovery did not look for: the
        # package runs the discovery, for the held chassis too, and attaches it again.
        with Session(tmp_path / "wide.toml", record=tmp_path / "record.sqlite3") as session:
            matrix = session.matrix()
            matrix.disconnect_all()
            matrix.connect("R1", "C1")
            with korvax.Chassis("TCPIP0::sim-rq520::INSTR"):  # another discovery, of all three
                matrix.connect("R2", "C2")  # the session's chassis was attached again
                held.close("2!2")
                assert held.closed == {(1, 1), (2, 2)}
                with korvax.Chassis("TCPIP0::sim-rq522::INSTR") as wide:
                    wide.open_card()
                    assert wide.closed == {(1, 1), (2, 2)}
