#!/usr/bin/env python3
"""Writes the archives that Info-ZIP zip cannot make, for unzip.exe's Wine
test and the fuzz seeds:

    craft_zip.py bomb OUT SIZE          40 entries over one deflated stream of
                                        SIZE zero bytes (a decompression bomb)
    craft_zip.py into-directory OUT     a stored entry whose sizes reach 10
                                        bytes into the central directory
    craft_zip.py declaring OUT COUNT    COUNT entries, each declaring 0xFFFFFFF0
                                        bytes in a deflated stream of nothing
"""
import struct
import sys
import zlib

TIME, DATE = 0x6C3F, 0x5821
STORED, DEFLATED = 0, 8


def local(name, data, crc, size, method):
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, method, TIME, DATE, crc, len(data), size,
                       len(name), 0) + name + data


def central(name, data_length, crc, size, offset, method):
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x314, 20, 0, method, TIME, DATE, crc, data_length,
                       size, len(name), 0, 0, 0, 0, 0, offset) + name


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


def main():
    kind, out = sys.argv[1], sys.argv[2]
    if kind == "bomb":
        data = bomb(int(sys.argv[3]))
    elif kind == "into-directory":
        data = into_directory()
    elif kind == "declaring":
        data = declaring(int(sys.argv[3]))
    else:
        sys.exit("unknown kind: " + kind)
    with open(out, "wb") as file:
        file.write(data)


if __name__ == "__main__":
    main()
