#!/usr/bin/env bash
# Builds the Kestrune Demo Product installer with NSIS.
#
# Usage: build_product.sh [TARGET [OUTDIR]]
#   TARGET  x86 (default: the launcher is 32-bit) or amd64
#   OUTDIR  where SETUP.EXE goes (default: <repo>/build/demo-product/TARGET)
#
# On success prints only the path of the built OUTDIR/SETUP.EXE. Installs
# Debian's nsis first when makensis or its stubs are missing (needs root).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)

source "$repo/scripts/lib.sh"  # die

[ $# -le 2 ] || die "usage: build_product.sh [x86|amd64 [OUTDIR]]"
target=${1:-x86}
case "$target" in
    x86)   stub=x86-unicode ;;
    amd64) stub=amd64-unicode ;;
    *)     die "unknown TARGET '$target' (use x86 or amd64)" ;;
esac
outdir=${2:-$repo/build/demo-product/$target}

# makensis and the stub of the target; apt-get only when one is missing.
nsis_ready() {
    command -v makensis >/dev/null 2>&1 &&
        [ -f "/usr/share/nsis/Stubs/lzma_solid-$stub" ] &&
        [ -f /usr/share/nsis/Include/LogicLib.nsh ] &&
        [ -f /usr/share/nsis/Include/FileFunc.nsh ]
}
if ! nsis_ready; then
    install_missing_packages nsis || die "could not install Debian's nsis"
    nsis_ready || die "nsis is installed but makensis or /usr/share/nsis/Stubs/lzma_solid-$stub is missing"
fi

# The path goes into the script as a define: NSIS would read $ as a variable.
case "$outdir" in
    *'$'* | *'"'*) die "OUTDIR must not contain \$ or \": $outdir" ;;
esac
mkdir -p "$outdir" || die "cannot create $outdir"
outdir=$(cd "$outdir" && pwd)
out="$outdir/SETUP.EXE"
rm -f "$out"

# -NOCONFIG: the host's /etc/nsisconf.nsh has no say in the build.
# -WX: a warning fails the build.
log=$(mktemp)
if ! makensis -NOCONFIG -WX -V2 "-DTARGET=$target" "-DOUTFILE=$out" \
        "$here/product.nsi" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log" "$out"
    die "makensis failed for $target"
fi
rm -f "$log"
[ -s "$out" ] || die "makensis reported success but $out is missing"
echo "$out"
