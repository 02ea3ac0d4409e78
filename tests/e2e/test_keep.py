"""Keeping a cut-off download for the next run: the program built to resume
and to check the test publisher (tests/CMakeLists.txt). The first run's line
dies after 1 MiB and the user closes the window; the second run continues
the kept bytes with a Range from the first missing byte and If-Range, starts
over where the file is new, and never launches a file made of bytes changed
on the disk."""

from __future__ import annotations

import time
from pathlib import Path

import pytest

from bench import paths, scenarios
from bench.certs import code_signing_certificate
from bench.signing import sign
from bench.standin import read_launches
from bench.waiting import wait_until
from test_download import (TARGET, dismiss_failure_message, files_in, launch_log, run_installer,  # noqa: F401
                           wait_launches)

KEPT = [f"{TARGET}.kept", f"{TARGET}.kept-info"]
DIES_AFTER = 1024 * 1024


@pytest.fixture(scope="module")
def installer_exe() -> Path:
    """run_installer starts the keeping build instead of the plain one."""
    return paths.keep_installer_exe()


@pytest.fixture(scope="module")
def releases(standin_exe, certs, work_dir) -> list[bytes]:
    """Three releases of the installer signed by the publisher, each a few MiB
    with a pattern of its own (data appended before signing): the first two
    of the same size, the third longer."""
    folder = work_dir / "keep"
    folder.mkdir(parents=True, exist_ok=True)
    signer = code_signing_certificate(certs.ca_cert.parent, paths.checked_publisher())
    made = []
    for number, extra in ((1, 0), (2, 0), (3, 4096)):
        padding = bytes((i * (5 + number) + i // 253) & 0xFF for i in range(3 * 1024 * 1024 + 777 + extra))
        unsigned = folder / f"release-{number}.exe"
        unsigned.write_bytes(Path(standin_exe).read_bytes() + padding)
        made.append(sign(unsigned, signer, certs.ca_cert, folder / f"release-{number}-signed.exe").read_bytes())
    # What the tests below rely on of the bench, not a branch of theirs.
    assert len(made[0]) == len(made[1]) != len(made[2])
    return made


def first_run_cut_off(server_file, vendor_server, run_installer, uia, temp_folder, launch_log) -> int:
    """The line dies after 1 MiB; the user closes the window: the bytes are
    kept, all that arrived (no read waits for more than is at hand, so none
    takes bytes with it when the line dies). Returns how many."""
    server = vendor_server(server_file)
    process = run_installer()
    assert wait_until(lambda: len(server_file.gets) == 1, 30)
    time.sleep(3.0)  # the 1 MiB arrives, then nothing
    uia.close(title="Kelvora Installation")
    dismiss_failure_message(uia, process)
    assert read_launches(launch_log) == []
    assert files_in(temp_folder) == KEPT
    kept = (temp_folder / KEPT[0]).read_bytes()
    assert kept == server_file.versions[0][:DIES_AFTER]
    server.stop()  # the second run's server takes the port
    return len(kept)


def second_run(versions, vendor_server, run_installer, first_tag: int = 0):
    server_file = scenarios.ResumableFile(versions, first_tag=first_tag)
    server = vendor_server(server_file)
    run_installer().wait(timeout=120)
    return server, server_file


def test_a_cut_off_download_goes_on_in_the_next_run(releases, vendor_server, run_installer, uia, temp_folder,
                                                    launch_log):
    release = releases[0]
    kept = first_run_cut_off(scenarios.ResumableFile([release], drops=[DIES_AFTER], stall=True), vendor_server,
                             run_installer, uia, temp_folder, launch_log)
    server, server_file = second_run([release], vendor_server, run_installer)

    assert [r.method for r in server.requests] == ["HEAD", "GET"]
    assert server_file.gets == [(f"bytes={kept}-{len(release) - 1}", '"v0"')]
    assert files_in(temp_folder) == [TARGET]
    assert (temp_folder / TARGET).read_bytes() == release
    assert len(wait_launches(launch_log)) == 1


def test_a_new_release_of_the_same_size_starts_over_after_if_range(releases, vendor_server, run_installer, uia,
                                                                    temp_folder, launch_log):
    old, new = releases[0], releases[1]
    kept = first_run_cut_off(scenarios.ResumableFile([old], drops=[DIES_AFTER], stall=True), vendor_server,
                             run_installer, uia, temp_folder, launch_log)
    # The server now holds only the new release, under a new ETag ("v1").
    _, server_file = second_run([new], vendor_server, run_installer, first_tag=1)

    # The same size: the kept bytes are asked to be continued with If-Range,
    # which no longer matches; the 200 is not taken and the file starts over.
    assert server_file.gets == [(f"bytes={kept}-{len(new) - 1}", '"v0"'), (f"bytes=0-{len(new) - 1}", None)]
    assert files_in(temp_folder) == [TARGET]
    assert (temp_folder / TARGET).read_bytes() == new
    assert len(wait_launches(launch_log)) == 1


def test_a_new_release_of_another_size_is_fetched_whole(releases, vendor_server, run_installer, uia, temp_folder,
                                                        launch_log):
    old, new = releases[0], releases[2]
    first_run_cut_off(scenarios.ResumableFile([old], drops=[DIES_AFTER], stall=True), vendor_server, run_installer,
                      uia, temp_folder, launch_log)
    _, server_file = second_run([new], vendor_server, run_installer, first_tag=1)

    # Another size: the kept bytes cannot be part of it. They are removed
    # with their record, and the file comes whole in one GET without If-Range.
    assert server_file.gets == [(f"bytes=0-{len(new) - 1}", None)]
    assert files_in(temp_folder) == [TARGET]
    assert (temp_folder / TARGET).read_bytes() == new
    assert len(wait_launches(launch_log)) == 1


def test_kept_bytes_changed_on_the_disk_never_reach_a_launch(releases, vendor_server, run_installer, uia,
                                                              temp_folder, launch_log):
    release = releases[0]
    kept_length = first_run_cut_off(scenarios.ResumableFile([release], drops=[DIES_AFTER], stall=True),
                                    vendor_server, run_installer, uia, temp_folder, launch_log)
    kept = temp_folder / KEPT[0]
    changed = bytearray(kept.read_bytes())
    changed[len(changed) // 2] ^= 0x5A
    kept.write_bytes(bytes(changed))
    _, server_file = second_run([release], vendor_server, run_installer)

    # The continued file fails the check and is deleted; the file then comes from byte 0.
    assert server_file.gets == [(f"bytes={kept_length}-{len(release) - 1}", '"v0"'),
                                (f"bytes=0-{len(release) - 1}", None)]
    assert files_in(temp_folder) == [TARGET]
    assert (temp_folder / TARGET).read_bytes() == release
    launches = wait_launches(launch_log)
    assert len(launches) == 1


def test_a_hard_link_at_the_kept_name_is_never_written_through(releases, vendor_server, run_installer, uia,
                                                               temp_folder, launch_log):
    """Somebody with access to the temporary folder puts, at the kept name, a
    second name of a file of theirs that holds what the record names. The
    program neither continues nor writes it, and downloads from byte 0."""
    release = releases[0]
    first_run_cut_off(scenarios.ResumableFile([release], drops=[DIES_AFTER], stall=True), vendor_server,
                      run_installer, uia, temp_folder, launch_log)
    kept = temp_folder / KEPT[0]
    other = temp_folder / "other.bin"
    kept.rename(other)
    other_bytes = other.read_bytes()
    kept.hardlink_to(other)
    record = (temp_folder / KEPT[1]).read_bytes()
    _, server_file = second_run([release], vendor_server, run_installer)

    assert server_file.gets == [(f"bytes=0-{len(release) - 1}", None)]
    assert (temp_folder / TARGET).read_bytes() == release
    assert len(wait_launches(launch_log)) == 1
    # Left as it was: the other file, its second name and the record.
    assert other.read_bytes() == other_bytes
    assert kept.stat().st_nlink == 2 and kept.samefile(other)
    assert (temp_folder / KEPT[1]).read_bytes() == record
    assert files_in(temp_folder) == sorted([TARGET, *KEPT, "other.bin"])
