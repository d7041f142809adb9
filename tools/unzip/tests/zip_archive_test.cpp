// The reader on archives in memory: real ones made by Info-ZIP zip, and
// crafted ones that lie, break or end early.
#include "zip_reader_containers.h"

#include "zip_test_support.h"

#include <gtest/gtest.h>

#include <map>

namespace {

ArchiveInput input_for(const std::string& archive)
{
    return memoryArchiveInput(reinterpret_cast<const uint8_t*>(archive.data()), archive.size());
}

bool append_to_string(void* context, const uint8_t* data, size_t length)
{
    static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(data), length);
    return true;
}

struct Extracted {
    ZipStatus status;
    std::string data;
};

// Extracts one entry, and checks what every extraction must guarantee: the
// sink never gets more than the declared size, and a rejected password
// delivers nothing.
Extracted extract(const std::string& archive, const ZipEntry& entry, const char* password)
{
    Extracted result{ZipStatus::ok, {}};
    result.status = extractEntry(input_for(archive), entry, password, {append_to_string, &result.data});
    EXPECT_LE(result.data.size(), entry.uncompressedSize) << entryNameText(entry);
    if (result.status == ZipStatus::wrongPassword) {
        EXPECT_TRUE(result.data.empty()) << entryNameText(entry);
    }
    return result;
}

// The entries of an archive that the caller keeps alive, their names
// pointing into the directory's bytes.
ZipDirectory read_entries(const std::string& archive)
{
    ZipDirectory directory;
    EXPECT_EQ(readZipDirectory(input_for(archive), directory), ZipStatus::ok);
    return directory;
}

// Files for the Info-ZIP archives: several 64 KiB chunks, an empty file, a
// subdirectory.
std::map<std::string, std::string> sample_files()
{
    return {{"text.txt", compressible_data(300 * 1024)},
            {"noise.bin", incompressible_data(150 * 1024)},
            {"empty", ""},
            {"sub dir/inner.txt", "inner file\n"}};
}

std::string info_zip_archive_of_samples(const TempDir& temp, const std::string& options)
{
    const fs::path tree = temp.path / "tree";
    for (const auto& [name, content] : sample_files())
        write_file(tree / name, content);
    return make_info_zip_archive(tree, options);
}

struct InfoZipCase {
    const char* label;
    const char* options;
    const char* password;
};

class InfoZipArchive : public testing::TestWithParam<InfoZipCase> {};

TEST_P(InfoZipArchive, ExtractsEveryFileExactly)
{
    TempDir temp;
    const std::string archive = info_zip_archive_of_samples(temp, GetParam().options);
    std::map<std::string, std::string> files;
    bool saw_directory = false;
    for (const ZipEntry& entry : read_entries(archive).entries) {
        if (zipEntryIsDirectory(entry)) {
            saw_directory |= entryNameText(entry) == "sub dir/";
            continue;
        }
        const Extracted extracted = extract(archive, entry, GetParam().password);
        EXPECT_EQ(extracted.status, ZipStatus::ok) << entryNameText(entry);
        files[entryNameText(entry)] = extracted.data;
    }
    EXPECT_TRUE(saw_directory);
    EXPECT_EQ(files, sample_files());
}

INSTANTIATE_TEST_SUITE_P(
    Methods, InfoZipArchive,
    testing::Values(InfoZipCase{"Stored", "-0", nullptr}, InfoZipCase{"Deflated", "-9", nullptr},
                    InfoZipCase{"EncryptedStored", "-0 -P secret", "secret"},
                    InfoZipCase{"EncryptedDeflated", "-P secret", "secret"}),
    [](const testing::TestParamInfo<InfoZipCase>& info) { return std::string(info.param.label); });

// One crafted entry with the content below, as a lying or broken archive.
struct HostileCase {
    const char* label;
    const char* password;
    ZipStatus expected;
    std::string (*make_archive)();
};

const std::string content = compressible_data(100 * 1024);
CraftedEntry stored() { return stored_entry("a.txt", content); }
CraftedEntry deflated() { return deflated_entry("a.txt", content); }
std::string archive_of(const CraftedEntry& entry) { return build_archive({entry}); }

