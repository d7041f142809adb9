# Sourced by the scripts that run Windows programs: the Wine of one
# architecture and a private prefix for it in the build tree, no Mono/Gecko
# prompts, no debug chatter.
#   source scripts/wine-env.sh [win32|win64]
# win32 runs the 32-bit product (build/win32) under the 32-bit Wine, on
# machines that run 32-bit programs (scripts/probe-32bit.sh); win64 runs the
# same sources built for x86-64 (build/win64) under the 64-bit Wine, on every
# machine. Without an argument: the architecture an outer script chose
# (WINEARCH in the environment), else win64. Sourced without an argument, a
# file sees its caller's own arguments: a caller that has some (bash -c '...'
# _ ARGS) passes the architecture.
: "${KESTRUNE_BUILD:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}"

case "${1:-${WINEARCH:-win64}}" in
    win32)
        export KESTRUNE_TEST_ARCH=i686 WINEARCH=win32
        export KESTRUNE_WINE=/usr/lib/wine/wine KESTRUNE_WINESERVER=/usr/lib/wine/wineserver32
        ;;
    win64)
        export KESTRUNE_TEST_ARCH=x86_64 WINEARCH=win64
        # Called directly: the /usr/bin/wine wrapper would pick the 32-bit loader.
        export KESTRUNE_WINE=/usr/lib/wine/wine64 KESTRUNE_WINESERVER=/usr/lib/wine/wineserver64
        ;;
    *)
        echo "wine-env.sh: unknown architecture '${1:-$WINEARCH}' (win32 or win64)" >&2
        return 1
        ;;
esac
export WINELOADER=$KESTRUNE_WINE WINESERVER=$KESTRUNE_WINESERVER
export WINEPREFIX="${KESTRUNE_WINEPREFIX:-$KESTRUNE_BUILD/wineprefix-$WINEARCH}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Creates the prefix once (about 30 s) and keeps one wineserver alive for the
# whole run, so that each Windows program starts quickly.
wine_up() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        "$KESTRUNE_WINE" wineboot -i >/dev/null 2>&1
        # One virtual desktop window: without a window manager on the
        # display, Wine waits about two seconds on every box otherwise.
        "$KESTRUNE_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
        "$KESTRUNE_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
        "$KESTRUNE_WINESERVER" -w
    fi
    # Fails harmlessly when a server for this prefix already runs.
    "$KESTRUNE_WINESERVER" -p >/dev/null 2>&1 || true
    # The first program of a session starts Wine's background services, and
    # they keep its output open: start them here, with no pipe to inherit, so
    # that no test run under ctest's pipes is the one that starts them.
    "$KESTRUNE_WINE" wineboot >/dev/null 2>&1 </dev/null || true
}

wine_down() {
    "$KESTRUNE_WINESERVER" -k >/dev/null 2>&1 || true
}

# The Linux path of a Windows path on drive C: of the prefix.
wine_c_path() {
    local rest="${1#C:\\}"
    printf '%s/drive_c/%s\n' "$WINEPREFIX" "${rest//\\//}"
}
