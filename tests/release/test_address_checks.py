"""The check every download address passes before anything is built: the
download address and each fallback address must be https, with a host and a
path, and without blanks, quotes, backslashes, semicolons or control
characters. The same table runs through cmake/DownloadAddress.cmake (which
configuring calls) and through scripts/release.sh."""

from __future__ import annotations

import os
import subprocess
from pathlib import Path

import pytest

SOURCE = Path(__file__).resolve().parents[2]
GOOD = "https://downloads.kelvora.example/fileadmin/files/kelvora/Kelvora_Install.exe"

# (case, address, accepted)
ADDRESSES = [
    ("vendor address", GOOD, True),
    ("port and query", "https://mirror.example:8443/k/Kelvora_Install.exe?sig=abc&e=1", True),
    ("IPv6 host", "https://[::1]:8443/Kelvora_Install.exe", True),
    ("plain http", "http://downloads.kelvora.example/Kelvora_Install.exe", False),
    ("no scheme", "downloads.kelvora.example/Kelvora_Install.exe", False),
    ("no host", "https:///Kelvora_Install.exe", False),
    ("no path", "https://downloads.kelvora.example", False),
    ("only a slash", "https://downloads.kelvora.example/", False),
    ("user in the host", "https://user@downloads.kelvora.example/Kelvora_Install.exe", False),
    ("blank", "https://downloads.kelvora.example/Kelvora Install.exe", False),
    ("tab", "https://downloads.kelvora.example/Kelvora\tInstall.exe", False),
    ("double quote", 'https://downloads.kelvora.example/x".exe', False),
    ("single quote", "https://downloads.kelvora.example/x'.exe", False),
    ("backslash", "https://downloads.kelvora.example/x\\y.exe", False),
    ("control character", "https://downloads.kelvora.example/x\x01y.exe", False),
    ("delete character", "https://downloads.kelvora.example/x\x7fy.exe", False),
]
IDS = [case[0] for case in ADDRESSES]


def clean_env(**settings: str) -> dict[str, str]:
    env = {k: v for k, v in os.environ.items() if not k.startswith("KELVORA_")}
    env.update(settings)
    return env


@pytest.mark.parametrize("case, address, accepted", ADDRESSES, ids=IDS)
def test_cmake_checks_each_address(tmp_path, case, address, accepted):
    script = tmp_path / "check.cmake"
    script.write_text(f'include("{SOURCE}/cmake/DownloadAddress.cmake")\n'
                      'kelvora_check_download_address(KELVORA_FALLBACK_URLS "${ADDRESS}")\n')
    result = subprocess.run(["cmake", f"-DADDRESS={address}", "-P", str(script)], capture_output=True, text=True,
                            timeout=60)
    assert (result.returncode == 0) == accepted, result.stderr
    if not accepted:
        assert "KELVORA_FALLBACK_URLS" in result.stderr


@pytest.mark.parametrize("setting", ["KELVORA_DOWNLOAD_URL", "KELVORA_FALLBACK_URLS"])
@pytest.mark.parametrize("case, address, accepted", ADDRESSES, ids=IDS)
def test_release_script_checks_each_address(tmp_path, setting, case, address, accepted):
    # A CA without a signer is refused right after the addresses: reaching
    # that refusal shows the addresses passed, and nothing is built either way.
    settings = {"KELVORA_DOWNLOAD_URL": GOOD, "KELVORA_SIGN_CA": str(tmp_path / "ca.pem")}
    settings[setting] = address if setting == "KELVORA_DOWNLOAD_URL" else f"{GOOD};{address}"
    result = subprocess.run(["bash", str(SOURCE / "scripts" / "release.sh")], env=clean_env(**settings),
                            capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL)
    assert result.returncode != 0
    if accepted:
        assert "without a certificate" in result.stderr, result.stderr
    else:
        assert setting in result.stderr and "without a certificate" not in result.stderr, result.stderr


@pytest.mark.parametrize("setting, value", [("KELVORA_DOWNLOAD_URL", "http://a.example/Kelvora_Install.exe"),
                                            ("KELVORA_FALLBACK_URLS", f"{GOOD};https://b.example/x y.exe")])
def test_configuring_stops_at_a_bad_address(tmp_path, setting, value):
    result = subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(tmp_path / "build"), "-DKELVORA_BUILD_TESTS=OFF",
                             f"-D{setting}={value}"], capture_output=True, text=True, timeout=300)
    assert result.returncode != 0
    assert setting in result.stderr and "https://" in result.stderr


# A line break in the fallback list: each address must still be seen, so the
# list is refused as a whole rather than read up to its first line.
LINE_BREAKS = [
    ("between two good addresses", f"{GOOD}\nhttps://mirror.example/k/Kelvora_Install.exe"),
    ("after a semicolon", f"{GOOD};\nhttps://mirror.example/k/Kelvora_Install.exe"),
    ("carriage return and line feed", f"{GOOD}\r\nhttps://mirror.example/k/Kelvora_Install.exe"),
    ("a bad address on the second line", f"{GOOD}\nhttps://b.example/x y.exe"),
    ("at the end", f"{GOOD}\n"),
]


@pytest.mark.parametrize("case, fallbacks", LINE_BREAKS, ids=[case[0] for case in LINE_BREAKS])
def test_release_script_refuses_a_fallback_list_with_a_line_break(tmp_path, case, fallbacks):
    settings = {"KELVORA_DOWNLOAD_URL": GOOD, "KELVORA_SIGN_CA": str(tmp_path / "ca.pem"),
                "KELVORA_FALLBACK_URLS": fallbacks}
    result = subprocess.run(["bash", str(SOURCE / "scripts" / "release.sh")], env=clean_env(**settings),
                            capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL)
    assert result.returncode != 0
    assert "KELVORA_FALLBACK_URLS" in result.stderr and "line break" in result.stderr, result.stderr
    assert "without a certificate" not in result.stderr, result.stderr