class HostileEntry : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileEntry, GetsItsStatusWithoutOverrunningTheDeclaredSize)
{
    const std::string archive = GetParam().make_archive();
    const ZipDirectory directory = read_entries(archive);
    ASSERT_EQ(directory.entries.size(), 1u);
    const Extracted extracted = extract(archive, directory.entries[0], GetParam().password);
    EXPECT_EQ(extracted.status, GetParam().expected) << zipStatusText(extracted.status);
    if (GetParam().expected == ZipStatus::ok) {
        EXPECT_EQ(extracted.data, content);
    }
}

using E = CraftedEntry;
constexpr ZipStatus ok = ZipStatus::ok, damaged = ZipStatus::damaged;

INSTANTIATE_TEST_SUITE_P(
    Crafted, HostileEntry,
    testing::Values(
        HostileCase{"Stored", nullptr, ok, [] { return archive_of(stored()); }},
        HostileCase{"Deflated", nullptr, ok, [] { return archive_of(deflated()); }},
        HostileCase{"EncryptedCrcCheckByte", "pw", ok,
                    [] { return archive_of(encrypted(deflated(), "pw")); }},
        HostileCase{"EncryptedTimeCheckByte", "pw", ok,
                    [] { E e = deflated(); e.flags = 8; return archive_of(encrypted(e, "pw")); }},
        HostileCase{"NoPassword", nullptr, ZipStatus::wrongPassword,
                    [] { return archive_of(encrypted(stored(), "pw")); }},
        HostileCase{"WrongPassword", "PW", ZipStatus::wrongPassword,
                    [] { return archive_of(encrypted(deflated(), "pw")); }},
        HostileCase{"EncryptedShorterThanHeader", "pw", damaged,
                    [] { E e = encrypted(stored(), "pw"); e.data.resize(e.compressed_size = 5); return archive_of(e); }},
        HostileCase{"BadCrc", nullptr, damaged,
                    [] { E e = stored(); e.crc32 ^= 1; return archive_of(e); }},
        HostileCase{"StoredSizesDisagree", nullptr, damaged,
                    [] { E e = stored(); e.uncompressed_size++; return archive_of(e); }},
        HostileCase{"DeclaresFarMoreThanItHolds", nullptr, damaged,
                    [] { E e = deflated(); e.uncompressed_size = 0x7fffffff; return archive_of(e); }},
        HostileCase{"DeclaresLessThanItHolds", nullptr, damaged,
                    [] { E e = deflated(); e.uncompressed_size = 1000; return archive_of(e); }},
        HostileCase{"CompressedSizeBeyondEndOfFile", nullptr, damaged,
                    [] { E e = stored(); e.compressed_size = e.uncompressed_size = 0x7fffff00; return archive_of(e); }},
        HostileCase{"DeflateStreamCutShort", nullptr, damaged,
                    [] { E e = deflated(); e.data.resize(e.compressed_size /= 2); return archive_of(e); }},
        HostileCase{"LocalSignatureBroken", nullptr, damaged,
                    [] { std::string a = archive_of(stored()); a[0] = 'X'; return a; }},
        HostileCase{"LocalNameLengthPastData", nullptr, damaged,
                    [] { std::string a = archive_of(stored()); put16(a, 26, 0xffff); return a; }},
        HostileCase{"UnknownMethod", nullptr, ZipStatus::unsupported,
                    [] { E e = stored(); e.method = 12; return archive_of(e); }},
        HostileCase{"StrongEncryption", "pw", ZipStatus::unsupported,
                    [] { E e = stored(); e.flags = 1 | 64; return archive_of(e); }}),
    [](const testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.label); });

TEST(CraftedEntry, ZeroLengthFileExtractsAsEmpty)
{
    for (const CraftedEntry& crafted : {stored_entry("empty", ""), deflated_entry("empty", "")}) {
        const std::string archive = archive_of(crafted);
        const Extracted extracted = extract(archive, read_entries(archive).entries.at(0), nullptr);
        EXPECT_EQ(extracted.status, ZipStatus::ok);
        EXPECT_TRUE(extracted.data.empty());
    }
}

