"""Where the build outputs and the sources are."""

from __future__ import annotations

import functools
import os
import re
from pathlib import Path

# The address that test builds compile in; the vendor stand-in servers bind its port.
VENDOR_HOST = "localhost"
VENDOR_PORT = 48443
DOWNLOAD_PATH = "/fileadmin/files/kelvora/Kelvora_Install.exe"
INSTALLER_FILE_NAME = "Kelvora_Install.exe"

# publisher_check, resume, fallback, keep and keys hold other builds of Kelvora_Installer.exe
# (publisher_check_installer_exe, resume_installer_exe, fallback_installer_exe, keep_installer_exe,
# keys_installer_exe).
_SKIPPED_DIRS = {"CMakeFiles", "googletest", "screenshots", "e2e", "wine-prefix", "drive_c", "dosdevices",
                 "publisher_check", "resume", "fallback", "keep", "keys"}


def source_dir() -> Path:
    if os.environ.get("KELVORA_SOURCE_DIR"):
        return Path(os.environ["KELVORA_SOURCE_DIR"]).resolve()
    return Path(__file__).resolve().parents[3]


def build_dir() -> Path:
    value = os.environ.get("KELVORA_BUILD_DIR")
    if not value:
        raise RuntimeError("KELVORA_BUILD_DIR is not set (the windows build's folder)")
    return Path(value).resolve()


def work_dir() -> Path:
    """Scratch space of the end-to-end tests inside the build tree."""
    path = build_dir() / "e2e"
    path.mkdir(parents=True, exist_ok=True)
    return path


@functools.lru_cache(maxsize=None)
def find_build_output(file_name: str) -> Path:
    """A file the build made (an exe), found anywhere under the build tree
    (the name compared without case, as Windows does)."""
    root = build_dir()
    wanted = file_name.lower()
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if d not in _SKIPPED_DIRS]
        for name in files:
            if name.lower() == wanted:
                return Path(folder) / name
    raise FileNotFoundError(f"{file_name} not found under {root}; was the windows build made?")


def installer_exe() -> Path:
    return find_build_output("Kelvora_Installer.exe")


def _test_build_exe(folder: str) -> Path:
    """The program as one of the test builds under tests/ made it."""
    path = build_dir() / "tests" / folder / "Kelvora_Installer.exe"
    if not path.exists():
        raise FileNotFoundError(f"{path} not found; build the Windows preset first")
    return path


def publisher_check_installer_exe() -> Path:
    """The program built to start only an installer signed by checked_publisher()."""
    return _test_build_exe("publisher_check")


def resume_installer_exe() -> Path:
    """The program built to resume a dropped download (KELVORA_TEST_RESUME_ATTEMPTS attempts)."""
    return _test_build_exe("resume")


def fallback_installer_exe() -> Path:
    """The program built with the fallback address fallback_url() and the publisher checked_publisher()."""
    return _test_build_exe("fallback")


def keep_installer_exe() -> Path:
    """The program built to resume (KELVORA_TEST_RESUME_ATTEMPTS attempts) and check checked_publisher():
    it keeps a cut-off download for the next run."""
    return _test_build_exe("keep")


def keys_installer_exe() -> Path:
    """The program built with the test keys (signing_keys()), the fallback address fallback_url() and
    KELVORA_TEST_RESUME_ATTEMPTS attempts; no publisher."""
    return _test_build_exe("keys")


def signing_keys(build: Path | None = None) -> dict[str, Path]:
    """The private keys whose public halves the keys test build holds: "first" and "second"."""
    folder = cmake_cache_value("KELVORA_TEST_KEYS_DIR", build)
    if not folder:
        raise LookupError("KELVORA_TEST_KEYS_DIR is not in the CMake cache; configure the windows preset")
    return {name: Path(folder) / f"{name}.pem" for name in ("first", "second")}


def fallback_url(build: Path | None = None) -> str:
    """The fallback address of the fallback test build, on loopback."""
    url = cmake_cache_value("KELVORA_TEST_FALLBACK_URL", build)
    if not url:
        raise LookupError("KELVORA_TEST_FALLBACK_URL is not in the CMake cache; configure the windows preset")
    return url


def test_installer_exe() -> Path:
    return find_build_output("Kelvora_Test_Installer.exe")


def uia_exe() -> Path:
    return find_build_output("kelvora_uia.exe")


def standin_installer_exe() -> Path:
    return find_build_output("kelvora_standin_installer.exe")


def trust_ca_exe() -> Path:
    return find_build_output("kelvora_trust_ca.exe")


def dll_recorder() -> Path:
    return find_build_output("kelvora_dll_recorder.dll")


def dll_probe_exe() -> Path:
    return find_build_output("kelvora_dll_probe.exe")


def module_list_exe() -> Path:
    return find_build_output("kelvora_module_list.exe")


def font_face_exe() -> Path:
    return find_build_output("kelvora_font_face.exe")


def cmake_cache_value(name: str, build: Path | None = None) -> str | None:
    cache = (build or build_dir()) / "CMakeCache.txt"
    pattern = re.compile(rf"^{re.escape(name)}(?::[A-Z]+)?=(.*)$")
    for line in cache.read_text(encoding="utf-8", errors="replace").splitlines():
        match = pattern.match(line)
        if match:
            return match.group(1)
    return None


def download_url(build: Path | None = None) -> str:
    """The download address compiled into Kelvora_Installer.exe."""
    value = cmake_cache_value("KELVORA_DOWNLOAD_URL", build)
    if not value:
        raise RuntimeError("KELVORA_DOWNLOAD_URL not found in CMakeCache.txt")
    return value


def installer_publisher(build: Path | None = None) -> str:
    """The publisher Kelvora_Installer.exe demands a signature of; empty: none."""
    return cmake_cache_value("KELVORA_INSTALLER_PUBLISHER", build) or ""


def checked_publisher(build: Path | None = None) -> str:
    """The publisher the publisher-checking test build demands a signature of."""
    value = cmake_cache_value("KELVORA_TEST_PUBLISHER", build)
    if not value:
        raise RuntimeError("KELVORA_TEST_PUBLISHER not found in CMakeCache.txt")
    return value
