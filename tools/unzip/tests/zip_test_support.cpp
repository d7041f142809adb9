#include "zip_test_support.h"

#include "little_endian.h"
#include "zip_crypto.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

int runCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string makeInfoZipArchive(const fs::path& directory, const std::string& options) {
    const std::string archive = directory.string() + ".zip";
    EXPECT_EQ(runCommand("cd '" + directory.string() + "' && zip -q -r " + options + " '" + archive + "' ."), 0)
        << "Info-ZIP zip failed (is it installed?)";
    return readFile(archive);
}

std::string compressibleData(size_t size) {
    std::string data;
    for (size_t line = 0; data.size() < size; ++line)
        data += "line " + std::to_string(line) + " of a text that deflate shrinks well\n";
    return data.substr(0, size);
}

std::string incompressibleData(size_t size) {
    std::mt19937 generator(12345);
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(generator());
    return data;
}

namespace {

uint32_t crcOf(const std::string& data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// The fields both headers share, from "version needed" to the extra length.
void appendCommonFields(std::string& out, const CraftedEntry& entry) {
    for (uint32_t field : {20u, uint32_t{entry.flags}, uint32_t{entry.method}, uint32_t{entry.dosTime}, 0x5a21u})
        appendLittle(out, field, 2);
    for (uint32_t field : {entry.crc32, entry.compressedSize, entry.uncompressedSize}) appendLittle(out, field, 4);
    appendLittle(out, static_cast<uint32_t>(entry.name.size()), 2);
    appendLittle(out, 0, 2);
}

}  // namespace

CraftedEntry storedEntry(const std::string& name, const std::string& content) {
    const auto size = static_cast<uint32_t>(content.size());
    return CraftedEntry{name, content, 0, 0, 0x6c3f, crcOf(content), size, size};
}

CraftedEntry deflatedEntry(const std::string& name, const std::string& content) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);  // raw deflate
    std::string data(deflateBound(&stream, content.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(&data[0]);
    stream.avail_out = static_cast<uInt>(data.size());
    deflate(&stream, Z_FINISH);
    data.resize(stream.total_out);
    deflateEnd(&stream);
    return CraftedEntry{name,
                        data,
                        8,
                        0,
                        0x6c3f,
                        crcOf(content),
                        static_cast<uint32_t>(data.size()),
                        static_cast<uint32_t>(content.size())};
}

CraftedEntry encrypted(CraftedEntry entry, const char* password) {
    entry.flags |= 1;
    std::string data = "twelve byte " + entry.data;
    data[11] = static_cast<char>((entry.flags & 8) ? entry.dosTime >> 8 : entry.crc32 >> 24);
    ZipCryptoKeys keys = zipCryptoKeysForPassword(password);
    zipCryptoEncrypt(keys, reinterpret_cast<uint8_t*>(&data[0]), data.size());
    entry.data = data;
    entry.compressedSize = static_cast<uint32_t>(data.size());
    return entry;
}

namespace {

void appendLocalRecord(std::string& archive, const CraftedEntry& entry) {
    appendLittle(archive, 0x04034b50, 4);
    appendCommonFields(archive, entry);
    archive += entry.name + entry.data;
}

void appendCentralRecord(std::string& directory, const CraftedEntry& entry, uint32_t localOffset) {
    appendLittle(directory, 0x02014b50, 4);
    appendLittle(directory, 0x0314, 2);  // made by Unix
    appendCommonFields(directory, entry);
    appendLittle(directory, 0, 4);  // comment length, disk
    appendLittle(directory, 0, 2);  // internal attributes
    appendLittle(directory, 0, 4);  // external attributes
    appendLittle(directory, localOffset, 4);
    directory += entry.name;
}

std::string withEndRecord(std::string archive, const std::string& directory, size_t count) {
    const auto directoryOffset = static_cast<uint32_t>(archive.size());
    archive += directory;
    appendLittle(archive, 0x06054b50, 4);
    appendLittle(archive, 0, 4);  // disk numbers
    appendLittle(archive, static_cast<uint32_t>(count), 2);
    appendLittle(archive, static_cast<uint32_t>(count), 2);
    appendLittle(archive, static_cast<uint32_t>(directory.size()), 4);
    appendLittle(archive, directoryOffset, 4);
    appendLittle(archive, 0, 2);  // comment length
    return archive;
}

}  // namespace

std::string buildArchive(const std::vector<CraftedEntry>& entries) {
    std::string archive, directory;
    for (const CraftedEntry& entry : entries) {
        appendCentralRecord(directory, entry, static_cast<uint32_t>(archive.size()));
        appendLocalRecord(archive, entry);
    }
    return withEndRecord(archive, directory, entries.size());
}

std::string buildArchiveSharingOneStream(const CraftedEntry& entry, const std::vector<std::string>& names) {
    std::string archive, directory;
    appendLocalRecord(archive, entry);
    for (const std::string& name : names) {
        CraftedEntry listed = entry;
        listed.name = name;
        appendCentralRecord(directory, listed, 0);
    }
    return withEndRecord(archive, directory, names.size());
}

std::string fortyEntriesOverOneStream(size_t size) {
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) names.push_back("copy" + std::to_string(i) + ".bin");
    return buildArchiveSharingOneStream(deflatedEntry("x", std::string(size, 'z')), names);
}

size_t centralRecordOffset(const std::string& archive, size_t index) {
    const size_t end = archive.size() - 22;
    size_t offset = readLittle32(archive, end + 16);
    for (size_t i = 0; i < index; ++i)
        offset += 46 + readLittle16(archive, offset + 28) + readLittle16(archive, offset + 30) +
                  readLittle16(archive, offset + 32);
    return offset;
}

void put16(std::string& archive, size_t offset, uint16_t value) { writeLittle(archive, offset, value, 2); }

void put32(std::string& archive, size_t offset, uint32_t value) { writeLittle(archive, offset, value, 4); }
