"""The program built for a vendor who signs the installer (the build setting
KELVORA_INSTALLER_PUBLISHER, here the test build of tests/CMakeLists.txt): it
starts a downloaded installer only when the file carries a valid Authenticode
signature of that publisher, and otherwise removes the file and reports a
failed download. Wine checks the signature's digest but, unlike Windows,
accepts a chain that ends in a root it does not trust: what is shown here is
the publisher's name and the digest."""

from __future__ import annotations

from pathlib import Path

import pytest

from bench import paths
from bench.certs import code_signing_certificate
from bench.signing import sign, with_one_byte_changed
from bench.standin import read_launches
from test_download import TARGET, dismiss_failure_message, files_in, launch_log, run_installer, wait_launches  # noqa: F401


@pytest.fixture(scope="module")
def installer_exe() -> Path:
    """run_installer starts the publisher-checking build instead of the plain one."""
    return paths.publisher_check_installer_exe()


@pytest.fixture(scope="module")
def standins(standin_exe, certs, work_dir) -> dict[str, bytes]:
    """The stand-in installer as the vendor's server might hold it."""
    publisher = paths.checked_publisher()
    folder = work_dir / "signed"
    folder.mkdir(parents=True, exist_ok=True)
    cert_folder = certs.ca_cert.parent

    def signed_by(name: str, common_name: str, organisation: str = "") -> bytes:
        signer = code_signing_certificate(cert_folder, common_name, organisation)
        return sign(Path(standin_exe), signer, certs.ca_cert, folder / f"{name}.exe").read_bytes()

    by_publisher = signed_by("publisher", publisher)
    return {
        "signed by the publisher": by_publisher,
        "publisher as organisation": signed_by("organisation", "Kelvora Code Signing 2", publisher),
        "signed by another publisher": signed_by("other", "Andere Firma AG", "Andere Firma AG"),
        "unsigned": Path(standin_exe).read_bytes(),
        "one byte changed after signing": with_one_byte_changed(by_publisher),
    }


@pytest.mark.parametrize("kind", ["signed by the publisher", "publisher as organisation"])
def test_installer_signed_by_the_publisher_is_launched(kind, standins, vendor_nginx, run_installer, temp_folder,
                                                       launch_log):
    vendor_nginx(standins[kind])
    run_installer().wait(timeout=120)
    assert files_in(temp_folder) == [TARGET]
    assert (temp_folder / TARGET).read_bytes() == standins[kind]
    launches = wait_launches(launch_log)
    assert len(launches) == 1 and launches[0]["exe_path"].endswith(TARGET)


@pytest.mark.parametrize("kind", ["signed by another publisher", "unsigned",
                                  "one byte changed after signing"])
def test_installer_not_signed_by_the_publisher_is_removed_and_not_launched(kind, standins, vendor_nginx,
                                                                           run_installer, uia, temp_folder,
                                                                           launch_log, screenshot):
    server = vendor_nginx(standins[kind])
    process = run_installer()
    uia.wait_dialog(timeout=90, title="Kelvora_installer")
    screenshot("message")
    dismiss_failure_message(uia, process)
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []
    # The download itself was complete: the check turned the file away.
    head, get = server.requests()
    assert (head.method, get.method, get.body_bytes_sent) == ("HEAD", "GET", len(standins[kind]))


@pytest.mark.parametrize("kind, launched", [("signed by the publisher", True), ("unsigned", False)])
def test_file_of_an_earlier_run_is_checked_too(kind, launched, standins, run_installer, uia, temp_folder,
                                               launch_log):
    """The server is down, so the file an earlier run left is what would be launched."""
    (temp_folder / TARGET).write_bytes(standins[kind])
    process = run_installer()
    if launched:
        process.wait(timeout=60)
        assert len(wait_launches(launch_log)) == 1
        assert files_in(temp_folder) == [TARGET]
    else:
        dismiss_failure_message(uia, process)
        assert read_launches(launch_log) == []
        assert files_in(temp_folder) == []
