#!/usr/bin/env bash
# Readies the Wine prefix for the Windows tests, run by ctest before them:
# the prefix must exist (wine_up of scripts/wine-env.sh makes it), and drive
# M: is mapped to a folder of drive C:, for the test of a launcher at the root
# of a drive. WINEPREFIX comes from the tests' environment (set by CMake).
set -u
if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "FAIL: no Wine prefix at '${WINEPREFIX:-}'; configure the build after sourcing" \
         "scripts/wine-env.sh and run its wine_up first"
    exit 1
fi
mkdir -p "$WINEPREFIX/drive_c/kestrune-drive-m" &&
    ln -sfn ../drive_c/kestrune-drive-m "$WINEPREFIX/dosdevices/m:"
