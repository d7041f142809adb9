#!/bin/bash
# Runs the cross-built unzip.exe under Wine with the launcher's command form,
#   "P\unzip.exe" -P <password> "P\package.zip" -d "W"
# on an archive made by Info-ZIP zip, with blanks and doubled backslashes in
# the paths, and checks the files and the exit codes (tools/unzip/exit_codes.h).
# Then the refusals: links already in a destination inside the prefix (where
# Wine shows a Unix link to a folder as a reparse point), names that clash on
# Windows, overlapping entries and more declared data than the volume holds.
# Then names beyond ASCII and file times, and archives in the zip64 form.
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
# fail, windows_path.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
failures=0

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

# 5. Links already in the destination, inside the prefix: a link to a folder
# outside, one deeper down, a link to a file outside at a part name (Wine
# shows it as a plain file, and would delete its target if asked to delete
# it). Nothing is written through them (12), the rest lands, and the outside
# stays as it was.
prefix_base=$WINEPREFIX/drive_c/kestrune-tests/unzip-$$
rm -rf "$prefix_base"
trap 'rm -rf "$work" "$prefix_base"' EXIT
outside="$work/outside"
mkdir -p "$outside/full" "$outside/empty" "$prefix_base/links/a"
echo "outside data" >"$outside/full/data.txt"
echo "an outside file" >"$outside/file.txt"
outside_state() { (cd "$outside" && find . -printf '%y %p %s %T@\n' | sort); }
outside_before=$(outside_state)
ln -s "$outside/full" "$prefix_base/links/docs"
ln -s "$outside/empty" "$prefix_base/links/a/b"
ln -s "$outside/file.txt" "$prefix_base/links/setup.ini.kestrune-part"
mkdir -p "$work/link tree/docs" "$work/link tree/a/b"
echo "must stay inside" >"$work/link tree/docs/readme.txt"
echo "must stay inside" >"$work/link tree/a/b/c.txt"
printf '[setup]\n' >"$work/link tree/setup.ini"
(cd "$work/link tree" && zip -q -r -P secret "$work/links.zip" .) || fail "zip failed"
run_unzip -P secret "$(windows_path "$work/links.zip")" -d "C:\\kestrune-tests\\unzip-$$\\links"
expect_code "links in the destination" 12
[ "$(outside_state)" = "$outside_before" ] || fail "links in the destination: the outside changed"
[ "$(cat "$prefix_base/links/setup.ini" 2>/dev/null)" = "[setup]" ] ||
    fail "links in the destination: setup.ini did not land beside the links"
[ -L "$prefix_base/links/docs" ] && [ -L "$prefix_base/links/a/b" ] ||
    fail "links in the destination: a planted link was replaced"

# 6. One archive, two meanings: SETUP.EXE, setup.exe and SETUP.EXE. (Linux
# keeps all three apart); the archive is refused whole, nothing is created.
mkdir -p "$work/clash tree"
for name in SETUP.EXE setup.exe SETUP.EXE.; do echo "$name" >"$work/clash tree/$name"; done
(cd "$work/clash tree" && zip -q -P secret "$work/clash.zip" SETUP.EXE setup.exe SETUP.EXE.) || fail "zip failed"
run_unzip -P secret "$(windows_path "$work/clash.zip")" -d "$(windows_path "$work/clash dir")"
expect_code "clashing names" 12
[ -e "$work/clash dir" ] && fail "clashing names: destination created"

# 7. Crafted: 40 entries over one deflated stream (a decompression bomb), and
# entries that each declare almost 4 GiB, together 8 GiB more than the volume
# has free (Wine asks the same statfs as df).
craft="$(dirname "$0")/tests/craft_zip.py"
python3 "$craft" bomb "$work/bomb.zip" $((4 << 20)) || fail "crafting the bomb failed"
python3 "$craft" declaring "$work/too-big.zip" $(($(df -B1 --output=avail "$work" | tail -n 1) / 0xFFFFFFF0 + 2)) ||
    fail "crafting the archive that declares too much failed"
run_unzip "$(windows_path "$work/bomb.zip")" -d "$(windows_path "$work/bomb dir")"
expect_code "overlapping entries" 12
[ -e "$work/bomb dir" ] && fail "overlapping entries: destination created"
run_unzip "$(windows_path "$work/too-big.zip")" -d "$(windows_path "$work/big dir")"
expect_code "more than the volume holds" 50
[ -z "$(ls -A "$work/big dir" 2>/dev/null)" ] || fail "more than the volume holds: files written"

