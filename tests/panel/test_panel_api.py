"""The panel's JSON API against korvax-sim chassis, without a browser: what it refuses and why, tokens,
and that what it switches and what other processes switch are one record."""
import http.client
import json
import subprocess

import pytest

from panel_fixture import PANEL, TIRED_FRAMES, Panel

JSON = {"Content-Type": "application/json"}


def raw(panel, method, path, body=None, headers=None, chunked=False):
    """(status, JSON body) with exactly these headers (Host and Content-Length unless given)."""
    conn = http.client.HTTPConnection("127.0.0.1", panel.port, timeout=30)
    try:
        conn.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
        all_headers = {"Host": f"127.0.0.1:{panel.port}"}
        if body is not None and not chunked:
            all_headers["Content-Length"] = str(len(body))
        all_headers.update(headers or {})
        for key, value in all_headers.items():
            if value is not None:
                conn.putheader(key, value)
        if chunked:
            conn.putheader("Transfer-Encoding", "chunked")
            conn.endheaders()
            conn.send(b"%x\r\n%s\r\n0\r\n\r\n" % (len(body), body))
        else:
            conn.endheaders(body)
        res = conn.getresponse()
        text = res.read().decode()
        return res.status, (json.loads(text) if text.startswith("{") else text)
    finally:
        conn.close()


def body(value) -> bytes:
    return json.dumps(value).encode()


XP = "/api/chassis/bench/crosspoints"
# (case, method, path, body, headers, status, error kind)
REFUSED = [
    ("another Host name (DNS rebinding)", "GET", "/api/chassis", None, {"Host": "evil.example:{port}"}, 403, "forbidden"),
    ("another Host name for the page", "GET", "/", None, {"Host": "evil.example"}, 403, "forbidden"),
    ("loopback name on another port", "GET", "/api/chassis", None, {"Host": "localhost:1"}, 403, "forbidden"),
    ("GET on a switching path", "GET", "/api/chassis/bench/connect", None, {}, 405, "method"),
    ("PUT on a route", "PUT", "/api/routes/measure_dut1", b"{}", JSON, 405, "method"),
    ("POST on a read path", "POST", "/api/chassis/bench", b"{}", JSON, 405, "method"),
    ("a form's body", "POST", XP, b"close=1!1", {"Content-Type": "application/x-www-form-urlencoded"}, 415,
     "media-type"),
    ("text/plain", "POST", XP, body({"close": ["1!1"]}), {"Content-Type": "text/plain"}, 415, "media-type"),
    ("no content type", "POST", XP, body({"close": ["1!1"]}), {}, 415, "media-type"),
    ("another site's page", "POST", XP, body({"close": ["1!1"]}), {**JSON, "Origin": "http://evil.example"}, 403,
     "forbidden"),
    ("an opaque origin", "POST", XP, body({"close": ["1!1"]}), {**JSON, "Origin": "null"}, 403, "forbidden"),
    ("a cross-site fetch", "POST", XP, body({"close": ["1!1"]}), {**JSON, "Sec-Fetch-Site": "cross-site"}, 403,
     "forbidden"),
    ("no Content-Length", "POST", XP, None, JSON, 411, "length"),
    ("chunked body", "CHUNKED", XP, body({"close": ["1!1"]}), JSON, 411, "length"),
    ("a body over 64 KiB", "POST", XP, body({"close": ["1!1"] * 11000}), JSON, 413, "too-large"),
    ("malformed JSON", "POST", XP, b'{"close": ["1!1"', JSON, 400, "invalid"),
    ("nested nine deep", "POST", XP, b'{"close": ' + b"[" * 8 + b"]" * 8 + b"}", JSON, 400, "invalid"),
    ("not an object", "POST", XP, body(["1!1"]), JSON, 400, "invalid"),
    ("an unknown key", "POST", XP, body({"shut": ["1!1"]}), JSON, 400, "invalid"),
    ("a crosspoint that is not one", "POST", XP, body({"close": ["1-1"]}), JSON, 400, "invalid"),
    ("a row the chassis cannot switch", "POST", XP, body({"close": ["11!1"]}), JSON, 400, "invalid"),
    ("a column beyond the cards", "POST", XP, body({"close": ["1!99999"]}), JSON, 400, "invalid"),
    ("row 0", "POST", XP, body({"close": ["0!1"]}), JSON, 400, "invalid"),
    ("1025 crosspoints", "POST", XP, body({"open": [f"1!{c % 12 + 1}" for c in range(1025)]}), JSON, 400, "invalid"),
    ("nothing to switch", "POST", XP, body({}), JSON, 400, "invalid"),
    ("dry_run not a boolean", "POST", XP, body({"close": ["1!1"], "dry_run": "yes"}), JSON, 400, "invalid"),
    ("an unknown channel", "POST", "/api/chassis/bench/connect", body({"a": "NOPE", "b": "DUT1"}), JSON, 400,
     "refused"),
    ("one channel", "POST", "/api/chassis/bench/connect", body({"a": "DMM_HI"}), JSON, 400, "invalid"),
    ("an unknown chassis", "POST", "/api/chassis/nope/crosspoints", body({"close": ["1!1"]}), JSON, 404, "not-found"),
    ("reading an unknown chassis", "GET", "/api/chassis/nope", None, {}, 404, "not-found"),
    ("an unknown route", "POST", "/api/routes/nope", body({"on": True}), JSON, 404, "not-found"),
    ("a route without on", "POST", "/api/routes/measure_dut1", body({}), JSON, 400, "invalid"),
    ("off and alone", "POST", "/api/routes/measure_dut1", body({"on": False, "only": True}), JSON, 400, "invalid"),
    ("nothing there", "GET", "/api/nothing", None, {}, 404, "not-found"),
]