// Changes to the end record (the last 22 bytes) or to the second central
// record (the 49 bytes before it).
struct DirectoryCase {
    const char* label;
    void (*change)(std::string& archive);
    ZipStatus expected;
    size_t entries_kept;
};

size_t end_record(const std::string& a) { return a.size() - 22; }
size_t second_record(const std::string& a) { return a.size() - 22 - 49; }

class CentralDirectory : public testing::TestWithParam<DirectoryCase> {};

TEST_P(CentralDirectory, StatusAndEntriesReadBeforeTheDamage)
{
    std::string archive = build_archive({stored_entry("one", "1"), stored_entry("two", "22")});
    GetParam().change(archive);
    ZipDirectory directory;
    EXPECT_EQ(readZipDirectory(input_for(archive), directory), GetParam().expected);
    EXPECT_EQ(directory.entries.size(), GetParam().entries_kept);
}

using A = std::string;

INSTANTIATE_TEST_SUITE_P(
    Damage, CentralDirectory,
    testing::Values(
        DirectoryCase{"Intact", [](A&) {}, ok, 2},
        DirectoryCase{"Empty", [](A& a) { a.clear(); }, damaged, 0},
        DirectoryCase{"EndRecordCut", [](A& a) { a.pop_back(); }, damaged, 0},
        DirectoryCase{"BytesAppended", [](A& a) { a += "junk"; }, ok, 2},
        // A comment holding a record-like block that does not reach the end.
        DirectoryCase{"FakeEndRecordInComment",
                      [](A& a) {
                          A comment = a.substr(end_record(a)) + " and more";
                          put32(comment, 16, 0x7fffffff);
                          put16(a, end_record(a) + 20, static_cast<uint16_t>(comment.size()));
                          a += comment;
                      },
                      ok, 2},
        DirectoryCase{"OffsetBeyondEndRecord",
                      [](A& a) { put32(a, end_record(a) + 16, 0x7fffffff); }, damaged, 0},
        DirectoryCase{"MoreEntriesThanRecords",
                      [](A& a) { put16(a, end_record(a) + 8, 3); put16(a, end_record(a) + 10, 3); }, damaged, 2},
        DirectoryCase{"SignatureBroken", [](A& a) { a[second_record(a)] = 'X'; }, damaged, 1},
        DirectoryCase{"NameOverrunsDirectory",
                      [](A& a) { put16(a, second_record(a) + 28, 0x1000); }, damaged, 1},
        DirectoryCase{"SecondDisk",
                      [](A& a) { put16(a, end_record(a) + 4, 1); }, ZipStatus::unsupported, 0},
        DirectoryCase{"Zip64Locator",
                      [](A& a) { A locator(20, '\0'); put32(locator, 0, 0x07064b50); a.insert(end_record(a), locator); },
                      ZipStatus::unsupported, 0},
        DirectoryCase{"Zip64Size",
                      [](A& a) { put32(a, second_record(a) + 20, 0xffffffff); }, ZipStatus::unsupported, 1}),
    [](const testing::TestParamInfo<DirectoryCase>& info) { return std::string(info.param.label); });

// Entries whose stored bytes overlap: the decompression bomb of many entries
// over one stream, and its variants.
struct OverlapCase {
    const char* label;
    std::string (*make_archive)();
    std::vector<std::pair<size_t, size_t>> overlaps; // entry, the one it overlaps
};

class OverlappingEntries : public testing::TestWithParam<OverlapCase> {};

TEST_P(OverlappingEntries, AreFoundWithThePartTheyOverlap)
{
    const std::string archive = GetParam().make_archive();
    const ZipDirectory directory = read_entries(archive);
    std::vector<ZipOverlap> overlaps;
    ASSERT_EQ(findOverlappingEntries(input_for(archive), directory, overlaps), ZipStatus::ok);
    std::vector<std::pair<size_t, size_t>> found;
    for (const ZipOverlap& overlap : overlaps)
        found.emplace_back(overlap.entry, overlap.other);
    EXPECT_EQ(found, GetParam().overlaps);
}

