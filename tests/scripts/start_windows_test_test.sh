#!/usr/bin/env bash
# tests/start_windows_test.sh, ctest's way of starting a Windows test program,
# with a stand-in for Wine: a program that left no start mark is started
# again, at most three times; one that started is never started twice, and
# its exit status is the test's.
set -u
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$repo/scripts/lib.sh"
failures=0
work=$(mktemp -d "${TMPDIR:-/tmp}/start-windows-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The stand-in: its first FAILS starts end with 5 before the program runs;
# after that the program runs: it marks its start as the test programs do
# (the Windows path Wine would give it, Z: the root) and ends with 7.
cat >"$work/wine" <<'WINE'
#!/usr/bin/env bash
count=$(($(cat "$COUNT" 2>/dev/null || echo 0) + 1))
echo "$count" >"$COUNT"
[ "$count" -le "$FAILS" ] && exit 5
mark=${KESTRUNE_TEST_STARTED#Z:}
: >"${mark//\\//}"
exit 7
WINE
chmod +x "$work/wine"

while read -r fails expected_status expected_starts; do
    rm -f "$work/count"
    TMPDIR=$work COUNT=$work/count FAILS=$fails KESTRUNE_START_RETRY_SECONDS=0 \
        bash "$repo/tests/start_windows_test.sh" "$work/wine" program.exe --gtest_filter=X 2>/dev/null
    status=$?
    starts=$(cat "$work/count")
    [ "$status" = "$expected_status" ] && [ "$starts" = "$expected_starts" ] ||
        fail "$fails failed starts: status $status after $starts starts, expected $expected_status after $expected_starts"
done <<'CASES'
0 7 1
1 7 2
2 7 3
3 5 3
9 5 3
CASES
ls "$work" | grep -q kestrune-started && fail "a start mark was left behind"

[ "$failures" -eq 0 ] && echo "start_windows_test: all cases pass"
exit $((failures > 0))
