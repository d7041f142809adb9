#include "archive_writer.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <vector>

#include "command_line.h"
#include "file_io.h"
#include "progress.h"
#include "zip_crypto.h"
#include "zip_format.h"
#include "name_rules.h"

namespace {

// Made by "MS-DOS" (attributes are DOS attributes), ZIP 2.0; 4.5 where an
// entry needs zip64.
constexpr uint16_t versionMadeBy = 20;
constexpr uint16_t versionForFolders = 10;
constexpr uint16_t versionForFiles = 20;  // deflate and encryption
constexpr uint32_t dosDirectoryAttribute = 0x10;
constexpr size_t chunkSize = 1 << 16;

// What the central directory needs to know of an entry once it is written.
struct WrittenEntry {
    const PayloadEntry* entry;
    uint16_t flags;
    uint16_t method;
    DosDateTime when;
    uint32_t timestamp;  // the extended timestamp's four bytes
    uint32_t crc;
    uint64_t compressedSize;
    uint64_t offset;
    // Both sizes in a zip64 field of both headers: decided before the data is
    // written, from what deflating and encrypting it could make of it.
    bool zip64Sizes;
};

// The most bytes deflating `size` bytes makes (zlib's deflateBound), and the
// encryption header.
uint64_t mostPackedBytes(uint64_t size) {
    return size + (size >> 12) + (size >> 14) + (size >> 25) + 13 + zipCryptoHeaderSize;
}

// The archive file, written front to back through a buffer, with its offset.
struct ArchiveFile {
    std::string path;
    int fd = -1;
    uint64_t offset = 0;
    std::string buffer;

    bool flush(std::string& error) {
        size_t written = 0;
        while (written < buffer.size()) {
            const ssize_t n = write(fd, buffer.data() + written, buffer.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = "cannot write " + quoted(path) + ": " + systemErrorText(n < 0 ? errno : EIO);
                return false;
            }
            written += static_cast<size_t>(n);
        }
        buffer.clear();
        return true;
    }
    bool append(const std::string& bytes, std::string& error) {
        buffer += bytes;
        offset += bytes.size();
        return buffer.size() < (1u << 20) || flush(error);
    }
    // Drops everything from `at` on, to write it again otherwise.
    bool cutAt(uint64_t at, std::string& error) {
        const uint64_t buffered = buffer.size();
        if (offset - at <= buffered) {
            buffer.resize(static_cast<size_t>(buffered - (offset - at)));
        } else if (!flush(error)) {
            return false;
        } else if (ftruncate(fd, static_cast<off_t>(at)) != 0 || lseek(fd, static_cast<off_t>(at), SEEK_SET) < 0) {
            error = "cannot write " + quoted(path) + ": " + systemErrorText(errno);
            return false;
        }
        offset = at;
        return true;
    }
    // Writes `bytes` at `at`, before the buffered end.
    bool patch(uint64_t at, const std::string& bytes, std::string& error) {
        if (!flush(error)) return false;
        if (pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)) != static_cast<ssize_t>(bytes.size())) {
            error = "cannot write " + quoted(path) + ": " + systemErrorText(errno);
            return false;
        }
        return true;
    }
};

struct WriteState {
    const ArchiveWriteOptions* options;
    ArchiveFile* archive;
    Progress progress;
};

bool cancelled(const WriteState& state) { return state.options->cancelled != nullptr && state.options->cancelled(); }

bool interrupted(const WriteState& state, std::string& error) {
    if (cancelled(state)) error = "interrupted";
    return cancelled(state);
}

// Reads up to `length` bytes at `offset`; 0 at the end of the file.
bool readChunk(int fd, const PayloadEntry& entry, uint64_t offset, uint8_t* data, size_t length, size_t& got,
               const WriteState& state, std::string& error) {
    for (;;) {
        const ssize_t n = pread(fd, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            if (interrupted(state, error)) return false;
            continue;
        }
        if (n < 0) {
            error = "cannot read " + quoted(entry.hostPath) + ": " + systemErrorText(errno);
            return false;
        }
        got = static_cast<size_t>(n);
        return true;
    }
}