// The second entry's local header and data lie inside the first's data.
std::string local_header_inside_other_data()
{
    const std::string inner = build_archive({deflated_entry("inner.txt", content)});
    const std::string inner_record = inner.substr(0, central_record_offset(inner, 0));
    std::string archive = build_archive({stored_entry("outer.bin", inner_record), deflated_entry("inner.txt", content)});
    put32(archive, central_record_offset(archive, 1) + 42, 30 + std::string("outer.bin").size());
    return archive;
}

// The entry's sizes reach 10 bytes into the central directory.
std::string data_into_central_directory()
{
    CraftedEntry entry = stored();
    entry.compressed_size += 10;
    entry.uncompressed_size += 10;
    return build_archive({stored_entry("first.txt", "first"), entry});
}

INSTANTIATE_TEST_SUITE_P(
    Bombs, OverlappingEntries,
    testing::Values(
        OverlapCase{"SoundCrafted", [] { return build_archive({stored(), deflated_entry("b.txt", content)}); }, {}},
        OverlapCase{"SoundInfoZip",
                    [] { TempDir temp; return info_zip_archive_of_samples(temp, "-P secret"); }, {}},
        OverlapCase{"FortyEntriesOverOneStream", [] { return forty_entries_over_one_stream(1 << 20); },
                    [] {
                        std::vector<std::pair<size_t, size_t>> all;
                        for (size_t i = 1; i < 40; ++i)
                            all.emplace_back(i, 0);
                        return all;
                    }()},
        OverlapCase{"LocalHeaderInsideAnotherEntrysData", local_header_inside_other_data, {{1, 0}}},
        OverlapCase{"DataRunsIntoTheCentralDirectory", data_into_central_directory, {{1, 2}}},
        // Data past the end of the archive is refused as damaged on its own.
        OverlapCase{"DataRunsPastTheEnd",
                    [] { E e = stored(); e.compressed_size = e.uncompressed_size = 0x7fffff00; return archive_of(e); },
                    {}}),
    [](const testing::TestParamInfo<OverlapCase>& info) { return std::string(info.param.label); });

// Every cut and every single-byte change of a small real archive: no crash
// (run under sanitizers to see the most), never success for data that is not
// the original, and never success on a cut archive.
TEST(DamageSweep, NoCutOrChangedByteYieldsWrongDataAsSuccess)
{
    TempDir temp;
    write_file(temp.path / "tree/a.txt", compressible_data(3000));
    write_file(temp.path / "tree/b.txt", "short\n");
    const std::string original = make_info_zip_archive(temp.path / "tree", "-P secret");
    std::map<std::string, std::string> expected;
    for (const ZipEntry& entry : read_entries(original).entries)
        expected[entryNameText(entry)] = extract(original, entry, "secret").data;
    ASSERT_EQ(expected.size(), 2u);

    // Returns whether every entry of `archive` extracted; checks the data of
    // each that did.
    auto extracts_fully = [&](const std::string& archive) {
        ZipDirectory directory;
        bool all_ok = readZipDirectory(input_for(archive), directory) == ZipStatus::ok;
        for (const ZipEntry& entry : directory.entries) {
            const Extracted extracted = extract(archive, entry, "secret");
            all_ok &= extracted.status == ZipStatus::ok;
            if (extracted.status == ZipStatus::ok && expected.count(entryNameText(entry))) {
                EXPECT_EQ(extracted.data, expected[entryNameText(entry)]) << entryNameText(entry);
            }
        }
        return all_ok;
    };
    for (size_t length = 0; length < original.size(); ++length)
        EXPECT_FALSE(extracts_fully(original.substr(0, length))) << "cut at " << length;
    for (size_t at = 0; at < original.size(); ++at) {
        std::string changed = original;
        changed[at] = static_cast<char>(changed[at] ^ 0xa5);
        extracts_fully(changed);
    }
}

} // namespace
