#!/usr/bin/env bash
# Makes the Debian package of kestrune for package authors,
# build/package/kestrune_<version>_amd64.deb: kestrune-medium, the product's
# setup.exe and unzip.exe beside it, its manual page and the documents
# (CPack, as host/package/package.cmake sets it up). Builds everything first
# (scripts/build.sh), unless --built says that has just been done (the test
# command). Prints the package's path, last.
#
# Install it with: apt install ./build/package/kestrune_*_amd64.deb
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/lib.sh
# The changelog's date: the last commit's, so that the same commit gives the same text.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git rev-parse --git-dir >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
    export SOURCE_DATE_EPOCH
fi
[ "${1:-}" = --built ] || bash scripts/build.sh >/dev/null
mkdir -p build/package
rm -f build/package/kestrune_*.deb
run_logged build/package.log cpack --config build/host/CPackConfig.cmake -B build/package
packages=(build/package/kestrune_*_amd64.deb)
[ -f "${packages[0]}" ] || die "cpack made no kestrune_*_amd64.deb (its output is in build/package.log)"
echo "$PWD/${packages[0]}"
