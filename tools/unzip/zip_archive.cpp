#include "zip_archive.h"

#include "zip_crypto.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t local_header_signature = 0x04034b50;
constexpr uint32_t central_header_signature = 0x02014b50;
constexpr uint32_t end_of_central_directory_signature = 0x06054b50;
constexpr uint32_t zip64_locator_signature = 0x07064b50;

constexpr size_t local_header_size = 30;
constexpr size_t central_header_size = 46;
constexpr size_t end_record_size = 22;
constexpr size_t zip64_locator_size = 20;
constexpr size_t max_comment_size = 0xffff;

constexpr uint16_t flag_encrypted = 1u << 0;
constexpr uint16_t flag_data_descriptor = 1u << 3;
constexpr uint16_t flag_strong_encryption = 1u << 6;
constexpr uint16_t flag_masked_local_headers = 1u << 13;

constexpr uint16_t method_stored = 0;
constexpr uint16_t method_deflated = 8;

// A constant: an overflow would not compile, so the widening loses nothing.
constexpr size_t chunk_size = 64 * 1024; // NOLINT(bugprone-implicit-widening-of-multiplication-result)

uint16_t get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Every read goes through here, so no declared offset or size reaches the
// input unchecked.
ZipStatus read_exact(const ArchiveInput& input, uint64_t offset, uint8_t* buffer, size_t length)
{
    if (offset > input.size || length > input.size - offset)
        return ZipStatus::damaged;
    if (length != 0 && !input.read_at(input.context, offset, buffer, length))
        return ZipStatus::read_failed;
    return ZipStatus::ok;
}

bool memory_read_at(const void* context, uint64_t offset, uint8_t* buffer, size_t length)
{
    std::memcpy(buffer, static_cast<const uint8_t*>(context) + offset, length);
    return true;
}

struct EndRecord {
    uint64_t position;
    uint32_t central_offset;
    uint32_t central_size;
    uint16_t entry_count;
};

// The end record sits in the last 22 + 65535 bytes. A candidate whose comment
// reaches exactly to the end of the file is preferred, so a signature inside a
// comment is not mistaken for the record; failing that, the last candidate
// whose comment fits is taken (an archive with bytes appended).
ZipStatus find_end_record(const ArchiveInput& input, EndRecord& record)
{
    if (input.size < end_record_size)
        return ZipStatus::damaged;
    const size_t tail_size =
        static_cast<size_t>(std::min<uint64_t>(input.size, end_record_size + max_comment_size));
    const uint64_t tail_start = input.size - tail_size;
    std::vector<uint8_t> tail(tail_size);
    const ZipStatus read = read_exact(input, tail_start, tail.data(), tail_size);
    if (read != ZipStatus::ok)
        return read;

    size_t found = tail_size; // none yet
    for (size_t at = tail_size - end_record_size + 1; at-- > 0;) {
        if (get32(&tail[at]) != end_of_central_directory_signature)
            continue;
        const size_t comment_end = at + end_record_size + get16(&tail[at + 20]);
        if (comment_end == tail_size) {
            found = at;
            break;
        }
        if (comment_end < tail_size && found == tail_size)
            found = at;
    }
    if (found == tail_size)
        return ZipStatus::damaged;

    const uint8_t* p = &tail[found];
    const uint16_t this_disk = get16(p + 4);
    const uint16_t central_disk = get16(p + 6);
    const uint16_t entries_on_disk = get16(p + 8);
    record.position = tail_start + found;
    record.entry_count = get16(p + 10);
    record.central_size = get32(p + 12);
    record.central_offset = get32(p + 16);

    // All-ones fields and a zip64 locator mean the real values live in zip64
    // records, which this reader does not handle.
    if (record.entry_count == 0xffff || record.central_size == 0xffffffffu ||
        record.central_offset == 0xffffffffu)
        return ZipStatus::unsupported;
    if (record.position >= zip64_locator_size) {
        uint8_t locator[4];
        const ZipStatus status =
            read_exact(input, record.position - zip64_locator_size, locator, sizeof locator);
        if (status != ZipStatus::ok)
            return status;
        if (get32(locator) == zip64_locator_signature)
            return ZipStatus::unsupported;
    }
    if (this_disk != 0 || central_disk != 0 || entries_on_disk != record.entry_count)
        return ZipStatus::unsupported;
    if (uint64_t{record.central_offset} + record.central_size > record.position)
        return ZipStatus::damaged;
    return ZipStatus::ok;
}