def test_refused_requests_switch_nothing(sim, panel):
    frames = {name: len(sim.relays(name)) for name in sim.resources}
    got = {}
    for case, method, path, data, headers, _, _ in REFUSED:
        headers = {k: v.format(port=panel.port) for k, v in headers.items()}
        status, answer = raw(panel, "POST" if method == "CHUNKED" else method, path, data, headers,
                             chunked=method == "CHUNKED")
        got[case] = (status, answer["error"]["kind"] if isinstance(answer, dict) and "error" in answer else answer)
    assert got == {case: (status, kind) for case, _, _, _, _, status, kind in REFUSED}
    assert {name: len(sim.relays(name)) for name in sim.resources} == frames
    assert panel.request("GET", "/api/chassis/bench")[1]["closed"] == []


def test_the_chassis_and_their_routes_are_listed(panel):
    status, listing = panel.request("GET", "/api/chassis")
    assert status == 200
    assert [(c["name"], c["model"], c["rows"], c["columns"]) for c in listing["chassis"]] == [
        ("bench", "RQ521", 10, 48), ("big", "RQ522", 4, 2016), ("tired", "RQ523", 8, 12)]
    assert [(r["name"], r["kind"], r["chassis"]) for r in listing["routes"]] == [
        ("measure_dut1", "route", ["bench"]), ("power_dut3", "route", ["bench"]), ("scope_far", "route", ["big"]),
        ("bring_up", "group", ["bench"])]
    big = panel.request("GET", "/api/chassis/big")[1]
    assert (big["geometry"]["rows"], big["geometry"]["columns"]) == (4, 2016)
    assert [(c["first_column"], c["last_column"]) for c in big["cards"]] == [(c, c + 95) for c in range(1, 2016, 96)]
    assert big["row_names"] == {"1": "SCOPE_A", "2": "SCOPE_B"}
    assert [r["name"] for r in big["routes"]] == ["scope_far"]


