#include "zip_archive.h"

#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>

#include "zip_crc.h"
#include "zip_crypto.h"
#include "zip_format.h"

namespace {

constexpr size_t maxCommentSize = 0xffff;

// Deflate's largest window; inflateBack writes its output there.
constexpr int windowBits = 15;
constexpr size_t windowSize = size_t{1} << windowBits;

// Every read goes through here, so no declared offset or size reaches the
// input unchecked.
ZipStatus readExact(const ArchiveInput& input, uint64_t offset, uint8_t* buffer, size_t length) {
    if (offset > input.size || length > input.size - offset) return ZipStatus::damaged;
    if (length != 0 && !input.readAt(input.context, offset, buffer, length)) return ZipStatus::readFailed;
    return ZipStatus::ok;
}

bool memoryReadAt(const void* context, uint64_t offset, uint8_t* buffer, size_t length) {
    memcpy(buffer, static_cast<const uint8_t*>(context) + offset, length);
    return true;
}

// The end record sits in the last 22 + 65535 bytes. A candidate whose comment
// reaches exactly to the end of the file is preferred, so a signature inside a
// comment is not mistaken for the record; failing that, the last candidate
// whose comment fits is taken (an archive with bytes appended).
ZipStatus findEndRecordIn(const uint8_t* tail, size_t tailSize, size_t& found) {
    found = tailSize;  // none yet
    for (size_t at = tailSize - endRecordSize + 1; at-- > 0;) {
        if (readLittle32(tail, at) != endOfCentralDirectorySignature) continue;
        const size_t commentEnd = at + endRecordSize + readLittle16(tail, at + 20);
        if (commentEnd == tailSize) {
            found = at;
            break;
        }
        if (commentEnd < tailSize && found == tailSize) found = at;
    }
    return found == tailSize ? ZipStatus::damaged : ZipStatus::ok;
}

// The end record's fields, as stored.
struct EndRecord {
    uint64_t position;  // where it starts
    uint16_t thisDisk;
    uint16_t directoryDisk;
    uint16_t entriesOnDisk;
    uint16_t entryCount;
    uint32_t directorySize;
    uint32_t directoryOffset;
};

ZipStatus readEndRecord(const ArchiveInput& input, EndRecord& record) {
    if (input.size < endRecordSize) return ZipStatus::damaged;
    const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(input.size, endRecordSize + maxCommentSize));
    const uint64_t tailStart = input.size - tailSize;
    uint8_t* tail = static_cast<uint8_t*>(malloc(tailSize));
    if (tail == nullptr) return ZipStatus::outOfMemory;
    ZipStatus status = readExact(input, tailStart, tail, tailSize);
    size_t found = 0;
    if (status == ZipStatus::ok) status = findEndRecordIn(tail, tailSize, found);
    if (status == ZipStatus::ok) {
        const uint8_t* p = tail + found;
        record = EndRecord{tailStart + found,   readLittle16(p, 4),  readLittle16(p, 6), readLittle16(p, 8),
                           readLittle16(p, 10), readLittle32(p, 12), readLittle32(p, 16)};
    }
    free(tail);
    return status;
}

// A field of the end record and its zip64 value: the field holds the marker
// or the same value, or the two records give the archive two meanings.
bool agrees(uint64_t field, uint64_t marker, uint64_t value) { return field == marker || field == value; }

// Reads the zip64 end record that the locator before the end record points
// at. It lies after the central directory and before the locator, on disk 0.
ZipStatus readZip64EndRecord(const ArchiveInput& input, const EndRecord& record, ZipDirectoryPlace& place) {
    const uint64_t locatorPosition = record.position - zip64LocatorSize;
    uint8_t locator[zip64LocatorSize];
    ZipStatus status = readExact(input, locatorPosition, locator, sizeof locator);
    if (status != ZipStatus::ok) return status;
    if (readLittle32(locator, 4) != 0 || readLittle32(locator, 16) > 1) return ZipStatus::unsupported;
    const uint64_t at = readLittle64(locator, 8);
    uint8_t end[zip64EndRecordSize];
    if (at > locatorPosition || locatorPosition - at < sizeof end) return ZipStatus::damaged;
    status = readExact(input, at, end, sizeof end);
    if (status != ZipStatus::ok) return status;
    const uint64_t recordSize = readLittle64(end, 4);
    if (readLittle32(end, 0) != zip64EndRecordSignature || recordSize < zip64EndRecordSize - 12 ||
        recordSize > locatorPosition - at - 12) {
        return ZipStatus::damaged;
    }
    const uint32_t thisDisk = readLittle32(end, 16);
    const uint32_t directoryDisk = readLittle32(end, 20);
    const uint64_t entriesOnDisk = readLittle64(end, 24);
    place.entryCount = readLittle64(end, 32);
    place.size = readLittle64(end, 40);
    place.offset = readLittle64(end, 48);
    if (thisDisk != 0 || directoryDisk != 0 || entriesOnDisk != place.entryCount) return ZipStatus::unsupported;
    if (!agrees(record.thisDisk, zip64Marker16, 0) || !agrees(record.directoryDisk, zip64Marker16, 0) ||
        !agrees(record.entriesOnDisk, zip64Marker16, place.entryCount) ||
        !agrees(record.entryCount, zip64Marker16, place.entryCount) ||
        !agrees(record.directorySize, zip64Marker32, place.size) ||
        !agrees(record.directoryOffset, zip64Marker32, place.offset)) {
        return ZipStatus::damaged;
    }
    // The directory ends where the zip64 end record starts, or before.
    if (place.size > at || place.offset > at - place.size) return ZipStatus::damaged;
    return ZipStatus::ok;
}

