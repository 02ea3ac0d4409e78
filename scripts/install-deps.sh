#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, as root. Quick when all is there.
set -euo pipefail
packages=(
  cmake make g++ googletest              # native build and unit tests
  g++-mingw-w64-x86-64 mingw-w64-tools   # the Windows cross build
  wine64 xvfb xdotool imagemagick        # running and looking at the program
  nginx-light openssl                    # the HTTPS test servers and their certificates
  python3 python3-pytest                 # the end-to-end test harness
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Debian starts nginx on port 80 after installing it; the tests run their own.
if command -v service >/dev/null && service nginx status >/dev/null 2>&1; then
  service nginx stop >/dev/null 2>&1 || true
fi
