#!/usr/bin/env bash
# The shipped setup.exe: a PE32 (32-bit) GUI program that imports only
# KERNEL32.dll and USER32.dll.
set -euo pipefail
exe=$1
headers=$(i686-w64-mingw32-objdump -p "$exe")
grep -q '^Magic[[:space:]]*010b' <<<"$headers" || { echo "not PE32"; exit 1; }
grep -q 'Subsystem[[:space:]]*00000002' <<<"$headers" || { echo "not a GUI program"; exit 1; }
imports=$(grep 'DLL Name:' <<<"$headers" | awk '{print $3}' | sort | tr '\n' ' ')
echo "setup.exe: $(stat -c %s "$exe") bytes, imports: $imports"
[ "$imports" = "KERNEL32.dll USER32.dll " ] || { echo "unexpected imports"; exit 1; }
