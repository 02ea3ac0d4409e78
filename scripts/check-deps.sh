#!/usr/bin/env bash
# Checks that every external command the build, the scripts and the test bench
# run comes from a package that scripts/install-deps.sh installs: a package named
# in scripts/packages.txt or one of their hard dependencies (what an install
# without recommended packages brings), or an essential package. The owner is
# asked of dpkg for the command's resolved path, so a package that merely
# happens to be installed on this machine does not hide a missing line.
set -euo pipefail
cd "$(dirname "$0")"

# Command, then who runs it.
commands=(
  cmake ctest make c++ cc                  # build and unit tests (CMake picks cc and c++)
  clang clang++                            # the fuzz preset (scripts/fuzz.sh)
  x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres  # cmake/mingw-w64-posix.cmake
  x86_64-w64-mingw32-objdump x86_64-w64-mingw32-strings  # the import table check
  x86_64-w64-mingw32-nm x86_64-w64-mingw32-dlltool       # the delay-import libraries (cmake/DelayImports.cmake)
  wine wineserver wineboot                 # scripts/with-wine.sh, tests/e2e/bench/wine.py, ctest's emulator
  Xvfb                                     # scripts/with-wine.sh, tests/e2e/bench/wine.py
  import                                   # tests/e2e/bench/screenshots.py
  nginx                                    # tests/e2e/bench/nginx.py
  openssl                                  # tests/e2e/bench/certs.py, wine.py
  osslsigncode                             # tests/e2e/bench/signing.py, scripts/release.sh
  git sha256sum stat mktemp nproc          # scripts/release.sh
  timeout realpath seq                     # the bench and the scripts
  /usr/bin/python3                         # tests/CMakeLists.txt, scripts/demo.sh (by this path)
)

mapfile -t named < <(sed 's/#.*//' packages.txt | tr -s ' \t' '\n' | sed '/^$/d')
# Everything an install of the named packages without recommendations brings.
allowed=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
            --no-replaces --no-enhances "${named[@]}" 2>/dev/null | grep -E '^[a-z0-9]' | sed 's/:.*//' | sort -u)

owner_of() {  # package owning a file, or nothing (merged /usr: dpkg may know it as /bin/...)
  local path
  for path in "$1" "${1/#\/usr\/bin\//\/bin\/}"; do
    if dpkg -S "$path" >/dev/null 2>&1; then
      dpkg -S "$path" 2>/dev/null | head -n1 | cut -d: -f1
      return
    fi
  done
}
is_allowed() {
  grep -qxF "$1" <<<"$allowed" && return 0
  [ "$(dpkg-query -W -f='${Essential}' "$1" 2>/dev/null)" = yes ]
}

failures=0
check_file() {  # what, resolved path
  local what=$1 path=$2 package
  package=$(owner_of "$path")
  if [ -z "$package" ]; then
    echo "check-deps: $what ($path) belongs to no Debian package" >&2; failures=$((failures + 1))
  elif ! is_allowed "$package"; then
    echo "check-deps: $what ($path) comes from $package, which scripts/packages.txt does not bring" >&2
    failures=$((failures + 1))
  fi
}

for command in "${commands[@]}"; do
  if ! path=$(command -v "$command"); then
    echo "check-deps: command $command not found" >&2; failures=$((failures + 1)); continue
  fi
  check_file "$command" "$(readlink -f "$path")"
done
# Files the test bench uses by path.
files=(
  /usr/share/wine/fonts/marlett.ttf        # tests/e2e/bench/wine.py links it into each prefix
)
for file in "${files[@]}"; do
  if [ -e "$file" ]; then
    check_file "file" "$(readlink -f "$file")"
  else
    echo "check-deps: file $file not found" >&2; failures=$((failures + 1))
  fi
done
# The e2e harness imports pytest into /usr/bin/python3.
if module=$(/usr/bin/python3 -c 'import pytest; print(pytest.__file__)' 2>/dev/null); then
  check_file "python module pytest" "$(readlink -f "$module")"
else
  echo "check-deps: /usr/bin/python3 cannot import pytest" >&2; failures=$((failures + 1))
fi

if ((failures)); then
  echo "check-deps: $failures command(s) or file(s) not covered by scripts/packages.txt" >&2
  exit 1
fi
echo "check-deps: all ${#commands[@]} commands, ${#files[@]} file(s) and pytest come from packages that install-deps.sh installs"
