"""Servers for the HTTP client's end-to-end tests: nginx serving a file over
HTTPS (HEAD and ranges), and a small scriptable HTTP(S) server whose scenarios
are chosen by path and which logs every request (method, target, headers).
All listen on loopback, on a port the system chose free, and stop by
themselves after a bounded lifetime."""

from __future__ import annotations

import contextlib
import http.server
import shutil
import socket
import ssl
import struct
import subprocess
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

LIFETIME_S = 600


def free_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@dataclass
class LoggedRequest:
    method: str
    target: str
    host_port: int
    headers: list[tuple[str, str]] = field(default_factory=list)

    def header(self, name: str) -> str | None:
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "bench"
    sys_version = ""

    def log_message(self, *args) -> None:  # quiet
        pass

    def _dispatch(self) -> None:
        server: ScriptedServer = self.server.owner  # type: ignore[attr-defined]
        server.log.append(LoggedRequest(self.command, self.path, server.port, list(self.headers.items())))
        path = self.path.split("?", 1)[0]
        scenario = server.scenario_for(path)
        if scenario is None:
            self._respond(404, [], b"unknown scenario\n")
            return
        scenario(self, server)

    do_GET = do_HEAD = _dispatch

    # ----- helpers the scenarios use ------------------------------------------------------

    def _respond(self, status: int, headers: list[tuple[str, str]], body: bytes, length: bool = True) -> None:
        self.send_response_only(status)
        for name, value in headers:
            self.send_header(name, value)
        if length:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
        self.wfile.flush()

    def raw(self, data: bytes, close: bool = True) -> None:
        self.wfile.write(data)
        self.wfile.flush()
        if close:
            self.close_connection = True


class ScriptedServer:
    """An HTTP(S) server on 127.0.0.1 whose responses are scenarios keyed by path
    (exact match, or the longest registered prefix ending in '/')."""

    def __init__(self, cert: Path | None = None, key: Path | None = None):
        self.port = free_port()
        self.secure = cert is not None
        self.log: list[LoggedRequest] = []
        self._scenarios: dict[str, object] = {}
        self._stop = threading.Event()
        self._httpd = http.server.ThreadingHTTPServer(("127.0.0.1", self.port), _Handler)
        self._httpd.daemon_threads = True
        self._httpd.owner = self  # type: ignore[attr-defined]
        if cert is not None:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(str(cert), str(key))
            self._httpd.socket = context.wrap_socket(self._httpd.socket, server_side=True)
        self._thread = threading.Thread(target=self._httpd.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
        self._timer = threading.Timer(LIFETIME_S, self.stop)
        self._timer.daemon = True

    @property
    def base(self) -> str:
        return f"{'https' if self.secure else 'http'}://localhost:{self.port}"

    def route(self, path: str, scenario) -> None:
        self._scenarios[path] = scenario

    def scenario_for(self, path: str):
        if path in self._scenarios:
            return self._scenarios[path]
        best = None
        for key, scenario in self._scenarios.items():
            if key.endswith("/") and path.startswith(key) and (best is None or len(key) > len(best[0])):
                best = (key, scenario)
        return best[1] if best else None

    def wait_stopped(self, seconds: float) -> bool:
        """Sleeps in a scenario for up to `seconds`, ending early when the server stops."""
        return self._stop.wait(seconds)

    def requests(self, prefix: str = "") -> list[LoggedRequest]:
        return [r for r in self.log if r.target.startswith(prefix)]

    def start(self) -> "ScriptedServer":
        self._thread.start()
        self._timer.start()
        return self

    def stop(self) -> None:
        if self._stop.is_set():
            return
        self._stop.set()
        self._timer.cancel()
        self._httpd.shutdown()
        self._httpd.server_close()

    def __enter__(self) -> "ScriptedServer":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()


# ----- scenario builders ---------------------------------------------------------------------

def respond(status: int, body: bytes = b"", headers: list[tuple[str, str]] | None = None):
    def scenario(handler: _Handler, server: ScriptedServer) -> None:
        handler._respond(status, headers or [], body)
    return scenario


def redirect(location_of, status: int = 302, extra: list[tuple[str, str]] | None = None):
    """location_of(server, path) -> the Location value, or None for a 3xx without Location."""
    def scenario(handler: _Handler, server: ScriptedServer) -> None:
        location = location_of(server, handler.path)
        headers = list(extra or [])
        if location is not None:
            headers.append(("Location", location))
        handler._respond(status, headers, b"redirect body\n")
    return scenario


def raw_response(head: bytes, body: bytes):
    """Sends the exact bytes given (head including its blank line), then closes."""
    def scenario(handler: _Handler, server: ScriptedServer) -> None:
        handler.raw(head + (b"" if handler.command == "HEAD" else body))
    return scenario


def stall_after(first: bytes, total: int, seconds: float):
    def scenario(handler: _Handler, server: ScriptedServer) -> None:
        handler.raw(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % total + first, close=False)
        server.wait_stopped(seconds)
        handler.close_connection = True
    return scenario


def reset_after(first: bytes, total: int):
    def scenario(handler: _Handler, server: ScriptedServer) -> None:
        handler.raw(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % total + first, close=False)
        time.sleep(0.2)
        sock = handler.connection
        # An abortive close: the peer sees a reset, not an orderly end.
        with contextlib.suppress(OSError):
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            sock.close()
        handler.close_connection = True
    return scenario


# ----- nginx ---------------------------------------------------------------------------------

_NGINX_CONF = """\
daemon off;
master_process off;
worker_processes 1;
pid {dir}/nginx.pid;
error_log {dir}/error.log warn;
events {{ worker_connections 64; }}
http {{
  access_log {dir}/access.log;
  client_body_temp_path {dir}/tmp;
  proxy_temp_path {dir}/tmp;
  fastcgi_temp_path {dir}/tmp;
  uwsgi_temp_path {dir}/tmp;
  scgi_temp_path {dir}/tmp;
  default_type application/octet-stream;
  server {{
    listen 127.0.0.1:{port} ssl;
    server_name localhost;
    ssl_certificate {cert};
    ssl_certificate_key {key};
    root {root};
  }}
}}
"""


class Nginx:
    """nginx serving `root` over HTTPS on a free loopback port, stopped on exit
    (and by `timeout` after LIFETIME_S at the latest)."""

    def __init__(self, folder: Path, root: Path, cert: Path, key: Path):
        self.port = free_port()
        self.folder = folder
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "tmp").mkdir(exist_ok=True)
        (folder / "nginx.conf").write_text(_NGINX_CONF.format(dir=folder, port=self.port, cert=cert, key=key,
                                                              root=root))
        self._process: subprocess.Popen | None = None

    @property
    def base(self) -> str:
        return f"https://localhost:{self.port}"

    def __enter__(self) -> "Nginx":
        nginx = shutil.which("nginx") or "/usr/sbin/nginx"
        self._process = subprocess.Popen(["timeout", str(LIFETIME_S), nginx, "-p", str(self.folder), "-c",
                                          str(self.folder / "nginx.conf")],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.PIPE)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self._process.poll() is not None:
                raise RuntimeError("nginx did not start: " + self._process.stderr.read().decode(errors="replace"))
            with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", self.port), timeout=0.2):
                return self
            time.sleep(0.05)
        raise RuntimeError("nginx did not listen in time")

    def __exit__(self, *exc) -> None:
        if self._process and self._process.poll() is None:
            self._process.terminate()
            with contextlib.suppress(subprocess.TimeoutExpired):
                self._process.wait(timeout=10)
            if self._process.poll() is None:
                self._process.kill()
                self._process.wait()
