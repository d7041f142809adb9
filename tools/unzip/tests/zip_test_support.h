// Helpers for the unzip tests: temporary directories, archives made with
// Info-ZIP `zip`, and crafted archives built byte by byte.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;
using namespace testing_support;

int runCommand(const std::string& command);  // exit status

// Runs `zip -r <options> DIR.zip .` inside `directory`; returns the archive.
std::string makeInfoZipArchive(const fs::path& directory, const std::string& options);

// Data that deflate shrinks well, or not at all.
std::string compressibleData(size_t size);
std::string incompressibleData(size_t size);

// One entry of a crafted archive: `data` is stored as is and the other fields
// go into both headers unchanged, so that tests can make them lie.
struct CraftedEntry {
    std::string name, data;
    uint16_t method, flags, dosTime;
    uint32_t crc32, compressedSize, uncompressedSize;
    uint16_t dosDate = 0x5a21;  // 2025-01-01
    std::string extra;          // extra fields, in both headers
};

// An extended timestamp extra field holding the modification time `seconds`.
std::string extendedTimestamp(uint32_t seconds);

// Archives in the zip64 form, as a writer must use it past 4 GiB or 65535
// entries, on small data: each entry's sizes and offset as markers, their
// values in a zip64 extra field (central and local), and the end record's
// fields as markers, their values in a zip64 end record behind a locator.
struct Zip64Form {
    bool entryFields = true;
    bool endRecord = true;
};
std::string buildZip64Archive(const std::vector<CraftedEntry>& entries, const Zip64Form& form = {});
// Where a zip64 archive's zip64 end record and its locator start.
size_t zip64EndRecordOffset(const std::string& archive);
size_t zip64LocatorOffset(const std::string& archive);

CraftedEntry storedEntry(const std::string& name, const std::string& content);
CraftedEntry deflatedEntry(const std::string& name, const std::string& content);
// Encrypts as zip -P does, with a fixed 12-byte header whose check byte is the
// CRC's high byte (the time's with flag bit 3).
CraftedEntry encrypted(CraftedEntry entry, const char* password);

std::string buildArchive(const std::vector<CraftedEntry>& entries);
// One local record for `entry` and a central record for each of `names`,
// all pointing at it: many entries, one stored stream.
std::string buildArchiveSharingOneStream(const CraftedEntry& entry, const std::vector<std::string>& names);
// The decompression bomb: 40 entries ("copy0.bin" ...) over one deflated
// stream of `size` bytes.
std::string fortyEntriesOverOneStream(size_t size);
// Where the `index`-th central record starts, in an archive without comment.
size_t centralRecordOffset(const std::string& archive, size_t index);
void put16(std::string& archive, size_t offset, uint16_t value);
void put32(std::string& archive, size_t offset, uint32_t value);
void put64(std::string& archive, size_t offset, uint64_t value);
