#!/usr/bin/env bash
# The benchmark: launcher overhead, large-package overhead, extraction speed,
# the launcher's peak memory, and a kestrune medium against the one-file NSIS
# bootstrapper a package author would make instead (bench/peer.nsi), on a
# small, a large and a many-files package, each measured in this run. The pair it times: where this machine runs 32-bit
# programs (scripts/probe-32bit.sh), the shipped 32-bit setup.exe and
# unzip.exe against the x86-unicode bootstrapper under the 32-bit Wine;
# elsewhere the x86-64 build of the same sources against the amd64-unicode
# bootstrapper under the 64-bit Wine, which runs no 32-bit program (Debian's
# makensis builds x86-ansi, x86-unicode and amd64-unicode). The report says
# which.
#   bash bench/run.sh
# Builds what it needs (scripts/build.sh, then bench/'s own programs in
# build/bench, then the bootstrappers with makensis), makes the packages, runs
# the Windows side under Wine on a virtual display in its own prefix
# (build/bench-wine-win32 or -win64) and prints the report.
# KESTRUNE_BENCH_ROUNDS (default 9, at least 7) sets the runs per variant.
# To time existing builds instead of building (development), set all of
# KESTRUNE_BENCH_WINDOWS_BUILD, KESTRUNE_BENCH_HOST_BUILD and
# KESTRUNE_BENCH_PRODUCT_BUILD to build directories.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$PWD
source scripts/lib.sh
source scripts/probe-32bit.sh
probe_32bit
rounds=${KESTRUNE_BENCH_ROUNDS:-9}
work=${KESTRUNE_BENCH_DIR:-$repo/build/bench}
random_mib=60  # incompressible: zip keeps it as deflate's stored blocks
text_mib=60    # log-like text, deflated
many_folders=50      # the many-files package: SETUP.EXE and
many_per_folder=100  # 5,000 files of about 200 bytes
mkdir -p "$work"

load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# --- builds
if [ -n "${KESTRUNE_BENCH_WINDOWS_BUILD:-}" ]; then
    bash scripts/install-deps.sh
    windows_build=$KESTRUNE_BENCH_WINDOWS_BUILD
    host_build=$KESTRUNE_BENCH_HOST_BUILD
    product_build=$KESTRUNE_BENCH_PRODUCT_BUILD
else
    echo "building (scripts/build.sh) ..."
    run_logged "$work/build.log" bash scripts/build.sh
    builds=$(tail -n 1 "$work/build.log")
    windows_build=$repo/${builds%% *}
    host_build=$repo/build/host
    product_build=$repo/build/win32
fi
# The Wine that runs the timed build is the one of its setup.exe's format.
case "$(x86_64-w64-mingw32-objdump -f "$windows_build/setup.exe" 2>/dev/null)" in
    *'file format pei-i386'*) arch=win32 ;;
    *'file format pei-x86-64'*) arch=win64 ;;
    *) die "not a Windows program: $windows_build/setup.exe" ;;
esac
# A prefix of its own, set only after the build: the test build keeps the
# prefix its tests were configured with.
export KESTRUNE_WINEPREFIX=${KESTRUNE_WINEPREFIX:-$repo/build/bench-wine-$arch}
source scripts/wine-env.sh "$arch"
run_logged "$work/programs-$arch.configure.log" cmake -S bench -B "$work/programs-$arch" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-$KESTRUNE_TEST_ARCH.cmake"
run_logged "$work/programs-$arch.build.log" cmake --build "$work/programs-$arch" -j2

launcher=$windows_build/setup.exe
extractor=$windows_build/tools/unzip/unzip.exe
host_unzip=$host_build/unzip/kestrune-unzip
password=$(cat "$windows_build/generated/package_password.txt")
medium_tool=$host_build/medium/kestrune-medium
remove_tree=$windows_build/tests/remove-tree.exe
for file in "$launcher" "$extractor" "$host_unzip" "$product_build/setup.exe" "$medium_tool" "$remove_tree"; do
    [ -f "$file" ] || die "missing: $file"
