#!/usr/bin/env bash
# The README's test command: builds everything and runs every test, the
# Windows ones under Wine on a virtual display: on the 32-bit product
# (build/win32) where this machine runs 32-bit programs, and on the x86-64
# build (build/win64) everywhere. Its last line says which case this
# machine is.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/lib.sh
# Once for the whole run: build.sh keeps the decision.
source scripts/probe-32bit.sh
probe_32bit
trap describe_32bit EXIT
builds=$(bash scripts/build.sh | tail -n 1)
read -ra windows_builds <<<"$builds"

# One house style (.clang-format); scripts/format.sh applies it.
bash scripts/format.sh --check

# Static analysis and a bounded fuzzing run (KESTRUNE_FUZZ_SECONDS per
# fuzzer, default 30); KESTRUNE_SKIP_FUZZ=1 leaves both out for a quick run.
if [ "${KESTRUNE_SKIP_FUZZ:-0}" != 1 ]; then
    bash analysis/run_analysis.sh "$PWD/build/analysis"
    bash fuzz/run_fuzzers.sh "$PWD/build/fuzz"
fi

if [ -d build/host ]; then
    ctest --test-dir build/host --output-on-failure -j2
    # The Debian package an author installs (README, Install for authors).
    deb=$(bash scripts/package.sh --built | tail -n 1)
    bash tests/package/package_test.sh "$deb"
fi
# Each Windows build in the prefix of its architecture (build/win32: win32);
# boxes need a display; one wineserver serves each build's run. Both builds
# run even when the first fails; where there are two, side by side (they
# share no prefix, display or server, and mostly wait on Windows programs),
# each into a log shown when both have ended, so that CI stays short.
run_windows_tests() {  # build
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        source scripts/wine-env.sh "$(basename "$1")" || exit 1
        wine_up
        ctest --test-dir "$1" --output-on-failure --timeout 600
        status=$?
        wine_down
        exit $status' _ "$1"
}
status=0
if [ ${#windows_builds[@]} -eq 1 ]; then
    echo "== Windows tests: ${windows_builds[0]}"
    run_windows_tests "${windows_builds[0]}" || status=1
else
    pids=()
    for build in "${windows_builds[@]}"; do
        run_windows_tests "$build" >"$build.ctest.log" 2>&1 &
        pids+=($!)
    done
    for i in "${!windows_builds[@]}"; do
        wait "${pids[$i]}" || status=1
        echo "== Windows tests: ${windows_builds[$i]}"
        cat "${windows_builds[$i]}.ctest.log"
    done
fi
exit $status
