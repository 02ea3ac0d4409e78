#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer and UBSan; the fuzz
# preset) and runs each for a while, starting from the committed seeds:
#   scripts/fuzz.sh [SECONDS_PER_HARNESS] [HARNESS...]
# e.g. `scripts/fuzz.sh 600 http_client` fuzzes the client for ten minutes.
# Harnesses: transfer_check url headers http_client fragment_fetch kept_download ecdsa_der (all by default; 10 s
# each). New inputs collect in build/fuzz/corpus/<harness>; an input that
# breaks an invariant or crashes is kept in build/fuzz/artifacts and ends the
# script with a non-zero status. Prints each harness's runs and coverage.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
shift || true
harnesses=("$@")
((${#harnesses[@]})) || harnesses=(transfer_check url headers http_client fragment_fetch kept_download ecdsa_der)
jobs=$(nproc 2>/dev/null || echo 2)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs" >/dev/null
mkdir -p build/fuzz/artifacts
for name in "${harnesses[@]}"; do
  binary=build/fuzz/tests/fuzz/fuzz_$name
  seeds=tests/fuzz/corpus/$name
  [ -x "$binary" ] && [ -d "$seeds" ] || { echo "no harness named $name" >&2; exit 2; }
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  log=build/fuzz/artifacts/$name.log
  # -timeout: one input may take at most 10 s; the whole run is bounded by
  # -max_total_time, and timeout(1) stops a run that would not end by itself.
  if ! timeout $((seconds + 60)) "$binary" "$corpus" "$seeds" -max_total_time="$seconds" -timeout=10 \
         -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$name-" \
         >"$log" 2>&1; then
    echo "fuzz_$name: FAILED (log: $log)"
    grep -E "invariant broken|ERROR:|SUMMARY|Test unit written" "$log" >&2 || tail -n 20 "$log" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  edges=$(grep -oE 'cov: [0-9]+' "$log" | tail -n1 | cut -d' ' -f2)
  echo "fuzz_$name: ${runs:-?} inputs in ${seconds} s, ${edges:-?} coverage edges, corpus $(ls "$corpus" | wc -l) files"
done