// The CRC of the whole file, which the encryption header's check byte and
// the local header need before the data is written.
bool crcOfFile(int fd, const PayloadEntry& entry, const WriteState& state, uint32_t& crc, std::string& error) {
    std::vector<uint8_t> data(chunkSize);
    uLong sum = crc32(0, Z_NULL, 0);
    uint64_t total = 0;
    for (;;) {
        if (interrupted(state, error)) return false;
        size_t got = 0;
        if (!readChunk(fd, entry, total, data.data(), data.size(), got, state, error)) return false;
        if (got == 0) break;
        sum = crc32(sum, data.data(), static_cast<uInt>(got));
        total += got;
        if (total > entry.size) break;
    }
    if (total != entry.size) {
        error = quoted(entry.hostPath) + " changed while it was packed";
        return false;
    }
    crc = static_cast<uint32_t>(sum);
    return true;
}

// Eleven bytes that differ from entry to entry, then the check byte, which
// an extraction tool compares after decrypting to tell a wrong password:
// the CRC's high byte. They are derived from the entry rather than drawn at
// random, so that the same payload gives the same archive; the cipher does
// not keep the password from a holder of the medium anyway (setup.exe holds it).
std::string encryptionHeader(const PayloadEntry& entry, uint32_t crc, const DosDateTime& when) {
    uint64_t state = 0xcbf29ce484222325ULL;  // FNV-1a over what identifies the entry
    auto mix = [&state](uint64_t value) {
        for (int i = 0; i < 8; ++i) {
            state ^= (value >> (8 * i)) & 0xff;
            state *= 0x100000001b3ULL;
        }
    };
    for (char c : entry.name) mix(static_cast<unsigned char>(c));
    mix(entry.size);
    mix(crc);
    mix(static_cast<uint64_t>(when.date) << 16 | when.time);
    std::string header;
    for (size_t i = 0; i + 1 < zipCryptoHeaderSize; ++i) {
        // splitmix64 spreads the hash over the bytes.
        state += 0x9e3779b97f4a7c15ULL;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        header += static_cast<char>((z ^ (z >> 31)) & 0xff);
    }
    header += static_cast<char>(crc >> 24);
    return header;
}

// A value for a 4-byte field, or the marker that sends it to the zip64
// field (where `values` gets it).
uint32_t fieldOrMarker(uint64_t value, bool zip64, std::string& values) {
    if (!zip64) return static_cast<uint32_t>(value);
    appendLittle(values, value, 8);
    return zip64Marker32;
}

std::string extraField(uint16_t id, const std::string& data) {
    std::string field;
    appendLittle(field, id, 2);
    appendLittle(field, data.size(), 2);
    return field + data;
}

// A header from "version needed" on, with its name and extra fields: both
// sizes in a zip64 field when the entry needs it, and in the central one
// the offset as well when that does.
std::string headerFields(const WrittenEntry& written, bool central) {
    std::string zip64Values;
    const uint32_t size = fieldOrMarker(written.entry->size, written.zip64Sizes, zip64Values);
    const uint32_t compressed = fieldOrMarker(written.compressedSize, written.zip64Sizes, zip64Values);
    const bool offsetInZip64 = central && written.offset >= zip64Marker32;
    const uint32_t offset = fieldOrMarker(written.offset, offsetInZip64, zip64Values);
    std::string timestamp(1, static_cast<char>(extendedTimestampHasModified));
    appendLittle(timestamp, written.timestamp, 4);
    std::string extra = zip64Values.empty() ? "" : extraField(zip64ExtraId, zip64Values);
    extra += extraField(extendedTimestampId, timestamp);

    std::string header;
    const uint16_t version = written.entry->directory ? versionForFolders : versionForFiles;
    appendLittle(header, zip64Values.empty() ? version : versionForZip64, 2);
    appendLittle(header, written.flags, 2);
    appendLittle(header, written.method, 2);
    appendLittle(header, written.when.time, 2);
    appendLittle(header, written.when.date, 2);
    appendLittle(header, written.crc, 4);
    appendLittle(header, compressed, 4);
    appendLittle(header, size, 4);
    appendLittle(header, written.entry->name.size(), 2);
    appendLittle(header, extra.size(), 2);
    if (central) {
        appendLittle(header, 0, 2);  // comment
        appendLittle(header, 0, 2);  // disk
        appendLittle(header, 0, 2);  // internal attributes
        appendLittle(header, written.entry->directory ? dosDirectoryAttribute : 0, 4);
        appendLittle(header, offset, 4);
    }
    return header + written.entry->name + extra;
}

