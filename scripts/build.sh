#!/usr/bin/env bash
# Builds everything: the product (32-bit setup.exe and unzip.exe) in
# build/win32, the same sources for x86-64 in build/win64 and the native
# tools in build/host. `build.sh windows` builds only the first two and
# `build.sh host` only the last (the test command starts the Windows tests
# between the two). Where this machine runs 32-bit programs
# (scripts/probe-32bit.sh), build/win32 is built with its tests too, and the
# Windows tests and the demo run the product itself; everywhere, build/win64
# is built with its tests. Prints the Windows builds whose tests run here,
# the 32-bit product first where it runs, on its last line.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/lib.sh
bash scripts/install-deps.sh
source scripts/probe-32bit.sh
probe_32bit

configure_and_build() {  # source dir, build dir, extra cmake arguments...
    local source=$1 binary=$2
    shift 2
    run_logged "$binary.configure.log" cmake -S "$source" -B "$binary" -DCMAKE_BUILD_TYPE=Release "$@"
    run_logged "$binary.build.log" cmake --build "$binary" -j2
}

what=${1:-all}
case "$what" in all | windows | host) ;; *) die "usage: build.sh [windows|host]" ;; esac
mkdir -p build
# Each build is configured with its own Wine settings: its tests keep them.
product_tests=OFF
[ "$KESTRUNE_32BIT" = run ] && product_tests=ON
if [ "$what" != host ]; then
(
    source scripts/wine-env.sh win32
    configure_and_build . build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DKESTRUNE_TESTS=$product_tests
)
(
    source scripts/wine-env.sh win64
    configure_and_build . build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
        -DKESTRUNE_PRODUCT_DIR="$PWD/build/win32"
)
fi
if [ "$what" != windows ] && [ -f host/CMakeLists.txt ]; then configure_and_build host build/host; fi
windows_test_builds
