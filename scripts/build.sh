#!/usr/bin/env bash
# Builds everything: the product (32-bit setup.exe and unzip.exe) in
# build/win32, the same sources for x86-64 in build/win64 (the build the
# Windows tests and the demo run under Wine) and the native tools in build/host.
# Prints the directory of the Windows build that the tests run, last.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/lib.sh
bash scripts/install-deps.sh
source scripts/wine-env.sh

configure_and_build() {  # source dir, build dir, extra cmake arguments...
    local source=$1 binary=$2
    shift 2
    run_logged "$binary.configure.log" cmake -S "$source" -B "$binary" -DCMAKE_BUILD_TYPE=Release "$@"
    run_logged "$binary.build.log" cmake --build "$binary" -j2
}

mkdir -p build
configure_and_build . build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DKESTRUNE_TESTS=OFF
configure_and_build . build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
    -DKESTRUNE_PRODUCT_DIR="$PWD/build/win32"
test_build=build/win64
if [ -f host/CMakeLists.txt ]; then configure_and_build host build/host; fi
echo "$test_build"
