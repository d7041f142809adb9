#!/usr/bin/env python3
"""Crafts the hostile archives from two archives made by Info-ZIP zip.

    craft_archives.py BASE_ZIP PLAIN_ZIP OUT_DIR

BASE_ZIP holds SETUP.EXE, PostProcess.cmd and evil1..evil7; PLAIN_ZIP holds
SETUP.EXE and PostProcess.cmd. Entries are rewritten at the byte level: each
entry's local header gets its new name, the entry's data (and any data
descriptor) is copied unchanged, and the central directory is written anew,
where sizes may be replaced by lies.
"""
import struct
import sys
from pathlib import Path

LOCAL = 0x04034B50
CENTRAL = 0x02014B50
END = 0x06054B50


class Entry:
    def __init__(self, central, name, extra, comment, region):
        self.central = central  # the 46 fixed bytes of the central header
        self.name = name
        self.extra = extra
        self.comment = comment
        self.region = region  # local header to the next entry: header, data, descriptor


def read_entries(data):
    end = data.rfind(struct.pack("<I", END))
    count, size, offset = struct.unpack_from("<HII", data, end + 10)
    records = []
    at = offset
    for _ in range(count):
        assert struct.unpack_from("<I", data, at)[0] == CENTRAL
        name_length, extra_length, comment_length = struct.unpack_from("<HHH", data, at + 28)
        local_offset = struct.unpack_from("<I", data, at + 42)[0]
        start = at + 46
        name = data[start:start + name_length]
        extra = data[start + name_length:start + name_length + extra_length]
        comment = data[start + name_length + extra_length:start + name_length + extra_length + comment_length]
        records.append((bytearray(data[at:at + 46]), name, extra, comment, local_offset))
        at = start + name_length + extra_length + comment_length
    ends = sorted(r[4] for r in records) + [offset]
    entries = []
    for central, name, extra, comment, local_offset in records:
        region_end = ends[ends.index(local_offset) + 1]
        entries.append(Entry(central, name, extra, comment, data[local_offset:region_end]))
    return entries


UTF8_FLAG = 0x800


def renamed_region(region, name, flags):
    assert struct.unpack_from("<I", region, 0)[0] == LOCAL
    old_length = struct.unpack_from("<H", region, 26)[0]
    header = bytearray(region[:30])
    struct.pack_into("<H", header, 26, len(name))
    struct.pack_into("<H", header, 6, flags)
    return bytes(header) + name + region[30 + old_length:]


def write_archive(path, entries, sharing=()):
    """sharing: (name, index) pairs, further central records that point at the
    local header and data of entries[index] under another name."""
    body = bytearray()
    central = bytearray()
    offsets = []
    for entry in entries:
        header = bytearray(entry.central)
        region = renamed_region(entry.region, entry.name, struct.unpack_from("<H", header, 8)[0])
        struct.pack_into("<H", header, 28, len(entry.name))
        struct.pack_into("<I", header, 42, len(body))
        offsets.append(len(body))
        central += header + entry.name + entry.extra + entry.comment
        body += region
    for name, index in sharing:
        header = bytearray(entries[index].central)
        struct.pack_into("<HHH", header, 28, len(name), 0, 0)
        struct.pack_into("<I", header, 42, offsets[index])
        central += header + name
    count = len(entries) + len(sharing)
    end = struct.pack("<IHHHHIIH", END, 0, 0, count, count, len(central), len(body), 0)
    Path(path).write_bytes(bytes(body + central + end))


def with_names(entries, names, utf8=False):
    """names: the new name of each entry by its old name; others are dropped.
    With utf8, the names are written in UTF-8 and flagged so; else in
    latin-1 bytes, unflagged."""
    chosen = []
    for entry in entries:
        old = entry.name.decode()
        if old in names:
            central = bytearray(entry.central)
            if utf8:
                struct.pack_into("<H", central, 8, struct.unpack_from("<H", central, 8)[0] | UTF8_FLAG)
            entry = Entry(central, names[old].encode("utf-8" if utf8 else "latin-1"), entry.extra,
                          entry.comment, entry.region)
            chosen.append(entry)
    return chosen