// The extra fields of a central record: the zip64 values of the fields that
// hold the marker, and the extended timestamp. A field that runs past the
// end ends the list; a needed zip64 value that is missing, or a second zip64
// field (two readers could take different ones), is damage.
ZipStatus readExtraFields(const uint8_t* extra, size_t length, ZipEntry& entry, bool needsDisk) {
    uint64_t* const wanted[] = {&entry.uncompressedSize, &entry.compressedSize, &entry.localHeaderOffset};
    bool needsZip64 = needsDisk;
    for (uint64_t* field : wanted) needsZip64 = needsZip64 || *field == zip64Marker32;
    bool sawZip64 = false;
    for (size_t at = 0; length - at >= extraFieldHeaderSize;) {
        const uint16_t id = readLittle16(extra, at);
        const size_t size = readLittle16(extra, at + 2);
        const uint8_t* data = extra + at + extraFieldHeaderSize;
        if (size > length - at - extraFieldHeaderSize) break;
        at += extraFieldHeaderSize + size;
        if (id == zip64ExtraId) {
            if (sawZip64) return ZipStatus::damaged;
            sawZip64 = true;
            size_t used = 0;
            for (uint64_t* field : wanted) {
                if (*field != zip64Marker32) continue;
                if (size - used < 8) return ZipStatus::damaged;
                *field = readLittle64(data, used);
                used += 8;
            }
            if (needsDisk && size - used < 4) return ZipStatus::damaged;
            if (needsDisk && readLittle32(data, used) != 0) return ZipStatus::unsupported;
        } else if (id == extendedTimestampId && size >= 5 && (data[0] & extendedTimestampHasModified)) {
            // Four bytes reach 2106 read as unsigned, or back to 1901 read as
            // signed: a time with the high bit set is after 2038 when the DOS
            // date says so, else before 1970 (whose DOS date is 1980, the
            // earliest it holds), as Info-ZIP reads it.
            const uint32_t seconds = readLittle32(data, 1);
            const bool late = (entry.dosDate >> 9) + 1980 >= 2038;
            entry.hasUnixTime = true;
            entry.unixTime = seconds < 0x80000000u || late ? int64_t{seconds} : int64_t{seconds} - (int64_t{1} << 32);
        }
    }
    return needsZip64 && !sawZip64 ? ZipStatus::damaged : ZipStatus::ok;
}

// Decrypted (if need be) compressed bytes of one entry, a chunk at a time.
struct CompressedStream {
    const ArchiveInput* input;
    uint64_t nextOffset;
    uint64_t remaining;
    bool encrypted;
    ZipCryptoKeys keys;
};

ZipStatus readCompressedChunk(CompressedStream& stream, uint8_t* buffer, size_t& length) {
    length = static_cast<size_t>(std::min<uint64_t>(stream.remaining, zipChunkSize));
    const ZipStatus status = readExact(*stream.input, stream.nextOffset, buffer, length);
    if (status != ZipStatus::ok) return status;
    if (stream.encrypted) zipCryptoDecrypt(stream.keys, buffer, length);
    stream.nextOffset += length;
    stream.remaining -= length;
    return ZipStatus::ok;
}

// Output checked against the declared size before it reaches the sink, so a
// lying header cannot make the sink receive more than it announced.
struct VerifiedOutput {
    const OutputSink* sink;
    uint64_t declaredSize;
    uint64_t written;
    uint32_t crc;
};

