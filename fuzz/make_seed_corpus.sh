#!/usr/bin/env bash
# Writes the seed corpora under fuzz/corpus/ from the launcher's example
# tables. Run by hand when the examples change; the output is committed.
# Needs Info-ZIP zip for the archive seeds.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
corpus="$here/corpus"
rm -rf "$corpus"
# A corpus folder for each fuzzer, which is harnesses/NAME.cpp.
for harness in "$here"/harnesses/*.cpp; do mkdir -p "$corpus/$(basename "$harness" .cpp)"; done

seed() { printf "$2" > "$corpus/$1"; }
repeat() { head -c "$2" /dev/zero | tr '\0' "$1"; }

# Whole command lines: the program name, then a tail from the switch table.
seed fuzz_command_tail/d-then-s 'setup.exe -dC:\\out -s'
seed fuzz_command_tail/quoted-d-value '"C:\\My Media\\setup.exe" /D"C:\\My Dir"'
seed fuzz_command_tail/quote-inside-value 'setup.exe -d"a b"c d'
seed fuzz_command_tail/no-switch-inside-word 'setup.exe -sdX'
seed fuzz_command_tail/letter-in-value 'setup.exe -dC:/help'
seed fuzz_command_tail/blanks-and-controls 'setup.exe \t\r\n\001\037 -d"a b"'
seed fuzz_command_tail/unclosed-program-quote '"C:\\unclosed quote -s'
seed fuzz_command_tail/upper-wins 'setup.exe -dA -DB /v'

# One control byte (0x80: the tag is msi.tag; else its low 5 bits give the
# length of the tag that follows), then the window.
{ printf '\200'; repeat x 246; printf 'msi.tag \r\n'; } > "$corpus/fuzz_tail_marker/tag-at-end"
{ printf '\200'; head -c 150 /dev/zero; printf 'NB10'; head -c 12 /dev/zero; printf 'C:\\build\\setup.pdb';
  head -c 18 /dev/zero; printf 'other.tag \r\nmsi.tag \r\n'; } > "$corpus/fuzz_tail_marker/codeview-then-markers"
{ printf '\007msi.tag'; head -c 100 /dev/zero; printf 'msi.tag'; } > "$corpus/fuzz_tail_marker/zero-filling-before-tag"
{ printf '\200'; repeat x 256; printf 'msi.tag'; } > "$corpus/fuzz_tail_marker/tag-past-window"
{ printf '\200msi.t'; head -c 1 /dev/zero; printf 'ag'; } > "$corpus/fuzz_tail_marker/tag-split-by-zero"
{ printf '\011other.tag'; repeat y 40; printf 'other.tag \r\n'; } > "$corpus/fuzz_tail_marker/other-tag"

# D text, temporary path, package directory, password, control bytes
# (capacity - 1, setup switches: silent in bits 0-1, marker in bits 2-3, a
# number), separated by zero bytes.
seed fuzz_commands/drive-d-text 'D:\\Keep\000C:\\TEMP\\\000D:\\\000\000\377\005\000\000\001\000'
seed fuzz_commands/plain-d-text 'Keep\000C:\\TEMP\\\000C:\\My Package'
seed fuzz_commands/rooted-d-text '\\Keep\000C:\\TEMP\\\000C:\\My Package\000Kestrune-Package-2026\000\377\001'
seed fuzz_commands/quoted-d-text '"C:\\My Dir"\000C:\\TEMP\\\000D:\\'
seed fuzz_commands/temporary '\000C:\\TEMP\\\000C:\\My Package\000secret\000\100\005\377\377\377\377'
seed fuzz_commands/no-temporary-path '""'
{ repeat a 240; printf '\000C:\\TEMP\\\000'; repeat b 200; } > "$corpus/fuzz_commands/too-long"

# Paths to quote; a byte after a zero byte sets the text already in the buffer.
seed fuzz_quoting/blank 'C:\\My Dir'
seed fuzz_quoting/trailing-backslash 'C:\\TEMP\\'
seed fuzz_quoting/root 'D:\\'
seed fuzz_quoting/quote-inside 'a"b'
seed fuzz_quoting/backslashes-before-quote 'C:\\x\\\\"y\\\\'
seed fuzz_quoting/unc-near-full '\\\\server\\share\\\000\360'
seed fuzz_quoting/tab-and-high-bytes 'C:\\\tab\351\377'

# Archives made with Info-ZIP zip -P secret: stored, deflated, streamed (data
# descriptors), with a directory; one without encryption; truncated copies.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/files/sub"
printf 'kestrune setup payload\r\n' > "$work/files/SETUP.EXE"
for i in 1 2 3 4 5 6; do printf 'line %s of a text that deflate can shorten\n' "$i"; done > "$work/files/sub/readme.txt"
touch -d '2024-01-02 03:04:06' "$work/files/SETUP.EXE" "$work/files/sub/readme.txt" "$work/files/sub" "$work/files"
zipdir="$corpus/fuzz_zip_reader"
(cd "$work/files" && zip -q -X -0 -P secret "$zipdir/stored-encrypted.zip" SETUP.EXE)
(cd "$work/files" && zip -q -X -9 -P secret -r "$zipdir/deflated-encrypted-with-directory.zip" SETUP.EXE sub)
(cd "$work/files" && zip -q -X -P secret - sub/readme.txt > "$zipdir/streamed-data-descriptor.zip")
(cd "$work/files" && zip -q -X "$zipdir/plain.zip" sub/readme.txt)
# With Info-ZIP's own extra fields (its extended timestamp among them), and
# in the zip64 form that zip writes past 4 GiB, forced on small data.
(cd "$work/files" && TZ=UTC zip -q -P secret -r "$zipdir/extended-timestamps.zip" SETUP.EXE sub)
(cd "$work/files" && zip -q -X -fz -P secret -r "$zipdir/forced-zip64.zip" SETUP.EXE sub)
# Names that must be refused, made by renaming entries of Info-ZIP archives in
# both headers (same length, so sizes and CRCs stay right).
mkdir -p "$work/files/zz"
printf 'must stay inside\n' > "$work/files/zz/evil.txt"
cp "$work/files/zz/evil.txt" "$work/files/zevil.txt"
touch -d '2024-01-02 03:04:06' "$work/files/zz/evil.txt" "$work/files/zevil.txt"
(cd "$work/files" && zip -q -X -P secret "$work/climbing.zip" zz/evil.txt SETUP.EXE)
perl -0777 -pe 's{zz/evil}{../evil}g' "$work/climbing.zip" > "$zipdir/climbing-name.zip"
(cd "$work/files" && zip -q -X "$work/absolute.zip" zevil.txt)
perl -0777 -pe 's{zevil}{/evil}g' "$work/absolute.zip" > "$zipdir/absolute-name.zip"
head -c 60 "$zipdir/deflated-encrypted-with-directory.zip" > "$zipdir/truncated-in-data.zip"

# One seed for each refusal of unzip.exe's later rules, from files of the
# same names (Linux keeps case, trailing dots and blanks) or renamed in both
# headers as above. The fuzzer plants links in the destination for inputs of
# even length (fuzz_zip_reader.cpp): the link seeds are made even.
even() { [ $(($(stat -c %s "$1") % 2)) -eq 0 ] || printf '\0' >> "$1"; }
odd() { [ $(($(stat -c %s "$1") % 2)) -eq 1 ] || printf '\0' >> "$1"; }
mkdir -p "$work/names/DOCS" "$work/names/planted-dir"
for name in SETUP.EXE setup.exe SETUP.EXE. "Long File Name.txt" LONGFI~1.TXT docs DOCS/readme.txt COMx LPTy \
            planted-dir/evil.txt planted-file planted-file.kestrune-part; do
    printf 'entry %s\n' "$name" > "$work/names/$name"
done
touch -d '2024-01-02 03:04:06' "$work/names"/* "$work/names"/*/*
names_zip() { (cd "$work/names" && zip -q -X -P secret "$zipdir/$1" "${@:2}"); }
names_zip clashing-case-and-trailing-dot.zip SETUP.EXE setup.exe SETUP.EXE.
names_zip trailing-dot.zip SETUP.EXE.
names_zip short-name-beside-long-name.zip "Long File Name.txt" LONGFI~1.TXT
names_zip file-and-folder-of-one-name.zip docs DOCS/readme.txt
(cd "$work/names" && zip -q -X -P secret "$work/devices.zip" COMx LPTy)
perl -0777 -pe 's{COMx}{COM\xb9}g; s{LPTy}{LPT\xb2}g' "$work/devices.zip" > "$zipdir/superscript-devices.zip"
for seed in planted-dir/evil.txt planted-file planted-file.kestrune-part; do
    file="$zipdir/through-link-$(basename "$seed" | tr . -).zip"
    (cd "$work/names" && zip -q -X -P secret "$file" "$seed")
    even "$file"
