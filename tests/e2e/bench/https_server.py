"""A small scriptable HTTPS (or plain HTTP) server of our own for the tests.

Loopback only, on a free port or a given one, and bounded in time: it stops by
itself after `lifetime` seconds and at teardown, and every wait inside a
handler ends when it stops. It records every request (method, target, all
header lines in order) and answers each with a handler, a function that gets an
Exchange: the stock ones are in bench.scenarios, a test may write its own.

    with ScriptedServer(certs.localhost, scenarios.serve_bytes(data)) as server:
        ... server.url("/file") ... server.requests ...
"""

from __future__ import annotations

import errno
import select
import socket
import ssl
import struct
import threading
import time
import warnings
from dataclasses import dataclass, field
from typing import Callable

from .file_lock import FileLock

_MAX_HEAD = 64 * 1024
_SOCKET_TIMEOUT_S = 30.0


@dataclass
class Request:
    method: str
    target: str
    version: str
    headers: list[tuple[str, str]]  # as received, in order, duplicates kept
    body: bytes = b""
    connection: int = 0             # which connection (1, 2, ...) carried it
    received_at: float = field(default_factory=time.monotonic)

    def header(self, name: str) -> str | None:
        """The first value of a header, the name compared without case."""
        values = self.header_values(name)
        return values[0] if values else None

    def header_values(self, name: str) -> list[str]:
        return [value for key, value in self.headers if key.lower() == name.lower()]

    @property
    def path(self) -> str:
        return self.target.split("?", 1)[0]


class ClientGone(Exception):
    """The client closed or reset the connection while we were sending."""


class Exchange:
    """One request and the means to answer it. A handler may call respond() or
    write raw bytes with send(); close() and reset() end the connection."""

    def __init__(self, server: "ScriptedServer", sock: socket.socket, request: Request):
        self.server = server
        self.request = request
        self.extra_headers: list[tuple[str, str]] = []  # added to every respond()/send_head()
        self.keep_alive = request.version == "HTTP/1.1" and (request.header("Connection") or "").lower() != "close"
        self._sock = sock
        self.closed = False

    # ----- answering -----------------------------------------------------------------------

    def send(self, data: bytes) -> None:
        if not data:
            return
        try:
            self._sock.sendall(data)
        except (OSError, ssl.SSLError) as error:
            raise ClientGone(str(error)) from error

    def send_head(self, status: int, headers: list[tuple[str, str]] | tuple = (), reason: str | None = None) -> None:
        lines = [f"HTTP/1.1 {status} {reason or _REASONS.get(status, 'Status')}"]
        lines += [f"{name}: {value}" for name, value in [*headers, *self.extra_headers]]
        if not self.keep_alive and not any(n.lower() == "connection" for n, _ in headers):
            lines.append("Connection: close")
        self.send(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))

    def respond(self, status: int, headers: list[tuple[str, str]] | tuple = (), body: bytes = b"", *,
                reason: str | None = None, content_length: bool = True) -> None:
        """A complete response; Content-Length is added unless content_length is
        False or the headers have one; a HEAD request gets no body."""
        headers = list(headers)
        if content_length and not any(n.lower() == "content-length" for n, _ in headers):
            headers.append(("Content-Length", str(len(body))))
        self.send_head(status, headers, reason)
        if self.request.method != "HEAD":
            self.send(body)

    def send_paced(self, data: bytes, bytes_per_second: float, piece: int = 4096) -> None:
        """Sends data at about the given rate; stops early if the server stops."""
        start = time.monotonic()
        sent = 0
        while sent < len(data):
            chunk = data[sent:sent + piece]
            self.send(chunk)
            sent += len(chunk)
            due = start + sent / bytes_per_second
            if self.server.wait_stopped(max(0.0, due - time.monotonic())):
                raise ClientGone("server stopping")

    # ----- ending the connection -----------------------------------------------------------

    def hold(self, seconds: float | None = None) -> None:
        """Waits without sending: for seconds, or until the server stops."""
        self.server.wait_stopped(seconds)

    def wait_client_gone(self, seconds: float | None = None) -> bool:
        """Waits without sending until the client closes or resets the
        connection (True), or for seconds, or until the server stops (False).
        Anything the client still sends meanwhile is read and dropped."""
        deadline = None if seconds is None else time.monotonic() + seconds
        while not self.server.stopped and (deadline is None or time.monotonic() < deadline):
            try:
                readable, _, _ = select.select([self._sock], [], [], 0.05)
                if readable and not self._sock.recv(4096):
                    return True
            except (OSError, ssl.SSLError, ValueError):
                return True
        return False

    def close(self) -> None:
        """Ends the connection in order (FIN) after this exchange."""
        self.keep_alive = False
        self.closed = True
        if isinstance(self._sock, ssl.SSLSocket):
            try:  # a TLS close_notify first, so the client sees a clean end of data
                self._sock.settimeout(1.0)
                self._sock.unwrap()
            except (OSError, ssl.SSLError, ValueError):
                pass
        _close_quietly(self._sock)

    def reset(self) -> None:
        """Ends the connection with a TCP reset (RST)."""
        self.keep_alive = False
        self.closed = True
        try:
            self._sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
        # Closing without a TLS close_notify: with linger 0 the kernel sends RST.
        _close_quietly(self._sock)

    def raw_socket(self) -> socket.socket:
        return self._sock


