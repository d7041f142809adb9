#!/usr/bin/env bash
# A shipped program of the 32-bit product: PE32, of the given subsystem, at
# most LIMIT bytes, importing exactly the given DLLs. Prints its size and
# imports either way.
#   check_program.sh EXE LIMIT gui|console "DLL ..."
set -euo pipefail
exe=$1 limit=$2 subsystem=$3 expected=$4
name=$(basename "$exe")
headers=$(i686-w64-mingw32-objdump -p "$exe")
size=$(stat -c %s "$exe")
imports=$(grep 'DLL Name:' <<<"$headers" | awk '{print $3}' | sort | tr '\n' ' ')
echo "$name: $size bytes (limit $limit), imports: $imports"
case $subsystem in
    gui) code=00000002 ;;
    console) code=00000003 ;;
    *) echo "unknown subsystem $subsystem"; exit 2 ;;
esac
grep -q '^Magic[[:space:]]*010b' <<<"$headers" || { echo "$name is not PE32"; exit 1; }
grep -q "Subsystem[[:space:]]*$code" <<<"$headers" || { echo "$name is not a $subsystem program"; exit 1; }
[ "$size" -le "$limit" ] || { echo "$name is larger than $limit bytes"; exit 1; }
[ "$imports" = "$(tr ' ' '\n' <<<"$expected" | grep . | sort | tr '\n' ' ')" ] ||
    { echo "$name imports other DLLs than $expected"; exit 1; }
