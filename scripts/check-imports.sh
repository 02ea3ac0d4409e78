#!/usr/bin/env bash
# Checks that an exe's import table names only DLLs the system always takes
# from System32, whatever lies beside the exe: kernel32 and the C runtime,
# known DLLs whose own dependencies are known DLLs too. The system DLLs the
# program uses beyond them must be delay-imported (loaded on first use, after
# the program has limited the DLL search to System32), and only the ones it
# is meant to use; any other DLL is loaded at run time from System32
# (common/system_library_win.h).
#   scripts/check-imports.sh EXE
set -euo pipefail
exe=$1
known="kernel32.dll msvcrt.dll"
delayed_allowed="user32.dll gdi32.dll comctl32.dll shell32.dll ole32.dll"

dump=$(x86_64-w64-mingw32-objdump -p "$exe")
mapfile -t imported < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
[ "${#imported[@]}" -gt 0 ] || { echo "check-imports: no import table found in $exe" >&2; exit 1; }
# GNU ld leaves the delay-import directory entry empty, so the delay-imported
# DLLs are found by their names, which only the import and delay-import
# tables hold as plain ASCII (run-time loads name their DLLs in UTF-16).
mapfile -t named < <(x86_64-w64-mingw32-strings -a "$exe" | grep -iE '^[A-Za-z0-9_.-]+\.dll$' | tr 'A-Z' 'a-z' | sort -u)

failed=0
delayed=()
for dll in "${imported[@]}"; do
  [[ " $known " == *" $dll "* ]] || { echo "check-imports: imports $dll, not a known DLL" >&2; failed=1; }
done
for dll in "${named[@]}"; do
  [[ " ${imported[*]} " == *" $dll "* ]] && continue
  if [[ " $delayed_allowed " == *" $dll "* ]]; then
    delayed+=("$dll")
  else
    echo "check-imports: names $dll, neither imported nor one of the delay-imported system DLLs" >&2
    failed=1
  fi
done
echo "check-imports: $(basename "$exe") imports ${imported[*]}; delay-imports ${delayed[*]:-nothing}"
exit "$failed"
