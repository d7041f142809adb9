#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Idempotent: apt-get runs only when something is missing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

packages=(
    cmake make g++ googletest zlib1g-dev libzip-dev pkg-config dpkg-dev
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
    wine wine64 xvfb xauth x11-apps imagemagick
    zip unzip nsis python3 osslsigncode xorriso openssl strace
    clang-14 libclang-rt-14-dev cppcheck clang-tidy-14 clang-format-14
)
install_missing_packages "${packages[@]}"
