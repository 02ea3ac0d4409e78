"""Screenshots of the test display: $KELVORA_BUILD_DIR/screenshots/<test>-<state>.png."""

from __future__ import annotations

import re
import subprocess
from pathlib import Path

from .paths import build_dir


def screenshot_dir() -> Path:
    path = build_dir() / "screenshots"
    path.mkdir(parents=True, exist_ok=True)
    return path


def take_screenshot(display: str, test: str, state: str, folder: Path | None = None) -> Path:
    """Saves the whole screen of the display; returns the file's path."""
    safe = re.sub(r"[^A-Za-z0-9_.-]+", "_", f"{test}-{state}").strip("_")
    folder = folder or screenshot_dir()
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / f"{safe}.png"
    subprocess.run(["import", "-display", display, "-window", "root", str(path)], check=True, timeout=30,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return path
