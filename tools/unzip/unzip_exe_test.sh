#!/bin/bash
# Runs the cross-built unzip.exe under Wine with the launcher's command form,
#   "P\unzip.exe" -P <password> "P\package.zip" -d "W"
# on an archive made by Info-ZIP zip, with blanks and doubled backslashes in
# the paths, and checks the files and the exit codes (tools/unzip/exit_codes.h).
#
# Usage: unzip_exe_test.sh UNZIP_EXE [WINE]
# WINE defaults to $KESTRUNE_WINE, then `wine`. WINEPREFIX, WINEARCH and
# WINEDEBUG come from the environment; without WINEPREFIX a private prefix
# beside UNZIP_EXE is used (made on first use, about 30 s).
# Wine is never given a pipe as stdout or stderr: it would hang.
set -u

exe=$1
wine=${2:-${KESTRUNE_WINE:-wine}}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$exe")" && pwd)/wineprefix-unzip-test}

work=$(mktemp -d "${TMPDIR:-/tmp}/unzip exe test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Wine maps / to drive Z:.
windows_path() {
    local path=${1//\//\\}
    printf 'Z:%s' "$path"
}

# Runs unzip.exe with the given arguments; sets $code.
run_unzip() {
    "$wine" "$exe" "$@" >"$work/stdout" 2>"$work/stderr"
    code=$?
}

expect_code() { # what expected
    [ "$code" -eq "$2" ] || fail "$1: exit code $code, expected $2 ($(head -c 300 "$work/stderr"))"
}

expect_same_tree() { # what expected actual
    diff -r "$2" "$3" >/dev/null 2>&1 || fail "$1: extracted tree differs from the packed one"
}

if ! command -v zip >/dev/null; then
    echo "FAIL: Info-ZIP zip is needed to make the test archive"
    exit 1
fi

# The package: a subdirectory, blanks in names, an empty file, and a binary
# file of several 64 KiB chunks.
tree="$work/tree"
mkdir -p "$tree/sub dir/deep"
printf '[setup]\nname=demo\n' >"$tree/setup.ini"
: >"$tree/empty"
head -c 200000 /dev/urandom >"$tree/sub dir/deep/data.bin"
mkdir -p "$work/pack dir"
(cd "$tree" && zip -q -r -P secret "$work/pack dir/package.zip" .) || fail "zip failed"
archive=$(windows_path "$work/pack dir/package.zip")

# 1. The launcher's form; nothing printed on success.
run_unzip -P secret "$archive" -d "$(windows_path "$work/work dir")"
expect_code "launcher form" 0
expect_same_tree "launcher form" "$tree" "$work/work dir"
[ -s "$work/stdout" ] && fail "launcher form: printed on stdout"

# 2. Doubled backslashes, as unnormalised paths and the quoting produce; the
# destination does not exist yet.
run_unzip -P secret "$(windows_path "$work/pack dir")\\\\package.zip" \
    -d "$(windows_path "$work/keep")\\\\"
expect_code "doubled backslashes" 0
expect_same_tree "doubled backslashes" "$tree" "$work/keep"

# 3. Wrong password: no file written. A wrong password passes the cipher's
# check byte 1 time in 256 and then fails as damaged data (2); two passwords
# both passing is 1 in 65536, so at least one must give 82.
wrong_password_seen=0
for password in Secret wrong; do
    run_unzip -P "$password" "$archive" -d "$(windows_path "$work/wrong dir")"
    case $code in
    82) wrong_password_seen=1 ;;
    2) ;;
    *) expect_code "wrong password $password" 82 ;;
    esac
done
[ "$wrong_password_seen" -eq 1 ] || fail "wrong password: exit code 82 never seen"
# An empty file has no data to check beyond that byte, so only files with
# content are sure to be kept back.
[ -z "$(find "$work/wrong dir" -type f ! -empty 2>/dev/null)" ] || fail "wrong password: files written"

# 4. Missing archive; the destination is not created.
run_unzip -P secret "$(windows_path "$work/pack dir/none.zip")" -d "$(windows_path "$work/none dir")"
expect_code "missing archive" 9
[ -e "$work/none dir" ] && fail "missing archive: destination created"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "unzip.exe under Wine: all checks passed"
