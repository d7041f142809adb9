#!/usr/bin/env bash
# End to end: kestrune-medium (the host tool) builds media from a payload
# folder with this build's launcher and extractor, checks them, and the
# launcher runs them under Wine. The payload's SETUP.EXE is the test child,
# which logs how it was started, and its PostProcess.cmd logs what it finds
# of the extracted files. Each run's command line is compared with the one
# `kestrune-medium check` predicts for the same directories. One medium is
# signed by `kestrune-medium sign` with a certificate and key made here by
# openssl (the key is removed once used): its signature must verify
# and its launcher must still see its marker. One more medium carries names
# beyond ASCII, an empty folder and files dated 1975 to 2150; a silent run
# into a -d directory leaves them behind to be compared with the payload.
#
# Usage: medium_e2e.sh TOOL SETUP_EXE UNZIP_EXE TEST_CHILD_EXE RECORD_BOXES_EXE WORK_DIR [WINE...]
# Exits 77 (skipped) when TOOL has not been built. WINEPREFIX and the other
# Wine settings come from the environment (scripts/wine-env.sh); Wine is
# never given a pipe as stdout or stderr, as it would hang.
set -u

tool=$1 launcher=$2 extractor=$3 child=$4 recorder=$5 work=$6
shift 6
wine=("$@")
[ ${#wine[@]} -gt 0 ] || wine=("${KESTRUNE_WINE:-wine}")
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

if [ ! -x "$tool" ]; then
    echo "SKIP: kestrune-medium is not built at $tool; build the host project" \
         "(scripts/build.sh does) or point KESTRUNE_HOST_DIR at its build directory"
    exit 77
fi
case "$work" in
    *[%^\&\|\<\>\"!]*) echo "FAIL: the work directory $work holds characters a batch file cannot quote"; exit 1 ;;
esac

# fail, windows_path, write_logger_script.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
failures=0

# The value of the first "KEY: value" line of a log in the test child's
# format; its lines end in CR LF.
log_value() {  # log key [occurrence]
    grep "^$2: " "$1" 2>/dev/null | sed -n "${3:-1}p" | cut -d' ' -f2- | tr -d '\r'
}

# What `check` printed after "WHAT: ", without its " [n of 259 characters]"
# and without the single quotes around a path.
check_value() {  # report what
    awk -v what="$2: " 'index($0, what) == 1 { print substr($0, length(what) + 1); exit }' "$1" |
        sed -E "s/ \\[[0-9]+ of 259 characters\\]$//; s/^'(.*)'$/\\1/"
}

rm -rf "$work"
mkdir -p "$work/payload/docs"
cp "$child" "$work/payload/SETUP.EXE"
echo "extracted data" >"$work/payload/docs/readme.txt"
write_logger_script "$work/payload/PostProcess.cmd" \
    'if exist "%~dp0docs\readme.txt" echo readme: present>> "%KESTRUNE_CHILD_LOG%"'
# Real payload folders are years old; the folder's entry must still extract.
touch -d '2020-01-01 10:00' "$work/payload/docs"
# Windows finds SETUP.EXE in any case: the same payload with a setup.exe.
cp -a "$work/payload" "$work/payload-lower"
mv "$work/payload-lower/SETUP.EXE" "$work/payload-lower/setup.exe"

build_medium() {  # name, extra build arguments...; PAYLOAD= another payload folder
    local name=$1
    shift
    if ! "$tool" build "${PAYLOAD:-$work/payload}" --out "$work/$name" --launcher "$launcher" --extractor "$extractor" "$@" \
            >"$work/$name.build.txt" 2>&1; then
        fail "build of $name failed:"
        cat "$work/$name.build.txt"
        return 1
    fi
}

# Checks a medium for the directories its run will use; the report goes to
# WORK/NAME.check.txt.
check_medium() {  # name
    local name=$1
    mkdir -p "$work/$name-temp"
    if ! "$tool" check "$work/$name" --package-dir "$(windows_path "$work/$name")" \
            --temp "$(windows_path "$work/$name-temp")\\" >"$work/$name.check.txt" 2>&1; then
        fail "check of $name found problems:"
        cat "$work/$name.check.txt"
    fi
}

# Runs NAME/setup.exe with ARGUMENTS through record-boxes, from a batch file:
# Wine sets TEMP and TMP from its registry for a program it starts, so they
# are set inside Windows, where the launcher inherits them.
run_medium() {  # name, arguments
    local name=$1 arguments=$2
    local script="$work/$name.run.cmd"
    rm -f "$work/$name.children.log" "$work/$name.boxes.txt"
    printf '%s\r\n' \
        '@echo off' \
        "set TEMP=$(windows_path "$work/$name-temp")" \
        "set TMP=$(windows_path "$work/$name-temp")" \
        "set KESTRUNE_CHILD_LOG=$(windows_path "$work/$name.children.log")" \
        "\"$(windows_path "$recorder")\" --leave \"Copying Files. Please wait.\" --out \"$(windows_path "$work/$name.boxes.txt")\" -- \"$(windows_path "$work/$name")\\setup.exe\" $arguments" \
        'exit /b %ERRORLEVEL%' >"$script"
    "${wine[@]}" cmd /c "$(windows_path "$script")" >"$work/$name.wine.txt" 2>&1 </dev/null
}

# One medium, one run: what ran, from where, with which command line, and
# what the launcher left behind.
expect_run() {  # name, arguments, expected setup arguments (after the program's quoted path)
    local name=$1 arguments=$2 setup_arguments=$3
    local log="$work/$name.children.log"
    check_medium "$name"
    run_medium "$name" "$arguments"
    local work_directory
    work_directory=$(check_value "$work/$name.check.txt" "work directory")
    local predicted
    if [ -n "$arguments" ]; then
        predicted=$(check_value "$work/$name.check.txt" "silent setup command (-s)")
    else
        predicted=$(check_value "$work/$name.check.txt" "interactive setup command")
    fi

    [ -f "$log" ] || { fail "$name: nothing ran (no child log); boxes: $(cat "$work/$name.boxes.txt" 2>/dev/null)"; return; }
    # Windows names are compared without case: setup.exe is run as SETUP.EXE.
    local ran
    ran=$(log_value "$log" run)
    [ "${ran,,}" = "${work_directory,,}\\setup.exe" ] ||
        fail "$name: ran '$(log_value "$log" run)', not $work_directory\\SETUP.EXE"
    [ "$(log_value "$log" commandLine)" = "\"$work_directory\\SETUP.EXE\"$setup_arguments" ] ||
        fail "$name: command line '$(log_value "$log" commandLine)', not \"$work_directory\\SETUP.EXE\"$setup_arguments"
    [ "$(log_value "$log" commandLine)" = "$predicted" ] ||
        fail "$name: command line '$(log_value "$log" commandLine)' differs from check's '$predicted'"
    [ "$(log_value "$log" currentDirectory)" = "$work_directory" ] ||
        fail "$name: SETUP.EXE ran in '$(log_value "$log" currentDirectory)', not $work_directory"
    [ "$(log_value "$log" run 2)" = "$work_directory\\PostProcess.cmd" ] ||
        fail "$name: PostProcess.cmd did not run after SETUP.EXE (log: $(tr -d '\r' <"$log" | tr '\n' '|'))"
    [ "$(log_value "$log" readme)" = "present" ] ||
        fail "$name: PostProcess.cmd found no docs\\readme.txt among the extracted files"
    [ ! -e "$work/$name-temp/KESTRUNE" ] || fail "$name: the temporary work directory was left behind"
    grep -q '^exit: ' "$work/$name.boxes.txt" 2>/dev/null ||
        fail "$name: record-boxes saw no end of the launcher: $(cat "$work/$name.boxes.txt" 2>/dev/null)"
}

# A code-signing certificate and key for this run only.
make_signer() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Kestrune E2E Publisher" \
        -addext extendedKeyUsage=codeSigning -keyout "$work/signer-key.pem" -out "$work/signer-cert.pem" \
        >"$work/signer.txt" 2>&1 || { fail "openssl could not make a certificate:"; cat "$work/signer.txt"; }
}

start=$SECONDS
build_medium msi --marker msi.tag
build_medium plain
build_medium interactive
build_medium signed --marker msi.tag
PAYLOAD="$work/payload-lower" build_medium lower
make_signer
if ! "$tool" sign "$work/signed" --cert "$work/signer-cert.pem" --key "$work/signer-key.pem" \
        >"$work/signed.sign.txt" 2>&1; then
    fail "sign failed: $(cat "$work/signed.sign.txt")"
fi
rm -f "$work/signer-key.pem"  # no longer needed; never kept
for program in setup.exe unzip.exe; do
    osslsigncode verify -CAfile "$work/signer-cert.pem" -in "$work/signed/$program" >"$work/signed.$program.verify.txt" 2>&1 &&
        grep -q '^Signature verification: ok' "$work/signed.$program.verify.txt" ||
        fail "osslsigncode verify does not pass the signed $program: $(grep -E 'verification|MISMATCH|Error' "$work/signed.$program.verify.txt")"
done
"$tool" markers "$work/signed/setup.exe" --ca-file "$work/signer-cert.pem" >"$work/signed.markers.txt" 2>&1 ||
    fail "markers finds problems in the signed setup.exe: $(cat "$work/signed.markers.txt")"
grep -q '^marker: msi.tag$' "$work/signed.markers.txt" || fail "markers does not list msi.tag in the signed setup.exe"

"$tool" markers "$work/msi/setup.exe" >"$work/msi.markers.txt" 2>&1
grep -q '^marker: msi.tag$' "$work/msi.markers.txt" || fail "markers does not list msi.tag: $(cat "$work/msi.markers.txt")"

# A silent run takes the MSI quiet form only with the marker.
expect_run msi "-s" " /qn REBOOT=ReallySuppress"
expect_run plain "-s" " -s -SMS"
expect_run interactive "" ""
expect_run lower "-s" " -s -SMS"
grep -q "^SETUP.EXE: at the archive root as 'setup.exe'" "$work/lower.check.txt" ||
    fail "check does not note the spelling of setup.exe: $(cat "$work/lower.check.txt")"
# The signed launcher reads its marker from inside its signature.
expect_run signed "-s" " /qn REBOOT=ReallySuppress"

# Names as packed and times as packed. Times go in as UTC seconds; an entry
# keeps 1901-12-13 20:45:52 to 2106-02-07 06:28:15 (beyond it, the nearer
# end: build and check say so), and 1850 is already 1901 on this file
# system. Folders (a final /) get theirs after their files are written, so
# they are set last here too. Each line: name|time given|time expected.
names_table='name with blanks.txt|981173107|981173107
café.txt|170856001|170856001
Größe/日本語.txt|2208988803|2208988803
😀 emoji.txt|5680281600|4294967295
old.txt|-3786825600|-2147483648
Größe/|946684799|946684799
empty folder/|1577872800|1577872800'
names_payload=$work/names-payload
mkdir -p "$names_payload"
cp "$child" "$names_payload/SETUP.EXE"
while IFS='|' read -r name given expected; do
    mkdir -p "$(dirname "$names_payload/$name")"
    if [ "${name%/}" != "$name" ]; then mkdir -p "$names_payload/$name"; else echo "data of $name" >"$names_payload/$name"; fi
done <<<"$names_table"
while IFS='|' read -r name given expected; do touch -h -d "@$given" "$names_payload/${name%/}"; done <<<"$names_table"
if ! "$tool" build "$names_payload" --out "$work/names" --launcher "$launcher" --extractor "$extractor" \
        >"$work/names.build.txt" 2>&1; then
    fail "build of the names medium failed: $(cat "$work/names.build.txt")"
fi
grep -q "warning: payload file '😀 emoji.txt': dated 2150-01-01 00:00:00 UTC; .* packed as 2106-02-07 06:28:15 UTC" \
    "$work/names.build.txt" || fail "build did not name the file dated 2150: $(cat "$work/names.build.txt")"
check_medium names
grep -q "warning: 'old.txt': dated 1901-12-13 20:45:52 UTC, the earliest time" "$work/names.check.txt" ||
    fail "check did not name the file dated at the earliest time: $(cat "$work/names.check.txt")"
grep -q "beyond ASCII" "$work/names.check.txt" && fail "check warns of names that arrive as packed"
kept=$work/names-kept
run_medium names "-s -d$(windows_path "$kept")"
[ -f "$work/names.children.log" ] || fail "names: SETUP.EXE did not run: $(cat "$work/names.boxes.txt" 2>/dev/null)"
while IFS='|' read -r name given expected; do
    name=${name%/}
    if [ ! -e "$kept/$name" ]; then
        fail "names: '$name' did not arrive as packed; there are: $(cd "$kept" && find . | tr '\n' ' ')"
    elif [ "$(stat -c %Y "$kept/$name")" != "$expected" ]; then
        fail "names: '$name' is dated $(stat -c %Y "$kept/$name"), packed as $expected"
    elif [ -f "$kept/$name" ] && ! cmp -s "$kept/$name" "$names_payload/$name"; then
        fail "names: '$name' differs from the payload's"
    fi
done <<<"$names_table"
[ -z "$(ls -A "$kept/empty folder" 2>/dev/null)" ] || fail "names: the empty folder did not arrive empty"

echo "medium e2e: $failures failures, $((SECONDS - start)) s"
[ "$failures" -eq 0 ]
