"""The installer's HTTP client (WinHTTP transport) against real servers under
Wine, driven through kelvora_http_probe.exe."""

from __future__ import annotations

import os
import re
import subprocess
import sys
from dataclasses import dataclass, field
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from bench import paths  # noqa: E402
from bench.certs import make_certificates  # noqa: E402
from bench.proxy_settings import ProxyConfig  # noqa: E402
from bench.wine import WineEnv, windows_path  # noqa: E402
from net_servers import (Nginx, ScriptedServer, raw_response, redirect, reset_after, respond,  # noqa: E402
                         stall_after)

USER_AGENT = "Kelvora-Installer/1.0"
FILE_SIZE = 300_000
SHORT_TIMEOUT_MS = 1500  # only the stall test; the product keeps 60000


@dataclass
class Attempt:
    method: str
    url: str
    proxy: str
    bypass: str
    source: str
    send_error: int
    sent: list[tuple[str, str]] = field(default_factory=list)


@dataclass
class ProbeResult:
    exit_code: int
    output: str
    attempts: list[Attempt] = field(default_factory=list)
    notifications: list[tuple[int, int]] = field(default_factory=list)
    status: int | None = None
    content_length: int | None = None
    headers: list[tuple[str, str]] = field(default_factory=list)
    error: tuple[str, str] | None = None
    position: int | None = None
    body: bytes = b""

    def header(self, name: str) -> str | None:
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None


_ATTEMPT = re.compile(r"^attempt (\S+) (\S+) proxy=(.*) bypass=(.*) source=(\S+) send_error=(\d+)$")


def parse_probe(exit_code: int, output: str) -> ProbeResult:
    result = ProbeResult(exit_code, output)
    for line in output.splitlines():
        line = line.rstrip("\r")
        kind, _, rest = line.partition(" ")
        if kind == "attempt":
            m = _ATTEMPT.match(line)
            assert m, line
            result.attempts.append(Attempt(m[1], m[2], m[3], m[4], m[5], int(m[6])))
        elif kind == "sent":
            name, _, value = rest.partition(": ")
            result.attempts[-1].sent.append((name, value))
        elif kind == "notify":
            length, count = rest.split()
            result.notifications.append((int(length), int(count)))
        elif kind == "status":
            result.status = int(rest)
        elif kind == "content_length":
            result.content_length = int(rest)
        elif kind == "header":
            name, _, value = rest.partition(": ")
            result.headers.append((name, value))
        elif kind == "position":
            result.position = int(rest)
        elif kind in ("error", "stream_error"):
            error_kind, _, message = rest.partition(" ")
            result.error = (error_kind, message) if kind == "error" else ("stream", rest)
    return result


class Probe:
    def __init__(self, wine: WineEnv, exe: Path, scratch: Path):
        self.wine = wine
        self.exe = exe
        self.scratch = scratch
        self.count = 0

    def head(self, url: str, *options: str) -> ProbeResult:
        completed = self.wine.run([str(self.exe), "head", url, *options], check=False, timeout=120)
        return parse_probe(completed.returncode, completed.stdout)

    def get(self, url: str, start: int = 0, end: int = -1, *options: str, prefill: bytes = b"") -> ProbeResult:
        self.count += 1
        out = self.scratch / f"body-{self.count}.bin"
        out.write_bytes(prefill)
        completed = self.wine.run([str(self.exe), "get", url, str(start), str(end), windows_path(out), *options],
                                  check=False, timeout=120)
        result = parse_probe(completed.returncode, completed.stdout)
        result.body = out.read_bytes()
        return result


@pytest.fixture(scope="module")
def bench(tmp_path_factory):
    scratch = paths.work_dir()
    certs = make_certificates(scratch / "certs")
    wine = WineEnv.open(scratch)
    try:
        # A wineserver that stays up between probes (and 10 s after the last
        # one) makes each probe start in tens of milliseconds instead of seconds.
        subprocess.run(["wineserver", "-p10"], env=wine.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30, check=False)
        wine.trust_ca(certs.ca_cert, paths.trust_ca_exe())
        wine.set_proxy(ProxyConfig.direct())
        yield wine, certs, tmp_path_factory.mktemp("net")
    finally:
        wine.set_proxy(ProxyConfig.direct())
        wine.close()


@pytest.fixture(scope="module")
def probe(bench):
    wine, _, scratch = bench
    return Probe(wine, paths.find_build_output("kelvora_http_probe.exe"), scratch)


@pytest.fixture(scope="module")
def payload(bench) -> bytes:
    return bytes((i * 7919 + (i >> 8)) & 0xFF for i in range(FILE_SIZE))


