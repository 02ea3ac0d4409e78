#!/usr/bin/env bash
# Installs what is missing, builds the program with a loopback download
# address and runs it against a local HTTPS demo server (scripts/demo.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset windows -DKELVORA_DOWNLOAD_URL="https://localhost:48443/fileadmin/files/kelvora/Kelvora_Install.exe" >/dev/null
cmake --build --preset windows -j"$(nproc 2>/dev/null || echo 2)"
exec bash scripts/demo.sh build/windows
