"""Stock handlers for ScriptedServer. Each function returns a handler, a
callable taking an Exchange; they combine (routes, sequence, with_headers).

Every wait in them ends when the server stops, so none can outlive it."""

from __future__ import annotations

import re
import socket
import threading
import time
from typing import Callable, Iterable

from .https_server import ClientGone, Exchange, Handler

_RANGE = re.compile(r"^bytes=(\d*)-(\d*)$")


def parse_range(header: str | None, size: int) -> tuple[int, int] | None | str:
    """(first, last) for a single satisfiable byte range, None when there is
    no usable Range header (serve everything), "unsatisfiable" for a 416."""
    if not header:
        return None
    match = _RANGE.match(header.strip())
    if not match or (not match.group(1) and not match.group(2)):
        return None
    first_text, last_text = match.groups()
    if first_text:
        first = int(first_text)
        if first >= size:
            return "unsatisfiable"
        last = int(last_text) if last_text else size - 1
        if last < first:
            return None
        return first, min(last, size - 1)
    suffix = int(last_text)
    if suffix == 0:
        return "unsatisfiable"
    return max(0, size - suffix), size - 1


def serve_bytes(data: bytes, *, headers: Iterable[tuple[str, str]] = (), ranges: bool = True,
                rate: float | None = None, stall_after: int | None = None, reset_after: int | None = None,
                close_after: int | None = None, content_type: str = "application/octet-stream") -> Handler:
    """HEAD and GET of one resource with byte ranges (206/416). The body may be
    sent slowly (rate in bytes/s), or stop after n bytes: stall (hold the
    connection open without sending), reset (RST) or close (FIN)."""
    extra = list(headers)

    def handler(exchange: Exchange) -> None:
        size = len(data)
        wanted = parse_range(exchange.request.header("Range"), size) if ranges else None
        common = [("Content-Type", content_type), *extra]
        if ranges:
            common.append(("Accept-Ranges", "bytes"))
        if wanted == "unsatisfiable":
            exchange.respond(416, [*common, ("Content-Range", f"bytes */{size}")])
            return
        if wanted is None:
            status, body, head = 200, data, common
        else:
            first, last = wanted
            status, body = 206, data[first:last + 1]
            head = [*common, ("Content-Range", f"bytes {first}-{last}/{size}")]
        exchange.send_head(status, [*head, ("Content-Length", str(len(body)))])
        if exchange.request.method == "HEAD":
            return
        cut = next((n for n in (stall_after, reset_after, close_after) if n is not None), None)
        part = body if cut is None else body[:cut]
        if rate:
            exchange.send_paced(part, rate)
        else:
            exchange.send(part)
        if cut is None or cut >= len(body):
            return
        if stall_after is not None:
            exchange.hold()
            exchange.close()
        elif reset_after is not None:
            exchange.reset()
        else:
            exchange.close()

    return handler


def partial(data: bytes, first: int, last: int) -> Handler:
    """A 206 with bytes first..last of data and their Content-Range, whatever
    range was asked for (a HEAD gets the same head)."""

    def handler(exchange: Exchange) -> None:
        body = data[first:last + 1]
        exchange.respond(206, [("Content-Type", "application/octet-stream"),
                               ("Content-Range", f"bytes {first}-{last}/{len(data)}")], body)

    return handler


class EndlessBody:
    """HEAD announces `size` bytes; a GET gets a 200 without a length whose
    body goes on until the client leaves, or `limit` bytes have gone (so the
    loop is bounded). `sent` counts the body bytes, `client_left` tells whether
    the client broke off."""

    def __init__(self, size: int, limit: int):
        self.size = size
        self.limit = limit
        self.sent = 0
        self.client_left = False

    def __call__(self, exchange: Exchange) -> None:
        if exchange.request.method == "HEAD":
            exchange.respond(200, [("Content-Type", "application/octet-stream"),
                                   ("Content-Length", str(self.size))])
            return
        exchange.keep_alive = False
        exchange.send_head(200, [("Content-Type", "application/octet-stream")])
        piece = bytes(range(256)) * 256
        try:
            while self.sent < self.limit and not exchange.server.stopped:
                exchange.send(piece)
                self.sent += len(piece)
        except ClientGone:
            self.client_left = True
            return
        exchange.close()


