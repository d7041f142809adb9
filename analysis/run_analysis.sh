#!/usr/bin/env bash
# Static analysis of the launcher (text/, launcher/, install/, process/) and
# the extraction tool (tools/unzip/) with cppcheck and clang-tidy-14:
#   bash analysis/run_analysis.sh [WORK_DIR]   (default /work/main/build/analysis)
# Each source is analysed for the target it is built for: the 32-bit MinGW
# target for the product (unzip.exe included), the host for the portable
# sources that the host build, the fuzzers and kestrune-unzip use. Unit tests
# are not analysed. Exits non-zero on any finding.
set -euo pipefail

analysis_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$analysis_dir/.." && pwd)"
work_dir="${1:-/work/main/build/analysis}"
mingw_cxx=i686-w64-mingw32-g++-posix
source "$root/scripts/lib.sh"

install_missing_packages cmake cppcheck clang-tidy-14 g++ g++-mingw-w64-i686 libz-mingw-w64-dev zlib1g-dev
start=$SECONDS
mkdir -p "$work_dir/generated" "$work_dir/cppcheck-windows" "$work_dir/cppcheck-host"
cd "$root"

# The generated header the installation code includes; the value is irrelevant here.
sed 's/@KESTRUNE_PACKAGE_PASSWORD@/analysis-password/' cmake/package_password.h.in \
    >"$work_dir/generated/package_password.h"

# The C++ library and Win32 headers of the cross compiler the build uses, so
# that clang sees what the product is compiled against; gcc's own builtin
# headers are left to clang's.
mingw_includes=()
while IFS= read -r directory; do
    case "$directory" in
        */include/c++* | */i686-w64-mingw32/include) mingw_includes+=(-isystem "$(realpath "$directory")") ;;
    esac
done < <("$mingw_cxx" -x c++ -E -v - </dev/null 2>&1 |
         sed -n '/#include <...> search starts here/,/End of search list/p' | sed -n 's/^ //p')
[ ${#mingw_includes[@]} -gt 0 ] || die "no include directories from $mingw_cxx"

# The portable sources, as the builds name them (cmake/PortableSources.cmake).
read -ra portable < <(cmake -P cmake/PortableSources.cmake)
# The host's replacements and additions: the POSIX file system and threads,
# the std-container forms of the reader, and main().
read -ra host_only < <(cmake -DLISTS=KESTRUNE_UNZIP_HOST_SOURCES -P cmake/PortableSources.cmake)
host_only+=(tools/unzip/main_posix.cpp)
[ ${#portable[@]} -gt 0 ] && [ ${#host_only[@]} -gt 1 ] || die "no portable sources from cmake/PortableSources.cmake"
# Every product and tool source but the unit tests and the host's own.
windows=()
while IFS= read -r file; do windows+=("$file"); done < <(
    git ls-files 'text/*.cpp' 'launcher/*.cpp' 'install/*.cpp' 'process/*.cpp' 'tools/unzip/*.cpp' |
    grep -v '_test\.cpp$' | grep -v '^tools/unzip/tests/' | grep -v -x -F "$(printf '%s\n' "${host_only[@]}")")
host=("${portable[@]}" "${host_only[@]}")

findings=0
common_flags=(-std=c++17 -I"$root" -I"$root/tools/unzip" -I"$work_dir/generated")

echo "cppcheck $(cppcheck --version | sed 's/^Cppcheck //')"
cppcheck_flags=(--quiet --error-exitcode=1 --enable=warning,performance,portability --inconclusive
                --std=c++17 --suppressions-list="$analysis_dir/cppcheck-suppressions.txt" -j2
                -I"$root" -I"$root/tools/unzip" -I"$work_dir/generated")
cppcheck "${cppcheck_flags[@]}" --platform=win32A --library=windows --cppcheck-build-dir="$work_dir/cppcheck-windows" \
    -D_WIN32 -DWIN32_LEAN_AND_MEAN -I/usr/i686-w64-mingw32/include "${windows[@]}" || findings=1
cppcheck "${cppcheck_flags[@]}" --platform=unix64 --library=posix --cppcheck-build-dir="$work_dir/cppcheck-host" \
    "${host[@]}" || findings=1

echo "clang-tidy $(clang-tidy-14 --version | sed -n 's/.*LLVM version //p')"
tidy() {
    local target="$1" file="$2"
    shift 2
    clang-tidy-14 --quiet --config-file="$analysis_dir/.clang-tidy" "$file" -- "$@" 2>/dev/null ||
        { echo "  ^ $file ($target)"; return 1; }
}
jobs_file="$work_dir/clang-tidy-jobs"
: >"$jobs_file"
for file in "${windows[@]}"; do printf 'windows\0%s\0' "$file" >>"$jobs_file"; done
for file in "${host[@]}"; do printf 'host\0%s\0' "$file" >>"$jobs_file"; done
export -f tidy
export analysis_dir
windows_flags="--target=i686-w64-mingw32 -DWIN32_LEAN_AND_MEAN ${mingw_includes[*]} ${common_flags[*]}"
host_flags="${common_flags[*]}"
export windows_flags host_flags
# Two at a time: the machine has two cores. Paths hold no blanks here, so the
# flag strings split safely.
xargs -0 -n2 -P2 bash -c 'if [ "$0" = windows ]; then tidy "$0" "$1" $windows_flags; else tidy "$0" "$1" $host_flags; fi' \
    <"$jobs_file" || findings=1

echo "analysed ${#windows[@]} sources for Windows, ${#host[@]} for the host in $((SECONDS - start)) s"
if [ "$findings" -ne 0 ]; then
    echo "analysis: findings above"
    exit 1
fi
echo "analysis: no findings"
