"""The vendor's own key (the build setting KELVORA_INSTALLER_KEYS): the program
built with two test keys, the fallback address and resume attempts, and no
publisher (tests/CMakeLists.txt). It starts a downloaded installer only when
the detached signature at the file's address with ".sig" appended, made with
one of its keys, verifies the file's SHA-256; otherwise it removes the file,
starts nothing and tries the next address. The signatures are what
`openssl dgst -sha256 -sign` writes."""

from __future__ import annotations

import os
import subprocess
import threading
import time
from pathlib import Path
from urllib.parse import urlsplit

import pytest

from bench import paths, scenarios
from bench.https_server import ClientGone
from bench.standin import read_launches
from bench.waiting import wait_until
from test_download import (TARGET, dismiss_failure_message, files_in, launch_log, run_installer,  # noqa: F401
                           wait_launches)

KEPT = [f"{TARGET}.kept", f"{TARGET}.kept-info"]


@pytest.fixture(scope="module")
def installer_exe() -> Path:
    """run_installer starts the keys build instead of the plain one."""
    return paths.keys_installer_exe()


@pytest.fixture(scope="module")
def keys(work_dir) -> dict[str, Path]:
    """The two built-in keys' private halves, and a third key the build does not hold."""
    made = dict(paths.signing_keys())
    stranger = work_dir / "keys" / "not-built-in.pem"
    stranger.parent.mkdir(parents=True, exist_ok=True)
    if not stranger.exists():
        subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", str(stranger)],
                       check=True, timeout=60, capture_output=True)
    made["not built in"] = stranger
    return made


def signature(key: Path, data: bytes) -> bytes:
    """What `openssl dgst -sha256 -sign KEY` writes for `data`."""
    return subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(key)], input=data, check=True, timeout=60,
                          capture_output=True).stdout