// Its compressed size is patched once the data is written.
std::string localHeader(const WrittenEntry& written) {
    std::string header;
    appendLittle(header, localHeaderSignature, 4);
    return header + headerFields(written, false);
}

// Where in the local header the compressed size stands: in its own field,
// or in the zip64 field, which comes first after the name.
uint64_t compressedSizePlace(const WrittenEntry& written, size_t& width) {
    width = written.zip64Sizes ? 8 : 4;
    return written.offset + (written.zip64Sizes
                                 ? localHeaderSize + written.entry->name.size() + extraFieldHeaderSize + 8
                                 : localCompressedSizeOffset);
}

std::string centralHeader(const WrittenEntry& written) {
    std::string header;
    appendLittle(header, centralHeaderSignature, 4);
    const bool zip64 = written.zip64Sizes || written.offset >= zip64Marker32;
    appendLittle(header, zip64 ? versionForZip64 : versionMadeBy, 2);
    return header + headerFields(written, true);
}

// The end of the archive: a zip64 end record and its locator when the count,
// the directory's size or its offset needs one, then the end record.
std::string endRecords(uint64_t count, uint64_t directoryStart, uint64_t directorySize, bool zip64Everywhere) {
    const bool countInZip64 = zip64Everywhere || count >= zip64Marker16;
    const bool sizeInZip64 = zip64Everywhere || directorySize >= zip64Marker32;
    const bool offsetInZip64 = zip64Everywhere || directoryStart >= zip64Marker32;
    std::string end;
    if (countInZip64 || sizeInZip64 || offsetInZip64) {
        appendLittle(end, zip64EndRecordSignature, 4);
        appendLittle(end, zip64EndRecordSize - 12, 8);  // what follows this field
        appendLittle(end, versionForZip64, 2);
        appendLittle(end, versionForZip64, 2);
        appendLittle(end, 0, 4);  // this disk
        appendLittle(end, 0, 4);  // the disk where the directory starts
        appendLittle(end, count, 8);
        appendLittle(end, count, 8);
        appendLittle(end, directorySize, 8);
        appendLittle(end, directoryStart, 8);
        appendLittle(end, zip64LocatorSignature, 4);
        appendLittle(end, 0, 4);  // the disk of the zip64 end record
        appendLittle(end, directoryStart + directorySize, 8);
        appendLittle(end, 1, 4);  // disks
    }
    appendLittle(end, endOfCentralDirectorySignature, 4);
    appendLittle(end, 0, 2);  // this disk
    appendLittle(end, 0, 2);  // the disk where the directory starts
    appendLittle(end, countInZip64 ? zip64Marker16 : count, 2);
    appendLittle(end, countInZip64 ? zip64Marker16 : count, 2);
    appendLittle(end, sizeInZip64 ? zip64Marker32 : directorySize, 4);
    appendLittle(end, offsetInZip64 ? zip64Marker32 : directoryStart, 4);
    appendLittle(end, 0, 2);  // comment
    return end;
}

