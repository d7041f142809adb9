# Sourced by the project's shell scripts (scripts/, analysis/, fuzz/, bench/
# and the shell-driven tests): the helpers each of them would otherwise write
# again. Defines functions only; sets no shell options.

# Ends the script with a message on stderr.
die() {
    echo "$(basename "$0"): $*" >&2
    exit 1
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

# Installs the Debian packages named that are not installed yet; does
# nothing (and needs no root) when all are.
install_missing_packages() {
    local package missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
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
