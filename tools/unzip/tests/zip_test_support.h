// Helpers for the unzip tests: temporary directories, archives made with
// Info-ZIP `zip`, and crafted archives built byte by byte.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string read_file(const fs::path& path);
void write_file(const fs::path& path, const std::string& data);

// Runs a shell command line; returns its exit status (-1 if it did not exit).
int run_command(const std::string& command);

// Runs `zip -r <options> archive .` inside `directory` (Info-ZIP); returns the
// archive's bytes. Fails the test if zip fails.
std::string make_info_zip_archive(const fs::path& directory, const std::string& options);

// Data of `size` bytes that deflate compresses (text) or cannot (noise).
std::string compressible_data(size_t size);
std::string incompressible_data(size_t size);

// One entry of a crafted archive. `data` is stored as is; the other fields
// go into both headers unchanged, so tests can make them lie.
struct CraftedEntry {
    std::string name;
    std::string data;
    uint16_t method;
    uint16_t flags;
    uint16_t dos_time;
    uint32_t crc32;
    uint32_t compressed_size;
    uint32_t uncompressed_size;
};

// Honest entries for `content`.
CraftedEntry stored_entry(const std::string& name, const std::string& content);
CraftedEntry deflated_entry(const std::string& name, const std::string& content);
// Encrypts an entry's data with a fixed header whose check byte is the CRC's
// high byte (or the time's, with flag bit 3), as zip -P does.
CraftedEntry encrypted(CraftedEntry entry, const char* password);

std::string build_archive(const std::vector<CraftedEntry>& entries);

// Little-endian field patching in a built archive.
void put16(std::string& archive, size_t offset, uint16_t value);
void put32(std::string& archive, size_t offset, uint32_t value);
