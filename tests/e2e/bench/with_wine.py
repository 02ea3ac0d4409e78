"""Runs a command with a Wine prefix and an Xvfb display of its own:

    python3 -m bench.with_wine PREFIX_DIR command [args...]      (bench on PYTHONPATH)

The prefix is made and prepared on first use and reused; the display and the
prefix's wineserver stop when the command ends. scripts/with-wine.sh calls this,
so the test run and a pytest run on its own start Xvfb and Wine the same way."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

from .wine import WineEnv, start_xvfb


def main(argv: list[str]) -> int:
    if len(argv) < 3:
        print(f"usage: {argv[0]} PREFIX_DIR command [args...]", file=sys.stderr)
        return 2
    prefix = Path(argv[1]).resolve()
    prefix.mkdir(parents=True, exist_ok=True)
    xvfb, display = start_xvfb()
    # Not locked: the test runs started inside take the prefix's lock themselves.
    env = WineEnv(prefix, display, xvfb, owns_prefix=True)
    try:
        env.prepare()
        return subprocess.run(argv[2:], env=env.env(), stdin=subprocess.DEVNULL, check=False).returncode
    finally:
        env.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
