"""A line that falls from full speed to a trickle (a server whose rate limit
starts after the first megabytes, a link that degrades): the bar and the label
keep moving while bytes arrive, the download completes and is launched, and a
close during the trickle ends the run at once."""

from __future__ import annotations

import time

from bench import scenarios
from bench.standin import read_launches
from bench.uia import progress_bar
# The program's fixtures and helpers as the download tests define them.
from test_download import (FAILED, MESSAGE_TITLE, TITLE, TARGET, dismiss_failure_message, files_in,  # noqa: F401
                           installer_bytes, launch_log, run_installer, wait_launches)

TRICKLE_RATE = 10_000     # bytes per second
TRICKLE_BYTES = 160_000   # the last 160 KB come at that rate: 16 s


class FastThenTrickle:
    """A GET answered with all but the last TRICKLE_BYTES at full speed, then
    those at TRICKLE_RATE; it records when the trickle began."""

    def __init__(self, data: bytes):
        self.data = data
        self.trickle_from: float | None = None

    def __call__(self, exchange) -> None:
        if exchange.request.method != "GET":
            scenarios.serve_bytes(self.data)(exchange)
            return
        exchange.send_head(200, [("Content-Type", "application/octet-stream"),
                                 ("Content-Length", str(len(self.data)))])
        cut = len(self.data) - TRICKLE_BYTES
        exchange.send(self.data[:cut])
        self.trickle_from = time.monotonic()
        exchange.send_paced(self.data[cut:], TRICKLE_RATE)


def bar_position(uia) -> int | None:
    windows = uia.windows(title=TITLE)
    return (progress_bar(windows[0])["progress"]["pos"] or 0) if windows else None


def watch_bar(uia, process, line: FastThenTrickle, until: float) -> list[tuple[float, int]]:
    """The bar's position each time it changes, from the trickle's start."""
    changes: list[tuple[float, int]] = []
    while process.running() and time.monotonic() < until:
        position = bar_position(uia)
        if position is None:
            break
        if line.trickle_from is not None and (not changes or changes[-1][1] != position):
            changes.append((time.monotonic(), position))
        time.sleep(0.05)
    return changes


def test_full_speed_then_a_trickle_completes_and_the_bar_moves(vendor_server, installer_bytes, run_installer, uia,
                                                              temp_folder, launch_log):
    line = FastThenTrickle(installer_bytes)
    server = vendor_server(line)
    process = run_installer()
    changes = watch_bar(uia, process, line, time.monotonic() + 120)
    process.wait(timeout=60)

    assert (temp_folder / TARGET).read_bytes() == installer_bytes
    assert len(wait_launches(launch_log)) == 1
    assert [request.method for request in server.requests] == ["HEAD", "GET"]
    # The bar moved during the trickle, not only at its end.
    during = [at for at, position in changes if position < len(installer_bytes)]
    assert len(during) >= 3, changes
    times = [line.trickle_from] + [at for at, _ in changes]
    stills = [later - earlier for earlier, later in zip(times, times[1:])]
    print(f"bar changes during the trickle: {len(changes)}; longest still time {max(stills):.2f} s; "
          f"still times {[round(s, 2) for s in stills]}")


def test_a_close_during_the_trickle_ends_the_run_at_once(vendor_server, installer_bytes, run_installer, uia,
                                                        temp_folder, launch_log):
    line = FastThenTrickle(installer_bytes)
    server = vendor_server(line)
    process = run_installer()
    start = time.monotonic()
    while line.trickle_from is None and time.monotonic() < start + 60:
        time.sleep(0.05)
    assert line.trickle_from is not None
    time.sleep(4.0)  # well into the trickle, with a read waiting for it

    closed_at = time.monotonic()
    uia.close(title=TITLE)
    uia.wait_dialog(timeout=30, title=MESSAGE_TITLE)
    shown_after = time.monotonic() - closed_at
    print(f"failure message {shown_after:.2f} s after the close")
    assert shown_after < 3.0
    dismiss_failure_message(uia, process)
    time.sleep(1.0)  # anything the program still sent would have arrived
    assert [request.method for request in server.requests] == ["HEAD", "GET"]
    assert all(request.received_at < closed_at for request in server.requests)
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []
