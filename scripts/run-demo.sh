#!/usr/bin/env bash
# Installs what is missing, builds the program with a loopback download
# address and a publisher to check, and runs it against a local HTTPS demo
# server that serves a stand-in installer signed by that publisher
# (scripts/demo.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Built as a vendor who signs the installer and lets a dropped download
# resume would build it: only an installer signed by this publisher is started
# (the demo signs the stand-in for it), and up to three further requests pick
# up a broken transfer.
cmake --preset windows -DKELVORA_DOWNLOAD_URL="https://localhost:48443/fileadmin/files/kelvora/Kelvora_Install.exe" \
  -DKELVORA_INSTALLER_PUBLISHER="Kelvora Software GmbH" -DKELVORA_RESUME_ATTEMPTS=3 >/dev/null
cmake --build --preset windows -j"$(nproc 2>/dev/null || echo 2)"
exec bash scripts/demo.sh build/windows
