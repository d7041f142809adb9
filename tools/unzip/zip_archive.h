// Reading a ZIP archive: its central directory, and the verified data of one
// entry. Portable, on plain arrays (no platform headers, no C++ library), so
// it builds natively for fuzzing and into unzip.exe, which links no C++
// runtime; zip_reader_containers.h has std::vector forms for host tools.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Random access to the archive's bytes, from a file or from memory.
struct ArchiveInput {
    uint64_t size;
    // Reads exactly `length` bytes at `offset`; the reader keeps every call
    // within `size`, so false means an I/O failure. Called from several
    // threads at once when unzip.exe extracts entries side by side.
    bool (*readAt)(const void* context, uint64_t offset, uint8_t* buffer, size_t length);
    const void* context;
};

// An input over bytes in memory, which must outlive it.
ArchiveInput memoryArchiveInput(const uint8_t* data, size_t size);

enum class ZipStatus {
    ok,
    damaged,        // structure, sizes, compressed data or CRC wrong; truncated
    unsupported,    // multi-disk, unknown method, strong encryption
    wrongPassword,  // encrypted and no password, or its check byte disagrees
    readFailed,     // the input could not be read
    outputFailed,   // the sink refused the data
    outOfMemory,    // the memory to read the archive could not be had
};

const char* zipStatusText(ZipStatus status);

// What the central directory says about one entry, zip64 values read in.
struct ZipEntry {
    const char* name;  // raw bytes as stored, in the directory's bytes; not terminated
    size_t nameLength;
    uint16_t flags;
    uint16_t method;
    uint16_t dosTime;
    uint16_t dosDate;
    uint32_t crc32;
    uint64_t compressedSize;
    uint64_t uncompressedSize;
    uint64_t localHeaderOffset;
    // The extended timestamp's modification time, seconds since 1970 in UTC,
    // when the entry has one (zipEntryTime reads it).
    bool hasUnixTime;
    int64_t unixTime;
};

bool zipEntryIsDirectory(const ZipEntry& entry);
bool zipEntryIsEncrypted(const ZipEntry& entry);

// Where the end records put the central directory: `size` bytes at `offset`
// holding `entryCount` records; `end` is where the end record itself ends.
// With a zip64 end record, its values stand in for the end record's, and it
// and its locator lie between the directory and the end record.
struct ZipDirectoryPlace {
    uint64_t offset;
    uint64_t size;
    uint64_t entryCount;
    uint64_t end;
};

// The most records the directory can hold (each takes at least 46 bytes),
// whatever count it declares: the room readCentralDirectory needs.
uint64_t zipEntryCapacity(const ZipDirectoryPlace& place);

ZipStatus findCentralDirectory(const ArchiveInput& input, ZipDirectoryPlace& place);

// Reads the directory's `place.size` bytes into `bytes` and its records, in
// order, into `entries` (room for zipEntryCapacity), their names pointing
// into `bytes`. `count` is the number read: when the directory is damaged
// part way, the records before the damage.
ZipStatus readCentralDirectory(const ArchiveInput& input, const ZipDirectoryPlace& place, uint8_t* bytes,
                               ZipEntry* entries, size_t& count);

// Where an entry's stored bytes lie: from its local header to the end of its
// data, [begin, end). Not ok when extractEntry would not find the data (the
// local header is missing, or the data runs past the end of the archive).
struct ZipExtent {
    uint64_t begin;
    uint64_t end;
};
ZipStatus findEntryExtent(const ArchiveInput& input, const ZipEntry& entry, ZipExtent& extent);

// Two parts of the archive that share bytes: an entry's stored bytes (its
// local header through the end of its data) and another entry's, or the
// central directory and end record. Archives made that way use one stream for
// many entries, a decompression bomb. `entry` is the one of the two that
// starts later in the file, or the entry when the other is the central
// directory; `other` is the other's index, the number of entries standing for
// the central directory.
struct ZipOverlap {
    size_t entry;
    size_t other;
};

// One part of the archive, as findOverlappingEntries sorts them.
struct ZipPart {
    ZipExtent extent;
    size_t index;
};

// Every entry whose stored bytes overlap others', one overlap per entry, in
// entry order, into `overlaps` (room for `count`); `overlapCount` says how
// many. `parts` is work memory with room for `count` + 1. Entries whose
// local header cannot be read or whose data runs past the end of the archive
// are left out: extractEntry refuses them as damaged before it delivers
// anything.
ZipStatus findOverlappingEntries(const ArchiveInput& input, const ZipDirectoryPlace& place, const ZipEntry* entries,
                                 size_t count, ZipPart* parts, ZipOverlap* overlaps, size_t& overlapCount);

// The largest piece of data a sink gets at once.
constexpr size_t zipChunkSize = size_t{128} * 1024;

// Receives an entry's data in pieces of at most zipChunkSize; returns false
// to stop.
struct OutputSink {
    bool (*write)(void* context, const uint8_t* data, size_t length);
    void* context;
};

// The memory one extraction at a time works in (buffers and the inflater);
// one per thread that extracts. Null when the memory cannot be had.
struct ZipWorkspace;
ZipWorkspace* createZipWorkspace();
void destroyZipWorkspace(ZipWorkspace* workspace);

// Streams the entry's uncompressed data into `sink`, never more than its
// declared size, and then checks length and CRC-32. The sink sees data before
// the check: on any status but ok, the caller must discard what it got. For an
// encrypted entry the password is checked before the sink gets anything.
// `password` may be null (none given).
ZipStatus extractEntry(const ArchiveInput& input, const ZipEntry& entry, const char* password, const OutputSink& sink,
                       ZipWorkspace& workspace);