def with_sizes(entries, which, compressed=None, uncompressed=None):
    """Central directory sizes replaced for the entries named in `which`."""
    changed = []
    for entry in entries:
        central = bytearray(entry.central)
        if entry.name.decode() in which:
            if compressed is not None:
                struct.pack_into("<I", central, 20, compressed)
            if uncompressed is not None:
                struct.pack_into("<I", central, 24, uncompressed)
        changed.append(Entry(central, entry.name, entry.extra, entry.comment, entry.region))
    return changed


def main():
    base = read_entries(Path(sys.argv[1]).read_bytes())
    plain_bytes = Path(sys.argv[2]).read_bytes()
    plain = read_entries(plain_bytes)
    out = Path(sys.argv[3])

    # Zip-slip names beside a sound SETUP.EXE and script.
    write_archive(out / "slip-beside-setup.zip", with_names(base, {
        "SETUP.EXE": "SETUP.EXE",
        "PostProcess.cmd": "PostProcess.cmd",
        "evil1": "../evil.txt",
        "evil2": "a/../../evil.txt",
        "evil3": "/abs.txt",
        "evil4": "C:evil.txt",
        "evil5": "..\\evil.txt",
        "evil6": "C:\\evil.txt",
        "evil7": "sub\\..\\..\\evil.txt",
    }))
    # SETUP.EXE and the script only under names that would leave the work
    # directory, so nothing may run.
    write_archive(out / "slip-setup.zip", with_names(base, {
        "SETUP.EXE": "../SETUP.EXE",
        "PostProcess.cmd": "..\\PostProcess.cmd",
        "evil1": "C:SETUP.EXE",
        "evil2": "/SETUP.EXE",
        "evil3": "a/../../SETUP.EXE",
        "evil4": "C:PostProcess.cmd",
    }))

    # One archive, two meanings on Windows: SETUP.EXE, then setup.exe and
    # SETUP.EXE. (Windows drops the dot), which the launcher would run
    # instead of the first.
    write_archive(out / "clashing-setup.zip", with_names(base, {
        "SETUP.EXE": "SETUP.EXE",
        "PostProcess.cmd": "PostProcess.cmd",
        "evil1": "setup.exe",
        "evil2": "SETUP.EXE.",
    }))
    # Device names with superscript port numbers (UTF-8 names) beside a
    # sound SETUP.EXE and script.
    write_archive(out / "superscript-devices.zip", with_names(base, {
        "SETUP.EXE": "SETUP.EXE",
        "PostProcess.cmd": "PostProcess.cmd",
        "evil1": "COM\u00b9",
        "evil2": "LPT\u00b2.txt",
        "evil3": "com\u00b3.log",
    }, utf8=True))
    # A decompression bomb: 40 more entries over SETUP.EXE's one stream.
    write_archive(out / "overlapping-setup.zip", plain,
                  [(b"copy%02d.exe" % i, 0) for i in range(40)])

    # Cut short, and empty.
    (out / "empty.zip").write_bytes(b"")
    for label, length in (("1", 1), ("30", 30), ("half", len(plain_bytes) // 2),
                          ("end-record", len(plain_bytes) - 1)):
        (out / f"cut-{label}.zip").write_bytes(plain_bytes[:length])

    # Sizes in the central directory that the data does not have: 4 GB
    # (just below the zip64 marker) or far too small.
    huge = 0xFFFFFFF0
    write_archive(out / "huge-uncompressed.zip", with_sizes(plain, {"SETUP.EXE", "PostProcess.cmd"}, uncompressed=huge))
    write_archive(out / "huge-compressed.zip", with_sizes(plain, {"SETUP.EXE", "PostProcess.cmd"}, compressed=huge))
    write_archive(out / "huge-setup.zip", with_sizes(plain, {"SETUP.EXE"}, compressed=huge, uncompressed=huge))
    write_archive(out / "small-setup.zip", with_sizes(plain, {"SETUP.EXE"}, uncompressed=16))
    # The same archive rewritten without lies: shows the rewriting is sound.
    write_archive(out / "rewritten.zip", plain)


if __name__ == "__main__":
    main()
