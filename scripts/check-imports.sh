#!/usr/bin/env bash
# Checks that an exe imports only DLLs the system takes from System32 whatever
# lies beside the exe: its known DLLs, and comctl32, which the manifest binds
# to the side-by-side version 6. Any other DLL must be loaded at run time from
# System32 (common/system_library_win.h).
#   scripts/check-imports.sh EXE
set -euo pipefail
exe=$1
known="kernel32.dll user32.dll gdi32.dll shell32.dll msvcrt.dll ole32.dll comctl32.dll"

dump=$(x86_64-w64-mingw32-objdump -p "$exe")
mapfile -t imported < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
[ "${#imported[@]}" -gt 0 ] || { echo "check-imports: no import table found in $exe" >&2; exit 1; }
# Delay-load imports would be resolved by a search of their own: the data
# directory's entry must be empty ("Entry d 0000000000000000 00000000 ...").
if grep -E '^Entry d ' <<<"$dump" | grep -qvE '^Entry d 0+ 0+ '; then
  echo "check-imports: $exe has delay-load imports" >&2; exit 1
fi

unexpected=()
for dll in "${imported[@]}"; do
  [[ " $known " == *" $dll "* ]] || unexpected+=("$dll")
done
echo "check-imports: $(basename "$exe") imports ${imported[*]}"
if [ "${#unexpected[@]}" -gt 0 ]; then
  echo "check-imports: not a known DLL: ${unexpected[*]}" >&2
  exit 1
fi