// Decrypted (if need be) compressed bytes of one entry, a chunk at a time.
struct CompressedStream {
    const ArchiveInput* input;
    uint64_t next_offset;
    uint32_t remaining;
    bool encrypted;
    ZipCryptoKeys keys;
};

ZipStatus read_compressed_chunk(CompressedStream& stream, uint8_t* buffer, size_t& length)
{
    length = std::min<size_t>(stream.remaining, chunk_size);
    const ZipStatus status = read_exact(*stream.input, stream.next_offset, buffer, length);
    if (status != ZipStatus::ok)
        return status;
    if (stream.encrypted)
        zip_crypto_decrypt(stream.keys, buffer, length);
    stream.next_offset += length;
    stream.remaining -= static_cast<uint32_t>(length);
    return ZipStatus::ok;
}

// Output checked against the declared size before it reaches the sink, so a
// lying header cannot make the sink receive more than it announced.
struct VerifiedOutput {
    const OutputSink* sink;
    uint32_t declared_size;
    uint32_t written;
    uint32_t crc;
};

ZipStatus deliver(VerifiedOutput& out, const uint8_t* data, size_t length)
{
    if (length > out.declared_size - out.written)
        return ZipStatus::damaged;
    if (length == 0)
        return ZipStatus::ok;
    out.crc = static_cast<uint32_t>(crc32(out.crc, data, static_cast<uInt>(length)));
    out.written += static_cast<uint32_t>(length);
    return out.sink->write(out.sink->context, data, length) ? ZipStatus::ok
                                                            : ZipStatus::output_failed;
}

ZipStatus copy_stored(CompressedStream& stream, VerifiedOutput& out)
{
    std::vector<uint8_t> buffer(chunk_size);
    while (stream.remaining > 0) {
        size_t length = 0;
        ZipStatus status = read_compressed_chunk(stream, buffer.data(), length);
        if (status == ZipStatus::ok)
            status = deliver(out, buffer.data(), length);
        if (status != ZipStatus::ok)
            return status;
    }
    return ZipStatus::ok;
}

ZipStatus inflate_loop(z_stream& inflater, CompressedStream& stream, VerifiedOutput& out,
                       uint8_t* in_buffer, uint8_t* out_buffer)
{
    for (;;) {
        if (inflater.avail_in == 0) {
            if (stream.remaining == 0)
                return ZipStatus::damaged; // data ends before the deflate stream does
            size_t length = 0;
            const ZipStatus status = read_compressed_chunk(stream, in_buffer, length);
            if (status != ZipStatus::ok)
                return status;
            inflater.next_in = in_buffer;
            inflater.avail_in = static_cast<uInt>(length);
        }
        inflater.next_out = out_buffer;
        inflater.avail_out = static_cast<uInt>(chunk_size);
        const int result = inflate(&inflater, Z_NO_FLUSH);
        // Z_BUF_ERROR with input left cannot make progress: treat as damage
        // rather than loop forever.
        const bool needs_input = result == Z_BUF_ERROR && inflater.avail_in == 0;
        if (result != Z_OK && result != Z_STREAM_END && !needs_input)
            return ZipStatus::damaged;
        const ZipStatus status = deliver(out, out_buffer, chunk_size - inflater.avail_out);
        if (status != ZipStatus::ok)
            return status;
        if (result == Z_STREAM_END)
            return ZipStatus::ok;
    }
}

ZipStatus inflate_deflated(CompressedStream& stream, VerifiedOutput& out)
{
    std::vector<uint8_t> in_buffer(chunk_size);
    std::vector<uint8_t> out_buffer(chunk_size);
    z_stream inflater{};
    if (inflateInit2(&inflater, -MAX_WBITS) != Z_OK) // raw deflate, no zlib header
        return ZipStatus::output_failed;
    const ZipStatus status = inflate_loop(inflater, stream, out, in_buffer.data(), out_buffer.data());
    inflateEnd(&inflater);
    return status;
}

