#!/usr/bin/env python3
"""Makes the manual page of kestrune-medium from the program's own help.

Usage: make_manual_page.py PROGRAM OUTPUT.1.gz [INSTALLED_FOLDER]

Runs `PROGRAM --version`, `PROGRAM help` and `PROGRAM help COMMAND` for every
command the overview lists, and writes them as a gzipped man page: the
synopsis of each command, then each command's help under its name. The
help's own line breaks are kept where they lay out a list of options; its
paragraphs are left to the formatter to fill. INSTALLED_FOLDER is where the
program finds its default setup.exe and unzip.exe, relative to its folder.
"""
import gzip
import os
import re
import subprocess
import sys


def run(program, *arguments):
    result = subprocess.run([program, *arguments], stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"make_manual_page.py: {program} {' '.join(arguments)} ended with {result.returncode}: "
                 f"{result.stderr.strip()}")
    return result.stdout


def blocks(text):
    """The text's blocks of lines, split at blank lines."""
    found, current = [], []
    for line in text.rstrip("\n").split("\n"):
        if line.strip():
            current.append(line.rstrip())
        elif current:
            found.append(current)
            current = []
    if current:
        found.append(current)
    return found


def indent(line):
    return len(line) - len(line.lstrip(" "))


def escaped(text):
    """Text as roff prints it: backslashes and hyphen-minus kept as typed."""
    return text.replace("\\", "\\e").replace("-", "\\-")


def text_line(text):
    line = escaped(text)
    return "\\&" + line if line.startswith((".", "'")) else line


def synopses(overview):
    """The overview's command synopses, each joined into one line, and the
    blocks that are not the usage line or the synopses."""
    commands, other = [], []
    for block in blocks(overview):
        if block[0].startswith("usage:") and len(block) == 1:
            continue
        if all(indent(line) > 0 for line in block) and not commands:
            first = min(indent(line) for line in block)
            for line in block:
                if indent(line) == first:
                    commands.append(line.strip())
                else:
                    commands[-1] += " " + line.strip()
        else:
            other.append(block)
    return commands, other


def render_block(block):
    """Lines at the left margin make a filled paragraph; indented ones a
    list of terms, each followed by two blanks and its description, with
    the description's further lines indented deeper."""
    out = []
    margin = min(indent(line) for line in block)
    term_indent = None
    for line in block:
        if indent(line) == margin and margin == 0:
            if term_indent is not None or not out:
                out.append(".PP")
            term_indent = None
            out.append(text_line(line.strip()))
            continue
        if term_indent is None or indent(line) <= term_indent:
            term_indent = indent(line)
            match = re.match(r"(\S.*?)(?: {2,}(\S.*))?$", line.strip())
            term, description = match.group(1), match.group(2)
            word, _, rest = term.partition(" ")
            out.append(".TP")
            out.append("\\fB" + escaped(word) + "\\fR" + (" " + escaped(rest) if rest else ""))
            if description:
                out.append(text_line(description))
        else:
            out.append(text_line(line.strip()))
    return out


def common_ending(texts):
    """The blocks every text ends with: the footer each help repeats."""
    ending = texts[0]
    for text in texts[1:]:
        count = 0
        while count < min(len(ending), len(text)) and ending[len(ending) - 1 - count] == text[len(text) - 1 - count]:
            count += 1
        ending = ending[len(ending) - count:]
    return ending


def manual_page(program, installed_folder):
    version_lines = run(program, "--version").splitlines()
    version = version_lines[0].split()[-1] if version_lines else ""
    overview = run(program, "help")
    commands, other = synopses(overview)
    if not commands:
        sys.exit("make_manual_page.py: no commands in the output of 'help'")
    helps = [blocks(run(program, "help", synopsis.partition(" ")[0])) for synopsis in commands]
    footer = common_ending([blocks(overview)] + helps)

    page = [
        # No date: the page changes only with the help, and says its version.
        f'.TH "KESTRUNE\\-MEDIUM" "1" "" "kestrune {escaped(version)}" "kestrune"',
        # Paths and options are neither hyphenated nor spread out.
        ".nh",
        ".ad l",
        ".SH NAME",
        "kestrune\\-medium \\- makes, signs and checks distribution media of the kestrune launcher",
        ".SH SYNOPSIS",
    ]
    for synopsis in commands:
        name, _, rest = synopsis.partition(" ")
        page += [".PP", f"\\fBkestrune\\-medium {escaped(name)}\\fR {escaped(rest)}".rstrip()]
    page += [
        ".SH DESCRIPTION",
        "\\fBkestrune\\-medium\\fR lays out the distribution media of the kestrune launcher",
        "(setup.exe, unzip.exe and package.zip) as folders and disc images, marks and",
        "signs the launcher, and checks media. Each command is described below as",
        "\\fBkestrune\\-medium help\\fR \\fICOMMAND\\fR shows it.",
    ]
    for block in other:
        page += render_block(block)
    page.append(".SH COMMANDS")
    for synopsis, help_blocks in zip(commands, helps):
        name, _, rest = synopsis.partition(" ")
        page += [f".SS {escaped(name)}", f"\\fBkestrune\\-medium {escaped(name)}\\fR {escaped(rest)}".rstrip()]
        # Without its usage lines, which the heading repeats, and the footer.
        if help_blocks and help_blocks[0][0].startswith("usage:"):
            help_blocks = help_blocks[1:]
        for block in help_blocks[:len(help_blocks) - len(footer)]:
            page += render_block(block)
    if installed_folder:
        page += [".SH FILES"]
        for name, what, option in (("setup.exe", "the launcher", "launcher"),
                                   ("unzip.exe", "the extraction tool", "extractor")):
            page += [".TP", f"\\fI{escaped(installed_folder)}/{name}\\fR",
                     f"{what} that \\fBbuild\\fR puts on a medium when \\fB\\-\\-{option}\\fR names no other"]
        page += [".PP",
                 "Both are looked for from the folder kestrune\\-medium is in",
                 "(/usr/share/kestrune for /usr/bin/kestrune\\-medium);",
                 "\\fBkestrune\\-medium \\-\\-version\\fR shows where they were found."]
    page += [".SH SEE ALSO", "\\fBosslsigncode\\fR(1), \\fBxorriso\\fR(1), and the README.md and",
             "kestrune\\-medium.md of kestrune (in /usr/share/doc/kestrune when installed in /usr)."]
    return "\n".join(page) + "\n"


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__.strip().splitlines()[2])
    program, output = sys.argv[1], sys.argv[2]
    page = manual_page(program, sys.argv[3] if len(sys.argv) == 4 else "")
    temporary = output + ".part"
    # No name and no time in the gzip header: the same help gives the same file.
    with open(temporary, "wb") as raw, gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=raw,
                                                     mtime=0) as packed:
        packed.write(page.encode("utf-8"))
    os.replace(temporary, output)


if __name__ == "__main__":
    main()