ZipStatus deliver(VerifiedOutput& out, const uint8_t* data, size_t length) {
    if (length > out.declaredSize - out.written) return ZipStatus::damaged;
    if (length == 0) return ZipStatus::ok;
    out.crc = zipCrc32(out.crc, data, length);
    out.written += length;
    return out.sink->write(out.sink->context, data, length) ? ZipStatus::ok : ZipStatus::outputFailed;
}

ZipStatus copyStored(CompressedStream& stream, VerifiedOutput& out, uint8_t* buffer) {
    while (stream.remaining > 0) {
        size_t length = 0;
        ZipStatus status = readCompressedChunk(stream, buffer, length);
        if (status == ZipStatus::ok) status = deliver(out, buffer, length);
        if (status != ZipStatus::ok) return status;
    }
    return ZipStatus::ok;
}

// What inflateBack's callbacks share, and why they stopped it.
struct InflateCalls {
    const z_stream* inflater;
    CompressedStream* stream;
    VerifiedOutput* out;
    uint8_t* buffer;
    ZipStatus failure;
};

unsigned pullCompressed(void* context, unsigned char** data) {
    InflateCalls& calls = *static_cast<InflateCalls*>(context);
    // The data ends before the deflate stream does.
    if (calls.stream->remaining == 0) {
        calls.failure = ZipStatus::damaged;
        return 0;
    }
    size_t length = 0;
    calls.failure = readCompressedChunk(*calls.stream, calls.buffer, length);
    if (calls.failure != ZipStatus::ok) return 0;
    *data = calls.buffer;
    return static_cast<unsigned>(length);
}

// inflateBack hands over what is left in its window even when it stops for
// a failure. That is not delivered: the first failure is the one that
// counts, and an entry whose data is bad from the start must not make its
// file (or its folders) at all. Bad data is the one failure zlib names.
int pushInflated(void* context, unsigned char* data, unsigned length) {
    InflateCalls& calls = *static_cast<InflateCalls*>(context);
    if (calls.inflater->msg != nullptr) return 1;
    if (calls.failure == ZipStatus::ok) calls.failure = deliver(*calls.out, data, length);
    return calls.failure == ZipStatus::ok ? 0 : 1;
}

}  // namespace

struct ZipWorkspace {
    z_stream inflater;
    uint8_t window[windowSize];
    uint8_t buffer[zipChunkSize];
};

namespace {

ZipStatus inflateDeflated(CompressedStream& stream, VerifiedOutput& out, ZipWorkspace& workspace) {
    z_stream& inflater = workspace.inflater;
    InflateCalls calls{&inflater, &stream, &out, workspace.buffer, ZipStatus::ok};
    inflater.next_in = Z_NULL;
    inflater.avail_in = 0;
    const int result = inflateBack(&inflater, pullCompressed, &calls, pushInflated, &calls);
    if (result == Z_STREAM_END) return ZipStatus::ok;
    if (result == Z_BUF_ERROR && calls.failure != ZipStatus::ok) return calls.failure;
    return ZipStatus::damaged;
}

// Sets up decryption and consumes the 12-byte header. Its last byte must equal
// the CRC's high byte, or with a data descriptor (CRC unknown when the header
// was written) the high byte of the DOS time.
ZipStatus startDecryption(CompressedStream& stream, const ZipEntry& entry, const char* password) {
    if (password == nullptr) return ZipStatus::wrongPassword;
    if (stream.remaining < zipCryptoHeaderSize) return ZipStatus::damaged;
    uint8_t header[zipCryptoHeaderSize];
    const ZipStatus status = readExact(*stream.input, stream.nextOffset, header, sizeof header);
    if (status != ZipStatus::ok) return status;
    stream.keys = zipCryptoKeysForPassword(password);
    zipCryptoDecrypt(stream.keys, header, sizeof header);
    const uint8_t expected = (entry.flags & flagDataDescriptor) ? static_cast<uint8_t>(entry.dosTime >> 8)
                                                                : static_cast<uint8_t>(entry.crc32 >> 24);
    if (header[zipCryptoHeaderSize - 1] != expected) return ZipStatus::wrongPassword;
    stream.encrypted = true;
    stream.nextOffset += zipCryptoHeaderSize;
    stream.remaining -= zipCryptoHeaderSize;
    return ZipStatus::ok;
}

// Where the entry's data starts: after the local header and its own (possibly
// different) name and extra field lengths.
ZipStatus locateData(const ArchiveInput& input, const ZipEntry& entry, uint64_t& dataOffset) {
    uint8_t header[localHeaderSize];
    const ZipStatus status = readExact(input, entry.localHeaderOffset, header, sizeof header);
    if (status != ZipStatus::ok) return status;
    if (readLittle32(header, 0) != localHeaderSignature) return ZipStatus::damaged;
    dataOffset = entry.localHeaderOffset + localHeaderSize + readLittle16(header, 26) +
                 readLittle16(header, localExtraLengthOffset);
    if (dataOffset > input.size || entry.compressedSize > input.size - dataOffset) return ZipStatus::damaged;
    return ZipStatus::ok;
}

}  // namespace

