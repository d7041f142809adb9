#!/usr/bin/env bash
# Work directories that hold links, which only the Linux side of the prefix
# can make: a link to the directory it stands in, a loop back to the top,
# links to a full and an empty directory and to a file outside the tree, a
# dangling link. Wine shows a link to a directory as a directory with the
# reparse point attribute, a link to a file as a plain file, and every Win32
# way of deleting either acts on the target; so under Wine the links, and the
# directories above them, stay. Nothing outside the tree may change and
# nothing else may be left. Four cases: the launcher's removal (remove-tree)
# on such a tree and on a tree that is itself a link; a whole silent launcher
# run whose temporary KESTRUNE directory holds the links, and one where
# KESTRUNE itself is a link: each leaves what it cannot remove alone and
# installs from a sibling of its own. Then the removal while a subdirectory
# is swapped for a link, a run into a -d directory holding a link named like
# a folder of the package, which unzip.exe must not write through, a run
# into a -d directory that is itself a link, and the link that is
# unzip.exe's destination retargeted while it writes.
#
#   links_test.sh REMOVE_TREE SETUP UNZIP PACKAGE_ZIP RECORD_BOXES [WINE]
#
# WINEPREFIX comes from the environment (scripts/wine-env.sh). Wine is never
# given a pipe as stdout or stderr.
set -u
remove_tree=$1 setup=$2 unzip=$3 package=$4 recorder=$5
wine=${6:-${KESTRUNE_WINE:-wine}}
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEDEBUG=${WINEDEBUG:--all}

name=links-$$
base=$WINEPREFIX/drive_c/kestrune-tests/$name
win_base='C:\kestrune-tests\'$name
rm -rf "$base"
mkdir -p "$base"
trap 'rm -rf "$base"' EXIT
# fail, windows_path (a Linux path outside the prefix, as drive Z: shows it).
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
failures=0

run_wine() {
    timeout 180 "$wine" "$@" </dev/null >>"$base/wine.log" 2>&1
}

# Outside the trees, made anew for each case: a directory with files, an
# empty one, a lone file.
outside=$base/outside
make_outside() {
    rm -rf "$outside"
    mkdir -p "$outside/full/inner" "$outside/empty"
    echo "outside data" >"$outside/full/data.txt"
    echo "more outside data" >"$outside/full/inner/more.txt"
    echo "an outside file" >"$outside/file.txt"
    outside_before=$(outside_state)
}

outside_state() {
    (cd "$outside" && find . -printf '%y %p %s %T@ %l\n' | sort)
}

# Ordinary content beside every kind of link.
lay_out_links() {  # tree
    local tree=$1
    mkdir -p "$tree/sub/deeper" "$tree/plain/empty"
    echo a >"$tree/a.txt"
    echo b >"$tree/sub/b.txt"
    echo c >"$tree/sub/deeper/c.txt"
    ln -s . "$tree/sub/own-parent"             # the directory the link stands in
    ln -s ../.. "$tree/sub/deeper/loop"        # back to the top of the tree
    ln -s "$outside/full" "$tree/full-outside" # a directory outside, with files
    ln -s ../../outside/empty "$tree/sub/empty-outside"  # an empty one, relative
    ln -s "$outside/file.txt" "$tree/file-outside.txt"
    ln -s /nonexistent-kestrune-target "$tree/dangling"
}

# Nothing outside changed, no plain file is left in the tree, and every
# directory left holds a link somewhere below it (a reason to stay).
check_tree() {  # what tree
    local what=$1 tree=$2 dir
    [ "$(outside_state)" = "$outside_before" ] ||
        fail "$what: the outside tree changed: $(diff <(echo "$outside_before") <(outside_state) | tr '\n' ' ')"
    [ -z "$(find "$tree" -type f 2>/dev/null)" ] ||
        fail "$what: files left: $(find "$tree" -type f | tr '\n' ' ')"
    while IFS= read -r dir; do
        [ -n "$(find "$dir" -type l)" ] || fail "$what: directory left with no link below it: $dir"
    done < <(find "$tree" -type d 2>/dev/null)
}

