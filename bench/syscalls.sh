#!/usr/bin/env bash
# Where each file's time goes under Wine: the system calls of unzip.exe alone
# on the many-files package, and of the launcher's removal (remove-tree.exe,
# from the tests) of the tree it made, counted with strace -c -f, one run
# each, less those of the same programs on the small package and an empty
# folder (their start and end), per file.
#   bash bench/syscalls.sh [WINDOWS_BUILD]
# After bash bench/run.sh, whose packages (build/bench/data) it uses.
# WINDOWS_BUILD (default build/win64) must be the x86-64 build where this
# machine runs no 32-bit programs. Only the Wine process of each program is
# traced, not the wineserver it asks.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$PWD
source scripts/lib.sh
build=${1:-build/win64}
data=$repo/build/bench/data
for file in "$data/many.zip" "$data/small.zip" "$build/tools/unzip/unzip.exe" "$build/tests/remove-tree.exe"; do
    [ -f "$file" ] || die "missing: $file (run bash bench/run.sh first)"
done
command -v strace >/dev/null || die "strace is missing"
export KESTRUNE_WINEPREFIX=${KESTRUNE_WINEPREFIX:-$repo/build/bench-wine-win64}
source scripts/wine-env.sh win64
password=$(cat "$build/generated/package_password.txt")
files=$(unzip -Z -1 "$data/many.zip" | grep -vc '/$')
wine_up
root=$WINEPREFIX/drive_c/ksys
rm -rf "$root"
mkdir -p "$root/empty"
cp "$build/tools/unzip/unzip.exe" "$build/tests/remove-tree.exe" "$data/many.zip" "$data/small.zip" "$root/"
out=$repo/build/bench/syscalls
mkdir -p "$out"
traced() {  # name program arguments...
    local name=$1
    shift
    strace -c -f -o "$out/$name.txt" "$KESTRUNE_WINE" "$@" </dev/null >/dev/null 2>&1 || true
}
total() { awk '$NF == "total" { print $(NF - 2) }' "$1"; }
traced unzip-small 'C:\ksys\unzip.exe' -P "$password" 'C:\ksys\small.zip' -d 'C:\ksys\small'
traced unzip-many 'C:\ksys\unzip.exe' -P "$password" 'C:\ksys\many.zip' -d 'C:\ksys\many'
extracted=$(find "$root/many" -type f | wc -l)
[ "$extracted" -eq "$files" ] || die "unzip.exe extracted $extracted of $files files"
traced remove-empty 'C:\ksys\remove-tree.exe' 'C:\ksys\empty'
traced remove-many 'C:\ksys\remove-tree.exe' 'C:\ksys\many'
[ ! -e "$root/many" ] || die "remove-tree.exe left the tree"
echo "system calls of the Wine process per file, $files files (strace -c -f; $(date -u '+%Y-%m-%d %H:%M UTC')):"
for step in unzip remove; do
    base=$out/$step-$([ $step = unzip ] && echo small || echo empty).txt
    awk -v files="$files" -v step="$step" -v all="$(total "$out/$step-many.txt")" -v start="$(total "$base")" '
        NR == FNR { if ($NF != "total" && $4 ~ /^[0-9]+$/) before[$NF] = $4; next }
        $NF != "total" && $4 ~ /^[0-9]+$/ { calls[$NF] = $4 - before[$NF] }
        END {
            printf "  %-8s %7.1f in all (%d calls, %d of them start and end)\n", step, (all - start) / files, all, start
            n = 0
            for (c in calls) { names[++n] = c }
            for (i = 2; i <= n; i++) { t = names[i]; for (j = i - 1; j >= 1 && calls[names[j]] < calls[t]; j--) names[j + 1] = names[j]; names[j + 1] = t }
            printf "           "
            for (i = 1; i <= 8 && i <= n; i++) printf " %s %.1f", names[i], calls[names[i]] / files
            printf "\n"
        }' "$base" "$out/$step-many.txt"
done
rm -rf "$root"
wine_down