class ResumableFile:
    """HEAD and GET of one resource as a server that serves ranges with a
    strong ETag and honours If-Range: a validator that no longer matches gets
    the whole current file with 200. GET number n (from 0) serves
    versions[n] (the last one serves the rest), so the file can change
    between requests, and after drops[n] body bytes (if given and not None)
    the connection is reset (with stall=True: the line goes silent until the
    client leaves). ranges=False ignores Range and If-Range;
    honours_if_range=False serves the range asked for whatever If-Range says
    (as some servers and proxies do). Version n's
    ETag is "v<first_tag + n>": another server's release gets tags of its own.
    `gets` lists each GET's (Range, If-Range) as received."""

    def __init__(self, versions: list[bytes], drops: Iterable[int | None] = (), *, ranges: bool = True,
                 stall: bool = False, first_tag: int = 0, honours_if_range: bool = True):
        self.versions = list(versions)
        self.first_tag = first_tag
        self.drops = list(drops)
        self.ranges = ranges
        self.honours_if_range = honours_if_range
        self.stall = stall
        self.gets: list[tuple[str | None, str | None]] = []
        self._lock = threading.Lock()

    def _version(self, index: int) -> tuple[bytes, str]:
        index = min(index, len(self.versions) - 1)
        return self.versions[index], f'"v{self.first_tag + index}"'

    def __call__(self, exchange: Exchange) -> None:
        request = exchange.request
        with self._lock:
            number = len(self.gets)
            if request.method == "GET":
                self.gets.append((request.header("Range"), request.header("If-Range")))
        data, etag = self._version(number)
        size = len(data)
        wanted = parse_range(request.header("Range"), size) if self.ranges else None
        if_range = request.header("If-Range")
        if self.ranges and self.honours_if_range and if_range is not None and if_range != etag:
            wanted = None
        head = [("Content-Type", "application/octet-stream"), ("ETag", etag)]
        if self.ranges:
            head.append(("Accept-Ranges", "bytes"))
        if wanted == "unsatisfiable":
            exchange.respond(416, [*head, ("Content-Range", f"bytes */{size}")])
            return
        if wanted is None:
            status, body = 200, data
        else:
            first, last = wanted
            status, body = 206, data[first:last + 1]
            head.append(("Content-Range", f"bytes {first}-{last}/{size}"))
        exchange.send_head(status, [*head, ("Content-Length", str(len(body)))])
        if request.method == "HEAD":
            return
        drop = self.drops[number] if number < len(self.drops) else None
        if drop is None or drop >= len(body):
            exchange.send(body)
            return
        exchange.send(body[:drop])
        if self.stall:
            exchange.wait_client_gone()
            exchange.close()
            return
        # A pause before the reset, so that the client takes the bytes first.
        exchange.hold(0.3)
        exchange.reset()


class Stall:
    """A server that goes silent at one stage and notes when the client left:
    "head" never answers the size request; "headers" answers it with the
    file's size but never sends the GET's headers; "body" sends the GET's
    headers and `body_bytes` of the body, then nothing. `client_left_at`
    (time.monotonic()) is when the silent connection was closed by the client."""

    def __init__(self, data: bytes, at: str, body_bytes: int = 1_000_000):
        if at not in ("head", "headers", "body"):
            raise ValueError(f"unknown stage {at!r}")
        self.data, self.at, self.body_bytes = data, at, body_bytes
        self.client_left_at: float | None = None

    def __call__(self, exchange: Exchange) -> None:
        method = exchange.request.method
        if method == "HEAD" and self.at != "head":
            exchange.respond(200, [("Content-Type", "application/octet-stream")], self.data)
            return
        if method == "GET" and self.at == "body":
            exchange.send_head(200, [("Content-Type", "application/octet-stream"),
                                     ("Content-Length", str(len(self.data)))])
            exchange.send(self.data[:self.body_bytes])
        if exchange.wait_client_gone():
            self.client_left_at = time.monotonic()
        exchange.close()


def slow_body(data: bytes, bytes_per_second: float, **options) -> Handler:
    return serve_bytes(data, rate=bytes_per_second, **options)


def stall_after(data: bytes, count: int, **options) -> Handler:
    """Headers and the first count bytes, then silence until the server stops."""
    return serve_bytes(data, stall_after=count, **options)


def reset_after(data: bytes, count: int, **options) -> Handler:
    """Headers and the first count bytes, then a TCP reset."""
    return serve_bytes(data, reset_after=count, **options)


def reset_after_pause(data: bytes, count: int, seconds: float = 0.2) -> Handler:
    """A 200 announcing all of data, its first count bytes, then a pause and a
    TCP reset. The pause lets the client take the head and those bytes before
    the reset arrives, so the failure falls in its reading of the body (a reset
    right behind the bytes can overtake them)."""

    def handler(exchange: Exchange) -> None:
        exchange.send_head(200, [("Content-Type", "application/octet-stream"), ("Content-Length", str(len(data)))])
        if exchange.request.method == "HEAD":
            return
        exchange.send(data[:count])
        exchange.hold(seconds)
        exchange.reset()

    return handler


def redirect(location: str, status: int = 302, headers: Iterable[tuple[str, str]] = ()) -> Handler:
    """A redirect with the given Location (None: no Location header at all)."""
    extra = list(headers)

    def handler(exchange: Exchange) -> None:
        head = [*extra] if location is None else [("Location", location), *extra]
        exchange.respond(status, head, b"")

    return handler


def set_cookie(cookie: str, then: Handler) -> Handler:
    """Adds a Set-Cookie header to whatever `then` answers."""

    def handler(exchange: Exchange) -> None:
        exchange.extra_headers.append(("Set-Cookie", cookie))
        then(exchange)

    return handler