// Sets up decryption and consumes the 12-byte header. Its last byte must equal
// the CRC's high byte, or with a data descriptor (CRC unknown when the header
// was written) the high byte of the DOS time.
ZipStatus start_decryption(CompressedStream& stream, const ZipEntry& entry, const char* password)
{
    if (password == nullptr)
        return ZipStatus::wrong_password;
    if (stream.remaining < zip_crypto_header_size)
        return ZipStatus::damaged;
    uint8_t header[zip_crypto_header_size];
    const ZipStatus status = read_exact(*stream.input, stream.next_offset, header, sizeof header);
    if (status != ZipStatus::ok)
        return status;
    stream.keys = zip_crypto_keys_for_password(password);
    zip_crypto_decrypt(stream.keys, header, sizeof header);
    const uint8_t expected = (entry.flags & flag_data_descriptor)
                                 ? static_cast<uint8_t>(entry.dos_time >> 8)
                                 : static_cast<uint8_t>(entry.crc32 >> 24);
    if (header[zip_crypto_header_size - 1] != expected)
        return ZipStatus::wrong_password;
    stream.encrypted = true;
    stream.next_offset += zip_crypto_header_size;
    stream.remaining -= zip_crypto_header_size;
    return ZipStatus::ok;
}

// Where the entry's data starts: after the local header and its own (possibly
// different) name and extra field lengths.
ZipStatus locate_data(const ArchiveInput& input, const ZipEntry& entry, uint64_t& data_offset)
{
    uint8_t header[local_header_size];
    const ZipStatus status = read_exact(input, entry.local_header_offset, header, sizeof header);
    if (status != ZipStatus::ok)
        return status;
    if (get32(header) != local_header_signature)
        return ZipStatus::damaged;
    data_offset = uint64_t{entry.local_header_offset} + local_header_size + get16(header + 26) +
                  get16(header + 28);
    if (data_offset > input.size || entry.compressed_size > input.size - data_offset)
        return ZipStatus::damaged;
    return ZipStatus::ok;
}

struct PlacedExtent {
    ZipExtent extent;
    size_t index;
};

} // namespace

ArchiveInput memory_archive_input(const uint8_t* data, size_t size)
{
    return ArchiveInput{size, memory_read_at, data};
}

const char* zip_status_text(ZipStatus status)
{
    switch (status) {
    case ZipStatus::ok: return "ok";
    case ZipStatus::damaged: return "damaged archive";
    case ZipStatus::unsupported: return "unsupported ZIP feature";
    case ZipStatus::wrong_password: return "wrong or missing password";
    case ZipStatus::read_failed: return "cannot read archive";
    case ZipStatus::output_failed: return "cannot write output";
    }
    return "unknown error";
}

bool zip_entry_is_directory(const ZipEntry& entry)
{
    return !entry.name.empty() && entry.name.back() == '/';
}

bool zip_entry_is_encrypted(const ZipEntry& entry)
{
    return (entry.flags & flag_encrypted) != 0;
}

ZipStatus read_central_directory(const ArchiveInput& input, std::vector<ZipEntry>& entries)
{
    entries.clear();
    EndRecord end{};
    ZipStatus status = find_end_record(input, end);
    if (status != ZipStatus::ok)
        return status;

    const uint64_t directory_end = uint64_t{end.central_offset} + end.central_size;
    uint64_t offset = end.central_offset;
    for (uint32_t index = 0; index < end.entry_count; ++index) {
        uint8_t header[central_header_size];
        if (central_header_size > directory_end - offset)
            return ZipStatus::damaged;
        status = read_exact(input, offset, header, sizeof header);
        if (status != ZipStatus::ok)
            return status;
        if (get32(header) != central_header_signature)
            return ZipStatus::damaged;
        const uint16_t name_length = get16(header + 28);
        const uint64_t record_size =
            central_header_size + name_length + get16(header + 30) + get16(header + 32);
        if (record_size > directory_end - offset)
            return ZipStatus::damaged;

        ZipEntry entry;
        entry.flags = get16(header + 8);
        entry.method = get16(header + 10);
        entry.dos_time = get16(header + 12);
        entry.crc32 = get32(header + 16);
        entry.compressed_size = get32(header + 20);
        entry.uncompressed_size = get32(header + 24);
        entry.local_header_offset = get32(header + 42);
        const uint16_t start_disk = get16(header + 34);
        if (entry.compressed_size == 0xffffffffu || entry.uncompressed_size == 0xffffffffu ||
            entry.local_header_offset == 0xffffffffu || start_disk != 0)
            return ZipStatus::unsupported;
        entry.name.resize(name_length);
        status = read_exact(input, offset + central_header_size,
                            reinterpret_cast<uint8_t*>(&entry.name[0]), name_length);
        if (status != ZipStatus::ok)
            return status;
        entries.push_back(std::move(entry));
        offset += record_size;
    }
    return ZipStatus::ok;
}