done

# --- packages, made now
data=$work/data
rm -rf "$data"
mkdir -p "$data/small" "$data/large/payload"
cp "$work/programs-$arch/quick-setup.exe" "$data/small/SETUP.EXE"
echo "A small package for the launcher benchmark." >"$data/small/readme.txt"
cp -r "$data/small/." "$data/large/"
head -c "${random_mib}M" /dev/urandom >"$data/large/payload/random.bin"
awk -v bytes=$((text_mib * 1048576)) 'BEGIN {
    srand(7)
    while (written < bytes) {
        line = sprintf("2026-03-%02d %02d:%02d:%02d.%03d INFO worker-%d request id=%08d path=/api/v1/items/%d status=%d bytes=%d\n",
                       1 + int(rand() * 28), int(rand() * 24), int(rand() * 60), int(rand() * 60), int(rand() * 1000),
                       int(rand() * 8), written / 97, int(rand() * 5000), rand() < 0.95 ? 200 : 404, int(rand() * 65536))
        printf "%s", line
        written += length(line)
    }
}' >"$data/large/payload/text.log"
(cd "$data/small" && zip -q -r -P "$password" ../small.zip .)
(cd "$data/large" && zip -q -r -P "$password" ../large.zip .)
large_zip_bytes=$(stat -c %s "$data/large.zip")
[ "$large_zip_bytes" -ge $((64 * 1048576)) ] || { echo "large.zip is only $large_zip_bytes bytes"; exit 1; }
large_total=$(find "$data/large" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
# Many small files: text of the kinds products ship (settings, messages,
# scripts), each file different, 120 to 280 bytes.
mkdir -p "$data/many"
cp "$data/small/SETUP.EXE" "$data/many/SETUP.EXE"
awk -v folders=$many_folders -v files=$many_per_folder -v root="$data/many" 'BEGIN {
    srand(27)
    split("name title path color size mode level timeout retries language region server port user group", keys, " ")
    split("enabled disabled default none auto manual high low north south east west", words, " ")
    for (d = 0; d < folders; d++) {
        folder = sprintf("%s/module%02d", root, d)
        system("mkdir -p " folder)
        for (f = 0; f < files; f++) {
            file = sprintf("%s/part%03d.%s", folder, f, f % 3 == 0 ? "ini" : f % 3 == 1 ? "txt" : "cmd")
            want = 120 + int(rand() * 160)
            text = sprintf("[module%02d.part%03d]\r\n", d, f)
            while (length(text) < want)
                text = text sprintf("%s=%s %d\r\n", keys[1 + int(rand() * 15)], words[1 + int(rand() * 12)], int(rand() * 10000))
            printf "%s", substr(text, 1, want) >file
            close(file)
        }
    }
}'
many_files=$(find "$data/many" -type f | wc -l)
many_total=$(find "$data/many" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
# The many-files medium as kestrune-medium builds it (its package.zip keeps
# each file deflated or stored, whichever is smaller).
rm -rf "$data/many-medium"
run_logged "$work/many-medium.log" "$medium_tool" build "$data/many" --out "$data/many-medium" \
    --launcher "$launcher" --extractor "$extractor"
cp "$data/many-medium/package.zip" "$data/many.zip"
unzip -qq -t -P "$password" "$data/many.zip" || die "Info-ZIP unzip -t refuses the many-files package.zip"
many_entries=$(unzip -Z -1 "$data/many.zip" | wc -l)
random_bytes=$(stat -c %s "$data/large/payload/random.bin")

# --- the peer: the NSIS bootstrapper of each payload, for the target of the
# Windows build that runs here, and for the 32-bit product's (its bytes only)
echo "building the NSIS bootstrappers ..."
case "$KESTRUNE_TEST_ARCH" in
    x86_64) peer_target=amd64-unicode ;;
    *) peer_target=x86-unicode ;;