ArchiveInput memoryArchiveInput(const uint8_t* data, size_t size) { return ArchiveInput{size, memoryReadAt, data}; }

const char* zipStatusText(ZipStatus status) {
    switch (status) {
        case ZipStatus::ok: return "ok";
        case ZipStatus::damaged: return "damaged archive";
        case ZipStatus::unsupported: return "unsupported ZIP feature";
        case ZipStatus::wrongPassword: return "wrong or missing password";
        case ZipStatus::readFailed: return "cannot read archive";
        case ZipStatus::outputFailed: return "cannot write output";
        case ZipStatus::outOfMemory: return "not enough memory";
    }
    return "unknown error";
}

bool zipEntryIsDirectory(const ZipEntry& entry) {
    return entry.nameLength > 0 && entry.name[entry.nameLength - 1] == '/';
}

bool zipEntryIsEncrypted(const ZipEntry& entry) { return (entry.flags & flagEncrypted) != 0; }

uint64_t zipEntryCapacity(const ZipDirectoryPlace& place) {
    return std::min<uint64_t>(place.entryCount, place.size / centralHeaderSize);
}

ZipStatus findCentralDirectory(const ArchiveInput& input, ZipDirectoryPlace& place) {
    EndRecord record{};
    ZipStatus status = readEndRecord(input, record);
    if (status != ZipStatus::ok) return status;
    place.end = record.position + endRecordSize;
    // A zip64 locator right before the end record: the zip64 end record
    // holds the values. Without one, the fields mean what they say.
    bool zip64 = false;
    if (record.position >= zip64LocatorSize) {
        uint8_t signature[4];
        status = readExact(input, record.position - zip64LocatorSize, signature, sizeof signature);
        if (status != ZipStatus::ok) return status;
        zip64 = readLittle32(signature, 0) == zip64LocatorSignature;
    }
    if (zip64) return readZip64EndRecord(input, record, place);
    place.entryCount = record.entryCount;
    place.size = record.directorySize;
    place.offset = record.directoryOffset;
    if (record.thisDisk != 0 || record.directoryDisk != 0 || record.entriesOnDisk != record.entryCount) {
        return ZipStatus::unsupported;
    }
    if (place.offset + place.size > record.position) return ZipStatus::damaged;
    return ZipStatus::ok;
}

ZipStatus readCentralDirectory(const ArchiveInput& input, const ZipDirectoryPlace& place, uint8_t* bytes,
                               ZipEntry* entries, size_t& count) {
    count = 0;
    if (place.size > SIZE_MAX) return ZipStatus::outOfMemory;
    const size_t directorySize = static_cast<size_t>(place.size);
    ZipStatus status = readExact(input, place.offset, bytes, directorySize);
    if (status != ZipStatus::ok) return status;
    size_t offset = 0;
    for (uint64_t index = 0; index < place.entryCount; ++index) {
        if (centralHeaderSize > directorySize - offset) return ZipStatus::damaged;
        const uint8_t* header = bytes + offset;
        if (readLittle32(header, 0) != centralHeaderSignature) return ZipStatus::damaged;
        const uint16_t nameLength = readLittle16(header, 28);
        const uint16_t extraLength = readLittle16(header, 30);
        const size_t recordSize = centralHeaderSize + nameLength + extraLength + readLittle16(header, 32);
        if (recordSize > directorySize - offset) return ZipStatus::damaged;

        ZipEntry entry{};
        entry.name = reinterpret_cast<const char*>(header + centralHeaderSize);
        entry.nameLength = nameLength;
        entry.flags = readLittle16(header, 8);
        entry.method = readLittle16(header, 10);
        entry.dosTime = readLittle16(header, 12);
        entry.dosDate = readLittle16(header, 14);
        entry.crc32 = readLittle32(header, 16);
        entry.compressedSize = readLittle32(header, 20);
        entry.uncompressedSize = readLittle32(header, 24);
        entry.localHeaderOffset = readLittle32(header, 42);
        const uint16_t startDisk = readLittle16(header, 34);
        if (startDisk != 0 && startDisk != zip64Marker16) return ZipStatus::unsupported;
        status =
            readExtraFields(header + centralHeaderSize + nameLength, extraLength, entry, startDisk == zip64Marker16);
        if (status != ZipStatus::ok) return status;
        entries[count++] = entry;
        offset += recordSize;
    }
    return ZipStatus::ok;
}

