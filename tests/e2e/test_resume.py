"""Resuming a dropped download and asking a busy server again (the build
setting KELVORA_RESUME_ATTEMPTS): the program built with three attempts
(tests/CMakeLists.txt) against a server that resets the connection in
mid-body, honours If-Range and may change the file between requests, or
answers busy first; and the default build, which sends one GET and gives up
at the first drop."""

from __future__ import annotations

import time
from pathlib import Path

import pytest

from bench import paths, scenarios
from bench.standin import read_launches
from bench.waiting import wait_until
from bench.wine import windows_path
from test_download import (TARGET, dismiss_failure_message, files_in, installer_bytes, launch_log,  # noqa: F401
                           run_installer, wait_launches)

ATTEMPTS = 3


@pytest.fixture(scope="module")
def installer_exe() -> Path:
    """run_installer starts the resuming build instead of the plain one."""
    assert paths.cmake_cache_value("KELVORA_TEST_RESUME_ATTEMPTS") == str(ATTEMPTS)
    return paths.resume_installer_exe()


@pytest.fixture(scope="module")
def changed_bytes(installer_bytes) -> bytes:
    """Another build of the same installer: the same size, other padding."""
    standin_size = len(installer_bytes) - 5 * 1024 * 1024 - 12345
    padding = bytes((i * 13 + 5) & 0xFF for i in range(len(installer_bytes) - standin_size))
    return installer_bytes[:standin_size] + padding


def whole(data: bytes) -> str:
    return f"bytes=0-{len(data) - 1}"


def test_two_drops_end_in_the_whole_file_which_is_launched(vendor_server, installer_bytes, run_installer,
                                                           temp_folder, launch_log):
    size = len(installer_bytes)
    server_file = scenarios.ResumableFile([installer_bytes], drops=[1_000_000, 2_000_000])
    vendor_server(server_file)
    run_installer().wait(timeout=120)

    assert files_in(temp_folder) == [TARGET]
    assert (temp_folder / TARGET).read_bytes() == installer_bytes
    assert len(wait_launches(launch_log)) == 1
    # Each request asks for the rest from where the bytes in place end, with
    # the first answer's validator. A reset throws away what the program had
    # not yet taken from its socket, so where exactly that is depends on how
    # fast it read: each start lies after the last one and no further on than
    # the bytes sent by then (the file being whole shows none was skipped).
    assert len(server_file.gets) == 3
    assert server_file.gets[0] == (whole(installer_bytes), None)
    starts = [0]
    for (range_value, if_range), dropped_after in zip(server_file.gets[1:], server_file.drops):
        assert if_range == '"v0"'
        first, last = (int(n) for n in range_value.removeprefix("bytes=").split("-"))
        assert last == size - 1
        assert starts[-1] < first <= starts[-1] + dropped_after
        starts.append(first)


@pytest.mark.parametrize("case", ["the file changed", "ranges not served", "the file changed, If-Range ignored"])
def test_a_file_that_cannot_be_continued_starts_over_and_is_never_spliced(case, vendor_server, installer_bytes,
                                                                         changed_bytes, run_installer, temp_folder,
                                                                         launch_log):
    if case.startswith("the file changed"):
        # After the drop the server holds a new build: If-Range no longer
        # matches. A server that ignores it answers the rest of the new build
        # with a 206 under the new ETag, which is not taken either.
        server_file = scenarios.ResumableFile([installer_bytes, changed_bytes], drops=[1_500_000],
                                              honours_if_range=case == "the file changed")
        expected = changed_bytes
    else:
        server_file = scenarios.ResumableFile([installer_bytes], drops=[1_500_000], ranges=False)
        expected = installer_bytes
    vendor_server(server_file)
    run_installer().wait(timeout=120)

    assert (temp_folder / TARGET).read_bytes() == expected
    assert len(wait_launches(launch_log)) == 1
    # The drop, the resumed request answered with a 200 or another build's 206 (none of it taken), the start over.
    assert [if_range for _, if_range in server_file.gets] == [None, '"v0"', None]
    assert server_file.gets[2][0] == whole(installer_bytes)


