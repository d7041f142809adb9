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
    for (uint32_t field :
         {20u, uint32_t{entry.flags}, uint32_t{entry.method}, uint32_t{entry.dosTime}, uint32_t{entry.dosDate}})
        appendLittle(out, field, 2);
    for (uint32_t field : {entry.crc32, entry.compressedSize, entry.uncompressedSize}) appendLittle(out, field, 4);
    appendLittle(out, static_cast<uint32_t>(entry.name.size()), 2);
    appendLittle(out, static_cast<uint32_t>(entry.extra.size()), 2);
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
    archive += entry.name + entry.extra + entry.data;
}

void appendCentralRecord(std::string& directory, const CraftedEntry& entry, uint32_t localOffset, uint16_t disk = 0) {
    appendLittle(directory, 0x02014b50, 4);
    appendLittle(directory, 0x0314, 2);  // made by Unix
    appendCommonFields(directory, entry);
    appendLittle(directory, 0, 2);  // comment length
    appendLittle(directory, disk, 2);
    appendLittle(directory, 0, 2);  // internal attributes
    appendLittle(directory, 0, 4);  // external attributes
    appendLittle(directory, localOffset, 4);
    directory += entry.name + entry.extra;
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

std::string zip64Extra(const std::vector<uint64_t>& values) {
    std::string field;
    appendLittle(field, 0x0001, 2);
    appendLittle(field, values.size() * 8, 2);
    for (uint64_t value : values) appendLittle(field, value, 8);
    return field;
}

std::string zip64EndRecords(uint64_t directoryOffset, uint64_t directorySize, uint64_t count) {
    std::string records;
    appendLittle(records, 0x06064b50, 4);
    appendLittle(records, 44, 8);     // the record's size after this field
    appendLittle(records, 45, 2);     // made by
    appendLittle(records, 45, 2);     // needed
    appendLittle(records, 0, 8);      // disk numbers
    appendLittle(records, count, 8);  // on this disk
    appendLittle(records, count, 8);  // in all
    appendLittle(records, directorySize, 8);
    appendLittle(records, directoryOffset, 8);
    appendLittle(records, 0x07064b50, 4);  // locator
    appendLittle(records, 0, 4);           // the disk of the zip64 end record
    appendLittle(records, directoryOffset + directorySize, 8);
    appendLittle(records, 1, 4);  // disks
    return records;
}

}  // namespace

std::string extendedTimestamp(uint32_t seconds) {
    std::string field;
    appendLittle(field, 0x5455, 2);
    appendLittle(field, 5, 2);
    field += '\x01';
    appendLittle(field, seconds, 4);
    return field;
}

std::string buildZip64Archive(const std::vector<CraftedEntry>& entries, const Zip64Form& form) {
    std::string archive, directory;
    for (CraftedEntry entry : entries) {
        const uint64_t offset = archive.size();
        if (form.entryFields) {
            const std::string extra = entry.extra;
            const uint32_t compressed = entry.compressedSize, uncompressed = entry.uncompressedSize;
            entry.compressedSize = entry.uncompressedSize = 0xffffffff;
            entry.extra = zip64Extra({uncompressed, compressed}) + extra;
            appendLocalRecord(archive, entry);
            entry.extra = zip64Extra({uncompressed, compressed, offset}) + extra;
            appendCentralRecord(directory, entry, 0xffffffff);
        } else {
            appendCentralRecord(directory, entry, static_cast<uint32_t>(offset));
            appendLocalRecord(archive, entry);
        }
    }
    if (!form.endRecord) return withEndRecord(archive, directory, entries.size());
    const uint64_t directoryOffset = archive.size();
    archive += directory + zip64EndRecords(directoryOffset, directory.size(), entries.size());
    appendLittle(archive, 0x06054b50, 4);
    appendLittle(archive, 0xffffffff, 4);  // disk numbers
    appendLittle(archive, 0xffffffff, 4);  // counts
    appendLittle(archive, 0xffffffff, 4);
    appendLittle(archive, 0xffffffff, 4);
    appendLittle(archive, 0, 2);
    return archive;
}

size_t zip64EndRecordOffset(const std::string& archive) { return archive.rfind(std::string("PK\x06\x06", 4)); }
size_t zip64LocatorOffset(const std::string& archive) { return archive.rfind(std::string("PK\x06\x07", 4)); }

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

void put64(std::string& archive, size_t offset, uint64_t value) { writeLittle(archive, offset, value, 8); }