ZipStatus extract_entry(const ArchiveInput& input, const ZipEntry& entry, const char* password,
                        const OutputSink& sink)
{
    if (entry.flags & (flag_strong_encryption | flag_masked_local_headers))
        return ZipStatus::unsupported;
    if (entry.method != method_stored && entry.method != method_deflated)
        return ZipStatus::unsupported;

    uint64_t data_offset = 0;
    ZipStatus status = locate_data(input, entry, data_offset);
    if (status != ZipStatus::ok)
        return status;

    CompressedStream stream{&input, data_offset, entry.compressed_size, false, {}};
    if (zip_entry_is_encrypted(entry)) {
        status = start_decryption(stream, entry, password);
        if (status != ZipStatus::ok)
            return status;
    }

    VerifiedOutput out{&sink, entry.uncompressed_size, 0, static_cast<uint32_t>(crc32(0, nullptr, 0))};
    if (entry.method == method_stored) {
        if (stream.remaining != entry.uncompressed_size)
            return ZipStatus::damaged;
        status = copy_stored(stream, out);
    } else {
        status = inflate_deflated(stream, out);
    }
    if (status != ZipStatus::ok)
        return status;
    if (out.written != entry.uncompressed_size || out.crc != entry.crc32)
        return ZipStatus::damaged;
    return ZipStatus::ok;
}

ZipStatus find_entry_extent(const ArchiveInput& input, const ZipEntry& entry, ZipExtent& extent)
{
    uint64_t data_offset = 0;
    const ZipStatus status = locate_data(input, entry, data_offset);
    if (status == ZipStatus::ok)
        extent = ZipExtent{entry.local_header_offset, data_offset + entry.compressed_size};
    return status;
}

ZipStatus find_overlapping_entries(const ArchiveInput& input, const std::vector<ZipEntry>& entries,
                                   std::vector<ZipOverlap>& overlaps)
{
    overlaps.clear();
    EndRecord end{};
    ZipStatus status = find_end_record(input, end);
    if (status != ZipStatus::ok)
        return status;
    // The central directory through the end of the end record, as the
    // pseudo-entry numbered entries.size().
    std::vector<PlacedExtent> placed{
        {{end.central_offset, end.position + end_record_size}, entries.size()}};
    for (size_t index = 0; index < entries.size(); ++index) {
        ZipExtent extent{};
        status = find_entry_extent(input, entries[index], extent);
        if (status == ZipStatus::read_failed)
            return status;
        if (status == ZipStatus::ok)
            placed.push_back({extent, index});
    }
    std::sort(placed.begin(), placed.end(), [](const PlacedExtent& a, const PlacedExtent& b) {
        return a.extent.begin != b.extent.begin ? a.extent.begin < b.extent.begin : a.index < b.index;
    });
    // Sorted by start, a part overlaps an earlier one exactly when it starts
    // before the furthest end seen so far.
    std::vector<bool> reported(entries.size() + 1, false);
    const PlacedExtent* furthest = nullptr;
    for (const PlacedExtent& part : placed) {
        if (furthest != nullptr && part.extent.begin < furthest->extent.end) {
            // The central directory is never the entry reported.
            const bool part_is_directory = part.index == entries.size();
            const size_t entry = part_is_directory ? furthest->index : part.index;
            const size_t other = part_is_directory ? part.index : furthest->index;
            if (!reported[entry]) {
                reported[entry] = true;
                overlaps.push_back(ZipOverlap{entry, other});
            }
        }
        if (furthest == nullptr || part.extent.end > furthest->extent.end)
            furthest = &part;
    }
    std::sort(overlaps.begin(), overlaps.end(),
              [](const ZipOverlap& a, const ZipOverlap& b) { return a.entry < b.entry; });
    return ZipStatus::ok;
}
