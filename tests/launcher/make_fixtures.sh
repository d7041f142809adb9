#!/usr/bin/env bash
# Makes the package archives the launcher-level tests lay out on their media,
# with Info-ZIP zip, as a package author would.
#   make_fixtures.sh OUT_DIR TEST_CHILD_EXE PASSWORD_FILE
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
out=$1 child=$2 password=$(cat "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# The script logs in the test child's format, so one log shows every run.
write_logger_script "$work/PostProcess.cmd"

mkdir -p "$work/full/docs" "$work/plain"
cp "$child" "$work/full/SETUP.EXE"
cp "$work/PostProcess.cmd" "$work/full/"
echo "extracted data" >"$work/full/docs/readme.txt"
cp "$child" "$work/plain/SETUP.EXE"

zip_into() {  # archive name, password, source dir
    rm -f "$out/$1"
    (cd "$3" && zip -q -r -P "$2" "$out/$1" .)
}
zip_into package.zip "$password" "$work/full"
zip_into package-no-script.zip "$password" "$work/plain"
zip_into package-wrong-password.zip "not-the-password" "$work/full"
# A SETUP.EXE that Windows cannot start.
mkdir -p "$work/broken"
echo "not a program" >"$work/broken/SETUP.EXE"
cp "$work/PostProcess.cmd" "$work/broken/"
zip_into package-setup-not-a-program.zip "$password" "$work/broken"

# Enough data that the extraction outlasts the notice's first showing.
mkdir -p "$work/large"
cp -r "$work/full/." "$work/large/"
head -c 48M /dev/urandom >"$work/large/docs/payload.bin"
zip_into package-large.zip "$password" "$work/large"