esac
product_peer_target=x86-unicode
peers=$work/peers
rm -rf "$peers"
mkdir -p "$peers"
make_peer() {  # target medium
    run_logged "$peers/$1-$2.log" makensis -V2 -DTARGET="$1" -DPAYLOAD="$data/$2" -DOUTFILE="$peers/$1-$2.exe" \
        bench/peer.nsi
}
for medium in small large many; do
    make_peer "$peer_target" "$medium"
    [ "$product_peer_target" = "$peer_target" ] || make_peer "$product_peer_target" "$medium"
done

results=$work/results.txt
: >"$results"
now_ns() { date +%s%N; }

# --- extraction, native: ours against Info-ZIP, interleaved, same archive
time_native() {  # variant round command...
    local variant=$1 round=$2
    shift 2
    rm -rf "$work/native-out"
    sync  # earlier runs' writes are not this run's
    local start end
    start=$(now_ns)
    "$@" >/dev/null 2>"$work/native.err" || { echo "$variant failed:"; cat "$work/native.err"; exit 1; }
    end=$(now_ns)
    diff -r -q "$data/large" "$work/native-out" >/dev/null || { echo "$variant: extracted tree differs"; exit 1; }
    if [ "$round" -gt 0 ]; then
        awk -v v="$variant" -v r="$round" -v ns=$((end - start)) 'BEGIN { printf "run %s %d %.1f\n", v, r, ns / 1e6 }' >>"$results"
    fi
}
echo "extraction, native ($rounds runs each) ..."
for round in $(seq 0 "$rounds"); do
    ours=("$host_unzip" -P "$password" "$data/large.zip" -d "$work/native-out")
    infozip=(unzip -P "$password" -o -q "$data/large.zip" -d "$work/native-out")
    if [ $((round % 2)) -eq 0 ]; then
        time_native native-ours "$round" "${ours[@]}"
        time_native native-infozip "$round" "${infozip[@]}"
    else
        time_native native-infozip "$round" "${infozip[@]}"
        time_native native-ours "$round" "${ours[@]}"
    fi
done
rm -rf "$work/native-out"

# --- the Windows side: media in the prefix, the driver times everything
echo "launcher runs under Wine ($rounds rounds) ..."
root_linux=$WINEPREFIX/drive_c/kbench
mkdir -p "$WINEPREFIX"
rm -rf "$root_linux"
for medium in small large many; do
    mkdir -p "$root_linux/$medium"
    cp "$launcher" "$root_linux/$medium/setup.exe"
    cp "$extractor" "$root_linux/$medium/unzip.exe"
    cp "$data/$medium.zip" "$root_linux/$medium/package.zip"
done
mkdir -p "$root_linux/peer"
for medium in small large many; do cp "$peers/$peer_target-$medium.exe" "$root_linux/peer/$medium.exe"; done
mkdir -p "$root_linux/empty"
cp "$launcher" "$root_linux/empty/setup.exe"
cp "$remove_tree" "$root_linux/empty/remove-tree.exe"
cp "$data/small/SETUP.EXE" "$root_linux/empty/quick.exe"
driver_out=$work/driver.txt
rm -f "$driver_out"
KESTRUNE_BENCH_OUT=$driver_out xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    source scripts/wine-env.sh "$1" || exit 1
    shift
    wine_up
    "$KESTRUNE_WINE" "$@" >/dev/null 2>"$KESTRUNE_BENCH_OUT.err" </dev/null
    status=$?
    wine_down
    exit $status' _ "$arch" "$work/programs-$arch/bench-driver.exe" "$rounds" 'C:\kbench' "$password" "$large_total" \
    "$random_bytes" "$many_total" </dev/null || true
cp "$root_linux/driver.txt" "$driver_out" 2>/dev/null || true
if [ ! -s "$driver_out" ] || grep -q '^fail' "$driver_out" || ! grep -q '^mem unzip-large 3 ' "$driver_out"; then
    echo "the driver failed:"; cat "$driver_out" "$driver_out.err" 2>/dev/null; exit 1
