#!/usr/bin/env bash
# Runs the demo medium under Wine (called by scripts/demo.sh on a display).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/wine-env.sh"
build=$KESTRUNE_DEMO_BUILD demo=$KESTRUNE_DEMO_DIR
wine_up

drive_c=$WINEPREFIX/drive_c
medium=$drive_c/kestrune-demo/medium
product_dir="$drive_c/Program Files/Kestrune Demo Product"
rm -rf "$drive_c/kestrune-demo"
mkdir -p "$medium"
cp "$demo/medium/setup.exe" "$demo/medium/unzip.exe" "$demo/medium/package.zip" "$medium/"

run_medium() {  # label, launcher arguments
    local label=$1 arguments=$2 report=$drive_c/kestrune-demo/$1.txt
    rm -rf "$product_dir" "$drive_c/kestrune-demo/postprocess.log" "$drive_c/kestrune-demo/notice-up"
    "$KESTRUNE_WINE" "$build/tests/record-boxes.exe" --leave "Copying Files. Please wait." \
        --signal "Copying Files. Please wait." 'C:\kestrune-demo\notice-up' \
        --out "C:\\kestrune-demo\\$label.txt" -- 'C:\kestrune-demo\medium\setup.exe' $arguments \
        >/dev/null 2>&1 &
    local recorder=$!
    if [ "$label" = plain ]; then
        # Photograph the notice while the package is extracted.
        for _ in $(seq 1 600); do
            [ -e "$drive_c/kestrune-demo/notice-up" ] && break
            sleep 0.05
        done
        sleep 0.3
        xwd -root -silent -display "$DISPLAY" | convert xwd:- "$demo/progress-notice.png"
    fi
    wait "$recorder" || true

    echo "== run: setup.exe $arguments"
    sed 's/^/   /' "$report"
    echo "   command lines run:"
    grep -ho 'command line: .*' "$product_dir/install.log" 2>/dev/null | sed 's/^command line: /     SETUP.EXE: /' || echo "     SETUP.EXE: (did not run)"
    sed 's/^/     /' "$drive_c/kestrune-demo/postprocess.log" 2>/dev/null || echo "     PostProcess.cmd: (did not run)"
    echo "   installed:"
    if [ -d "$product_dir" ]; then
        (cd "$product_dir" && ls -1 | sed 's/^/     Program Files\\Kestrune Demo Product\\/')
        grep -ho 'mode=[a-z]*' "$product_dir/install.log" | sed 's/^/     install.log: /'
    else
        echo "     nothing"
    fi
    local left
    left=$(find "$drive_c/users" -maxdepth 3 -type d -name KESTRUNE 2>/dev/null | head -n 1)
    echo "   temporary work directory: ${left:+left behind at $left}${left:-gone}"
}

echo "Medium: C:\\kestrune-demo\\medium (setup.exe $(stat -c %s "$medium/setup.exe") bytes," \
     "unzip.exe, package.zip $(( $(stat -c %s "$medium/package.zip") / 1048576 )) MiB)"
run_medium plain ""
run_medium silent "-s"
echo "Screenshot of the progress notice: $demo/progress-notice.png"
wine_down
