# Sourced by the project's shell scripts (scripts/, analysis/, fuzz/, bench/
# and the shell-driven tests): the helpers each of them would otherwise write
# again. Defines functions only; sets no shell options.

# Ends the script with a message on stderr.
die() {
    echo "$(basename "$0"): $*" >&2
    exit 1
}

# Runs a command with its output in LOG; when it fails, shows the end of the
# log and ends the script.
run_logged() {  # log command [arguments...]
    local log=$1
    shift
    "$@" >"$log" 2>&1 || { tail -n 60 "$log"; die "failed: $* (whole output in $log)"; }
}

# A failed check of a test script: reported, counted in $failures, and the
# script goes on to its other checks.
failures=${failures:-0}
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# A Linux path as Wine shows it on drive Z:, which maps /.
windows_path() {
    local path=${1//\//\\}
    printf 'Z:%s' "$path"
}

# Installs the Debian packages named that are not installed yet, through
# sudo when not root; does nothing (and needs no root) when all are. Says
# what it installs on stderr: stdout stays the calling script's.
install_missing_packages() {
    local package missing=() as_root=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    command -v apt-get >/dev/null 2>&1 || die "missing ${missing[*]} and no apt-get to install them"
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null 2>&1 || die "missing ${missing[*]}; install them as root"
        as_root=(sudo)
    fi
    echo "installing: ${missing[*]}" >&2
    # Another apt run on the machine holds its lock for a while: wait for it.
    local wait_for_lock=(-o DPkg::Lock::Timeout=300)
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${wait_for_lock[@]}" update -qq >&2
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${wait_for_lock[@]}" install -y -qq "${missing[@]}" \
        >/dev/null
}

# Writes a PostProcess.cmd that logs its run in the test child's format
# (tests/test_child): its own path and the current directory, to the file
# %KESTRUNE_CHILD_LOG% names; then any further lines given, CR LF ended.
write_logger_script() {  # file [extra batch lines...]
    local file=$1
    shift
    printf '%s\r\n' \
        '@echo off' \
        'echo run: %~f0>> "%KESTRUNE_CHILD_LOG%"' \
        'echo currentDirectory: %CD%>> "%KESTRUNE_CHILD_LOG%"' \
        "$@" \
        'echo end>> "%KESTRUNE_CHILD_LOG%"' >"$file"
}