# 1. The launcher's removal on a tree holding every kind of link.
make_outside
lay_out_links "$base/tree"
run_wine "$remove_tree" "$win_base\\tree" || fail "remove-tree ended with $?"
check_tree "removal" "$base/tree"

# 2. The removal given a tree that is itself a link to a directory outside.
make_outside
ln -s "$outside/full" "$base/top-link"
run_wine "$remove_tree" "$win_base\\top-link" || fail "remove-tree on a link ended with $?"
check_tree "removal of a link" "$base/top-link"

# A whole silent run of the launcher from a medium in $base/m, with the
# temporary directory $base/t; sets $record (the recorder's lines) and $ran
# (the programs the children's log names).
mkdir -p "$base/m" "$base/t"
cp "$setup" "$base/m/setup.exe"
cp "$unzip" "$base/m/unzip.exe"
cp "$package" "$base/m/package.zip"
work="$win_base\\t\\KESTRUNE"
run_launcher() {  # [switches, default -s] [temporary directory below $base, default t]
    local switches=${1:--s} temp=${2:-t}
    rm -f "$base/boxes.txt" "$base/children.log"
    printf '%s\r\n' \
        '@echo off' \
        "set TMP=$win_base\\$temp\\" \
        "set TEMP=$win_base\\$temp\\" \
        "set KESTRUNE_CHILD_LOG=$win_base\\children.log" \
        "\"$(windows_path "$recorder")\" --out $win_base\\boxes.txt -- \"$win_base\\m\\setup.exe\" $switches" \
        >"$base/run.cmd"
    run_wine cmd /c "$win_base\\run.cmd"
    record=$(tr -d '\r' <"$base/boxes.txt" 2>/dev/null | tr '\n' '|')
    ran=$(grep '^run: ' "$base/children.log" 2>/dev/null | tr -d '\r' | tr '\n' '|')
}
check_medium() {  # what
    [ "$(ls -A "$base/m" | tr '\n' ' ')" = "package.zip setup.exe unzip.exe " ] || fail "$1: the medium changed"
}
# The package's SETUP.EXE and script ran from a sibling KESTRUNE.XXXXXXXX,
# which is gone again.
check_sibling_run() {  # what
    local sibling
    sibling=$(sed -n 's/^run: .*\\\(KESTRUNE\.[0-9A-F]\{8\}\)\\SETUP\.EXE|.*/\1/p' <<<"$ran")
    [ -n "$sibling" ] || fail "$1: children $ran, not the package's from a sibling"
    [ "$ran" = "run: $work.${sibling#KESTRUNE.}\\SETUP.EXE|run: $work.${sibling#KESTRUNE.}\\PostProcess.cmd|" ] ||
        fail "$1: children $ran"
    [ -z "$(ls -d "$base"/t/KESTRUNE.* 2>/dev/null)" ] || fail "$1: left $(ls -d "$base"/t/KESTRUNE.*)"
}

# 3. The temporary work directory already holds the links, left by an
#    earlier run. It is emptied before anything is extracted; a run uses only
#    a work directory it made itself. Windows removes the links as links and
#    the run goes on in it; under Wine they stay, with the directories above
#    them, and the run installs from a sibling of its own.
make_outside
lay_out_links "$base/t/KESTRUNE"
run_launcher
[ "$record" = "exit: 1|" ] || fail "run: recorded $record"
check_sibling_run "run"
check_tree "run" "$base/t/KESTRUNE"
check_medium "run"

# 4. The temporary work directory is itself a link to a directory outside:
#    nothing is extracted through it, nothing outside changes, the link
#    stays, and the run installs from a sibling of its own.
make_outside
rm -rf "$base/t/KESTRUNE"
ln -s "$outside/full" "$base/t/KESTRUNE"
for switches in -s "-s -v"; do
    run_launcher "$switches"
    [ "${record: -8}" = "exit: 1|" ] || fail "run beside a link ($switches): recorded $record"
    check_sibling_run "run beside a link ($switches)"
    check_tree "run beside a link ($switches)" "$base/t/KESTRUNE"
    [ -L "$base/t/KESTRUNE" ] || fail "run beside a link ($switches): the link went"
    check_medium "run beside a link ($switches)"
