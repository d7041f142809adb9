#!/usr/bin/env bash
# The Debian package as an author gets it (scripts/package.sh makes it):
# - lintian, where it is installed, finds no errors in it (the test does
#   not install it: it would add minutes to a run on a fresh machine);
# - it depends on the package of every library kestrune-medium links, and
#   recommends osslsigncode and xorriso, which it runs;
# - unpacked into a temporary root (dpkg-deb -x, no root needed), its
#   kestrune-medium, run from another folder with no --launcher and no
#   --extractor, makes a medium with the setup.exe and unzip.exe installed
#   beside it, and checks it;
# - its manual page renders (man -l) without warnings, with every command
#   and every option the program's help names.
#
# Usage: package_test.sh DEB
set -u
deb=$(realpath "$1")
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
failures=0
install_missing_packages man-db binutils

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"

# lintian: errors fail; warnings and the rest are shown.
if command -v lintian >/dev/null 2>&1; then
    if ! lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1; then
        fail "lintian reports errors:"
    fi
    cat "$work/lintian.txt"
else
    echo "lintian: not installed on this machine, so not run (apt install lintian to run it)"
fi

# The declared dependencies: a package for each library the program links.
dpkg-deb -x "$deb" "$root"
tool="$root/usr/bin/kestrune-medium"
depends=$(dpkg-deb -f "$deb" Depends)
recommends=$(dpkg-deb -f "$deb" Recommends)
echo "Depends: $depends"
echo "Recommends: $recommends"
# The package names of a relation field, one a line, without versions.
names_of() {
    sed 's/ *([^)]*)//g; s/ *| */\n/g; s/, */\n/g' <<<"$1"
}
while read -r library; do
    owner=$(dpkg -S "*/x86_64-linux-gnu/$library" 2>/dev/null | head -n 1 | cut -d: -f1 | cut -d, -f1)
    [ -n "$owner" ] || { fail "no package of this machine holds $library, which kestrune-medium links"; continue; }
    names_of "$depends" | grep -Fqx "$owner" || fail "Depends lacks $owner (for $library): $depends"
done < <(objdump -p "$tool" | awk '$1 == "NEEDED" { print $2 }')
names_of "$depends" | grep -q "^libzip" || fail "Depends lacks libzip: $depends"
for program in osslsigncode xorriso; do
    names_of "$recommends" | grep -Fqx "$program" || fail "Recommends lacks $program: $recommends"
done

# What the install lays out.
for file in usr/bin/kestrune-medium usr/share/kestrune/setup.exe usr/share/kestrune/unzip.exe \
        usr/share/man/man1/kestrune-medium.1.gz usr/share/doc/kestrune/copyright \
        usr/share/doc/kestrune/changelog.gz usr/share/doc/kestrune/README.md; do
    [ -f "$root/$file" ] || fail "the package lacks $file"
done

# The installed tool, from another folder, with its own defaults.
shared=$(realpath "$root/usr/share/kestrune")
elsewhere="$work/elsewhere"
mkdir -p "$elsewhere/payload/docs"
# A Windows program of the package stands in for the product's installer.
cp "$shared/unzip.exe" "$elsewhere/payload/SETUP.EXE"
echo "read me" >"$elsewhere/payload/docs/readme.txt"
if (cd "$elsewhere" && "$tool" build payload --out medium --marker msi.tag) >"$work/build.txt" 2>&1; then
    for name in setup.exe unzip.exe; do
        grep -Fq "$name: from '$shared/$name'" "$work/build.txt" || fail "build did not take $shared/$name"
    done
    cmp -s "$elsewhere/medium/unzip.exe" "$shared/unzip.exe" || fail "the medium's unzip.exe is not the installed one"
    cmp -s "$elsewhere/medium/setup.exe" <(cat "$shared/setup.exe"; printf 'msi.tag \r\n') ||
        fail "the medium's setup.exe is not the installed one with its marker"
    (cd "$elsewhere" && "$tool" check medium) >"$work/check.txt" 2>&1 || fail "check of the medium found problems"
    grep -q "^markers: msi.tag" "$work/check.txt" || fail "check does not see the marker"
else
    fail "the installed kestrune-medium could not build a medium"
fi
cat "$work/build.txt" "$work/check.txt" 2>/dev/null
"$tool" --version >"$work/version.txt" 2>&1 || fail "--version failed"
cat "$work/version.txt"
for name in setup.exe unzip.exe; do
    grep -Fqx "default $name: '$shared/$name'" "$work/version.txt" || fail "--version does not name $shared/$name"
done

# The manual page: no formatter warnings, every command and option of the help.
page="$root/usr/share/man/man1/kestrune-medium.1.gz"
if ! MANWIDTH=80 man --warnings -E UTF-8 -l "$page" >"$work/manual.txt" 2>"$work/manual-warnings.txt"; then
    fail "man -l could not render the manual page"
fi
if [ -s "$work/manual-warnings.txt" ]; then
    fail "the manual page renders with warnings:"
    cat "$work/manual-warnings.txt"
fi
commands=$("$tool" help | awk '/^  [a-z]/ { print $1 }')
[ -n "$commands" ] || fail "no commands in the help's overview"
for command in $commands; do
    grep -Eq "^ +$command\$" "$work/manual.txt" || fail "the manual page has no section on '$command'"
    for option in $("$tool" help "$command" | grep -Eo -- '--[a-z][a-z-]*' | sort -u); do
        grep -Fq -- "$option" "$work/manual.txt" || fail "the manual page lacks $option of $command"
    done
done

if [ "$failures" -ne 0 ]; then
    echo "package test: $failures failed"
    exit 1
fi
echo "package test: passed ($(wc -l <<<"$commands") commands in the manual page)"
