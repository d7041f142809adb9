#!/usr/bin/env bash
# The README's test command: builds everything and runs every test, the
# Windows ones under Wine on a virtual display.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
test_build=$(bash scripts/build.sh | tail -n 1)
source scripts/wine-env.sh

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
fi
# Boxes need a display; one wineserver serves the whole run.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    source scripts/wine-env.sh
    wine_up
    ctest --test-dir "$1" --output-on-failure --timeout 600
    status=$?
    wine_down
    exit $status' _ "$test_build"