# 8. Names with the UTF-8 flag arrive spelled as packed, and each file and
# folder gets its time: from the extended timestamp to the second (1975 and
# 2040 among them), from the DOS fields (local time, Wine's zone is the
# host's) to two seconds.
python3 - "$work/names.zip" "$work/names.expected" <<'PYTHON' || fail "writing the names archive failed"
import struct, sys, time, zipfile
out, expected = sys.argv[1], sys.argv[2]
def stamp(seconds):
    return struct.pack("<HHBI", 0x5455, 5, 1, seconds)
entries = [  # name, data, DOS time (local), extended timestamp or None
    ("caf\u00e9.txt", b"cafe", (2001, 2, 3, 4, 5, 6), None),
    ("Gr\u00f6\u00dfe/", b"", (1999, 12, 31, 23, 59, 58), None),
    ("Gr\u00f6\u00dfe/\u65e5\u672c\u8a9e.txt", b"nihongo", (2010, 7, 8, 9, 10, 12), None),
    ("\U0001F600 with blanks.txt", b"emoji", (1980, 1, 1, 0, 0, 0), 170856001),
    ("empty folder/", b"", (2020, 1, 1, 10, 0, 0), None),
    ("late.txt", b"late", (2040, 1, 1, 0, 0, 4), 2208988805),
]
with zipfile.ZipFile(out, "w") as archive, open(expected, "w") as lines:
    for name, data, when, seconds in entries:
        info = zipfile.ZipInfo(name, when)
        if seconds is not None:
            info.extra = stamp(seconds)
        archive.writestr(info, data)
        mtime = seconds if seconds is not None else int(time.mktime(when + (0, 0, -1)))
        lines.write("%s\t%d\n" % (name.rstrip("/"), mtime))
PYTHON
run_unzip "$(windows_path "$work/names.zip")" -d "$(windows_path "$work/names dir")"
expect_code "names and times" 0
while IFS=$'\t' read -r name mtime; do
    if [ ! -e "$work/names dir/$name" ]; then
        fail "names and times: '$name' did not arrive as packed ($(cd "$work/names dir" && find . | tr '\n' ' '))"
    elif [ "$(stat -c %Y "$work/names dir/$name")" != "$mtime" ]; then
        fail "names and times: '$name' is dated $(stat -c %Y "$work/names dir/$name"), packed $mtime"
    fi
done <"$work/names.expected"

# 9. Names that are not the UTF-8 they claim (an overlong "../") are refused;
# without the flag a name is read in the OEM code page (437 in this prefix),
# so "caf\x82.txt" is café.txt, which clashes with a flagged CAFÉ.TXT: the
# archive is refused whole and nothing is made.
craft="$(dirname "$0")/tests/craft_zip.py"
python3 "$craft" names "$work/mixed-names.zip" || fail "crafting the names archive failed"
run_unzip "$(windows_path "$work/mixed-names.zip")" -d "$(windows_path "$work/mixed dir")"
expect_code "names across encodings" 12
grep -q "names the same file as caf" "$work/stderr" || fail "names across encodings: no clash reported: $(cat "$work/stderr")"
[ -e "$work/mixed dir" ] && fail "names across encodings: destination created"

# 10. The zip64 form on small data: Info-ZIP's forced one, and a crafted one
# with every size and offset in zip64 fields and UTF-8 names.
(cd "$tree" && zip -q -r -fz -P secret "$work/forced-zip64.zip" .) || fail "zip -fz failed"
run_unzip -P secret "$(windows_path "$work/forced-zip64.zip")" -d "$(windows_path "$work/zip64 dir")"
expect_code "zip -fz" 0
expect_same_tree "zip -fz" "$tree" "$work/zip64 dir"
python3 "$craft" zip64 "$work/crafted-zip64.zip" || fail "crafting the zip64 archive failed"
run_unzip "$(windows_path "$work/crafted-zip64.zip")" -d "$(windows_path "$work/crafted dir")"
expect_code "crafted zip64" 0
[ "$(cat "$work/crafted dir/café/日本語.txt" 2>/dev/null | head -c 9)" = "kestrune " ] ||
    fail "crafted zip64: café/日本語.txt did not arrive"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "unzip.exe under Wine: all checks passed"
