"""Screenshots of the test display: $KELVORA_BUILD_DIR/screenshots/<test>-<state>.png,
each cropped to a window's rectangle (as the UI automation helper reports it)
with a small margin, or the whole screen when no window is given."""

from __future__ import annotations

import re
import subprocess
from pathlib import Path

from .paths import build_dir

MARGIN = 8  # pixels of the desktop left around the window

# No time stamps (the tIME chunk, date:create/date:modify text) and no other
# metadata, so that taking the same pixels again gives the same bytes.
_REPRODUCIBLE_PNG = ["-define", "png:exclude-chunks=date,time", "-strip"]


def screenshot_dir() -> Path:
    path = build_dir() / "screenshots"
    path.mkdir(parents=True, exist_ok=True)
    return path


def crop_box(rect: dict, margin: int = MARGIN) -> tuple[int, int, int, int]:
    """(left, top, width, height) of `rect` (left/top/right/bottom in screen
    pixels) grown by `margin` on each side, kept off negative coordinates;
    ImageMagick cuts what lies beyond the screen's right and bottom edges."""
    left, top = max(0, rect["left"] - margin), max(0, rect["top"] - margin)
    right, bottom = rect["right"] + margin, rect["bottom"] + margin
    if right <= left or bottom <= top:
        raise ValueError(f"window rectangle {rect} lies off the screen")
    return left, top, right - left, bottom - top


def union(rects: list[dict]) -> dict | None:
    """The smallest rectangle holding all of `rects` (None for none)."""
    if not rects:
        return None
    return {"left": min(r["left"] for r in rects), "top": min(r["top"] for r in rects),
            "right": max(r["right"] for r in rects), "bottom": max(r["bottom"] for r in rects)}


def take_screenshot(display: str, test: str, state: str, folder: Path | None = None, *,
                    rect: dict | None = None, margin: int = MARGIN, path: Path | None = None) -> Path:
    """Saves the display, cropped to `rect` plus `margin` when given, as
    <folder>/<test>-<state>.png, or as `path`; returns the file's path."""
    if path is None:
        safe = re.sub(r"[^A-Za-z0-9_.-]+", "_", f"{test}-{state}").strip("_")
        folder = folder or screenshot_dir()
        path = folder / f"{safe}.png"
    path.parent.mkdir(parents=True, exist_ok=True)
    crop = []
    if rect is not None:
        left, top, width, height = crop_box(rect, margin)
        crop = ["-crop", f"{width}x{height}+{left}+{top}", "+repage"]
    subprocess.run(["import", "-display", display, "-window", "root", *crop, *_REPRODUCIBLE_PNG, str(path)],
                   check=True, timeout=30, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return path


def image_size(path: Path) -> tuple[int, int]:
    """(width, height) from a PNG's header chunk."""
    head = path.read_bytes()[:24]
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise ValueError(f"{path} is not a PNG")
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")
