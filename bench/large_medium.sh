#!/usr/bin/env bash
# A long test, outside CI's time (scripts/test.sh does not run it): a medium
# built from a payload with a file over 4 GiB, so that package.zip needs
# every zip64 record (the file's sizes, a later entry's offset, the central
# directory's place), runs under Wine, and the file arrives whole.
#   bash bench/large_medium.sh
# Uses the builds scripts/build.sh made (build/host, build/win64). Needs
# about 13 GiB free beside the build (payload, medium, extracted copy) and
# removes all of it at the end. Prints the time of each step, the
# extraction's by unzip.exe alone and within a whole launcher run.
# KESTRUNE_LARGE_MIB sets the large file's size (default 4097 MiB; below
# 4096 the steps run without needing zip64).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$PWD
source scripts/lib.sh
source scripts/wine-env.sh
size_mib=${KESTRUNE_LARGE_MIB:-4097}
work=$repo/build/large-medium
tool=$repo/build/host/medium/kestrune-medium
for file in "$tool" build/win64/setup.exe build/win64/tools/unzip/unzip.exe build/win64/tests/test-child.exe; do
    [ -e "$file" ] || die "$file is missing: run bash scripts/build.sh first"
done
rm -rf "$work"
mkdir -p "$work/payload"
trap 'rm -rf "$work"' EXIT
echo "free before: $(df -h --output=avail "$repo/build" | tail -n 1)"

seconds() { date +%s.%N; }
took() { python3 -c "import sys; print('%.1f s' % (float(sys.argv[1]) - float(sys.argv[2])))" "$(seconds)" "$1"; }

# Incompressible, so that the archive passes 4 GiB too; the bytes come from
# a stream cipher with a fixed key, so every run packs the same data.
start=$(seconds)
cp build/win64/tests/test-child.exe "$work/payload/SETUP.EXE"
head -c $((size_mib << 20)) \
    < <(openssl enc -aes-128-ctr -nosalt -pass pass:kestrune-large -pbkdf2 -in /dev/zero 2>/dev/null) \
    >"$work/payload/large.bin"
echo "after the large file" >"$work/payload/zz-after.txt"
echo "payload: $(du -h --apparent-size "$work/payload/large.bin" | cut -f1) file made in $(took "$start")"

start=$(seconds)
"$tool" build "$work/payload" --out "$work/medium" --launcher build/win64/setup.exe \
    --extractor build/win64/tools/unzip/unzip.exe >"$work/build.txt" 2>&1 || { cat "$work/build.txt"; die "build failed"; }
echo "build: package.zip of $(stat -c %s "$work/medium/package.zip") bytes in $(took "$start")"
start=$(seconds)
"$tool" check "$work/medium" >"$work/check.txt" 2>&1 || { cat "$work/check.txt"; die "check found problems"; }
echo "check: no problems, in $(took "$start") ($(grep '^package.zip:' "$work/check.txt"))"
# (A smaller size, for a quick try of the steps, needs no zip64.)
[ "$size_mib" -lt 4096 ] || python3 - "$work/medium/package.zip" <<'PYTHON' || die "package.zip lacks a zip64 record"
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as archive:
    entries = {info.filename: info for info in archive.infolist()}
    assert entries["large.bin"].file_size >= 1 << 32, "the large file's size"
    assert entries["zz-after.txt"].header_offset >= 1 << 32, "the later entry's offset"
print("zip64: the large file's sizes, the later entry's offset and the directory's place")
PYTHON

wine_up
start=$(seconds)
"$KESTRUNE_WINE" build/win64/tools/unzip/unzip.exe -P "$(cat build/win64/generated/package_password.txt)" \
    "$(windows_path "$work/medium/package.zip")" -d "$(windows_path "$work/alone")" </dev/null >"$work/unzip.txt" 2>&1 ||
    { cat "$work/unzip.txt"; die "unzip.exe failed"; }
echo "unzip.exe alone under Wine: extracted in $(took "$start")"
cmp "$work/payload/large.bin" "$work/alone/large.bin" || die "unzip.exe alone: large.bin differs"
rm -rf "$work/alone"

start=$(seconds)
printf '%s\r\n' '@echo off' "set KESTRUNE_CHILD_LOG=$(windows_path "$work/children.log")" \
    "\"$(windows_path "$work/medium/setup.exe")\" -s -d$(windows_path "$work/kept")" 'exit /b %ERRORLEVEL%' \
    >"$work/run.cmd"
xvfb-run -a -s "-screen 0 1024x768x24" "$KESTRUNE_WINE" cmd /c "$(windows_path "$work/run.cmd")" \
    </dev/null >"$work/run.txt" 2>&1 || true
echo "launcher run under Wine (extraction and SETUP.EXE): $(took "$start")"
grep -q '^run: ' "$work/children.log" 2>/dev/null || die "SETUP.EXE did not run: $(cat "$work/run.txt")"
cmp "$work/payload/large.bin" "$work/kept/large.bin" || die "launcher run: large.bin differs"
cmp "$work/payload/zz-after.txt" "$work/kept/zz-after.txt" || die "launcher run: zz-after.txt differs"
[ "$(stat -c %Y "$work/kept/large.bin")" = "$(stat -c %Y "$work/payload/large.bin")" ] ||
    die "launcher run: large.bin lost its time"
echo "large.bin ($(stat -c %s "$work/kept/large.bin") bytes) arrived whole, with its time"
wine_down
