#!/usr/bin/env bash
# The shipped setup.exe: a PE32 (32-bit) GUI program of at most 16 KiB that
# imports only KERNEL32.dll, USER32.dll and ADVAPI32.dll.
set -euo pipefail
exe=$1
limit=16384
headers=$(i686-w64-mingw32-objdump -p "$exe")
size=$(stat -c %s "$exe")
imports=$(grep 'DLL Name:' <<<"$headers" | awk '{print $3}' | sort | tr '\n' ' ')
echo "setup.exe: $size bytes (limit $limit), imports: $imports"
grep -q '^Magic[[:space:]]*010b' <<<"$headers" || { echo "not PE32"; exit 1; }
grep -q 'Subsystem[[:space:]]*00000002' <<<"$headers" || { echo "not a GUI program"; exit 1; }
[ "$size" -le "$limit" ] || { echo "setup.exe is larger than $limit bytes"; exit 1; }
[ "$imports" = "ADVAPI32.dll KERNEL32.dll USER32.dll " ] || { echo "unexpected imports"; exit 1; }
