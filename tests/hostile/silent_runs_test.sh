#!/usr/bin/env bash
# Ten silent runs in a row of a medium whose package holds a PostProcess.cmd,
# each started from a shell as a user would, `wine setup.exe -s` (on a
# terminal of its own where `script` can give one), with the prefix's own
# temporary directory. The console that the script's run brings may keep the
# work directory as its current directory for a moment after the script has
# ended: every run must still install, and leave nothing in TEMP.
#
#   silent_runs_test.sh SETUP UNZIP PACKAGE_ZIP [WINE]
#
# WINEPREFIX comes from the environment (scripts/wine-env.sh). Wine is never
# given a pipe as stdout or stderr.
set -u
setup=$1 unzip=$2 package=$3
wine=${4:-${KESTRUNE_WINE:-wine}}
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEDEBUG=${WINEDEBUG:--all}
# fail.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
failures=0

base=$WINEPREFIX/drive_c/kestrune-tests/silent-runs-$$
rm -rf "$base"
mkdir -p "$base/medium"
trap 'rm -rf "$base"' EXIT
cp "$setup" "$base/medium/setup.exe"
cp "$unzip" "$base/medium/unzip.exe"
cp "$package" "$base/medium/package.zip"
export KESTRUNE_CHILD_LOG='C:\kestrune-tests\silent-runs-'$$'\children.log'

# The prefix's temporary directory, as Wine gives it to the launcher.
"$wine" cmd /c 'echo %TEMP%' </dev/null >"$base/temp.txt" 2>/dev/null
"$wine" winepath -u "$(tr -d '\r\n' <"$base/temp.txt")" </dev/null >"$base/temp-unix.txt" 2>/dev/null
temp=$(tr -d '\r\n' <"$base/temp-unix.txt")
[ -d "$temp" ] || { echo "FAIL: no temporary directory at '$temp'"; exit 1; }
work_directories() { (cd "$temp" && ls -d KESTRUNE* 2>/dev/null) | tr '\n' ' '; }
before=$(work_directories)

for run in 1 2 3 4 5 6 7 8 9 10; do
    if command -v script >/dev/null; then
        (cd "$base/medium" && script -qec "timeout 120 '$wine' setup.exe -s" /dev/null </dev/null >"$base/run.txt" 2>&1)
    else
        (cd "$base/medium" && timeout 120 "$wine" setup.exe -s </dev/null >"$base/run.txt" 2>&1)
    fi
    ran=$(grep -c '^run: ' "$base/children.log" 2>/dev/null)
    [ "$ran" = $((2 * run)) ] || fail "run $run: $ran programs ran in all, not $((2 * run))"
    [ "$(work_directories)" = "$before" ] || fail "run $run: left in TEMP: $(work_directories)"
done

# What a failed run left goes, so that it cannot disturb later tests.
for left in $(work_directories); do
    [[ " $before " == *" $left "* ]] || rm -rf "${temp:?}/$left"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "silent runs: all checks passed"