Handler = Callable[[Exchange], None]


class ScriptedServer:
    def __init__(self, certificate, handler: Handler, *, port: int = 0, lifetime: float = 120.0,
                 bind_timeout: float = 300.0, tls_versions: tuple[ssl.TLSVersion, ssl.TLSVersion] | None = None):
        """certificate: a certs.KeyPair for HTTPS, or None for plain HTTP.
        port 0 picks a free port; a given port is waited for up to bind_timeout
        seconds while another server of the bench (in any test run) holds it.
        tls_versions: (lowest, highest) protocol versions the server accepts;
        below TLS 1.2 the OpenSSL security level is lowered so that it can."""
        self.handler = handler
        self.lifetime = lifetime
        self.tls = certificate is not None
        self._context = None
        if certificate is not None:
            self._context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self._context.load_cert_chain(str(certificate.cert), str(certificate.key))
            if tls_versions is not None:
                if tls_versions[0] < ssl.TLSVersion.TLSv1_2:
                    self._context.set_ciphers("DEFAULT:@SECLEVEL=0")
                with warnings.catch_warnings():  # old versions are what such a test is about
                    warnings.simplefilter("ignore", DeprecationWarning)
                    self._context.minimum_version, self._context.maximum_version = tls_versions
        self._requested_port = port
        self._bind_timeout = bind_timeout
        self._listeners: list[socket.socket] = []
        self._threads: list[threading.Thread] = []
        self._open: set[socket.socket] = set()
        self._lock = threading.Lock()
        self._stopped = threading.Event()
        self._timer: threading.Timer | None = None
        self._requests: list[Request] = []
        self._request_added = threading.Condition(self._lock)
        self.connections = 0
        self.failed_handshakes = 0
        self.handler_errors: list[str] = []
        self.port = 0
        self._port_lock = FileLock.for_port(port) if port else None

    # ----- life cycle ----------------------------------------------------------------------

    def start(self) -> "ScriptedServer":
        if self._port_lock is not None:
            self._port_lock.acquire(self._bind_timeout)
        try:
            self._bind()
        except BaseException:
            self._release_port()
            raise
        for listener in self._listeners:
            thread = threading.Thread(target=self._accept_loop, args=(listener,), daemon=True,
                                      name=f"scripted-server-{self.port}")
            thread.start()
            self._threads.append(thread)
        self._timer = threading.Timer(self.lifetime, self.stop)
        self._timer.daemon = True
        self._timer.start()
        return self

    def stop(self) -> None:
        if self._stopped.is_set():
            return
        self._stopped.set()
        if self._timer is not None:
            self._timer.cancel()
        # shutdown() first: close() alone would not wake a thread blocked in
        # accept() or recv(), and the socket would stay open underneath it.
        for listener in self._listeners:
            _shutdown_quietly(listener)
            _close_quietly(listener)
        with self._lock:
            for sock in list(self._open):
                _shutdown_quietly(sock)
                _close_quietly(sock)
        for thread in self._threads:
            if thread is not threading.current_thread():
                thread.join(timeout=5)
        self._release_port()

    def _release_port(self) -> None:
        if self._port_lock is not None:
            self._port_lock.release()

    def __enter__(self) -> "ScriptedServer":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()

    @property
    def stopped(self) -> bool:
        return self._stopped.is_set()

    def wait_stopped(self, seconds: float | None) -> bool:
        """Sleeps up to seconds (None: until stopped); True if the server stopped."""
        return self._stopped.wait(seconds)

    # ----- what happened -------------------------------------------------------------------

    def url(self, path: str = "/", host: str = "localhost") -> str:
        scheme = "https" if self.tls else "http"
        return f"{scheme}://{host}:{self.port}{path}"

    @property
    def requests(self) -> list[Request]:
        with self._lock:
            return list(self._requests)

    def wait_for_requests(self, count: int, timeout: float) -> list[Request]:
        """The log once it has at least count requests, or when timeout runs out."""
        deadline = time.monotonic() + timeout
        with self._request_added:
            while len(self._requests) < count:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    break
                self._request_added.wait(remaining)
            return list(self._requests)

    # ----- inside ----------------------------------------------------------------------------

    def _bind(self) -> None:
        deadline = time.monotonic() + self._bind_timeout
        while True:
            v4 = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            v4.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                v4.bind(("127.0.0.1", self._requested_port))
                break
            except OSError as error:
                v4.close()
                if error.errno != errno.EADDRINUSE or not self._requested_port or time.monotonic() > deadline:
                    raise
                time.sleep(0.25)
        v4.listen(64)
        self.port = v4.getsockname()[1]
        self._listeners.append(v4)
        # localhost may resolve to ::1 first on some machines: listen there too when we can.
        try:
            v6 = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
            v6.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            v6.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
            v6.bind(("::1", self.port))
            v6.listen(64)
            self._listeners.append(v6)
        except OSError:
            v6.close()

    def _accept_loop(self, listener: socket.socket) -> None:
        while not self._stopped.is_set():
            try:
                sock, _ = listener.accept()
            except OSError:
                return
            with self._lock:
                self.connections += 1
                number = self.connections
                self._open.add(sock)
            thread = threading.Thread(target=self._serve_connection, args=(sock, number), daemon=True)
            thread.start()

    def _serve_connection(self, sock: socket.socket, number: int) -> None:
        conn = sock
        try:
            sock.settimeout(_SOCKET_TIMEOUT_S)
            if self._context is not None:
                try:
                    conn = self._context.wrap_socket(sock, server_side=True)
                except (OSError, ssl.SSLError):
                    with self._lock:
                        self.failed_handshakes += 1
                    return
                with self._lock:
                    self._open.discard(sock)
                    self._open.add(conn)
            buffer = bytearray()
            while not self._stopped.is_set():
                request = _read_request(conn, buffer, number)
                if request is None:
                    return
                with self._request_added:
                    self._requests.append(request)
                    self._request_added.notify_all()
                exchange = Exchange(self, conn, request)
                try:
                    self.handler(exchange)
                except ClientGone:
                    return
                except Exception as error:  # a broken handler must not pass silently
                    with self._lock:
                        self.handler_errors.append(f"{type(error).__name__}: {error}")
                    return
                if exchange.closed or not exchange.keep_alive:
                    return
        finally:
            with self._lock:
                self._open.discard(conn)
                self._open.discard(sock)
            _close_quietly(conn)


