# Sourced by the scripts that run Windows programs (test.sh, build.sh,
# demo.sh, bench/run.sh): whether this machine runs 32-bit programs, and so
# the shipped 32-bit programs under a 32-bit Wine, or only the 64-bit build
# of the same sources under 64-bit Wine.
#
#   probe_32bit      decides once and exports the decision, KESTRUNE_32BIT:
#                      run      the kernel runs 32-bit programs and a 32-bit
#                               Wine is ready (wine32:i386, installed here
#                               when missing)
#                      no-wine  the kernel runs them, but no 32-bit Wine could
#                               be had (why: KESTRUNE_32BIT_NOTE)
#                      cannot   the kernel cannot run them
#                    An outer script's decision, already in the environment,
#                    is kept: one probe per run.
#   windows_test_builds  the Windows builds the tests run here, the 32-bit
#                    product first where it runs
#   describe_32bit   the one line that says which case this machine is
#
# Nothing here can hang: every program it starts is given a time limit, and
# a failed installation only means the 64-bit build is what runs.
# Needs scripts/lib.sh.

: "${KESTRUNE_PROBE_SECONDS:=10}"

# Whether PROGRAM runs and ends with exit code 32. A kernel without 32-bit
# support refuses an i386 program ("Exec format error"), and timeout's exec
# then hands it to /bin/sh, which fails on it otherwise: only a program that
# really ran gives 32.
runs_i386_program() {  # program
    local code=0
    timeout -k 2 "$KESTRUNE_PROBE_SECONDS" "$1" </dev/null >/dev/null 2>&1 || code=$?
    [ "$code" -eq 32 ]
}

# Makes the smallest static i386 Linux program: it only ends, with exit code
# 32 (the exit system call through int 0x80). Needs binutils.
make_i386_program() {  # output file
    local out=$1
    command -v as >/dev/null 2>&1 && command -v ld >/dev/null 2>&1 || install_missing_packages binutils
    printf '%s\n' '.globl _start' '_start:' 'movl $1, %eax' 'movl $32, %ebx' 'int $0x80' >"$out.s"
    as --32 -o "$out.o" "$out.s" && ld -m elf_i386 -o "$out" "$out.o"
    local status=$?
    rm -f "$out.s" "$out.o"
    return $status
}

# Whether the kernel runs 32-bit programs: made and run in a directory of
# its own in the build tree (where programs run anyway, unlike a /tmp that
# may be mounted noexec), which goes again.
kernel_runs_32bit() {
    local directory status=0 build
    build=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build
    mkdir -p "$build" && directory=$(mktemp -d "$build/probe-32bit.XXXXXX") || return 1
    make_i386_program "$directory/exit32" && runs_i386_program "$directory/exit32" || status=1
    rm -rf "$directory"
    return $status
}

# Whether the 32-bit Wine loader that scripts/wine-env.sh names for win32
# starts and prints its version.
wine32_works() {
    local loader
    loader=$(source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh" win32 && echo "$KESTRUNE_WINE")
    [ -x "$loader" ] && timeout -k 2 60 "$loader" --version </dev/null >/dev/null 2>&1
}

# Installs the 32-bit Wine (wine32:i386, beside wine64) and the i386
# architecture it comes from, through apt, as root or through sudo without a
# password; every step with a time limit. On failure says why on stdout.
install_wine32() {
    if [ "$(id -u)" -ne 0 ] && ! sudo -n true >/dev/null 2>&1; then
        echo "wine32:i386 is missing, and installing it needs root or sudo without a password"
        return 1
    fi
    local as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo -n)
    if ! dpkg --print-foreign-architectures 2>/dev/null | grep -qx i386; then
        timeout -k 5 60 "${as_root[@]}" dpkg --add-architecture i386 </dev/null >/dev/null 2>&1 ||
            { echo "dpkg could not add the i386 architecture"; return 1; }
    fi
    timeout -k 10 900 bash -c 'source "$1" && install_missing_packages wine32:i386' _ \
        "$(dirname "${BASH_SOURCE[0]}")/lib.sh" </dev/null >/dev/null 2>&1 ||
        { echo "apt could not install wine32:i386"; return 1; }
}

probe_32bit() {
    case "${KESTRUNE_32BIT:-}" in
        run | no-wine | cannot) return 0 ;;
    esac
    local note=""
    if ! kernel_runs_32bit; then
        KESTRUNE_32BIT=cannot
    elif wine32_works; then
        KESTRUNE_32BIT=run
    else
        echo "this machine runs 32-bit programs: installing the 32-bit Wine (wine32:i386) ..." >&2
        if note=$(install_wine32) && wine32_works; then
            KESTRUNE_32BIT=run
        else
            KESTRUNE_32BIT=no-wine
            note=${note:-wine32:i386 is installed, but its loader does not start}
        fi
    fi
    export KESTRUNE_32BIT KESTRUNE_32BIT_NOTE=$note
}

windows_test_builds() {
    if [ "$KESTRUNE_32BIT" = run ]; then echo "build/win32 build/win64"; else echo "build/win64"; fi
}

describe_32bit() {
    case "$KESTRUNE_32BIT" in
        run) echo "32-bit programs: run here; the Windows suite runs on build/win32 and build/win64" ;;
        no-wine)
            echo "32-bit programs: run here, but there is no 32-bit Wine ($KESTRUNE_32BIT_NOTE);" \
                 "the 32-bit product is checked statically, the Windows suite runs on build/win64" ;;
        *)
            echo "32-bit programs: cannot run on this machine; the 32-bit product is checked statically," \
                 "the Windows suite runs on build/win64" ;;
    esac
}
