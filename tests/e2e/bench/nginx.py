"""nginx as the test's own process: its own configuration, pid, logs and
temporary folders under the build tree, loopback only, stopped at teardown and
in any case after `lifetime` seconds. It serves a folder over HTTPS with HEAD
and byte ranges, optionally rate-limited (limit_rate) and delayed (every
request waits `delay` seconds before it is answered)."""

from __future__ import annotations

import contextlib
import http.server
import json
import os
import shutil
import signal
import socket
import subprocess
import threading
import time
from dataclasses import dataclass
from pathlib import Path

from .lifetime import die_with_parent
from .file_lock import FileLock
from .waiting import wait_until

_LOG_FORMAT = (
    '{"method":"$request_method","target":"$request_uri","status":$status,'
    '"body_bytes_sent":$body_bytes_sent,"bytes_sent":$bytes_sent,"connection":$connection,'
    '"user_agent":"$http_user_agent","range":"$http_range","cookie":"$http_cookie",'
    '"accept":"$http_accept","accept_encoding":"$http_accept_encoding","host":"$http_host",'
    '"request_time":"$request_time","msec":"$msec"}')

_CONFIG = """\
daemon off;
master_process off;
worker_processes 1;
pid {dir}/nginx.pid;
error_log {dir}/error.log warn;
events {{ worker_connections 64; }}
http {{
  default_type application/octet-stream;
  types {{ }}
  log_format bench escape=json '{log_format}';
  access_log {dir}/access.log bench;
  client_body_temp_path {dir}/tmp/body;
  proxy_temp_path {dir}/tmp/proxy;
  fastcgi_temp_path {dir}/tmp/fastcgi;
  uwsgi_temp_path {dir}/tmp/uwsgi;
  scgi_temp_path {dir}/tmp/scgi;
  server_tokens off;
  server {{
{listen}
    server_name localhost;
    ssl_certificate {cert};
    ssl_certificate_key {key};
{protocols}
    root {root};
    location / {{
{location}
    }}
{delay_location}
  }}
}}
"""


@dataclass(frozen=True)
class LoggedRequest:
    """One line of the access log."""
    method: str
    target: str
    status: int
    body_bytes_sent: int
    connection: int
    user_agent: str | None
    range: str | None
    cookie: str | None
    accept: str | None
    accept_encoding: str | None
    host: str | None


def _optional(value: str) -> str | None:
    return None if value in ("", "-") else value


def _ipv6_loopback_available() -> bool:
    with contextlib.suppress(OSError), socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as probe:
        probe.bind(("::1", 0))
        return True
    return False


def _free_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class _DelayUpstream:
    """Answers nginx's auth subrequest with 204 after the delay, which holds
    every request back by that long. Stops with the nginx it belongs to."""

    def __init__(self, delay: float):
        stopping = threading.Event()
        self._stopping = stopping

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):  # noqa: N802 (the http.server naming)
                stopping.wait(delay)
                self.send_response(204)
                self.end_headers()

            def log_message(self, *args):
                pass

        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._server.daemon_threads = True
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()

    def stop(self) -> None:
        self._stopping.set()
        self._server.shutdown()
        self._server.server_close()


