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
builds=$(bash scripts/build.sh windows | tail -n 1)
read -ra windows_builds <<<"$builds"

# One house style (.clang-format); scripts/format.sh applies it.
bash scripts/format.sh --check

# Each Windows build in the prefix of its architecture (build/win32: win32);
# boxes need a display; one wineserver serves each build's run. The Windows
# suites start as soon as the Windows builds are done and run beside
# everything else: they mostly wait on Windows programs, so the host's
# build, analysis, fuzzing and tests take their time from it rather than
# adding to it, and CI stays short. Each runs in a session of its own (ended
# whole if this script stops early), with a display number of its own, into
# a log shown when it has ended. The end-to-end test of media needs the host
# tool, so it runs last, once the host build has marked itself done.
host_built=build/.host-built
rm -f "$host_built"
run_windows_tests() {  # build, first display number to try, host-built mark
    xvfb-run -a -n "$2" -s "-screen 0 1024x768x24" bash -c '
        source scripts/wine-env.sh "$(basename "$1")" || exit 1
        wine_up
        ctest --test-dir "$1" --output-on-failure --timeout 600 -E "^medium\.e2e$"
        status=$?
        while [ ! -e "$2" ]; do sleep 2; done
        ctest --test-dir "$1" --output-on-failure --timeout 600 -R "^medium\.e2e$" || status=1
        wine_down
        exit $status' _ "$1" "$3"
}
windows_pids=()
stop_windows_tests() {
    [ ${#windows_pids[@]} -gt 0 ] || return 0
    for pid in "${windows_pids[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
    # The Wine server leaves the session when it starts; it is stopped apart.
    for build in "${windows_builds[@]}"; do
        (source scripts/wine-env.sh "$(basename "$build")" && wine_down)
    done
}
trap 'stop_windows_tests; describe_32bit' EXIT
for i in "${!windows_builds[@]}"; do
    build=${windows_builds[$i]}
    setsid bash -c "$(declare -f run_windows_tests); run_windows_tests \"\$1\" \"\$2\" \"\$3\"" \
        _ "$build" $((90 + 10 * i)) "$PWD/$host_built" >"$build.ctest.log" 2>&1 &
    windows_pids+=($!)
done

bash scripts/build.sh host >/dev/null
touch "$host_built"

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

# Both Windows builds are waited for even when the first fails.
status=0
for i in "${!windows_builds[@]}"; do
    wait "${windows_pids[$i]}" || status=1
    echo "== Windows tests: ${windows_builds[$i]}"
    cat "${windows_builds[$i]}.ctest.log"
done
windows_pids=()
exit $status