fi
grep -E '^(run|wait|step|mem|left) ' "$driver_out" >>"$results"
restarts=$(grep -c '^restart ' "$driver_out" || true)
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
# unzip.exe's output on the large package, byte for byte the packed files.
identical="yes: byte for byte the packed files (diff -r)"
if ! grep -q '^kept ' "$driver_out" || ! diff -r -q "$data/large" "$root_linux/kept" >"$work/kept.diff" 2>&1; then
    echo "unzip.exe's output on the large package differs from the packed files:"; cat "$work/kept.diff"; exit 1
fi
rm -rf "$root_linux"

# --- the report
product_size=$(stat -c %s "$product_build/setup.exe")
product_imports=$(i686-w64-mingw32-objdump -p "$product_build/setup.exe" | awk '/DLL Name:/ { printf "%s ", $3 }')
product_extractor=$product_build/tools/unzip/unzip.exe
product_extractor_size=$(stat -c %s "$product_extractor")
product_extractor_imports=$(i686-w64-mingw32-objdump -p "$product_extractor" | awk '/DLL Name:/ { printf "%s ", $3 }')
# Bytes each puts on the medium: ours setup.exe + unzip.exe + package.zip,
# the peer its one file.
medium_bytes() {  # setup.exe unzip.exe package.zip
    echo $(($(stat -c %s "$1") + $(stat -c %s "$2") + $(stat -c %s "$3")))
}
for medium in small large many; do
    echo "bytes $medium ours $(medium_bytes "$launcher" "$extractor" "$data/$medium.zip")" >>"$results"
    echo "bytes $medium peer $(stat -c %s "$peers/$peer_target-$medium.exe")" >>"$results"
    echo "bytes $medium product $(medium_bytes "$product_build/setup.exe" "$product_extractor" "$data/$medium.zip")" >>"$results"
    echo "bytes $medium product-peer $(stat -c %s "$peers/$product_peer_target-$medium.exe")" >>"$results"
done
"$KESTRUNE_WINE" --version >"$work/wine-version.txt" 2>&1 </dev/null || true
echo
echo "== kestrune benchmark, $(date -u '+%Y-%m-%d %H:%M UTC') =="
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(uname -sr)"
echo "Wine: $(cat "$work/wine-version.txt"), prefix $WINEPREFIX, virtual display (xvfb)"
echo "load average (1/5/15 min): before $load_before, after $load_after"
echo "$(describe_32bit | sed 's/;.*//')"
if [ "$arch" = win32 ]; then
    echo "pair measured: the shipped 32-bit programs ($windows_build) against the $peer_target NSIS bootstrapper,"
    echo "  both under the 32-bit Wine"
else
    why="the 64-bit Wine starts no 32-bit program"
    [ "$KESTRUNE_32BIT" = run ] && why="KESTRUNE_BENCH_WINDOWS_BUILD named it"
    echo "pair measured: the x86-64 build of the same sources ($windows_build) against the $peer_target NSIS"
    echo "  bootstrapper, both under the 64-bit Wine: not the shipped 32-bit pair ($why)"