// Compresses (or stores) and encrypts the file's data into the archive;
// `compressed` counts what was written, encryption header included.
bool packData(int fd, const PayloadEntry& entry, bool deflated, ZipCryptoKeys& keys, WriteState& state,
              uint32_t expectedCrc, uint64_t& compressed, std::string& error) {
    z_stream stream{};
    if (deflated && deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        error = "cannot start compressing " + quoted(entry.hostPath);
        return false;
    }
    std::vector<uint8_t> in(chunkSize);
    std::vector<uint8_t> out(chunkSize);
    uLong crc = crc32(0, Z_NULL, 0);
    uint64_t offset = 0;
    bool ok = true;
    bool finished = false;
    while (ok && !finished) {
        size_t got = 0;
        ok = !interrupted(state, error) && readChunk(fd, entry, offset, in.data(), in.size(), got, state, error);
        if (!ok) break;
        offset += got;
        if (offset > entry.size) {
            error = quoted(entry.hostPath) + " changed while it was packed";
            ok = false;
            break;
        }
        crc = crc32(crc, in.data(), static_cast<uInt>(got));
        if (!deflated) {
            // Stored: the data as it is, after a deflated try that was no smaller.
            zipCryptoEncrypt(keys, in.data(), got);
            compressed += got;
            ok = state.archive->append(std::string(reinterpret_cast<const char*>(in.data()), got), error);
            finished = got == 0;
            continue;
        }
        progressBytes(state.progress, got);
        stream.next_in = in.data();
        stream.avail_in = static_cast<uInt>(got);
        const int flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            const int result = deflate(&stream, flush);
            const size_t produced = out.size() - stream.avail_out;
            zipCryptoEncrypt(keys, out.data(), produced);
            compressed += produced;
            ok = state.archive->append(std::string(reinterpret_cast<const char*>(out.data()), produced), error);
            finished = result == Z_STREAM_END;
        } while (ok && !finished && stream.avail_out == 0);
    }
    if (deflated) deflateEnd(&stream);
    // The same bytes as when the CRC was taken: a file rewritten in place
    // between the two readings is refused rather than packed half old.
    if (ok && (offset != entry.size || static_cast<uint32_t>(crc) != expectedCrc)) {
        error = quoted(entry.hostPath) + " changed while it was packed";
        ok = false;
    }
    return ok;
}

bool writeFolder(WrittenEntry& written, WriteState& state, std::string& error) {
    written.method = methodStored;
    written.crc = 0;
    written.compressedSize = 0;
    return state.archive->append(localHeader(written), error);
}

// The entry's headers and data, deflated or stored, from its local header at
// written.offset on.
bool writeFileAs(uint16_t method, int fd, const PayloadEntry& entry, WrittenEntry& written, WriteState& state,
                 std::string& error) {
    written.method = method;
    written.compressedSize = 0;
    if (!state.archive->append(localHeader(written), error)) return false;

    ZipCryptoKeys keys = zipCryptoKeysForPassword(state.options->password);
    std::string header = encryptionHeader(entry, written.crc, written.when);
    zipCryptoEncrypt(keys, reinterpret_cast<uint8_t*>(&header[0]), header.size());
    if (!state.archive->append(header, error)) return false;
    uint64_t compressed = header.size();
    if (!packData(fd, entry, written.method == methodDeflated, keys, state, written.crc, compressed, error)) {
        return false;
    }
    written.compressedSize = compressed;
    size_t width = 0;
    const uint64_t place = compressedSizePlace(written, width);
    std::string size;
    appendLittle(size, written.compressedSize, width);
    return state.archive->patch(place, size, error);
}

// Each file in the smaller of its two forms: deflated at the best level, or,
// where that makes it no smaller (small or incompressible files), stored;
// stored is then also quicker to extract.
bool writeFile(const PayloadEntry& entry, WrittenEntry& written, WriteState& state, std::string& error) {
    Descriptor file(openPayloadFile(entry, error));
    if (file.fd < 0) return false;
    progressFileStarted(state.progress);
    if (!crcOfFile(file.fd, entry, state, written.crc, error)) return false;
    written.flags |= flagEncrypted;
    written.zip64Sizes = written.zip64Sizes || mostPackedBytes(entry.size) >= zip64Marker32;
    // An empty file is stored: there is nothing to compress.
    if (entry.size == 0) return writeFileAs(methodStored, file.fd, entry, written, state, error);
    if (!writeFileAs(methodDeflated, file.fd, entry, written, state, error)) return false;
    if (written.compressedSize - zipCryptoHeaderSize < entry.size) return true;
    return state.archive->cutAt(written.offset, error) &&
           writeFileAs(methodStored, file.fd, entry, written, state, error);
}

