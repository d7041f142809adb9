#!/usr/bin/env bash
# Runs one Windows test program for ctest, as the cross build's emulator:
#   start_windows_test.sh WINE PROGRAM [ARGUMENTS...]
# On a loaded machine Wine now and then fails to start a program at all: it
# ends at once, before a line of the program has run. Each test program marks
# its own start (tests/support/start_mark.cpp, in the file that
# KESTRUNE_TEST_STARTED names); only a program that left no mark is started
# again, at most three times in all. Once the program has started, its exit
# status is the test's, whatever it is: a test is never run twice.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib.sh"
wine=$1
shift
mark=$(mktemp -u "${TMPDIR:-/tmp}/kestrune-started.XXXXXX")
status=1
for attempt in 1 2 3; do
    KESTRUNE_TEST_STARTED=$(windows_path "$mark") "$wine" "$@"
    status=$?
    if [ -e "$mark" ]; then
        rm -f "$mark"
        exit "$status"
    fi
    echo "start_windows_test: Wine did not start $(basename "$1") (attempt $attempt, exit status $status)" >&2
    sleep "${KESTRUNE_START_RETRY_SECONDS:-2}"
done
exit "$status"
