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

ZipStatus readEndRecord(const ArchiveInput& input, ZipDirectoryPlace& place, uint64_t& position, uint16_t& thisDisk,
                        uint16_t& directoryDisk, uint16_t& entriesOnDisk, uint16_t& entryCount) {
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
        thisDisk = readLittle16(p, 4);
        directoryDisk = readLittle16(p, 6);
        entriesOnDisk = readLittle16(p, 8);
        entryCount = readLittle16(p, 10);
        place.size = readLittle32(p, 12);
        place.offset = readLittle32(p, 16);
        position = tailStart + found;
        place.end = position + endRecordSize;
    }
    free(tail);
    return status;
}

// Decrypted (if need be) compressed bytes of one entry, a chunk at a time.
struct CompressedStream {
    const ArchiveInput* input;
    uint64_t nextOffset;
    uint32_t remaining;
    bool encrypted;
    ZipCryptoKeys keys;
};

ZipStatus readCompressedChunk(CompressedStream& stream, uint8_t* buffer, size_t& length) {
    length = std::min<size_t>(stream.remaining, zipChunkSize);
    const ZipStatus status = readExact(*stream.input, stream.nextOffset, buffer, length);
    if (status != ZipStatus::ok) return status;
    if (stream.encrypted) zipCryptoDecrypt(stream.keys, buffer, length);
    stream.nextOffset += length;
    stream.remaining -= static_cast<uint32_t>(length);
    return ZipStatus::ok;
}

// Output checked against the declared size before it reaches the sink, so a
// lying header cannot make the sink receive more than it announced.
struct VerifiedOutput {
    const OutputSink* sink;
    uint32_t declaredSize;
    uint32_t written;
    uint32_t crc;
};

ZipStatus deliver(VerifiedOutput& out, const uint8_t* data, size_t length) {
    if (length > out.declaredSize - out.written) return ZipStatus::damaged;
    if (length == 0) return ZipStatus::ok;
    out.crc = zipCrc32(out.crc, data, length);
    out.written += static_cast<uint32_t>(length);
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
    dataOffset =
        uint64_t{entry.localHeaderOffset} + localHeaderSize + readLittle16(header, 26) + readLittle16(header, 28);
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

ZipStatus findCentralDirectory(const ArchiveInput& input, ZipDirectoryPlace& place) {
    uint64_t position = 0;
    uint16_t thisDisk = 0, directoryDisk = 0, entriesOnDisk = 0, entryCount = 0;
    const ZipStatus status = readEndRecord(input, place, position, thisDisk, directoryDisk, entriesOnDisk, entryCount);
    if (status != ZipStatus::ok) return status;
    place.entryCount = entryCount;
    // All-ones fields and a zip64 locator mean the real values live in zip64
    // records, which this reader does not handle.
    if (entryCount == 0xffff || place.size == 0xffffffffu || place.offset == 0xffffffffu) {
        return ZipStatus::unsupported;
    }
    if (position >= zip64LocatorSize) {
        uint8_t locator[4];
        const ZipStatus read = readExact(input, position - zip64LocatorSize, locator, sizeof locator);
        if (read != ZipStatus::ok) return read;
        if (readLittle32(locator, 0) == zip64LocatorSignature) return ZipStatus::unsupported;
    }
    if (thisDisk != 0 || directoryDisk != 0 || entriesOnDisk != entryCount) return ZipStatus::unsupported;
    if (place.offset + place.size > position) return ZipStatus::damaged;
    return ZipStatus::ok;
}

ZipStatus readCentralDirectory(const ArchiveInput& input, const ZipDirectoryPlace& place, uint8_t* bytes,
                               ZipEntry* entries, size_t& count) {
    count = 0;
    ZipStatus status = readExact(input, place.offset, bytes, place.size);
    if (status != ZipStatus::ok) return status;
    size_t offset = 0;
    for (uint32_t index = 0; index < place.entryCount; ++index) {
        if (centralHeaderSize > place.size - offset) return ZipStatus::damaged;
        const uint8_t* header = bytes + offset;
        if (readLittle32(header, 0) != centralHeaderSignature) return ZipStatus::damaged;
        const uint16_t nameLength = readLittle16(header, 28);
        const size_t recordSize = centralHeaderSize + nameLength + readLittle16(header, 30) + readLittle16(header, 32);
        if (recordSize > place.size - offset) return ZipStatus::damaged;

        ZipEntry entry;
        entry.name = reinterpret_cast<const char*>(header + centralHeaderSize);
        entry.nameLength = nameLength;
        entry.flags = readLittle16(header, 8);
        entry.method = readLittle16(header, 10);
        entry.dosTime = readLittle16(header, 12);
        entry.crc32 = readLittle32(header, 16);
        entry.compressedSize = readLittle32(header, 20);
        entry.uncompressedSize = readLittle32(header, 24);
        entry.localHeaderOffset = readLittle32(header, 42);
        const uint16_t startDisk = readLittle16(header, 34);
        if (entry.compressedSize == 0xffffffffu || entry.uncompressedSize == 0xffffffffu ||
            entry.localHeaderOffset == 0xffffffffu || startDisk != 0) {
            return ZipStatus::unsupported;
        }
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
