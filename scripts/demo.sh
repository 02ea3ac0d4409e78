#!/usr/bin/env bash
# Runs the built program against a local HTTPS server that serves the stand-in
# installer; builds nothing (scripts/run-demo.sh builds first).
#   scripts/demo.sh BUILD_DIR [--pictures DIR]
# BUILD_DIR is a windows build whose download address is
# https://localhost:48443/fileadmin/files/kelvora/Kelvora_Install.exe.
# With DISPLAY set the program shows there and you answer it; without, it runs
# on an Xvfb display of its own, the question is answered with OK and each
# stage is saved as a screenshot (their paths are printed). At the end it
# prints what the server saw and how the stand-in installer was started.
# --pictures DIR saves the README's pictures in DIR (always on a display of its
# own) and adds a run in which no address answers, for the failure message.
set -euo pipefail
[ $# -eq 1 ] || { [ $# -eq 3 ] && [ "$2" = --pictures ]; } || { echo "usage: $0 BUILD_DIR [--pictures DIR]" >&2; exit 2; }
build=$(realpath "$1")
options=()
[ $# -eq 3 ] && options=(--pictures "$(realpath -m "$3")")
cd "$(dirname "$0")/../tests/e2e"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
export WINEDEBUG=-all LANG=C.UTF-8
exec /usr/bin/python3 -m bench.demo "$build" "${options[@]}"