class NginxServer:
    def __init__(self, root: Path, certificate, folder: Path, *, port: int = 0, limit_rate: int | None = None,
                 delay: float | None = None, lifetime: float = 300.0, bind_timeout: float = 300.0,
                 ssl_protocols: str | None = None):
        """root: the folder served at /; certificate: a certs.KeyPair; folder:
        where configuration, logs and temporary files go (emptied first)."""
        self.root = Path(root).resolve()
        self.certificate = certificate
        self.folder = Path(folder).resolve()
        self.limit_rate = limit_rate
        self.delay = delay
        self.ssl_protocols = ssl_protocols  # nginx's ssl_protocols value, e.g. "TLSv1.2"
        self.lifetime = lifetime
        self._requested_port = port
        self._bind_timeout = bind_timeout
        self._process: subprocess.Popen | None = None
        self._delay_upstream: _DelayUpstream | None = None
        self.port = 0
        self._port_lock = FileLock.for_port(port) if port else None

    @property
    def access_log(self) -> Path:
        return self.folder / "access.log"

    @property
    def error_log(self) -> Path:
        return self.folder / "error.log"

    def url(self, path: str = "/") -> str:
        return f"https://localhost:{self.port}{path}"

    def start(self) -> "NginxServer":
        shutil.rmtree(self.folder, ignore_errors=True)
        (self.folder / "tmp").mkdir(parents=True)
        if self._port_lock is not None:
            self._port_lock.acquire(self._bind_timeout)
        try:
            if self.delay:
                self._delay_upstream = _DelayUpstream(self.delay)
            deadline = time.monotonic() + self._bind_timeout
            while True:
                self.port = self._requested_port or _free_port()
                if self._try_start():
                    return self
                if time.monotonic() > deadline:
                    raise RuntimeError(f"nginx could not listen on port {self.port}: {self._error_text()}")
                time.sleep(0.25)
        except BaseException:
            self.stop()
            raise

    def _write_config(self) -> Path:
        listen = [f"    listen 127.0.0.1:{self.port} ssl;"]
        if _ipv6_loopback_available():
            listen.append(f"    listen [::1]:{self.port} ssl;")
        location = []
        delay_location = ""
        if self.limit_rate:
            location.append(f"      limit_rate {int(self.limit_rate)};")
        if self._delay_upstream is not None:
            location.append("      auth_request /__bench_delay;")
            delay_location = (
                "    location = /__bench_delay {\n      internal;\n"
                f"      proxy_pass http://127.0.0.1:{self._delay_upstream.port};\n"
                "      proxy_pass_request_body off;\n      proxy_set_header Content-Length \"\";\n"
                "      proxy_read_timeout 3600s;\n    }")
        config = _CONFIG.format(dir=self.folder, log_format=_LOG_FORMAT, listen="\n".join(listen),
                                cert=Path(self.certificate.cert).resolve(), key=Path(self.certificate.key).resolve(),
                                root=self.root, location="\n".join(location), delay_location=delay_location,
                                protocols=f"    ssl_protocols {self.ssl_protocols};" if self.ssl_protocols else "")
        path = self.folder / "nginx.conf"
        path.write_text(config)
        return path

    def _try_start(self) -> bool:
        config = self._write_config()
        with contextlib.suppress(FileNotFoundError):
            self.error_log.unlink()
        self._process = subprocess.Popen(
            ["timeout", "-s", "TERM", str(int(self.lifetime)), "nginx", "-p", str(self.folder), "-c", str(config),
             "-e", str(self.error_log)],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if self._process.poll() is not None:
                if "Address already in use" in self._error_text():
                    return False
                raise RuntimeError(f"nginx did not start: {self._error_text()}")
            with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", self.port), timeout=1):
                return True
            time.sleep(0.02)
        self.stop()
        raise RuntimeError(f"nginx did not accept connections: {self._error_text()}")

    def _error_text(self) -> str:
        with contextlib.suppress(OSError):
            return self.error_log.read_text(errors="replace").strip()
        return ""

    def stop(self) -> None:
        if self._process is not None and self._process.poll() is None:
            self._process.send_signal(signal.SIGTERM)  # timeout passes it on to nginx
            try:
                self._process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        self._process = None
        if self._delay_upstream is not None:
            self._delay_upstream.stop()
            self._delay_upstream = None
        if self._port_lock is not None:
            self._port_lock.release()

    def __enter__(self) -> "NginxServer":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()

    def requests(self) -> list[LoggedRequest]:
        """The access log so far (a request appears when nginx has finished it)."""
        result = []
        with contextlib.suppress(FileNotFoundError):
            for line in self.access_log.read_text(encoding="utf-8", errors="replace").splitlines():
                if not line.strip():
                    continue
                entry = json.loads(line)
                if entry["target"].startswith("/__bench_delay"):
                    continue
                result.append(LoggedRequest(
                    method=entry["method"], target=entry["target"], status=int(entry["status"]),
                    body_bytes_sent=int(entry["body_bytes_sent"]), connection=int(entry["connection"]),
                    user_agent=_optional(entry["user_agent"]), range=_optional(entry["range"]),
                    cookie=_optional(entry["cookie"]), accept=_optional(entry["accept"]),
                    accept_encoding=_optional(entry["accept_encoding"]), host=_optional(entry["host"])))
        return result

    def wait_for_requests(self, count: int, timeout: float) -> list[LoggedRequest]:
        """The log once it has at least count requests, or when timeout runs out."""
        wait_until(lambda: len(self.requests()) >= count, timeout)
        return self.requests()


def place_file(root: Path, url_path: str, source: Path | bytes) -> Path:
    """Puts a file (copied, or given as bytes) where root serves url_path."""
    target = Path(root) / url_path.lstrip("/")
    target.parent.mkdir(parents=True, exist_ok=True)
    if isinstance(source, (bytes, bytearray)):
        target.write_bytes(source)
    else:
        shutil.copyfile(source, target)
    return target
