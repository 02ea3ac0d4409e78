#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (scripts/packages.txt),
# as root. Quick when all is there.
set -euo pipefail
cd "$(dirname "$0")"
mapfile -t packages < <(sed 's/#.*//' packages.txt | tr -s ' \t' '\n' | sed '/^$/d')
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