done
rm "$base/t/KESTRUNE"

# 4b. The temporary directory itself is a link, as when TEMP was moved to
#     another drive: the user's own arrangement. Two runs in a row each
#     install and leave no work directory behind.
mkdir -p "$base/t-real"
ln -s "$base/t-real" "$base/t-link"
for attempt in 1 2; do
    make_outside
    run_launcher -s t-link
    [ "$record" = "exit: 1|" ] || fail "linked TEMP, run $attempt: recorded $record"
    [ "$ran" = "run: $win_base\\t-link\\KESTRUNE\\SETUP.EXE|run: $win_base\\t-link\\KESTRUNE\\PostProcess.cmd|" ] ||
        fail "linked TEMP, run $attempt: children $ran"
    [ ! -e "$base/t-real/KESTRUNE" ] || fail "linked TEMP, run $attempt: the work directory was left"
    check_medium "linked TEMP"
done

# 5. The removal while a helper keeps swapping a subdirectory of the tree
#    with a link to a directory outside that holds files of the same names,
#    and back (a fixed number of swaps, then it stops). remove-tree asks for
#    the swaps in step with the walk: the tree as it is whenever the walk
#    checks where an entry stands, the link right after it checked a file.
#    A walk that checks and then deletes by path deletes the outside files.
#    Several rounds, with different numbers of files.
swap_outside=$base/swap-outside
swap_tree=$base/swap-tree
swap_request=$base/swap-request
for round in 1 2 3; do
    swap_names=$(seq -f 'f%02g.txt' 1 $((round * 10)))
    rm -rf "$swap_outside" "$swap_tree" "$swap_request"
    mkdir -p "$swap_outside" "$swap_tree/sub"
    for name in $swap_names; do
        echo "outside $name" >"$swap_outside/$name"
        echo "inside $name" >"$swap_tree/sub/$name"
    done
    # The helper: sets the state asked for, at most 1000 times or for 120 s.
    python3 - "$swap_tree/sub" "$swap_outside" "$swap_request" <<'HELPER' &
import os, sys, time
sub, outside, request = sys.argv[1], sys.argv[2], sys.argv[3]
aside = sub + ".tree"
deadline = time.monotonic() + 120
requests = 0
while requests < 1000 and time.monotonic() < deadline:
    try:
        with open(request) as asked:
            state = asked.read()
    except OSError:
        time.sleep(0.0005)
        continue
    if state not in ("tree", "link"):
        continue
    requests += 1
    if state == "link" and not os.path.islink(sub) and os.path.isdir(sub):
        os.rename(sub, aside)
        os.symlink(outside, sub)
    elif state == "tree" and os.path.islink(sub):
        os.unlink(sub)
        os.rename(aside, sub)
    os.remove(request)
HELPER
    swapper=$!
    run_wine "$remove_tree" "$win_base\\swap-tree" --swap-at-checks "$win_base\\swap-request" 400 ||
        fail "swap round $round: remove-tree ended with $?"
    kill "$swapper" 2>/dev/null
    wait "$swapper" 2>/dev/null
    left=0
    for name in $swap_names; do
        [ "$(cat "$swap_outside/$name" 2>/dev/null)" = "outside $name" ] || left=$((left + 1))
    done
    [ "$left" -eq 0 ] || fail "swap round $round: $left files outside were deleted through the swapped link"
    [ -d "$swap_outside" ] || fail "swap round $round: the outside directory went"
    if [ -L "$swap_tree/sub" ]; then rm "$swap_tree/sub"; fi
done

# 6. A -d directory that already holds a link named like a folder of the
#    package (docs, which holds readme.txt): unzip.exe writes nothing through
#    it and refuses those entries, so the extraction has failed and nothing
#    runs; nothing outside changes, and the link stays.
make_outside
mkdir -p "$base/keep"
ln -s "$outside/full" "$base/keep/docs"
run_launcher "-s -d$win_base\\keep"
[ "$record" = "exit: 1|" ] || fail "run into a kept directory: recorded $record"
[ -z "$ran" ] || fail "run into a kept directory: children $ran"
[ "$(outside_state)" = "$outside_before" ] ||
    fail "run into a kept directory: the outside changed: $(diff <(echo "$outside_before") <(outside_state) | tr '\n' ' ')"