def _read_request(conn: socket.socket, buffer: bytearray, number: int) -> Request | None:
    while b"\r\n\r\n" not in buffer:
        if len(buffer) > _MAX_HEAD:
            return None
        try:
            data = conn.recv(65536)
        except (OSError, ssl.SSLError):
            return None
        if not data:
            return None
        buffer += data
    head, _, rest = bytes(buffer).partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    parts = lines[0].split(" ")
    if len(parts) != 3:
        return None
    headers = []
    for line in lines[1:]:
        name, sep, value = line.partition(":")
        if sep:
            headers.append((name.strip(), value.strip()))
    request = Request(parts[0], parts[1], parts[2], headers, b"", number)
    length = int(request.header("Content-Length") or 0)
    while len(rest) < length:
        try:
            data = conn.recv(65536)
        except (OSError, ssl.SSLError):
            return None
        if not data:
            return None
        rest += data
    request.body = rest[:length]
    buffer[:] = rest[length:]
    return request


def _shutdown_quietly(sock: socket.socket) -> None:
    try:
        sock.shutdown(socket.SHUT_RDWR)
    except (OSError, ValueError):
        pass


def _close_quietly(sock: socket.socket) -> None:
    try:
        sock.close()
    except OSError:
        pass


_REASONS = {200: "OK", 204: "No Content", 206: "Partial Content", 301: "Moved Permanently", 302: "Found",
            303: "See Other", 307: "Temporary Redirect", 308: "Permanent Redirect", 400: "Bad Request",
            401: "Unauthorized", 403: "Forbidden", 404: "Not Found", 407: "Proxy Authentication Required",
            416: "Range Not Satisfiable", 500: "Internal Server Error", 502: "Bad Gateway",
            503: "Service Unavailable"}