def with_headers(headers: Iterable[tuple[str, str]], then: Handler) -> Handler:
    extra = list(headers)

    def handler(exchange: Exchange) -> None:
        exchange.extra_headers.extend(extra)
        then(exchange)

    return handler


def status(code: int, body: bytes = b"", headers: Iterable[tuple[str, str]] = ()) -> Handler:
    """A fixed status with a body: 401, 404, 407, 416, 500, ..."""
    extra = list(headers)
    if code == 401 and not any(n.lower() == "www-authenticate" for n, _ in extra):
        extra.append(("WWW-Authenticate", 'Basic realm="bench"'))
    if code == 407 and not any(n.lower() == "proxy-authenticate" for n, _ in extra):
        extra.append(("Proxy-Authenticate", 'Basic realm="bench"'))

    def handler(exchange: Exchange) -> None:
        exchange.respond(code, [("Content-Type", "text/plain"), *extra], body)

    return handler


def content_length(data: bytes, mode: str, values: tuple[str, ...] | None = None) -> Handler:
    """Content-Length cases: "missing" (no header; the body ends with the
    connection), "duplicated" (two header lines, by default the right value
    twice; values overrides), "zero" (Content-Length: 0 and no body)."""

    def handler(exchange: Exchange) -> None:
        head = [("Content-Type", "application/octet-stream")]
        if mode == "missing":
            exchange.keep_alive = False
            exchange.send_head(200, head)
            if exchange.request.method != "HEAD":
                exchange.send(data)
            exchange.close()
        elif mode == "duplicated":
            lines = values or (str(len(data)), str(len(data)))
            exchange.respond(200, [*head, *(("Content-Length", v) for v in lines)], data, content_length=False)
        elif mode == "zero":
            exchange.respond(200, [*head, ("Content-Length", "0")], b"", content_length=False)
        else:
            raise ValueError(f"unknown Content-Length mode {mode!r}")

    return handler


def chunked(data: bytes, chunk_size: int = 4096) -> Handler:
    """The body in Transfer-Encoding: chunked."""

    def handler(exchange: Exchange) -> None:
        exchange.send_head(200, [("Content-Type", "application/octet-stream"), ("Transfer-Encoding", "chunked")])
        if exchange.request.method == "HEAD":
            return
        for start in range(0, len(data), chunk_size):
            piece = data[start:start + chunk_size]
            exchange.send(f"{len(piece):x}\r\n".encode() + piece + b"\r\n")
        exchange.send(b"0\r\n\r\n")

    return handler


def close_without_response() -> Handler:
    """Reads the request and closes the connection without a word."""

    def handler(exchange: Exchange) -> None:
        exchange.close()

    return handler


def never_answer(seconds: float | None = None) -> Handler:
    """Reads the request and then says nothing until the server stops (or seconds pass)."""

    def handler(exchange: Exchange) -> None:
        exchange.hold(seconds)
        exchange.close()

    return handler


def routes(table: dict[str, Handler], default: Handler | None = None) -> Handler:
    """Chooses by path (the target without its query)."""
    fallback = default or status(404, b"not found")

    def handler(exchange: Exchange) -> None:
        table.get(exchange.request.path, fallback)(exchange)

    return handler


def by_method(table: dict[str, Handler], default: Handler | None = None) -> Handler:
    fallback = default or status(405, b"method not allowed")

    def handler(exchange: Exchange) -> None:
        table.get(exchange.request.method, fallback)(exchange)

    return handler


def sequence(handlers: list[Handler]) -> Handler:
    """The n-th request is answered by the n-th handler; the last one answers the rest."""
    lock = threading.Lock()
    count = [0]

    def handler(exchange: Exchange) -> None:
        with lock:
            index = min(count[0], len(handlers) - 1)
            count[0] += 1
        handlers[index](exchange)

    return handler


def tunnel(allowed: Callable[[str], bool] = lambda target: True) -> Handler:
    """A forward proxy's CONNECT: answers 200 and relays bytes both ways until
    either side closes or the server stops. Use on a plain-HTTP server."""

    def handler(exchange: Exchange) -> None:
        request = exchange.request
        if request.method != "CONNECT" or not allowed(request.target):
            exchange.respond(403, [("Content-Type", "text/plain")], b"not allowed")
            return
        host, _, port = request.target.rpartition(":")
        try:
            upstream = socket.create_connection((host.strip("[]"), int(port)), timeout=10)
        except OSError:
            exchange.respond(502, [("Content-Type", "text/plain")], b"no upstream")
            return
        exchange.send(b"HTTP/1.1 200 Connection established\r\n\r\n")
        client = exchange.raw_socket()
        done = threading.Event()

        def pump(source: socket.socket, target: socket.socket) -> None:
            try:
                while not done.is_set():
                    data = source.recv(65536)
                    if not data:
                        break
                    target.sendall(data)
            except OSError:
                pass
            done.set()

        threading.Thread(target=pump, args=(upstream, client), daemon=True).start()
        threading.Thread(target=pump, args=(client, upstream), daemon=True).start()
        while not done.wait(0.2):
            if exchange.server.stopped:
                break
        upstream.close()
        exchange.close()

    return handler