def test_rules_refuse_with_their_reason_and_nothing_is_sent(sim, panel):
    assert panel.request("POST", "/api/chassis/bench/disconnect", {"all": True})[0] == 200
    status, done = panel.request("POST", "/api/chassis/bench/connect", {"a": "PSU_POS", "b": "DUT1"},
                                 {"Origin": panel.url})
    assert (status, done["closing"], done["dry_run"]) == (200, ["3!1"], False)
    frames = len(sim.relays("bench"))
    refusals = {
        ("connect", "PSU_NEG", "DUT1"): "excluded",
        ("connect", "DMM_LO", "DUT1"): "excluded",
        ("connect", "DMM_HI", "DUT1"): "source-conflict",
    }
    got = {}
    for (action, a, b), _ in refusals.items():
        status, answer = panel.request("POST", f"/api/chassis/bench/{action}", {"a": a, "b": b})
        got[(action, a, b)] = answer["error"]["reason"] if status == 409 else status
        assert answer["error"]["message"]
    assert got == refusals
    status, answer = panel.request("POST", XP, {"close": ["1!5", "2!5", "4!5"]})
    assert (status, answer["error"]["reason"], answer["error"]["rule"]) == (409, "limit", "max-per-column 2")
    # A dry run answers with the frames and sends nothing either.
    status, plan = panel.request("POST", XP, {"close": ["4!2"], "open": ["3!1"], "dry_run": True})
    assert (status, plan["answer"], plan["frames"]) == (200, "possible", [[], ["4!2"]])
    assert len(sim.relays("bench")) == frames
    assert panel.request("GET", "/api/chassis/bench")[1]["closed"] == ["3!1"]


def test_the_panel_and_the_command_share_one_record(sim, panel):
    assert panel.request("POST", "/api/chassis/bench/disconnect", {"all": True})[0] == 200
    conn = http.client.HTTPConnection("127.0.0.1", panel.port, timeout=10)
    conn.request("GET", "/api/events")
    stream = conn.getresponse()
    assert (stream.status, stream.getheader("Content-Type")) == (200, "text/event-stream")
    assert stream.readline() == b"retry: 1000\n"
    # Another process switches; the stream says so.
    assert sim.korvax("--chassis", "bench", "connect", "DMM_HI", "DUT2").returncode == 0
    changes = []
    for _ in range(200):
        line = stream.readline().decode()
        if line.startswith("data: {\"chassis\""):
            changes.append(json.loads(line[6:]))
            if "1!2" in changes[-1]["closed"]:
                break
    conn.close()
    assert changes[-1]["chassis"] == "bench" and changes[-1]["closed"] == ["1!2"]
    assert changes[-1]["event"]["what"] == "connect DMM_HI DUT2"
    # What the panel switches, the command sees.
    assert panel.request("POST", XP, {"close": ["4!6"]})[0] == 200
    paths = json.loads(sim.korvax("--chassis", "bench", "paths", "--json").stdout)["paths"]
    assert [(p["a"], p["b"]) for p in paths] == [("DMM_HI", "DUT2")]
    detail = panel.request("GET", "/api/chassis/bench")[1]
    assert detail["closed"] == ["1!2", "4!6"]
    assert [(p["a"], p["b"], p["crosspoints"]) for p in detail["paths"]] == [("DMM_HI", "DUT2", ["1!2"])]
    assert any(w["crosspoint"] == "4!6" and w["closures"] >= 1 for w in detail["wear"])
    assert detail["events"][-1]["program"] == "korvax-panel"


