#!/usr/bin/env python3
"""Writes the archives that Info-ZIP zip cannot make, for unzip.exe's Wine
test and the fuzz seeds:

    craft_zip.py bomb OUT SIZE          40 entries over one deflated stream of
                                        SIZE zero bytes (a decompression bomb)
    craft_zip.py into-directory OUT     a stored entry whose sizes reach 10
                                        bytes into the central directory
    craft_zip.py declaring OUT COUNT    COUNT entries, each declaring 0xFFFFFFF0
                                        bytes in a deflated stream of nothing
    craft_zip.py zip64 OUT              three entries in the zip64 form: sizes
                                        and offsets in zip64 fields, a zip64 end
                                        record; UTF-8 names, extended timestamps
    craft_zip.py names OUT              names with the UTF-8 flag (one an
                                        overlong "../", not UTF-8) and without
                                        it, in code page 437
"""
import struct
import sys
import zlib

TIME, DATE = 0x6C3F, 0x5821
STORED, DEFLATED = 0, 8


UTF8 = 0x800


def local(name, data, crc, size, method, flags=0, extra=b"", data_length=None):
    stored = len(data) if data_length is None else data_length
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, TIME, DATE, crc, stored, size,
                       len(name), len(extra)) + name + extra + data


def central(name, data_length, crc, size, offset, method, flags=0, extra=b""):
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x314, 45 if extra else 20, flags, method, TIME, DATE,
                       crc, data_length, size, len(name), len(extra), 0, 0, 0, 0, offset) + name + extra


def archive(body, records, count):
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(records), len(body), 0)
    return body + records + end


def bomb(size):
    plain = bytes(size)
    deflater = zlib.compressobj(9, zlib.DEFLATED, -15)
    stream = deflater.compress(plain) + deflater.flush()
    crc = zlib.crc32(plain)
    records = b"".join(central(b"copy%d.bin" % i, len(stream), crc, size, 0, DEFLATED) for i in range(40))
    return archive(local(b"x", stream, crc, size, DEFLATED), records, 40)


def into_directory():
    first = local(b"first.txt", b"first", zlib.crc32(b"first"), 5, STORED)
    second = local(b"second.txt", b"second", zlib.crc32(b"second"), 6, STORED)
    records = central(b"first.txt", 5, zlib.crc32(b"first"), 5, 0, STORED) + \
        central(b"second.txt", 16, zlib.crc32(b"second"), 16, len(first), STORED)
    return archive(first + second, records, 2)


def declaring(count):
    empty = b"\x03\x00"  # a final fixed-Huffman block holding nothing
    body, records = b"", b""
    for i in range(count):
        name = b"big%05d.bin" % i
        records += central(name, len(empty), 0, 0xFFFFFFF0, len(body), DEFLATED)
        body += local(name, empty, 0, 0xFFFFFFF0, DEFLATED)
    return archive(body, records, count)


def timestamp(seconds):
    return struct.pack("<HHBI", 0x5455, 5, 1, seconds)


def zip64_field(*values):
    return struct.pack("<HH", 1, 8 * len(values)) + b"".join(struct.pack("<Q", v) for v in values)


def zip64():
    files = [("caf\u00e9/".encode(), b"", STORED), ("caf\u00e9/\u65e5\u672c\u8a9e.txt".encode(), b"kestrune " * 50, DEFLATED),
             (b"plain.txt", b"plain text\n", STORED)]
    body, records = b"", b""
    for name, plain, method in files:
        data = plain
        if method == DEFLATED:
            deflater = zlib.compressobj(9, zlib.DEFLATED, -15)
            data = deflater.compress(plain) + deflater.flush()
        crc, offset, stamp = zlib.crc32(plain), len(body), timestamp(170856001)
        body += local(name, data, crc, 0xFFFFFFFF, method, UTF8, zip64_field(len(plain), len(data)) + stamp,
                      data_length=0xFFFFFFFF)
        records += central(name, 0xFFFFFFFF, crc, 0xFFFFFFFF, 0xFFFFFFFF, method, UTF8,
                           zip64_field(len(plain), len(data), offset) + stamp)
    count, start = len(files), len(body)
    end64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, len(records), start)
    locator = struct.pack("<IIQI", 0x07064B50, 0, start + len(records), 1)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    return body + records + end64 + locator + end


def names():
    entries = [("\u65e5\u672c\u8a9e/\U0001F600 Gr\u00f6\u00dfe.txt".encode(), UTF8), (b"\xc0\xae\xc0\xae/evil.txt", UTF8),
               (b"caf\x82.txt", 0), ("CAF\u00c9.TXT".encode(), UTF8)]
    body, records = b"", b""
    for name, flags in entries:
        data = b"entry " + name
        crc = zlib.crc32(data)
        records += central(name, len(data), crc, len(data), len(body), STORED, flags)
        body += local(name, data, crc, len(data), STORED, flags)
    return archive(body, records, len(entries))


def main():
    kind, out = sys.argv[1], sys.argv[2]
    if kind == "bomb":
        data = bomb(int(sys.argv[3]))
    elif kind == "into-directory":
        data = into_directory()
    elif kind == "declaring":
        data = declaring(int(sys.argv[3]))
    elif kind == "zip64":
        data = zip64()
    elif kind == "names":
        data = names()
    else:
        sys.exit("unknown kind: " + kind)
    with open(out, "wb") as file:
        file.write(data)


if __name__ == "__main__":
    main()