@pytest.fixture(scope="module")
def release(standin_exe) -> bytes:
    """The stand-in installer with some MiB of a pattern behind it: the check hashes more than one piece."""
    padding = bytes((i * 11 + i // 251) & 0xFF for i in range(2 * 1024 * 1024 + 333))
    return Path(standin_exe).read_bytes() + padding


@pytest.fixture
def fallback_server(https_server):
    """Factory: a scripted server on the fallback address's port."""
    address = urlsplit(paths.fallback_url())

    def make(handler):
        return https_server(handler, port=address.port)

    make.path = address.path
    return make


def signed_site(path: str, data: bytes, sig: bytes | scenarios.Handler | None) -> scenarios.Handler:
    """The file at `path` and its signature at `path`.sig (none: 404)."""
    table = {path: scenarios.serve_bytes(data)}
    if sig is not None:
        table[path + ".sig"] = sig if callable(sig) else scenarios.serve_bytes(sig)
    return scenarios.routes(table)


def requests_of(server) -> list[tuple[str, str]]:
    return [(request.method, request.path) for request in server.requests]


@pytest.mark.parametrize("case", ["first key", "second key", "signature busy once"])
def test_a_file_signed_with_a_built_in_key_is_launched(case, keys, release, vendor_server, vendor_address,
                                                       run_installer, temp_folder, launch_log):
    path = vendor_address[2]
    sig = signature(keys["second" if case == "second key" else "first"], release)
    sig_handler = scenarios.serve_bytes(sig)
    if case == "signature busy once":
        sig_handler = scenarios.sequence([scenarios.status(503, b"busy"), scenarios.serve_bytes(sig)])
    server = vendor_server(signed_site(path, release, sig_handler))
    run_installer().wait(timeout=120)

    assert files_in(temp_folder) == [TARGET]
    assert (temp_folder / TARGET).read_bytes() == release
    launches = wait_launches(launch_log)
    assert len(launches) == 1 and launches[0]["exe_path"].endswith(TARGET)
    sig_requests = ["GET"] * (2 if case == "signature busy once" else 1)
    assert [r.method for r in server.requests if r.path == path] == ["HEAD", "GET"]
    assert [r.method for r in server.requests if r.path == path + ".sig"] == sig_requests
    # The signature is asked for whole, after the file, and kept in memory only.
    assert requests_of(server)[:3] == [("HEAD", path), ("GET", path), ("GET", path + ".sig")]
    assert all(r.header("Range") is None for r in server.requests if r.path.endswith(".sig"))


def _refused_cases(keys, release) -> dict:
    changed = bytearray(release)
    changed[len(release) // 2] ^= 0x01
    return {
        "signed with a key not built in": (release, signature(keys["not built in"], release)),
        "one byte changed after signing": (bytes(changed), signature(keys["first"], release)),
        "no signature (404)": (release, None),
        "a signature of random bytes": (release, os.urandom(71)),
        "a signature the first key made over another file": (release, signature(keys["first"], release + b"x")),
    }


@pytest.mark.parametrize("case", ["signed with a key not built in", "one byte changed after signing",
                                  "no signature (404)", "a signature of random bytes",
                                  "a signature the first key made over another file"])
def test_a_file_whose_signature_fails_is_removed_and_nothing_is_launched(case, keys, release, vendor_server,
                                                                         vendor_address, fallback_server,
                                                                         run_installer, uia, temp_folder,
                                                                         launch_log, screenshot):
    path = vendor_address[2]
    data, sig = _refused_cases(keys, release)[case]
    server = vendor_server(signed_site(path, data, sig))
    mirror = fallback_server(scenarios.status(404, b"not here"))
    process = run_installer()
    uia.wait_dialog(timeout=90, title="Kelvora_installer")
    screenshot("message")
    dismiss_failure_message(uia, process)

    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []
    # The file came whole; its signature turned it away.
    file_gets = [r for r in server.requests if r.path == path and r.method == "GET"]
    assert len(file_gets) == 1
    assert [r.method for r in server.requests if r.path == path + ".sig"] == ["GET"]
    # And the mirror was asked next.
    assert [r.method for r in mirror.requests][:1] == ["HEAD"]


class HugeSignature:
    """A 200 for the .sig that announces 10 MB and sends it at 1 MB/s, counting what it got out
    before the client went away."""

    SIZE = 10 * 1024 * 1024

    def __init__(self):
        self.sent = 0
        self.gone = threading.Event()

    def __call__(self, exchange) -> None:
        exchange.send_head(200, [("Content-Type", "application/octet-stream"), ("Content-Length", str(self.SIZE))])
        piece = b"\x30" * 65536
        try:
            while self.sent < self.SIZE:
                exchange.send(piece)
                self.sent += len(piece)
                if exchange.server.wait_stopped(len(piece) / 1_000_000):
                    return
        except ClientGone:
            pass
        finally:
            self.gone.set()


def test_a_signature_of_10_mb_is_refused_without_reading_it(keys, release, vendor_server, vendor_address,
                                                            fallback_server, run_installer, uia, temp_folder,
                                                            launch_log):
    path = vendor_address[2]
    huge = HugeSignature()
    vendor_server(signed_site(path, release, huge))
    fallback_server(scenarios.status(404, b"not here"))
    process = run_installer()
    uia.wait_dialog(timeout=90, title="Kelvora_installer")
    # The failure is told while the server is still sending: the body was not waited for.
    sent_when_refused = huge.sent
    assert sent_when_refused < HugeSignature.SIZE
    dismiss_failure_message(uia, process)
    assert huge.gone.wait(30)
    assert huge.sent < HugeSignature.SIZE
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []


def test_a_primary_whose_signature_fails_gives_way_to_the_mirrors_good_file(keys, release, vendor_server,
                                                                            vendor_address, fallback_server,
                                                                            run_installer, temp_folder, launch_log):
    path = vendor_address[2]
    other = release + b"another build"
    primary = vendor_server(signed_site(path, other, signature(keys["first"], release)))
    mirror = fallback_server(signed_site(fallback_server.path, release, signature(keys["second"], release)))
    run_installer().wait(timeout=120)

    assert files_in(temp_folder) == [TARGET]
    assert (temp_folder / TARGET).read_bytes() == release
    assert len(wait_launches(launch_log)) == 1
    assert requests_of(primary) == [("HEAD", path), ("GET", path), ("GET", path + ".sig")]
    assert requests_of(mirror) == [("HEAD", fallback_server.path), ("GET", fallback_server.path),
                                   ("GET", fallback_server.path + ".sig")]


def test_a_file_of_an_earlier_run_is_never_launched(keys, release, run_installer, uia, temp_folder, launch_log):
    """No address answers (both are down): without the network there is no signature to check the
    file an earlier run left against, however well it was signed."""
    (temp_folder / TARGET).write_bytes(release)
    process = run_installer()
    dismiss_failure_message(uia, process)
    assert read_launches(launch_log) == []


def test_kept_bytes_changed_on_the_disk_are_refused_and_the_file_comes_again_from_byte_0(
        keys, release, vendor_server, vendor_address, fallback_server, run_installer, uia, temp_folder, launch_log):
    """A build with keys and resume attempts keeps a cut-off download; a continued file that the key
    check refuses is fetched once more from byte 0."""
    path = vendor_address[2]
    sig = signature(keys["first"], release)
    dies_after = 1024 * 1024
    cut_file = scenarios.ResumableFile([release], drops=[dies_after], stall=True)
    server = vendor_server(scenarios.routes({path: cut_file}))
    process = run_installer()
    assert wait_until(lambda: len(cut_file.gets) == 1, 30)
    time.sleep(3.0)  # the 1 MiB arrives, then nothing
    uia.close(title="Kelvora Installation")
    dismiss_failure_message(uia, process)
    assert files_in(temp_folder) == KEPT
    kept = temp_folder / KEPT[0]
    changed = bytearray(kept.read_bytes())
    kept_length = len(changed)
    assert 0 < kept_length <= dies_after
    changed[kept_length // 2] ^= 0x5A
    kept.write_bytes(bytes(changed))
    server.stop()

    whole = scenarios.ResumableFile([release])
    second = vendor_server(scenarios.routes({path: whole, path + ".sig": scenarios.serve_bytes(sig)}))
    run_installer().wait(timeout=120)

    assert whole.gets == [(f"bytes={kept_length}-{len(release) - 1}", '"v0"'), (f"bytes=0-{len(release) - 1}", None)]
    assert [r.method for r in second.requests if r.path == path + ".sig"] == ["GET", "GET"]
    assert files_in(temp_folder) == [TARGET]
    assert (temp_folder / TARGET).read_bytes() == release
    assert len(wait_launches(launch_log)) == 1