done
# Crafted byte by byte: 40 entries over one stream, an entry whose data runs
# into the central directory, and entries declaring 64 times 4 GiB (more
# than the volume has free) in streams of nothing. Odd lengths: a fresh
# destination.
craft="$here/../tools/unzip/tests/craft_zip.py"
python3 "$craft" bomb "$zipdir/overlapping-one-stream.zip" 65536
python3 "$craft" into-directory "$zipdir/data-into-central-directory.zip"
python3 "$craft" declaring "$zipdir/declares-more-than-free.zip" 64
python3 "$craft" zip64 "$zipdir/zip64-fields-and-end-record.zip"
python3 "$craft" names "$zipdir/utf8-and-code-page-437-names.zip"
for seed in overlapping-one-stream data-into-central-directory declares-more-than-free zip64-fields-and-end-record \
            utf8-and-code-page-437-names; do
    odd "$zipdir/$seed.zip"
done
size=$(stat -c %s "$zipdir/stored-encrypted.zip")
head -c $((size - 10)) "$zipdir/stored-encrypted.zip" > "$zipdir/truncated-end-record.zip"

# Small PE programs with signature blocks shaped as signing tools write them,
# but holding no certificate and no real signature (nothing of a key is
# kept here): plain, with the marker attribute, beside another attribute,
# with data appended, with a line written into the table by hand; PE32 and
# PE32+.
python3 - "$corpus/fuzz_signature_markers" <<'PYTHON'
import struct, sys
out = sys.argv[1]