bool writeEntries(const Payload& payload, WriteState& state, std::string& error) {
    std::vector<WrittenEntry> written;
    written.reserve(payload.entries.size());
    for (const PayloadEntry& entry : payload.entries) {
        const time_t latest = state.options->clampTimes && entry.modified > state.options->latestTime
                                  ? state.options->latestTime
                                  : entry.modified;
        // DOS fields from the time the timestamp keeps, so the two agree.
        const time_t when = static_cast<time_t>(archiveTime(latest));
        WrittenEntry record{&entry,
                            0,
                            methodStored,
                            dosDateTime(when, state.options->clampTimes),
                            static_cast<uint32_t>(when),
                            0,
                            0,
                            state.archive->offset,
                            state.options->zip64Everywhere};
        if (marksUtf8(entry.name)) record.flags |= flagUtf8Name;
        if (!(entry.directory ? writeFolder(record, state, error) : writeFile(entry, record, state, error))) {
            return false;
        }
        written.push_back(record);
    }
    const uint64_t directoryStart = state.archive->offset;
    for (const WrittenEntry& record : written) {
        if (!state.archive->append(centralHeader(record), error)) return false;
    }
    const std::string end = endRecords(written.size(), directoryStart, state.archive->offset - directoryStart,
                                       state.options->zip64Everywhere);
    return state.archive->append(end, error) && state.archive->flush(error);
}

}  // namespace

int64_t archiveTime(time_t when) {
    const int64_t time = static_cast<int64_t>(when);
    return time < earliestArchiveTime ? earliestArchiveTime : time > latestArchiveTime ? latestArchiveTime : time;
}

std::string utcTimeText(int64_t when) {
    const time_t time = static_cast<time_t>(when);
    tm parts{};
    char text[64];
    if (gmtime_r(&time, &parts) == nullptr || strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0) {
        return std::to_string(when) + " s after 1970";
    }
    return text;
}

std::string archiveTimeWarning(time_t when) {
    const int64_t packed = archiveTime(when);
    if (packed != earliestArchiveTime && packed != latestArchiveTime) return "";
    return "dated " + utcTimeText(when) + "; package.zip holds times from " + utcTimeText(earliestArchiveTime) +
           " to " + utcTimeText(latestArchiveTime) + ", so it is packed as " + utcTimeText(packed);
}

DosDateTime dosDateTime(time_t when, bool utc) {
    tm parts{};
    if ((utc ? gmtime_r(&when, &parts) : localtime_r(&when, &parts)) == nullptr || parts.tm_year < 80) {
        return DosDateTime{static_cast<uint16_t>((1 << 5) | 1), 0};  // 1980-01-01 00:00
    }
    if (parts.tm_year > 207) {
        return DosDateTime{static_cast<uint16_t>((127 << 9) | (12 << 5) | 31),
                           static_cast<uint16_t>((23 << 11) | (59 << 5) | 29)};  // 2107-12-31 23:59:58
    }
    DosDateTime result;
    result.date = static_cast<uint16_t>(((parts.tm_year - 80) << 9) | ((parts.tm_mon + 1) << 5) | parts.tm_mday);
    result.time = static_cast<uint16_t>((parts.tm_hour << 11) | (parts.tm_min << 5) | (parts.tm_sec / 2));
    return result;
}

bool writePackageArchive(const Payload& payload, const std::string& path, const ArchiveWriteOptions& options,
                         std::string& error) {
    ArchiveFile archive;
    archive.path = path;
    archive.fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (archive.fd < 0) {
        error = "cannot create " + quoted(path) + ": " + systemErrorText(errno);
        return false;
    }
    WriteState state{&options, &archive, {}};
    state.progress = startProgress("packing", payload.fileCount, payload.totalBytes, options.showProgress);
    bool written = writeEntries(payload, state, error);
    finishProgress(state.progress);
    if (written && fsync(archive.fd) != 0) {
        error = "cannot write " + quoted(path) + ": " + systemErrorText(errno);
        written = false;
    }
    close(archive.fd);
    if (!written) unlink(path.c_str());
    return written;
}
