#!/usr/bin/env bash
# Makes the hostile archives: Info-ZIP zip packs real entries (encrypted with
# the package password), then craft_archives.py renames entries, lies about
# their sizes or cuts the archives short.
#   make_hostile_fixtures.sh OUT_DIR TEST_CHILD_EXE PASSWORD_FILE CRAFT_SCRIPT
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
out=$1 child=$2 password=$(cat "$3") craft=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# The same script as the launcher-level fixtures: it logs its run.
write_logger_script "$work/PostProcess.cmd"

# Entries that only get their hostile names afterwards: zip would not store
# "../x", "C:x" or a backslash as given.
mkdir -p "$work/base"
cp "$child" "$work/base/SETUP.EXE"
cp "$work/PostProcess.cmd" "$work/base/"
for i in 1 2 3 4 5 6 7; do echo "must never be written: $i" >"$work/base/evil$i"; done

zip_into() {  # archive, password, source dir, entries...
    local archive=$1 pass=$2 dir=$3
    shift 3
    rm -f "$archive"
    (cd "$dir" && zip -q -X -P "$pass" "$archive" "$@")
}
zip_into "$work/base.zip" "$password" "$work/base" SETUP.EXE PostProcess.cmd evil1 evil2 evil3 evil4 evil5 evil6 evil7
zip_into "$work/plain.zip" "$password" "$work/base" SETUP.EXE PostProcess.cmd
zip_into "$out/wrong-password.zip" "not-the-package-password" "$work/base" SETUP.EXE PostProcess.cmd

python3 "$craft" "$work/base.zip" "$work/plain.zip" "$out"
touch "$out/stamp"