ZipWorkspace* createZipWorkspace() {
    ZipWorkspace* workspace = static_cast<ZipWorkspace*>(malloc(sizeof(ZipWorkspace)));
    if (workspace == nullptr) return nullptr;
    memset(&workspace->inflater, 0, sizeof workspace->inflater);
    if (inflateBackInit(&workspace->inflater, windowBits, workspace->window) != Z_OK) {
        free(workspace);
        return nullptr;
    }
    return workspace;
}

void destroyZipWorkspace(ZipWorkspace* workspace) {
    if (workspace == nullptr) return;
    inflateBackEnd(&workspace->inflater);
    free(workspace);
}

ZipStatus extractEntry(const ArchiveInput& input, const ZipEntry& entry, const char* password, const OutputSink& sink,
                       ZipWorkspace& workspace) {
    if (entry.flags & (flagStrongEncryption | flagMaskedLocalHeaders)) return ZipStatus::unsupported;
    if (entry.method != methodStored && entry.method != methodDeflated) return ZipStatus::unsupported;

    uint64_t dataOffset = 0;
    ZipStatus status = locateData(input, entry, dataOffset);
    if (status != ZipStatus::ok) return status;

    CompressedStream stream{&input, dataOffset, entry.compressedSize, false, {}};
    if (zipEntryIsEncrypted(entry)) {
        status = startDecryption(stream, entry, password);
        if (status != ZipStatus::ok) return status;
    }

    VerifiedOutput out{&sink, entry.uncompressedSize, 0, 0};
    if (entry.method == methodStored) {
        if (stream.remaining != entry.uncompressedSize) return ZipStatus::damaged;
        status = copyStored(stream, out, workspace.buffer);
    } else {
        status = inflateDeflated(stream, out, workspace);
    }
    if (status != ZipStatus::ok) return status;
    if (out.written != entry.uncompressedSize || out.crc != entry.crc32) return ZipStatus::damaged;
    return ZipStatus::ok;
}

ZipStatus findEntryExtent(const ArchiveInput& input, const ZipEntry& entry, ZipExtent& extent) {
    uint64_t dataOffset = 0;
    const ZipStatus status = locateData(input, entry, dataOffset);
    if (status == ZipStatus::ok) extent = ZipExtent{entry.localHeaderOffset, dataOffset + entry.compressedSize};
    return status;
}

ZipStatus findOverlappingEntries(const ArchiveInput& input, const ZipDirectoryPlace& place, const ZipEntry* entries,
                                 size_t count, ZipPart* parts, ZipOverlap* overlaps, size_t& overlapCount) {
    overlapCount = 0;
    // The central directory through the end of the end record, as the
    // pseudo-entry numbered `count`.
    size_t partCount = 0;
    parts[partCount++] = ZipPart{{place.offset, place.end}, count};
    for (size_t index = 0; index < count; ++index) {
        ZipExtent extent{};
        const ZipStatus status = findEntryExtent(input, entries[index], extent);
        if (status == ZipStatus::readFailed) return status;
        if (status == ZipStatus::ok) parts[partCount++] = ZipPart{extent, index};
    }
    std::sort(parts, parts + partCount, [](const ZipPart& a, const ZipPart& b) {
        return a.extent.begin != b.extent.begin ? a.extent.begin < b.extent.begin : a.index < b.index;
    });
    // Sorted by start, a part overlaps an earlier one exactly when it starts
    // before the furthest end seen so far. Each entry is the later part once;
    // only the central directory's turn can name an entry a second time.
    const ZipPart* furthest = nullptr;
    for (const ZipPart* part = parts; part != parts + partCount; ++part) {
        if (furthest != nullptr && part->extent.begin < furthest->extent.end) {
            // The central directory is never the entry reported.
            const bool partIsDirectory = part->index == count;
            const size_t entry = partIsDirectory ? furthest->index : part->index;
            const size_t other = partIsDirectory ? part->index : furthest->index;
            bool reported = false;
            for (size_t i = 0; partIsDirectory && i < overlapCount; ++i)
                reported = reported || overlaps[i].entry == entry;
            if (!reported) overlaps[overlapCount++] = ZipOverlap{entry, other};
        }
        if (furthest == nullptr || part->extent.end > furthest->extent.end) furthest = part;
    }
    std::sort(overlaps, overlaps + overlapCount,
              [](const ZipOverlap& a, const ZipOverlap& b) { return a.entry < b.entry; });
    return ZipStatus::ok;
}