def test_more_drops_than_attempts_fail_after_one_plus_that_many_requests(vendor_server, installer_bytes,
                                                                         run_installer, uia, temp_folder,
                                                                         launch_log):
    server_file = scenarios.ResumableFile([installer_bytes], drops=[500_000] * (ATTEMPTS + 2))
    vendor_server(server_file)
    process = run_installer()
    dismiss_failure_message(uia, process)
    assert len(server_file.gets) == 1 + ATTEMPTS
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []


def test_a_close_during_the_wait_between_requests_ends_it_at_once(vendor_server, installer_bytes, run_installer,
                                                                   uia, temp_folder, launch_log):
    server_file = scenarios.ResumableFile([installer_bytes], drops=[100_000] * (ATTEMPTS + 1))
    vendor_server(server_file)
    process = run_installer()
    # The third request breaks off too; the program then waits 2-4 s (the
    # third step's upper half) before the fourth.
    assert wait_until(lambda: len(server_file.gets) == 3, 30)
    time.sleep(1.0)
    closed_at = time.monotonic()
    uia.close(title="Kelvora Installation")
    uia.wait_dialog(timeout=30, title="Kelvora_installer")
    assert time.monotonic() - closed_at < 2.5
    dismiss_failure_message(uia, process)
    assert len(server_file.gets) == 3
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []


def test_the_default_build_gives_up_at_the_first_drop(vendor_server, installer_bytes, programs, uia, launch_log):
    assert (paths.cmake_cache_value("KELVORA_RESUME_ATTEMPTS") or "0") == "0"
    server_file = scenarios.ResumableFile([installer_bytes], drops=[1_000_000])
    vendor_server(server_file)
    process = programs(paths.installer_exe(), extra_env={"KELVORA_STANDIN_LOG": windows_path(launch_log)})
    uia.wait_dialog(timeout=30, title="Bestätigen")
    uia.press(1, dialog=True, title="Bestätigen")
    dismiss_failure_message(uia, process)
    assert server_file.gets == [(whole(installer_bytes), None)]
    assert read_launches(launch_log) == []


# ----- busy servers -----------------------------------------------------------------------------

def busy(code: int, retry_after: str | None = None):
    headers = [("Retry-After", retry_after)] if retry_after is not None else []
    return scenarios.status(code, b"busy, come back later" * 100, headers=headers)


def test_a_busy_size_request_is_asked_again_after_its_retry_after(vendor_server, installer_bytes, run_installer,
                                                                  temp_folder, launch_log):
    server_file = scenarios.ResumableFile([installer_bytes])
    server = vendor_server(scenarios.sequence([busy(503, "2"), server_file]))
    run_installer().wait(timeout=120)

    assert (temp_folder / TARGET).read_bytes() == installer_bytes
    assert files_in(temp_folder) == [TARGET]
    assert len(wait_launches(launch_log)) == 1
    first, second, get = server.requests[:3]
    assert (first.method, second.method, get.method) == ("HEAD", "HEAD", "GET")
    assert second.received_at - first.received_at >= 2.0
    assert server_file.gets == [(whole(installer_bytes), None)]


def test_a_get_answered_429_once_is_asked_again_and_launched(vendor_server, installer_bytes, run_installer,
                                                              temp_folder, launch_log):
    server_file = scenarios.ResumableFile([installer_bytes])
    get_count = [0]

    def once_busy(exchange):
        if exchange.request.method == "GET":
            get_count[0] += 1
            if get_count[0] == 1:
                busy(429)(exchange)
                return
        server_file(exchange)

    server = vendor_server(once_busy)
    run_installer().wait(timeout=120)

    assert (temp_folder / TARGET).read_bytes() == installer_bytes
    assert len(wait_launches(launch_log)) == 1
    assert [r.method for r in server.requests] == ["HEAD", "GET", "GET"]
    assert server_file.gets == [(whole(installer_bytes), None)]


def test_a_close_during_a_retry_after_pause_ends_it_at_once(vendor_server, installer_bytes, run_installer, uia,
                                                            temp_folder, launch_log):
    server = vendor_server(busy(503, "30"))
    process = run_installer()
    server.wait_for_requests(1, 30)
    time.sleep(2.0)
    closed_at = time.monotonic()
    uia.close(title="Kelvora Installation")
    uia.wait_dialog(timeout=30, title="Kelvora_installer")
    assert time.monotonic() - closed_at < 2.5
    dismiss_failure_message(uia, process)
    assert len(server.requests) == 1
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []
