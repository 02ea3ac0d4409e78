#!/usr/bin/env bash
# Runs a command with a Wine prefix and an Xvfb display of its own:
#   scripts/with-wine.sh PREFIX_DIR command [args...]
# The prefix is made on first use and reused; the display and the wineserver
# are stopped when the command ends (tests/e2e/bench/with_wine.py).
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 PREFIX_DIR command [args...]" >&2; exit 2; }
prefix=$(realpath -m "$1"); shift
bench=$(cd "$(dirname "$0")/../tests/e2e" && pwd)
PYTHONPATH="$bench${PYTHONPATH:+:$PYTHONPATH}" exec /usr/bin/python3 -m bench.with_wine "$prefix" "$@"