@pytest.fixture(scope="module")
def nginx(bench, payload):
    wine, certs, scratch = bench
    root = scratch / "www"
    target = root / paths.DOWNLOAD_PATH.lstrip("/")
    target.parent.mkdir(parents=True, exist_ok=True)
    target.write_bytes(payload)
    with Nginx(scratch / "nginx", root, certs.localhost.cert, certs.localhost.key) as server:
        yield server


@pytest.fixture(scope="module")
def plain():
    """A plain-http scriptable server (PAC scripts, cross-host cookies, downgrade targets)."""
    with ScriptedServer() as server:
        server.route("/proxy.pac", respond(200, b'function FindProxyForURL(url, host) {\n'
                                                b'  return "PROXY 127.0.0.1:3129; DIRECT";\n}\n',
                                           [("Content-Type", "application/x-ns-proxy-autoconfig")]))
        server.route("/", respond(200, b"plain target\n"))
        yield server


@pytest.fixture(scope="module")
def scripted(bench, plain):
    _, certs, _ = bench
    with ScriptedServer(certs.localhost.cert, certs.localhost.key) as server:
        s = server
        s.route("/plain", respond(200, b"hello\n"))
        s.route("/redirect/absolute", redirect(lambda srv, p: f"{srv.base}/final/absolute"))
        s.route("/redirect/root", redirect(lambda srv, p: "/final/root", status=301))
        s.route("/redirect/deep/er/relative", redirect(lambda srv, p: "../../final/./relative", status=307))
        s.route("/chain/", redirect(lambda srv, p: f"/chain/{int(p.rsplit('/', 1)[1]) + 1}"))
        s.route("/chain/5", respond(206, b"after five\n"))
        s.route("/chain6/", redirect(lambda srv, p: f"/chain6/{int(p.rsplit('/', 1)[1]) + 1}", status=308))
        s.route("/no-location", redirect(lambda srv, p: None, status=302))
        s.route("/final/", respond(206, b"final body\n"))
        s.route("/redirect/final/", respond(206, b"final body\n"))
        s.route("/to-http", redirect(lambda srv, p: f"{plain.base}/downgraded"))
        s.route("/cookie/start", redirect(lambda srv, p: "/cookie/next", extra=[
            ("Set-Cookie", "sid=abc123; Path=/cookie; Secure; HttpOnly"),
            ("Set-Cookie", "elsewhere=1; Path=/other"),
            ("Set-Cookie", "foreign=1; Domain=example.org"),
            ("Set-Cookie", "gone=1; Max-Age=0"),
            ("Set-Cookie", "old=1; Expires=Wed, 21 Oct 2015 07:28:00 GMT")]))
        s.route("/cookie/next", redirect(lambda srv, p: "/other/final"))
        s.route("/other/final", respond(200, b"cookie end\n"))
        s.route("/length/missing", raw_response(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", b"no length body"))
        s.route("/length/duplicated", raw_response(
            b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\nConnection: close\r\n\r\n", b"12345"))
        s.route("/length/zero", respond(200, b""))
        s.route("/chunked", raw_response(
            b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n",
            b"5\r\nfirst\r\n6\r\nsecond\r\n5\r\nthird\r\n0\r\n\r\n"))
        s.route("/status/401", respond(401, b"401 page\n", [("WWW-Authenticate", 'Basic realm="bench"')]))
        s.route("/status/407", respond(407, b"407 page\n", [("Proxy-Authenticate", 'Basic realm="bench"')]))
        s.route("/status/404", respond(404, b"404 page\n"))
        s.route("/status/416", respond(416, b"416 page\n", [("Content-Range", "bytes */10")]))
        s.route("/status/500", respond(500, b"500 page\n"))
        s.route("/stall", stall_after(b"S" * 1000, 100_000, 20))
        s.route("/reset", reset_after(b"R" * 1000, 100_000))
        yield server


def sent_names(attempt: Attempt) -> list[str]:
    return [name.lower() for name, _ in attempt.sent]


# ----- nginx: HEAD and ranges ---------------------------------------------------------------

def test_head_and_ranged_gets_against_nginx(probe, nginx, payload):
    url = nginx.base + paths.DOWNLOAD_PATH
    head = probe.head(url)
    assert head.exit_code == 0, head.output
    assert (head.status, head.content_length) == (200, FILE_SIZE)
    assert head.notifications == []

    cases = [(0, FILE_SIZE - 1, 206, payload), (1000, 200_000, 206, payload[1000:200_001]),
             (0, -1, 206, payload), (250_000, FILE_SIZE + 5000, 206, payload[250_000:]),
             (-1, 500, 206, payload[-500:])]
    for start, end, status, expected in cases:
        result = probe.get(url, start, end)
        assert result.exit_code == 0, result.output
        assert result.status == status
        body = result.body[max(start, 0):]
        assert body == expected, (start, end)
        counts = [c for _, c in result.notifications]
        assert counts[0] == 0 and counts[-1] == len(expected) and counts == sorted(counts)
        assert all(length == len(expected) for length, _ in result.notifications)
        assert result.position == max(start, 0)
        assert ("range", f"bytes={start if start >= 0 else ''}-{end if end >= 0 else ''}") in \
            [(n.lower(), v) for n, v in result.attempts[0].sent]


def test_abort_from_the_notification_keeps_the_chunks_read(probe, nginx, payload):
    result = probe.get(nginx.base + paths.DOWNLOAD_PATH, 0, -1, "--abort-after", "2")
    assert result.exit_code == 0 and result.status == 206
    assert len(result.notifications) == 3
    assert result.body == payload[:result.notifications[-1][1]]
    assert 0 < len(result.body) < FILE_SIZE


# ----- the request log ----------------------------------------------------------------------

def test_request_carries_only_the_allowed_headers(probe, scripted):
    result = probe.get(scripted.base + "/plain", 0, 99)
    assert result.exit_code == 0 and result.status == 200 and result.body == b"hello\n"
    logged = scripted.requests("/plain")[-1]
    names = [name.lower() for name, _ in logged.headers]
    assert logged.method == "GET"
    assert logged.header("User-Agent") == USER_AGENT
    assert logged.header("Range") == "bytes=0-99"
    assert logged.header("Host") == f"localhost:{scripted.port}"
    assert "accept" not in names and "accept-encoding" not in names and "cookie" not in names
    # Whatever else is there was added by the transport itself.
    assert set(names) - {"user-agent", "range", "host"} <= {"connection", "cache-control", "pragma"}
    assert sorted(sent_names(result.attempts[0])) == sorted(names)


# ----- redirects ----------------------------------------------------------------------------

@pytest.mark.parametrize("start, final", [
    ("/redirect/absolute", "/final/absolute"),
    ("/redirect/root", "/final/root"),
    ("/redirect/deep/er/relative", "/redirect/final/relative"),
])
def test_redirects_are_followed(probe, scripted, start, final):
    result = probe.get(scripted.base + start, 0, 49)
    assert result.exit_code == 0, result.output
    assert result.status == 206 and result.body == b"final body\n"
    assert [a.url for a in result.attempts] == [scripted.base + start, scripted.base + final]
    logged = scripted.requests(final)[-1]
    assert logged.method == "GET"
    assert logged.header("Range") == "bytes=0-49" and logged.header("User-Agent") == USER_AGENT
    assert [c for _, c in result.notifications] == [0, len(b"final body\n")]


def test_head_stays_head_across_a_redirect(probe, scripted):
    result = probe.head(scripted.base + "/redirect/root")
    assert result.status == 206
    assert scripted.requests("/final/root")[-1].method == "HEAD"


def test_five_redirects_followed_six_raise(probe, scripted):
    five = probe.get(scripted.base + "/chain/0")
    assert five.status == 206 and five.body == b"after five\n" and len(five.attempts) == 6
    six = probe.get(scripted.base + "/chain6/0")
    assert six.exit_code == 2
    assert six.error == ("request", "Maximale Anzahl von Umleitungen (5) überschritten")
    assert len(scripted.requests("/chain6/")) == 6


def test_redirect_without_location_is_the_answer(probe, scripted):
    result = probe.get(scripted.base + "/no-location", 0, -1)
    assert result.exit_code == 0 and result.status == 302
    assert result.notifications == [] and result.body == b"redirect body\n"


def test_https_to_http_redirect_is_not_followed(probe, scripted, plain):
    result = probe.get(scripted.base + "/to-http", 0, -1)
    assert result.exit_code == 0 and result.status == 302
    assert result.header("Location") == f"{plain.base}/downgraded"
    assert len(result.attempts) == 1 and plain.requests("/downgraded") == []


def test_cookies_set_on_a_redirect_go_back_only_where_they_match(probe, scripted):
    result = probe.head(scripted.base + "/cookie/start")
    assert result.exit_code == 0 and result.status == 200
    assert scripted.requests("/cookie/start")[-1].header("Cookie") is None
    assert scripted.requests("/cookie/next")[-1].header("Cookie") == "sid=abc123"
    assert scripted.requests("/other/final")[-1].header("Cookie") == "elsewhere=1"


def test_no_cookie_reaches_another_host(probe, plain):
    plain.route("/set", redirect(lambda srv, p: f"http://127.0.0.1:{srv.port}/check",
                                 extra=[("Set-Cookie", "sid=1; Path=/")]))
    result = probe.head(plain.base + "/set")
    assert result.status == 200
    assert plain.requests("/check")[-1].header("Host") == f"127.0.0.1:{plain.port}"
    assert plain.requests("/check")[-1].header("Cookie") is None


# ----- lengths, chunking and statuses ---------------------------------------------------------

@pytest.mark.parametrize("path, head_length, get_length, body", [
    ("/length/missing", -1, -1, b"no length body"),
    ("/length/duplicated", -1, -1, b"12345"),
    ("/length/zero", 0, -1, b""),
    ("/chunked", -1, -1, b"firstsecondthird"),
])
def test_content_lengths_and_chunked_bodies(probe, scripted, path, head_length, get_length, body):
    head = probe.head(scripted.base + path)
    assert head.exit_code == 0 and head.content_length == head_length, head.output
    result = probe.get(scripted.base + path)
    assert result.exit_code == 0 and result.body == body, result.output
    assert all(length == get_length for length, _ in result.notifications)
    assert result.notifications[0] == (get_length, 0) and result.notifications[-1][1] == len(body)


@pytest.mark.parametrize("status", [401, 407, 404, 416, 500])
def test_error_statuses_are_returned_with_their_body(probe, scripted, status):
    result = probe.get(scripted.base + f"/status/{status}", 0, 9, prefill=b"")
    assert result.exit_code == 0 and result.status == status, result.output
    assert result.notifications == []
    assert result.body == f"{status} page\n".encode()
    assert len(result.attempts) == 1


# ----- transport failures --------------------------------------------------------------------

def test_stall_in_mid_body_fails_reading_and_keeps_the_bytes(probe, scripted):
    result = probe.get(scripted.base + "/stall", 0, -1, "--timeout-ms", str(SHORT_TIMEOUT_MS))
    assert result.exit_code == 2, result.output
    kind, message = result.error
    # Windows reports a time-out as 12002; Wine as the socket's 10060.
    assert kind == "response" and re.match(r"^Fehler beim Lesen der Daten: \((12002|10060)\) ", message), message
    assert result.body == b"S" * 1000


def test_reset_in_mid_body_fails_reading(probe, scripted):
    result = probe.get(scripted.base + "/reset", 0, -1)
    assert result.exit_code == 2, result.output
    kind, message = result.error
    assert kind == "response" and message.startswith("Fehler beim Lesen der Daten: ("), message
    assert result.body == b"R" * len(result.body) and len(result.body) <= 1000


@pytest.mark.parametrize("which", ["expired", "wrong_host", "untrusted"])
def test_bad_certificates_are_refused(probe, bench, which):
    _, certs, _ = bench
    pair = getattr(certs, which)
    with ScriptedServer(pair.cert, pair.key) as server:
        server.route("/x", respond(200, b"must not arrive"))
        result = probe.head(server.base + "/x")
    assert result.exit_code == 2, result.output
    # Windows names the certificate problem (12175 with reasons); Wine 8 fails the send with 12157.
    assert result.error in (("certificate", "Serverzertifikat ungültig oder nicht vorhanden"),) or \
        re.match(r"^Fehler beim Senden der Daten: \(12157\) ", result.error[1]) and result.error[0] == "client", \
        result.error


def test_unknown_host_and_refused_connection(probe):
    result = probe.head("https://no-such-host.invalid/x")
    assert result.error[0] == "client" and result.error[1].startswith("Fehler beim Senden der Daten: (12007) ")
    from net_servers import free_port
    result = probe.head(f"https://localhost:{free_port()}/x")
    assert result.error[0] == "client" and result.error[1].startswith("Fehler beim Senden der Daten: (12029) ")


# ----- proxy choice from the user's registry configuration -----------------------------------

def test_proxy_choice_follows_the_user_configuration(probe, bench, scripted, plain):
    wine, _, _ = bench
    url = scripted.base + "/plain"
    cases = [
        (ProxyConfig(proxy="127.0.0.1:3128", bypass="*.intern;<local>"), "127.0.0.1:3128", "*.intern;<local>",
         "fixed"),
        (ProxyConfig(pac_url=f"{plain.base}/proxy.pac"), "127.0.0.1:3129", "", "script"),
        (ProxyConfig(auto_detect=True), "", "", "auto-detect"),
        (ProxyConfig.direct(), "", "", "direct"),
    ]
    try:
        for config, proxy, bypass, source in cases:
            wine.set_proxy(config)
            result = probe.head(url)
            assert result.attempts, result.output
            attempt = result.attempts[0]
            assert (attempt.proxy, attempt.bypass, attempt.source) == (proxy, bypass, source), config
    finally:
        wine.set_proxy(ProxyConfig.direct())
    assert plain.requests("/proxy.pac"), "the PAC script was fetched"
