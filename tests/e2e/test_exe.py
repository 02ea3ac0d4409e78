"""The installer exe as it ships: a lean release build with no debug sections
and at most 310 KB (scripts/check-imports.sh checks what it imports). The
default build links no code of the settings it does not use (keeping cut-off
downloads, the key check); what it does link is 302 KB."""

from __future__ import annotations

import subprocess

import pytest

from bench import paths

MAX_BYTES = 310 * 1024


def objdump(*args: str) -> str:
    return subprocess.run(["x86_64-w64-mingw32-objdump", *args, str(paths.installer_exe())], check=True,
                          capture_output=True, text=True).stdout


@pytest.fixture(scope="module")
def release_build():
    if (paths.cmake_cache_value("CMAKE_BUILD_TYPE") or "").lower() != "release":
        pytest.skip("only the release build is the shipped exe")


def test_release_exe_is_small_and_has_no_debug_sections(release_build):
    size = paths.installer_exe().stat().st_size
    assert size <= MAX_BYTES, f"{size} bytes"
    rows = [line.split() for line in objdump("-h").splitlines()]
    sections = [row[1] for row in rows if len(row) > 1 and row[0].isdigit()]
    assert ".text" in sections
    assert not [name for name in sections if name.startswith(".debug")], sections
