#!/usr/bin/env bash
# Runs every test, as root on Debian 12: installs what is missing and checks
# that every command used comes from a package it installs, then
#  1. the portable code's unit tests natively, under AddressSanitizer and
#     UndefinedBehaviorSanitizer, and again under ThreadSanitizer; then each
#     libFuzzer harness for a few seconds from its committed seeds; the
#     release script (scripts/release.sh): the release exe built twice in two
#     folders gives the same bytes, signing and its refusals;
#  2. the Windows build (download address on loopback) under Wine with a
#     display of its own: the same unit tests, the Win32 tests and the
#     end-to-end tests of the real program.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
# The vendor stand-ins listen on the built-in address's port; runs side by
# side (several work trees on one machine) each take a port of their own.
test_url="https://localhost:${KELVORA_TEST_PORT:-48443}/fileadmin/files/kelvora/Kelvora_Install.exe"

bash scripts/install-deps.sh
bash scripts/check-deps.sh

echo "== Native unit tests (ASan, UBSan)"
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
ctest --preset native

echo "== Native unit tests (TSan)"
cmake --preset native-tsan >/dev/null
cmake --build --preset native-tsan -j"$jobs"
ctest --preset native-tsan

echo "== Fuzzing (libFuzzer, ASan, UBSan), each harness from its seeds for a while"
bash scripts/fuzz.sh 7

echo "== Release script: built twice in two folders (same bytes), signed and verified, refusals"
/usr/bin/python3 -m pytest -q -p no:cacheprovider tests/release

echo "== Windows build, tests under Wine"
# The program itself is built with the default settings here (a build dir
# the demo used may have others set); the publisher-checking, the resuming
# and the fallback builds are test targets of their own.
cmake --preset windows -DKELVORA_DOWNLOAD_URL="$test_url" -DKELVORA_INSTALLER_PUBLISHER= \
  -DKELVORA_RESUME_ATTEMPTS=0 -DKELVORA_FALLBACK_URLS= >/dev/null
cmake --build --preset windows -j"$jobs"
# A fresh prefix for every run, shared by all tests of the run.
rm -rf build/windows/wine-prefix
mkdir -p build/windows/screenshots
bash scripts/with-wine.sh build/windows/wine-prefix ctest --preset windows
echo "Screenshots: $(pwd)/build/windows/screenshots"
