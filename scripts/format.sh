#!/usr/bin/env bash
# Applies the house style (.clang-format) to every tracked C++ source;
# --check only reports the files that stray from it and fails.
# clang-format 14 is named exactly: other versions lay some lines out differently.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/lib.sh
command -v clang-format-14 > /dev/null || die "clang-format-14 is missing: run scripts/install-deps.sh"
mapfile -t sources < <(git ls-files '*.cpp' '*.h' '*.c')
if [ "${1:-}" = --check ]; then
    clang-format-14 --dry-run --Werror "${sources[@]}" || die "sources stray from .clang-format: run bash scripts/format.sh"
else
    clang-format-14 -i "${sources[@]}"
fi
