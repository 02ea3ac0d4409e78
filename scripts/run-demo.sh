#!/usr/bin/env bash
# Installs what is missing, builds the program with a loopback download
# address and a publisher to check, and runs it against a local HTTPS demo
# server that serves a stand-in installer signed by that publisher
# (scripts/demo.sh).
#   scripts/run-demo.sh               the demo (headless without DISPLAY)
#   scripts/run-demo.sh --pictures    makes the README's pictures in docs/ again
set -euo pipefail
cd "$(dirname "$0")/.."
demo_options=()
case "${1-}" in
  "") ;;
  --pictures) demo_options=(--pictures docs) ;;
  *) echo "usage: $0 [--pictures]" >&2; exit 2 ;;
esac
bash scripts/install-deps.sh
# Built as a vendor who signs the installer, lets a dropped download resume
# and keeps a mirror would build it: only an installer signed by this
# publisher is started (the demo signs the stand-in for it), up to three
# further requests pick up a broken transfer or ask a busy server again, and
# the mirror is asked when the download address has no file. It also holds
# a key of the demo vendor's own (made once, in build/demo-key): only an
# installer with a .sig made by that key is started (the demo signs the
# stand-in with it too).
[ -f build/demo-key/installer-key.pub.pem ] || bash scripts/sign-installer.sh --new-key build/demo-key >/dev/null
cmake --preset windows -DKELVORA_DOWNLOAD_URL="https://localhost:48443/fileadmin/files/kelvora/Kelvora_Install.exe" \
  -DKELVORA_INSTALLER_PUBLISHER="Kelvora Software GmbH" -DKELVORA_RESUME_ATTEMPTS=3 \
  -DKELVORA_FALLBACK_URLS="https://localhost:48444/mirror/kelvora/Kelvora_Install.exe" \
  -DKELVORA_INSTALLER_KEYS=build/demo-key/installer-key.pub.pem >/dev/null
cmake --build --preset windows -j"$(nproc 2>/dev/null || echo 2)"
exec bash scripts/demo.sh build/windows "${demo_options[@]}"
