"""Fallback addresses (the build setting KELVORA_FALLBACK_URLS): the program
built with one fallback address on the loopback port after the download
address's, and the test publisher to check (tests/CMakeLists.txt). When the
download address gives no file that passes every check, the fallback's size
request and download follow; the failure message comes only when the last
address failed."""

from __future__ import annotations

from pathlib import Path
from urllib.parse import urlsplit

import pytest

from bench import paths, scenarios
from bench.standin import read_launches
from test_download import (TARGET, dismiss_failure_message, files_in, launch_log, run_installer,  # noqa: F401
                           wait_launches)
from test_publisher_check import standins  # noqa: F401


@pytest.fixture(scope="module")
def installer_exe() -> Path:
    """run_installer starts the fallback build instead of the plain one."""
    return paths.fallback_installer_exe()


@pytest.fixture
def fallback_server(https_server):
    """Factory: a scripted server on the fallback address's port, serving `data` at its path only."""
    address = urlsplit(paths.fallback_url())

    def make(handler):
        return https_server(handler, port=address.port)

    make.path = address.path
    return make


def methods(server) -> list[str]:
    return [request.method for request in server.requests]


PRIMARY_CASES = ["down", "404 to both requests", "a file the publisher check refuses"]


@pytest.mark.parametrize("case", PRIMARY_CASES)
def test_a_failing_primary_gives_way_to_the_fallback_whose_file_is_launched(case, standins, vendor_server,
                                                                            fallback_server, run_installer,
                                                                            temp_folder, launch_log):
    good = standins["signed by the publisher"]
    primary = None
    if case == "404 to both requests":
        primary = vendor_server(scenarios.status(404, b"not here"))
    elif case == "a file the publisher check refuses":
        primary = vendor_server(scenarios.serve_bytes(standins["signed by another publisher"]))
    fallback = fallback_server(scenarios.routes({fallback_server.path: scenarios.serve_bytes(good)}))
    run_installer().wait(timeout=120)

    assert files_in(temp_folder) == [TARGET]
    assert (temp_folder / TARGET).read_bytes() == good
    assert len(wait_launches(launch_log)) == 1
    if primary is not None:
        assert methods(primary) == ["HEAD", "GET"]
    # A size request of its own, then the whole file from byte 0.
    assert methods(fallback) == ["HEAD", "GET"]
    assert fallback.requests[1].header("Range") == f"bytes=0-{len(good) - 1}"
    assert all(request.path == fallback_server.path for request in fallback.requests)


def test_both_addresses_failing_end_in_the_failure_message_with_nothing_launched_or_left(
        standins, vendor_server, fallback_server, run_installer, uia, temp_folder, launch_log):
    primary = vendor_server(scenarios.status(404, b"not here"))
    fallback = fallback_server(scenarios.serve_bytes(standins["unsigned"]))
    process = run_installer()
    dismiss_failure_message(uia, process)
    assert methods(primary) == ["HEAD", "GET"]
    assert methods(fallback) == ["HEAD", "GET"]
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []


@pytest.mark.parametrize("primary_answers", [False, True], ids=["no address answers", "the primary answers 404"])
def test_an_earlier_file_is_launched_only_when_no_address_answered(primary_answers, standins, vendor_server,
                                                                   run_installer, uia, temp_folder, launch_log):
    earlier = standins["signed by the publisher"]
    (temp_folder / TARGET).write_bytes(earlier)
    if primary_answers:
        vendor_server(scenarios.status(404, b"not here"))
    process = run_installer()
    if primary_answers:
        dismiss_failure_message(uia, process)
        assert read_launches(launch_log) == []
        assert files_in(temp_folder) == []
    else:
        process.wait(timeout=120)
        assert len(wait_launches(launch_log)) == 1
        assert (temp_folder / TARGET).read_bytes() == earlier
