// Reading a ZIP archive: its central directory, and the verified data of one
// entry. Portable (no platform headers), so it builds natively for fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Random access to the archive's bytes, from a file or from memory.
struct ArchiveInput {
    uint64_t size;
    // Reads exactly `length` bytes at `offset`; the reader keeps every call
    // within `size`, so false means an I/O failure.
    bool (*read_at)(const void* context, uint64_t offset, uint8_t* buffer, size_t length);
    const void* context;
};

// An input over bytes in memory, which must outlive it.
ArchiveInput memory_archive_input(const uint8_t* data, size_t size);

enum class ZipStatus {
    ok,
    damaged,        // structure, sizes, compressed data or CRC wrong; truncated
    unsupported,    // zip64, multi-disk, unknown method, strong encryption
    wrong_password, // encrypted and no password, or its check byte disagrees
    read_failed,    // the input could not be read
    output_failed,  // the sink refused the data
};

const char* zip_status_text(ZipStatus status);

// What the central directory says about one entry.
struct ZipEntry {
    std::string name; // raw bytes as stored
    uint16_t flags;
    uint16_t method;
    uint16_t dos_time;
    uint32_t crc32;
    uint32_t compressed_size;
    uint32_t uncompressed_size;
    uint32_t local_header_offset;
};

bool zip_entry_is_directory(const ZipEntry& entry);
bool zip_entry_is_encrypted(const ZipEntry& entry);

// Fills `entries` in central directory order. When the directory is damaged
// part way, `entries` keeps the records read before the damage.
ZipStatus read_central_directory(const ArchiveInput& input, std::vector<ZipEntry>& entries);

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

// Every entry whose stored bytes overlap others', one overlap per entry.
// Entries whose local header cannot be read or whose data runs past the end
// of the archive are left out: extract_entry refuses them as damaged before
// it delivers anything.
ZipStatus find_overlapping_entries(const ArchiveInput& input, const std::vector<ZipEntry>& entries,
                                   std::vector<ZipOverlap>& overlaps);

// Where an entry's stored bytes lie: from its local header to the end of its
// data, [begin, end). Not ok when extract_entry would not find the data (the
// local header is missing, or the data runs past the end of the archive).
struct ZipExtent {
    uint64_t begin;
    uint64_t end;
};
ZipStatus find_entry_extent(const ArchiveInput& input, const ZipEntry& entry, ZipExtent& extent);

// Receives an entry's data in chunks of at most 64 KiB; returns false to stop.
struct OutputSink {
    bool (*write)(void* context, const uint8_t* data, size_t length);
    void* context;
};

// Streams the entry's uncompressed data into `sink`, never more than its
// declared size, and then checks length and CRC-32. The sink sees data before
// the check: on any status but ok, the caller must discard what it got. For an
// encrypted entry the password is checked before the sink gets anything.
// `password` may be null (none given).
ZipStatus extract_entry(const ArchiveInput& input, const ZipEntry& entry,
                        const char* password, const OutputSink& sink);
