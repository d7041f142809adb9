#!/usr/bin/env bash
# The main job: builds everything, builds a sample product installer with
# NSIS, packs it with the package password into a medium and runs the medium
# under Wine on a virtual display, once plainly and once with -s, then prints
# what happened. Leaves a screenshot of the progress notice. The medium holds
# the shipped 32-bit programs where this machine runs 32-bit programs, else
# the x86-64 build of the same sources; the first line says which.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
source scripts/lib.sh
source scripts/probe-32bit.sh
probe_32bit
builds=$(bash scripts/build.sh | tail -n 1)
test_build=${builds%% *}
arch=$(basename "$test_build")
source scripts/wine-env.sh "$arch"
describe_32bit
if [ "$arch" = win32 ]; then
    echo "demo: the medium holds the shipped 32-bit programs ($test_build), run by the 32-bit Wine"
else
    echo "demo: the medium holds the x86-64 build of the same sources ($test_build), run by the 64-bit Wine"
fi

demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/payload"
nsis_target=x86
[ "$KESTRUNE_TEST_ARCH" = x86_64 ] && nsis_target=amd64
product=$(bash demo/product/build_product.sh "$nsis_target" "$demo/product" | tail -n 1)

# The payload: the product's installer, the script, and enough data that
# the extraction takes a moment. kestrune-medium packs it into a medium with
# the launcher's password, using the Windows build that runs here.
cp "$product" "$demo/payload/SETUP.EXE"
cp demo/PostProcess.cmd "$demo/payload/"
mkdir -p "$demo/payload/data"
head -c 96M /dev/urandom >"$demo/payload/data/media.bin"
build/host/medium/kestrune-medium build "$demo/payload" --out "$demo/medium" \
    --launcher "$test_build/setup.exe" --extractor "$test_build/tools/unzip/unzip.exe" >/dev/null
build/host/medium/kestrune-medium check "$demo/medium" --package-dir 'C:\kestrune-demo\medium' \
    --temp 'C:\users\root\Temp\' | sed 's/^/medium check: /'

# A prefix of its own: the demo installs a product into it.
export KESTRUNE_WINEPREFIX=$root/build/wineprefix-demo-$arch
export KESTRUNE_DEMO_BUILD=$root/$test_build KESTRUNE_DEMO_DIR=$demo
xvfb-run -a -s "-screen 0 1024x768x24" bash demo/run_medium.sh