[ -L "$base/keep/docs" ] || fail "run into a kept directory: the link was replaced"
check_medium "run into a kept directory"

# 7. A -d directory that is itself a link to a directory outside: refused
#    before anything is extracted through it; nothing runs, nothing outside
#    changes, and the link stays.
make_outside
ln -s "$outside/empty" "$base/keep-link"
run_launcher "-s -v -d$win_base\\keep-link"
grep -q 'The work directory is a link\.' <<<"$record" || fail "run into a -d link: no reason in $record"
[ -z "$ran" ] || fail "run into a -d link: children $ran"
[ "$(outside_state)" = "$outside_before" ] ||
    fail "run into a -d link: the outside changed: $(diff <(echo "$outside_before") <(outside_state) | tr '\n' ' ')"
[ -L "$base/keep-link" ] || fail "run into a -d link: the link went"
check_medium "run into a -d link"

# 8. The destination is a link, retargeted while unzip.exe writes: a user
#    who owns a junction may point it elsewhere at any time, whoever holds
#    its target open. unzip.exe opened the destination once, following the
#    link (the caller's choice), and makes everything relative to the folder
#    it holds, so every file lands there; a tool that joins each file's path
#    to the destination's sends the rest through the retargeted link. Only
#    the Linux side can retarget a link under Wine (Wine's CreateSymbolicLink
#    makes none, and its MoveFileEx on a link moves the target), and no share
#    mode is involved: the link itself is held by nobody. A watcher started
#    first retargets the link the moment anything appears in the first
#    folder; the first entry is 64 MiB, so much is still to be written then.
retarget=$base/retarget
mkdir -p "$retarget/first" "$retarget/second" "$retarget/files"
head -c $((64 << 20)) /dev/zero >"$retarget/files/000-large.bin"
for i in $(seq -w 1 299); do echo "file $i" >"$retarget/files/f$i.txt"; done
(cd "$retarget/files" && zip -q "$retarget/package.zip" 000-large.bin f*.txt) || fail "retarget: zip failed"
ln -s "$retarget/first" "$retarget/dest"
python3 - "$retarget/first" "$retarget/second" "$retarget/dest" "$retarget/ready" <<'WATCHER' &
import os, sys, time
first, second, link, ready = sys.argv[1:5]
open(ready, "w").close()
deadline = time.monotonic() + 120
while time.monotonic() < deadline:
    if os.listdir(first):
        os.symlink(second, link + ".new")
        os.rename(link + ".new", link)
        break
    time.sleep(0.0002)
WATCHER
watcher=$!
# Python may start slower than unzip.exe runs.
for _ in $(seq 600); do [ -e "$retarget/ready" ] && break; sleep 0.05; done
run_wine "$unzip" "$win_base\\retarget\\package.zip" -d "$win_base\\retarget\\dest"
code=$?
wait "$watcher"
[ "$code" -eq 0 ] || fail "retargeted destination: unzip.exe ended with $code"
[ -L "$retarget/dest" ] && [ "$(readlink "$retarget/dest")" = "$retarget/second" ] ||
    fail "retargeted destination: the watcher never retargeted the link"
[ -z "$(ls -A "$retarget/second")" ] ||
    fail "retargeted destination: $(ls -A "$retarget/second" | wc -l) files landed in the other folder"
[ "$(ls -A "$retarget/first" | wc -l)" -eq 300 ] ||
    fail "retargeted destination: $(ls -A "$retarget/first" | wc -l) of 300 files in the folder unzip.exe opened"
cmp -s "$retarget/files/f150.txt" "$retarget/first/f150.txt" || fail "retargeted destination: f150.txt differs"
rm -rf "$retarget"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s); Wine said:"
    cat "$base/wine.log"
    exit 1
fi
echo "links: all checks passed"
