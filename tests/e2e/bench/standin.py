"""What the stand-in installer (tools/standin_installer) recorded about its launches."""

from __future__ import annotations

import json
from pathlib import Path


def read_launches(log: Path) -> list[dict]:
    """One dict per launch: command_line, working_directory, exe_path,
    show_window, startup_flags, uses_show_window, pid. Empty if never launched."""
    if not Path(log).exists():
        return []
    return [json.loads(line) for line in Path(log).read_text(encoding="utf-8").splitlines() if line.strip()]
