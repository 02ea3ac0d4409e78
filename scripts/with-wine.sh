#!/usr/bin/env bash
# Runs a command with a Wine prefix and an Xvfb display of its own:
#   scripts/with-wine.sh PREFIX_DIR command [args...]
# The prefix is made on first use and reused; the display and the wineserver
# are stopped when the command ends.
set -euo pipefail
prefix=$(realpath -m "$1"); shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY

display=""
for n in $(seq 90 140); do
  if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() { wineserver -k >/dev/null 2>&1 || true; kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
export DISPLAY=":$display"
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.05; done

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1
  # Wine draws its own window frames (no window manager under Xvfb).
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
fi
"$@"
