#!/usr/bin/env bash
# scripts/probe-32bit.sh and the architecture choice of scripts/wine-env.sh.
# The probe's decision is checked with stand-ins for the kernel, the 32-bit
# Wine and its installation, so that every case is decided here, whatever
# this machine is; the probe's own program is checked as it is made (an
# i386 program that ends with exit code 32), and the runner with programs
# that end otherwise, that the kernel refuses, and that hang. Nothing here
# runs a 32-bit program or a Windows test.
set -u
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$repo/scripts/lib.sh"
failures=0
work=$(mktemp -d "${TMPDIR:-/tmp}/probe-32bit-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

# --- runs_i386_program: only a program that runs and ends with 32 counts.
printf '#!/bin/sh\nexit 32\n' >"$work/ends-32"
printf '#!/bin/sh\nexit 0\n' >"$work/ends-0"
printf '#!/bin/sh\necho "cannot execute binary file: Exec format error" >&2\nexit 126\n' >"$work/refused-by-shell"
printf '\177ELF\001\001\001\000not a whole header' >"$work/refused-by-kernel"
printf '#!/bin/sh\nexec sleep 600\n' >"$work/hangs"
chmod +x "$work"/*
while read -r program expected; do
    actual=no
    (source "$repo/scripts/probe-32bit.sh" && KESTRUNE_PROBE_SECONDS=1 runs_i386_program "$work/$program") &&
        actual=yes
    [ "$actual" = "$expected" ] || fail "runs_i386_program $program: $actual, expected $expected"
done <<'EOF'
ends-32 yes
ends-0 no
refused-by-shell no
refused-by-kernel no
hangs no
EOF

# --- the probe's program: static i386, the exit system call with 32.
(source "$repo/scripts/probe-32bit.sh" && make_i386_program "$work/exit32") ||
    fail "make_i386_program failed"
format=$(objdump -f "$work/exit32" 2>&1)
grep -q 'file format elf32-i386' <<<"$format" || fail "the probe's program is not elf32-i386: $format"
grep -q 'EXEC_P' <<<"$format" || fail "the probe's program is not an executable: $format"
code=$(objdump -d "$work/exit32" 2>&1 | awk -F'\t' '/:\t/ { gsub(/ +/, " ", $3); print $3 }' | paste -sd';')
[ "$code" = 'mov $0x1,%eax;mov $0x20,%ebx;int $0x80' ] || fail "the probe's program's code: $code"
[ -z "$(objdump -p "$work/exit32" | grep -i 'interp\|NEEDED')" ] || fail "the probe's program needs a loader"

# --- kernel_runs_32bit: the program made, run, and its directory gone again,
# whatever came of it.
while read -r made expected; do
    actual=$(
        source "$repo/scripts/probe-32bit.sh"
        make_i386_program() {
            case $made in
                ends-32 | refused-by-kernel) cp "$work/$made" "$1" ;;
                *) return 1 ;;
            esac
        }
        kernel_runs_32bit && echo yes || echo no
    )
    [ "$actual" = "$expected" ] || fail "kernel_runs_32bit with $made: $actual, expected $expected"
done <<'EOF'
ends-32 yes
refused-by-kernel no
not-made no
EOF
leftovers=$(find "$repo/build" -maxdepth 1 -name 'probe-32bit.*' 2>/dev/null)
[ -z "$leftovers" ] || fail "the probe left its directory: $leftovers"

# --- probe_32bit's decision, under set -e as the scripts run it. Columns:
# kernel runs 32-bit programs; the 32-bit Wine starts before any install;
# the install's result; whether the Wine starts after it; then the expected
# decision, whether an install was tried, the Windows test builds and the
# start of the one line.
decide() (  # kernel wine_before install wine_after
    set -euo pipefail
    kernel=$1 wine_before=$2 install=$3 wine_after=$4
    unset KESTRUNE_32BIT KESTRUNE_32BIT_NOTE
    source "$repo/scripts/probe-32bit.sh"
    kernel_runs_32bit() { [ "$kernel" = yes ]; }
    wine32_works() { if [ -e "$work/installed" ]; then [ "$wine_after" = yes ]; else [ "$wine_before" = yes ]; fi; }
    install_wine32() {
        touch "$work/installed"
        [ "$install" = ok ] || { echo "apt could not install wine32:i386"; return 1; }
    }
    rm -f "$work/installed"
    probe_32bit 2>/dev/null
    echo "$KESTRUNE_32BIT|$([ -e "$work/installed" ] && echo tried || echo none)|$(windows_test_builds)|$(describe_32bit)"
)
while IFS='|' read -r kernel wine_before install wine_after expected tried builds line; do
    actual=$(decide "$kernel" "$wine_before" "$install" "$wine_after" 2>&1)
    IFS='|' read -r got_decision got_tried got_builds got_line <<<"$actual"
    what="kernel $kernel, Wine $wine_before, install $install, then $wine_after"
    [ "$got_decision|$got_tried|$got_builds" = "$expected|$tried|$builds" ] ||
        fail "$what: $got_decision, install $got_tried, builds $got_builds; expected $expected, $tried, $builds ($actual)"
    case "$got_line" in
        "$line"*) ;;
        *) fail "$what: the line is '$got_line', expected it to start '$line'" ;;
    esac
done <<'EOF'
no|no|ok|yes|cannot|none|build/win64|32-bit programs: cannot run on this machine; the 32-bit product is checked statically, the Windows suite runs on build/win64
no|yes|ok|yes|cannot|none|build/win64|32-bit programs: cannot run on this machine
yes|yes|ok|yes|run|none|build/win32 build/win64|32-bit programs: run here; the Windows suite runs on build/win32 and build/win64
yes|no|ok|yes|run|tried|build/win32 build/win64|32-bit programs: run here; the Windows suite runs on build/win32 and build/win64
yes|no|fail|no|no-wine|tried|build/win64|32-bit programs: run here, but there is no 32-bit Wine (apt could not install wine32:i386); the 32-bit product is checked statically, the Windows suite runs on build/win64
yes|no|ok|no|no-wine|tried|build/win64|32-bit programs: run here, but there is no 32-bit Wine (wine32:i386 is installed, but its loader does not start)
EOF

# An outer script's decision is kept: nothing is probed again.
kept=$(
    set -euo pipefail
    source "$repo/scripts/probe-32bit.sh"
    kernel_runs_32bit() { echo probed; }
    KESTRUNE_32BIT=cannot
    probe_32bit
    echo "$KESTRUNE_32BIT"
)
[ "$kept" = cannot ] || fail "a decision in the environment was not kept: $kept"

# --- wine-env.sh: the architecture given, else the one in WINEARCH, else
# win64; a Wine, a server and a prefix of that architecture.
while read -r argument inherited arch loader server prefix test_arch; do
    [ "$argument" = - ] && argument=""
    [ "$inherited" = - ] && inherited=""
    actual=$(
        unset KESTRUNE_WINEPREFIX WINEARCH
        [ -n "$inherited" ] && export WINEARCH=$inherited
        source "$repo/scripts/wine-env.sh" $argument &&
            echo "$WINEARCH $KESTRUNE_WINE $WINESERVER $(basename "$WINEPREFIX") $KESTRUNE_TEST_ARCH"
    )
    expected="$arch $loader $server $prefix $test_arch"
    [ "$actual" = "$expected" ] ||
        fail "wine-env.sh '$argument' with WINEARCH '$inherited': '$actual', expected '$expected'"
done <<'EOF'
win32 - win32 /usr/lib/wine/wine /usr/lib/wine/wineserver32 wineprefix-win32 i686
win64 - win64 /usr/lib/wine/wine64 /usr/lib/wine/wineserver64 wineprefix-win64 x86_64
- win32 win32 /usr/lib/wine/wine /usr/lib/wine/wineserver32 wineprefix-win32 i686
win64 win32 win64 /usr/lib/wine/wine64 /usr/lib/wine/wineserver64 wineprefix-win64 x86_64
- - win64 /usr/lib/wine/wine64 /usr/lib/wine/wineserver64 wineprefix-win64 x86_64
EOF
(source "$repo/scripts/wine-env.sh" win16 2>/dev/null) && fail "wine-env.sh took an unknown architecture"

[ "$failures" -eq 0 ] && echo "all cases passed"
exit $((failures > 0))