def tlv(tag, content):
    n = len(content)
    length = bytes([n]) if n < 0x80 else bytes([0x80 | ((n.bit_length() + 7) // 8)]) + n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag]) + length + content

def oid(text):
    arcs = [int(a) for a in text.split(".")]
    body = bytes([arcs[0] * 40 + arcs[1]])
    for arc in arcs[2:]:
        groups = [arc & 0x7F]
        arc >>= 7
        while arc:
            groups.append(0x80 | (arc & 0x7F))
            arc >>= 7
        body += bytes(reversed(groups))
    return tlv(0x06, body)

MARKER = "2.25.181851530011564572757839026154968300688"

def attribute(identifier, value):
    return tlv(0x30, oid(identifier) + tlv(0x31, value))

def signature(attributes):
    signer = tlv(0x02, b"\x01") + tlv(0x30, b"") + tlv(0x30, oid("2.16.840.1.101.3.4.2.1")) + \
        tlv(0x30, oid("1.2.840.113549.1.1.1")) + tlv(0x04, bytes(range(32)))
    if attributes:
        signer += tlv(0xA1, b"".join(attributes))
    signed_data = tlv(0x02, b"\x01") + tlv(0x31, b"") + tlv(0x30, oid("1.3.6.1.4.1.311.2.1.4")) + \
        tlv(0x31, tlv(0x30, signer))
    return tlv(0x30, oid("1.2.840.113549.1.7.2") + tlv(0xA0, tlv(0x30, signed_data)))

def program(plus, tail=b""):
    image = bytearray(0x400)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x80)
    image[0x80:0x84] = b"PE\0\0"
    optional_size = 0xF0 if plus else 0xE0
    struct.pack_into("<HHIIIHH", image, 0x84, 0x8664 if plus else 0x14C, 1, 0, 0, 0, optional_size, 0x0102)
    optional = 0x98
    struct.pack_into("<H", image, optional, 0x20B if plus else 0x10B)
    struct.pack_into("<I", image, optional + (108 if plus else 92), 16)
    section = optional + optional_size
    image[section:section + 5] = b".text"
    struct.pack_into("<IIII", image, section + 8, 0x200, 0x1000, 0x200, 0x200)
    image[0x200:0x210] = b"launcher code\0\0\0"
    return bytes(image) + tail

def signed(plus, der, after=b"", tail=b""):
    image = bytearray(program(plus, tail))
    image += bytes((-len(image)) % 8)
    padded = der + bytes((-len(der)) % 8)
    table = struct.pack("<IHH", 8 + len(padded), 0x200, 2) + padded
    entry = 0x98 + (112 if plus else 96) + 4 * 8
    struct.pack_into("<II", image, entry, len(image), len(table))
    return bytes(image) + table + after

line = b"msi.tag \r\n"
seeds = {
    "unsigned-marked.exe": program(False, line),
    "signed-plain.exe": signed(False, signature([])),
    "signed-after-marking.exe": signed(False, signature([]), tail=line),
    "signed-marker-attribute.exe": signed(False, signature([attribute(MARKER, tlv(0x04, b"\0\0" + line))])),
    "signed-beside-a-countersignature.exe": signed(True, signature([attribute("1.3.6.1.4.1.311.3.3.1", tlv(0x30, b"\x02\x01\x05")),
                                                                   attribute(MARKER, tlv(0x04, line))])),
    "signed-then-appended.exe": signed(False, signature([]), after=line + b"\x82" * 40),
    "signed-table-grown-by-hand.exe": signed(True, signature([]) + line),
}
for name, data in seeds.items():
    with open(f"{out}/{name}", "wb") as seed:
        seed.write(data)
PYTHON

# Certificate files as openssl writes them (PEM, a PEM chain, DER, PKCS#7;
# the keys are dropped), and programs that carry each installer's markers:
# NSIS's first header at 512 bytes (the silent flag set), Inno Setup's
# loader table, InstallShield's name in UTF-16, a ".wixburn" section.
files="$corpus/fuzz_medium_files"
for name in signer authority; do
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 365 -subj "/CN=$name/O=Example" \
        -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature -keyout "$work/$name.key" \
        -out "$work/$name.pem" 2>/dev/null
done
cp "$work/signer.pem" "$files/certificate.pem"
cat "$work/authority.pem" "$work/signer.pem" > "$files/chain.pem"
openssl x509 -in "$work/signer.pem" -outform DER -out "$files/certificate.der"
openssl crl2pkcs7 -nocrl -certfile "$files/chain.pem" -outform DER -out "$files/chain.p7b"
python3 - "$files" <<'PYTHON'
import struct, sys
out = sys.argv[1]

def program(body=b"", section=b".text"):
    image = bytearray(0x400)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x80)
    image[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", image, 0x84, 0x14C, 1, 0, 0, 0, 0xE0, 0x0102)
    struct.pack_into("<H", image, 0x98, 0x10B)
    image[0x178:0x178 + len(section)] = section
    image[0x200:0x200 + len(body)] = body
    return bytes(image)

seeds = {
    "nsis.exe": program() + struct.pack("<I", 2) + b"\xef\xbe\xad\xdeNullsoftInst" + bytes(16),
    "inno-setup.exe": program(b"rDlPtS\xcd\xe6\xd7\x7b\x0b\x2a") + b"Inno Setup Setup Data (6.2.2) (u)",
    "installshield.exe": program("ProductName InstallShield".encode("utf-16-le")),
    "burn.exe": program(section=b".wixburn"),
}
for name, data in seeds.items():
    with open(f"{out}/{name}", "wb") as seed:
        seed.write(data)
PYTHON

# Security descriptors as the platform gives them for a directory (owner and
# access list), behind the control byte of fuzz_directory_trust: Wine's for
# the modes 755 and 777, a user's own folder on Windows, a folder made under
# C:\, and one with a NULL access list.
python3 - "$corpus/fuzz_directory_trust" <<'PYTHON'
import struct, sys
out = sys.argv[1]
def sid(authority, *subs):
    return bytes([1, len(subs), 0, 0, 0, 0, 0, authority]) + b"".join(struct.pack("<I", s) for s in subs)
system, admins, everyone, authenticated = sid(5, 18), sid(5, 32, 544), sid(1, 0), sid(5, 11)
wine_user = sid(5, 21, 0, 0, 0, 1000)
user = sid(5, 21, 1004362972, 1177238915, 682003330, 1001)
def entry(kind, flags, mask, who):
    return struct.pack("<BBHI", kind, flags, 8 + len(who), mask) + who
def descriptor(owner, entries, null_list=False):
    body = owner
    header = struct.pack("<BBHIIII", 1, 0, 0x8004, 20, 0, 0, 0 if null_list else 20 + len(owner))
    if not null_list:
        listed = b"".join(entries)
        body += struct.pack("<BBHHH", 2, 0, 8 + len(listed), len(entries), 0) + listed
    return header + body
full, read, modify = 0x1F01FF, 0x1200A9, 0x1301BF
own = [entry(0, 3, full, system), entry(0, 3, full, admins)]
seeds = {
    "wine-755": b"\x03" + descriptor(wine_user, [entry(0, 3, full, system), entry(0, 3, full, wine_user), entry(0, 3, read, everyone)]),
    "wine-777": b"\x03" + descriptor(wine_user, [entry(0, 3, full, system), entry(0, 3, full, wine_user), entry(0, 3, 0x1301FF, everyone)]),
    "own-folder": b"\x01" + descriptor(user, own + [entry(0, 3, full, user)]),
    "made-under-c": b"\x01" + descriptor(admins, own + [entry(0, 3, modify, authenticated), entry(0, 0x0B, full, sid(3, 0))]),
    "null-list": b"\x01" + descriptor(user, [], null_list=True),
}
for name, data in seeds.items():
    with open(f"{out}/{name}", "wb") as seed:
        seed.write(data)
PYTHON

du -sb "$corpus"/* | sed "s|$here/||"