fi
echo "product setup.exe ($product_build, i686): $product_size bytes, imports: $product_imports"
echo "product unzip.exe ($product_build, i686): $product_extractor_size bytes, imports: $product_extractor_imports"
echo "peer: bench/peer.nsi, makensis $(makensis -VERSION 2>/dev/null) with target $peer_target (the product's: $product_peer_target),"
echo "  SetCompressor /SOLID zlib, CRCCheck on (the default): unpacks into a fresh folder in TEMP (InitPluginsDir),"
echo "  ExecWait \"...\\SETUP.EXE\" -s -SMS, removes the folder"
echo "small package: $(stat -c %s "$data/small.zip") bytes = SETUP.EXE (bench/quick_setup.cpp: a $(stat -c %s "$data/small/SETUP.EXE")-byte GUI program that logs its command line and exits) + readme.txt; no PostProcess.cmd"
echo "large package: $large_zip_bytes bytes = the small one + ${random_mib} MiB from /dev/urandom (deflate's stored blocks) + ${text_mib} MiB log-like text (deflated); $large_total bytes extracted"
echo "many-files package: $(stat -c %s "$data/many.zip") bytes, made by kestrune-medium build = SETUP.EXE + $((many_files - 1)) files of 120 to 280 bytes"
echo "  (settings-like text) in $many_folders folders, $many_total bytes extracted; $many_entries entries (folders included)"
echo "unzip.exe's output on the large package (one untimed run): $identical"
echo "runs: $rounds rounds after one warm-up round; the short small runs (and process-start, launcher-alone) three"
echo "  times a round; interleaved: pairs in alternating order, the three small and the four large Windows runs"
echo "  in rotating order; Windows times by QueryPerformanceCounter in bench-driver.exe around"
echo "  CreateProcessA ... WaitForSingleObject, native times by date +%s%N around the command; all times in ms."
echo "  bench-driver.exe is a GUI program without a console, as the launcher is, so in both kinds of run"
echo "  unzip.exe gets a console of its own, as when a medium is started from the desktop"
echo "process starts that Wine refused (ERROR_INTERNAL_ERROR, under load) and the driver tried again, timed afresh: $restarts"
echo "wait until SETUP.EXE starts: from the counter the driver reads just before CreateProcessA of setup.exe or"
echo "  the bootstrapper to the counter SETUP.EXE reads as the first thing its own code does (it logs it);"
echo "  QueryPerformanceCounter is one counter for the whole system (under Wine: the monotonic clock)"
echo "variants:"
echo "  small-launcher  \"P\\setup.exe\" -s on the small medium: unzip.exe, SETUP.EXE -s -SMS, a look for PostProcess.cmd, W removed"
echo "  small-direct    the driver does the same: starts the same children in the same order with the launcher's"
echo "                  CreateProcessA settings and waits, looks for PostProcess.cmd, removes W as the launcher does;"
echo "                  all inside the timed span"
echo "  large-launcher  \"P\\setup.exe\" -s on the large medium"
echo "  large-extract   the driver runs only unzip.exe, as the launcher does (W checked and removed outside the timed span)"
echo "  large-direct    the small-direct sequence on the large medium"
echo "  small-peer      the NSIS bootstrapper of the small payload, started as setup.exe is (no arguments)"
echo "  large-peer      the NSIS bootstrapper of the large payload"
echo "  many-launcher   \"P\\setup.exe\" -s on the many-files medium"
echo "  many-extract    the driver runs only unzip.exe on the many-files package, as the launcher does"
echo "  many-remove     then, timed on its own, remove-tree.exe (from the tests: the launcher's removal, one attempt)"
echo "                  on the tree many-extract made, its process start included (see process-start)"
echo "  many-peer       the NSIS bootstrapper of the many-files payload"
echo "  process-start   a GUI program that does next to nothing (the packages' SETUP.EXE) started as the launcher is"
echo "  launcher-alone  \"setup.exe\" -s with nothing beside it: the launcher's own start and end"
echo "  native-ours     $host_unzip -P pw large.zip -d DEST"
echo "  native-infozip  unzip -P pw -o -q large.zip -d DEST (Debian's Info-ZIP $(unzip -v 2>/dev/null | awk 'NR == 1 { print $2 }'))"
echo
awk -v many_files="$many_files" '
function sorted_median(list, count,   a, n, i, j, t) {
    n = split(list, a, " ")
    for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] + 0 > t + 0; j--) a[j + 1] = a[j]; a[j + 1] = t }
    smin = a[1]; smax = a[n]
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
function stats(v) { med[v] = sorted_median(times[v]); lo[v] = smin; hi[v] = smax }
function verdict(r, target) { return r <= target ? "PASS" : "OVER TARGET" }
function ratio(label, a, b, target, note) {
    r = med[a] / med[b]
    if (target == "") printf "  %-14s %-45s %6.3f  (%s)\n", label, a " / " b, r, note
    else printf "  %-14s %-45s %6.3f  target <= %.2f  %s\n", label, a " / " b, r, target, verdict(r, target)

}
$1 == "run"  { times[$2] = times[$2] " " $4; at[$2, $3] = $4; if ($3 > last) last = $3 }
$1 == "wait" { waits[$2] = waits[$2] " " $4 }
$1 == "bytes" { bytes[$2, $3] = $4 }
$1 == "step" { steps[$2, $4] = steps[$2, $4] " " $5 }
$1 == "left" { left[$2]++; if ($4 > 0) left_full[$2]++ }
$1 == "mem" && $4 == "running" { run_ws[$2] = run_ws[$2] " " $5; run_pf[$2] = run_pf[$2] " " $6 }
$1 == "mem" && $4 != "running" {
    ended[$2]++
    if ($5 == 0) ended_zero[$2]++
    else { end_ws[$2] = end_ws[$2] " " $5; end_pf[$2] = end_pf[$2] " " $6 }
}
END {
    variants = split("small-launcher small-direct small-peer process-start launcher-alone large-launcher large-extract large-direct large-peer native-ours native-infozip many-launcher many-extract many-remove many-peer", order, " ")
    for (g = 1; g <= 3; g++) {
        first = g == 1 ? 1 : g == 2 ? 6 : 12; final = g == 1 ? 5 : g == 2 ? 11 : variants
        rows = 0
        for (n = 1; n <= last; n++) if (at[order[first], n] != "") rows = n
        printf "%sper run (ms):\n  %-4s", g == 1 ? "" : "\n", "run"
        for (k = first; k <= final; k++) printf " %15s", order[k]
        printf "\n"
        for (n = 1; n <= rows; n++) {
            printf "  %-4d", n
            for (k = first; k <= final; k++) printf " %15s", at[order[k], n]
            printf "\n"
        }
    }
    printf "\n%-17s %9s %9s %9s\n", "variant", "min", "median", "max"
    for (k = 1; k <= variants; k++) { v = order[k]; stats(v); printf "  %-15s %9.1f %9.1f %9.1f\n", v, lo[v], med[v], hi[v] }
    printf "\nuntil SETUP.EXE starts (the user'"'"'s wait, ms):\n"
    printf "  %-15s %9s %9s %9s\n", "", "min", "median", "max"
    split("small-launcher small-peer large-launcher large-peer many-launcher many-peer", wv, " ")
    for (k = 1; k <= 6; k++) {
        v = wv[k]
        wait_med[v] = sorted_median(waits[v])
        printf "  %-15s %9.1f %9.1f %9.1f\n", v, smin, wait_med[v], smax
    }
    printf "\nbytes on the medium (ours: setup.exe + unzip.exe + package.zip; peer: its one file):\n"
    for (m = 1; m <= 3; m++) {
        medium = m == 1 ? "small" : m == 2 ? "large" : "many"
        printf "  %-6s as run: ours %10d, peer %10d, ratio %6.3f;  32-bit product: ours %10d, peer %10d, ratio %6.3f\n",
            medium, bytes[medium, "ours"], bytes[medium, "peer"], bytes[medium, "ours"] / bytes[medium, "peer"],
            bytes[medium, "product"], bytes[medium, "product-peer"], bytes[medium, "product"] / bytes[medium, "product-peer"]
    }
    printf "\nwhere the time of the direct runs goes (medians, ms):\n"
    split("unzip.exe SETUP.EXE PostProcess.cmd removal", children, " ")
    for (m = 1; m <= 2; m++) {
        v = m == 1 ? "small-direct" : "large-direct"
        printf "  %-15s", v
        for (c = 1; c <= 4; c++) {
            if (steps[v, children[c]] == "") printf "  %s not there", children[c]
            else printf "  %s %.1f", children[c], sorted_median(steps[v, children[c]])
        }
        printf "\n"
    }
    printf "\nratios of the medians:\n"
    ratio("overhead", "small-launcher", "small-direct", 1.10)
    ratio("large package", "large-launcher", "large-extract", 1.02)
    ratio("extraction", "native-ours", "native-infozip", 1.00)
    ratio("(information)", "large-launcher", "large-direct", "", "the launcher against the same children on the large medium")
    printf "  %-14s %-45s %6.3f  (the least any launcher process could add here)\n", "(floor)",
        "(small-direct + process-start) / small-direct", (med["small-direct"] + med["process-start"]) / med["small-direct"]
    printf "\nagainst the NSIS bootstrapper, ours / peer (ratios of the medians):\n"
    ratio("small package", "small-launcher", "small-peer", 1.00)
    ratio("large package", "large-launcher", "large-peer", 0.90)
    ratio("many files", "many-launcher", "many-peer", 0.75)
    r = wait_med["large-launcher"] / wait_med["large-peer"]
    printf "  %-14s %-45s %6.3f  target <= %.2f  %s\n", "wait, large", "until SETUP.EXE: large-launcher / large-peer", r, 0.90, verdict(r, 0.90)
    printf "  %-14s %-45s %6.3f  (information)\n", "wait, small", "until SETUP.EXE: small-launcher / small-peer",
        wait_med["small-launcher"] / wait_med["small-peer"]
    printf "  %-14s %-45s %6.3f  (information)\n", "wait, many", "until SETUP.EXE: many-launcher / many-peer",
        wait_med["many-launcher"] / wait_med["many-peer"]
    printf "\nthe many-files package per file (%d files; medians, ms per file):\n", many_files
    printf "  %-44s ours %6.3f  peer %6.3f\n", "the whole run", med["many-launcher"] / many_files, med["many-peer"] / many_files
    printf "  %-44s ours %6.3f  peer %6.3f\n", "until SETUP.EXE starts (extraction included)",
        wait_med["many-launcher"] / many_files, wait_med["many-peer"] / many_files
    printf "  %-44s ours %6.3f\n", "unzip.exe alone (many-extract)", med["many-extract"] / many_files
    printf "  %-44s ours %6.3f  (%.1f ms less process-start)\n", "the removal alone (many-remove)",
        med["many-remove"] / many_files, med["many-remove"] - med["process-start"]
    printf "  %-44s ours %6.3f  peer %6.3f\n", "after SETUP.EXE started (its run, removal, end)",
        (med["many-launcher"] - wait_med["many-launcher"]) / many_files, (med["many-peer"] - wait_med["many-peer"]) / many_files
    printf "\nleft in TEMP right after the run (W, or the bootstrapper'"'"'s folder):"
    split("small-launcher small-direct small-peer large-launcher large-direct large-peer many-launcher many-peer", wv, " ")
    for (k = 1; k <= 8; k++) printf " %s %d%s", wv[k], left[wv[k]], left_full[wv[k]] ? " (" left_full[wv[k]] " not empty)" : ""
    printf "\n  (0 expected: with no console child running from W nothing holds it. Then it is removed outside the timed span.)\n"
    printf "\npeak memory as Wine reports it (GetProcessMemoryInfo on the process handle, KiB, medians):\n"
    split("small-launcher large-launcher unzip-large", mv, " ")
    for (k = 1; k <= 3; k++) {
        v = mv[k]
        printf "  %-15s while running: PeakWorkingSetSize %6.0f, PeakPagefileUsage %6.0f", v,
            sorted_median(run_ws[v]) / 1024, sorted_median(run_pf[v]) / 1024
        printf "; after the end: %d of %d readings 0", ended_zero[v], ended[v]
        if (end_ws[v] != "")
            printf ", the others %6.0f, %6.0f", sorted_median(end_ws[v]) / 1024, sorted_median(end_pf[v]) / 1024
        printf "\n"
    }
    printf "  (while running: the largest values read every 5 ms in 3 untimed runs; after the end: read once\n"
    printf "   the process had ended, in those runs and after each timed launcher run. unzip-large: unzip.exe\n"
    printf "   as the launcher starts it, on the large package. Wine takes the counters from the Linux\n"
    printf "   process'"'"'s /proc status, which has no memory lines once the process is gone: hence any zeros.)\n"
}' "$results"