def test_a_route_switches_break_before_make(sim, panel):
    assert panel.request("POST", "/api/chassis/bench/disconnect", {"all": True})[0] == 200
    assert panel.request("POST", "/api/routes/power_dut3", {"on": True})[0] == 200
    frames = len(sim.relays("bench"))
    status, plan = panel.request("POST", "/api/routes/measure_dut1", {"on": True, "only": True, "dry_run": True})
    assert (status, plan["transactions"][0]["opening"], plan["transactions"][0]["closing"]) == (
        200, ["3!3", "4!4"], ["1!1", "2!2"])
    status, done = panel.request("POST", "/api/routes/measure_dut1", {"on": True, "only": True})
    assert status == 200 and done["transactions"][0]["frames"] == [[], ["1!1", "2!2"]]
    sim.wait_for(lambda: len(sim.relays("bench")) == frames + 2)
    assert sim.relays("bench")[frames:] == ["none", "1!1 2!2"]
    assert [r["on"] for r in panel.request("GET", "/api/chassis/bench")[1]["routes"]] == [True, False, False]
    assert panel.request("POST", "/api/routes/measure_dut1", {"on": False})[0] == 200
    assert panel.request("GET", "/api/chassis/bench")[1]["closed"] == []


def test_a_chassis_that_stops_taking_frames_answers_502(sim, panel):
    answers = [panel.request("POST", "/api/chassis/tired/crosspoints", {"close": [f"1!{c}"]})
               for c in range(1, TIRED_FRAMES + 2)]
    assert [status for status, _ in answers] == [200] * TIRED_FRAMES + [502]
    error = answers[-1][1]["error"]
    assert (error["kind"], error["name"]) == ("chassis", "KORVAX_ERR_USB_ADAPTER")
    assert "tired" in error["message"]
    assert panel.request("GET", "/api/chassis/tired")[1]["closed"] == [f"1!{c}" for c in range(1, TIRED_FRAMES + 1)]


def test_a_token_guards_every_api_request(sim, tmp_path):
    (tmp_path / "token").write_text("s3cret-token\n")
    for args in (["--token", "s3cret-token"], ["--token-file", str(tmp_path / "token")]):
        panel = Panel(sim, *args)
        try:
            got = {case: panel.request(method, path, data, headers)[0] for case, method, path, data, headers in [
                ("no token", "GET", "/api/chassis", None, {}),
                ("a wrong token", "GET", "/api/chassis", None, {"Authorization": "Bearer s3cret"}),
                ("another scheme", "GET", "/api/chassis", None, {"Authorization": "Basic s3cret-token"}),
                ("the token", "GET", "/api/chassis", None, {"Authorization": "Bearer s3cret-token"}),
                ("the token, scheme in lower case", "GET", "/api/chassis", None,
                 {"Authorization": "bearer s3cret-token"}),
                ("events without it", "GET", "/api/events", None, {}),
                ("switching without it", "POST", XP, {"close": ["1!1"], "dry_run": True}, {}),
                ("switching with it", "POST", XP, {"close": ["1!1"], "dry_run": True},
                 {"Authorization": "Bearer s3cret-token"}),
                ("the page, which asks for it", "GET", "/", None, {}),
            ]}
        finally:
            panel.stop()
        assert got == {"no token": 401, "a wrong token": 401, "another scheme": 401, "the token": 200,
                       "the token, scheme in lower case": 200, "events without it": 401,
                       "switching without it": 401, "switching with it": 200, "the page, which asks for it": 200}


def test_listening_beyond_loopback_needs_a_token(sim):
    for args, message in [(["--listen", "0.0.0.0:0"], "--token"), (["--listen", "nonsense"], "HOST:PORT"),
                          (["--token", "a", "--token-file", "b"], "not both")]:
        run = subprocess.run([PANEL, *args], capture_output=True, text=True, timeout=60, env=sim.environment())
        assert (run.returncode, run.stdout) == (2, "")
        assert message in run.stderr


def test_chassis_named_without_a_topology_are_named_by_model(sim):
    panel = Panel(sim, sim.resources["bench"], sim.resources["tired"], topology=False)
    try:
        listing = panel.request("GET", "/api/chassis")[1]
    finally:
        panel.stop()
    assert [(c["name"], c["resource"]) for c in listing["chassis"]] == [
        ("rq521", sim.resources["bench"]), ("rq523", sim.resources["tired"])]
    assert listing["routes"] == []
