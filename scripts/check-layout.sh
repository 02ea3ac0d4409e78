#!/usr/bin/env bash
# Checks the direction of the includes between the folders under src/: the
# build settings (config/) include nothing above them, and the download's
# rules and files (download/) know nothing of the window, the UI thread, the
# shell or the entry point that use them.
#   scripts/check-layout.sh [SOURCE_DIR]
set -euo pipefail
src=${1:-$(dirname "$0")/..}/src
status=0
# folder, then the include prefixes it may not use
rules=(
  "config:download/ window/ ui/ net/ shell/ app/"
  "download:window/ ui/ shell/ app/"
)
for rule in "${rules[@]}"; do
  folder=${rule%%:*}
  for banned in ${rule#*:}; do
    while IFS= read -r hit; do
      echo "check-layout: $hit: src/$folder/ may not include $banned" >&2
      status=1
    done < <(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*\"$banned" "$src/$folder" || true)
  done
done
[ "$status" = 0 ] && echo "check-layout: config/ and download/ include only what lies below them"
exit "$status"
