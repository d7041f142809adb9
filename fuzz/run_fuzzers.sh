#!/usr/bin/env bash
# Builds the fuzzers (fuzz/CMakeLists.txt) and runs each for a bounded time:
#   bash fuzz/run_fuzzers.sh [BUILD_DIR]      (default /work/main/build/fuzz)
# KESTRUNE_FUZZ_SECONDS sets the time per fuzzer (default 30). Each fuzzer
# first replays its saved findings (fuzz/regressions/<name>/), then fuzzes a
# copy of its seed corpus (fuzz/corpus/<name>/ is never written). Exits
# non-zero on any finding; prints per fuzzer its executions and corpus size.
set -euo pipefail

fuzz_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$fuzz_dir/../scripts/lib.sh"
build_dir="${1:-/work/main/build/fuzz}"
seconds="${KESTRUNE_FUZZ_SECONDS:-30}"
# A run longer than this is a hang; no declared size may drive memory use.
limits=(-timeout=10 -rss_limit_mb=512 -malloc_limit_mb=128)

# libFuzzer's exit codes; a hang inside the archive tool runs with stderr
# muted, so its own timeout line may be missing from the log.
describe_exit() {
    case "$1" in
        0) echo "exit 0, but inputs were saved" ;;
        70) echo "exit 70: a run took longer than the -timeout, a hang" ;;
        71) echo "exit 71: out of memory, a malloc over -malloc_limit_mb or RSS over -rss_limit_mb" ;;
        *) echo "exit $1" ;;
    esac
}

install_missing_packages clang-14 libclang-rt-14-dev zlib1g-dev zip cmake make
start=$SECONDS

mkdir -p "$build_dir"
run_logged "$build_dir/configure.log" cmake -S "$fuzz_dir" -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++-14
run_logged "$build_dir/build.log" cmake --build "$build_dir" -j2
# The fuzzers fuzz/CMakeLists.txt defines, one name a line.
mapfile -t fuzzers <"$build_dir/fuzzers.txt"
[ ${#fuzzers[@]} -gt 0 ] || die "no fuzzers listed in $build_dir/fuzzers.txt"

run_root="$build_dir/runs"
rm -rf "$run_root"
mkdir -p "$run_root"
failed=()
summary=()

for name in "${fuzzers[@]}"; do
    binary="$build_dir/$name"
    run_dir="$run_root/$name"
    artifacts="$run_dir/artifacts"
    mkdir -p "$run_dir/tmp" "$artifacts"
    # Temporary files (the archive fuzzer's sandbox) stay inside the run.
    export TMPDIR="$run_dir/tmp"

    regressions=()
    if [ -d "$fuzz_dir/regressions/$name" ]; then
        while IFS= read -r -d '' file; do regressions+=("$file"); done \
            < <(find "$fuzz_dir/regressions/$name" -type f -print0 | sort -z)
    fi
    if [ ${#regressions[@]} -gt 0 ]; then
        status=0
        "$binary" "${limits[@]}" -artifact_prefix="$artifacts/" "${regressions[@]}" \
            >"$run_dir/regressions.log" 2>&1 || status=$?
        if [ "$status" -ne 0 ]; then
            echo "$name: a saved finding fails again ($(describe_exit "$status")):"
            tail -n 40 "$run_dir/regressions.log"
            failed+=("$name (regression)")
            summary+=("$(printf '%-18s regressions FAILED' "$name")")
            continue
        fi
    fi

    cp -r "$fuzz_dir/corpus/$name" "$run_dir/corpus"
    dictionary=()
    [ -f "$fuzz_dir/dictionaries/$name.dict" ] && dictionary=(-dict="$fuzz_dir/dictionaries/$name.dict")
    status=0
    "$binary" "${limits[@]}" "${dictionary[@]}" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$run_dir/corpus" >"$run_dir/fuzz.log" 2>&1 || status=$?
    executions="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$run_dir/fuzz.log" | grep -o '[0-9]*$' | tail -n 1)"
    files="$(find "$run_dir/corpus" -type f | wc -l)"
    bytes="$(find "$run_dir/corpus" -type f -printf '%s\n' | awk '{ total += $1 } END { print total + 0 }')"
    line="$(printf '%-18s executions %-10s corpus %s files, %s bytes' "$name" "${executions:-?}" "$files" "$bytes")"
    if [ "$status" -ne 0 ] || [ -n "$(ls -A "$artifacts")" ]; then
        echo "$name: finding ($(describe_exit "$status")):"
        grep -E 'ERROR|check failed|SUMMARY|#[0-9]+ 0x' "$run_dir/fuzz.log" | head -n 40 || true
        echo "inputs saved (add each to fuzz/regressions/$name/ once fixed):"
        ls -1 "$artifacts" | sed "s|^|  $artifacts/|"
        failed+=("$name")
        line="$line  FINDING"
    fi
    summary+=("$line")
done

echo
printf '%s\n' "${summary[@]}"
echo "fuzzing took $((SECONDS - start)) s (build included)"
if [ ${#failed[@]} -gt 0 ]; then
    echo "findings: ${failed[*]}"
    exit 1
fi
