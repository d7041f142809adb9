// The reader on archives in memory: real ones made by Info-ZIP zip, and
// crafted ones that lie, break or end early.
#include "zip_archive.h"

#include "zip_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

ArchiveInput input_for(const std::string& archive)
{
    return memory_archive_input(reinterpret_cast<const uint8_t*>(archive.data()), archive.size());
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
    result.status = extract_entry(input_for(archive), entry, password, {append_to_string, &result.data});
    EXPECT_LE(result.data.size(), entry.uncompressed_size) << entry.name;
    if (result.status == ZipStatus::wrong_password) {
        EXPECT_TRUE(result.data.empty()) << entry.name;
    }
    return result;
}

std::vector<ZipEntry> read_entries(const std::string& archive)
{
    std::vector<ZipEntry> entries;
    EXPECT_EQ(read_central_directory(input_for(archive), entries), ZipStatus::ok);
    return entries;
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
    const fs::path tree = temp.path() / "tree";
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
    for (const ZipEntry& entry : read_entries(archive)) {
        if (zip_entry_is_directory(entry)) {
            saw_directory |= entry.name == "sub dir/";
            continue;
        }
        const Extracted extracted = extract(archive, entry, GetParam().password);
        EXPECT_EQ(extracted.status, ZipStatus::ok) << entry.name;
        files[entry.name] = extracted.data;
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

TEST(InfoZipEncryption, WrongOrMissingPasswordDeliversNothing)
{
    TempDir temp;
    const std::string archive = info_zip_archive_of_samples(temp, "-P secret");
    for (const ZipEntry& entry : read_entries(archive)) {
        if (zip_entry_is_directory(entry))
            continue;
        EXPECT_EQ(extract(archive, entry, nullptr).status, ZipStatus::wrong_password);
        // The check byte passes a given wrong password 1 time in 256, which
        // then fails as bad data; two of them both passing is 1 in 65536.
        const ZipStatus first = extract(archive, entry, "Secret").status;
        const ZipStatus second = extract(archive, entry, "wrong").status;
        EXPECT_NE(first, ZipStatus::ok);
        EXPECT_NE(second, ZipStatus::ok);
        EXPECT_TRUE(first == ZipStatus::wrong_password || second == ZipStatus::wrong_password)
            << entry.name;
    }
}

// One crafted entry, changed by `change_entry` before the archive is built
// and by `change_archive` after (its local header is at offset 0).
struct HostileCase {
    const char* label;
    std::function<CraftedEntry()> make_entry;
    std::function<void(CraftedEntry&)> change_entry;
    std::function<void(std::string&)> change_archive;
    const char* password;
    ZipStatus expected;
};

const std::string content = compressible_data(100 * 1024);

CraftedEntry stored() { return stored_entry("a.txt", content); }
CraftedEntry deflated() { return deflated_entry("a.txt", content); }
void no_change(CraftedEntry&) {}
void no_archive_change(std::string&) {}

class HostileEntry : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileEntry, IsRejectedWithoutOverrunningItsDeclaredSize)
{
    const HostileCase& hostile = GetParam();
    CraftedEntry crafted = hostile.make_entry();
    hostile.change_entry(crafted);
    std::string archive = build_archive({crafted});
    hostile.change_archive(archive);
    const std::vector<ZipEntry> entries = read_entries(archive);
    ASSERT_EQ(entries.size(), 1u);
    const Extracted extracted = extract(archive, entries[0], hostile.password);
    EXPECT_EQ(extracted.status, hostile.expected) << zip_status_text(extracted.status);
    if (hostile.expected == ZipStatus::ok) {
        EXPECT_EQ(extracted.data, content);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Crafted, HostileEntry,
    testing::Values(
        HostileCase{"HonestStoredIsAccepted", stored, no_change, no_archive_change, nullptr, ZipStatus::ok},
        HostileCase{"HonestDeflatedIsAccepted", deflated, no_change, no_archive_change, nullptr, ZipStatus::ok},
        HostileCase{"EncryptedWithCrcCheckByte", [] { return encrypted(deflated(), "pw"); },
                    no_change, no_archive_change, "pw", ZipStatus::ok},
        HostileCase{"EncryptedWithTimeCheckByte",
                    [] { CraftedEntry e = deflated(); e.flags = 8; return encrypted(e, "pw"); },
                    no_change, no_archive_change, "pw", ZipStatus::ok},
        HostileCase{"EncryptedWrongPassword", [] { return encrypted(deflated(), "pw"); },
                    no_change, no_archive_change, "PW", ZipStatus::wrong_password},
        HostileCase{"EncryptedShorterThanItsHeader", [] { return encrypted(stored(), "pw"); },
                    [](CraftedEntry& e) { e.data.resize(5); e.compressed_size = 5; },
                    no_archive_change, "pw", ZipStatus::damaged},
        HostileCase{"BadCrcStored", stored, [](CraftedEntry& e) { e.crc32 ^= 1; },
                    no_archive_change, nullptr, ZipStatus::damaged},
        HostileCase{"BadCrcDeflated", deflated, [](CraftedEntry& e) { e.crc32 ^= 0x80000000u; },
                    no_archive_change, nullptr, ZipStatus::damaged},
        HostileCase{"StoredSizesDisagree", stored, [](CraftedEntry& e) { e.uncompressed_size += 1; },
                    no_archive_change, nullptr, ZipStatus::damaged},
        HostileCase{"DeflatedDeclaresFarMoreThanItHolds", deflated,
                    [](CraftedEntry& e) { e.uncompressed_size = 0x7fffffffu; },
                    no_archive_change, nullptr, ZipStatus::damaged},
        HostileCase{"DeflatedDeclaresLessThanItHolds", deflated,
                    [](CraftedEntry& e) { e.uncompressed_size = 1000; },
                    no_archive_change, nullptr, ZipStatus::damaged},
        HostileCase{"CompressedSizeBeyondEndOfFile", stored,
                    [](CraftedEntry& e) { e.compressed_size = e.uncompressed_size = 0x7fffff00u; },
                    no_archive_change, nullptr, ZipStatus::damaged},
        HostileCase{"DeflateStreamCutShort", deflated,
                    [](CraftedEntry& e) { e.data.resize(e.data.size() / 2); e.compressed_size = static_cast<uint32_t>(e.data.size()); },
                    no_archive_change, nullptr, ZipStatus::damaged},
        HostileCase{"DeflateStreamGarbage", deflated,
                    [](CraftedEntry& e) { e.data = std::string(e.data.size(), '\xff'); },
                    no_archive_change, nullptr, ZipStatus::damaged},
        HostileCase{"LocalHeaderSignatureBroken", stored, no_change,
                    [](std::string& a) { a[0] = 'X'; }, nullptr, ZipStatus::damaged},
        HostileCase{"LocalNameLengthPointsPastData", stored, no_change,
                    [](std::string& a) { put16(a, 26, 0xffff); }, nullptr, ZipStatus::damaged},
        HostileCase{"UnknownMethod", stored, [](CraftedEntry& e) { e.method = 12; },
                    no_archive_change, nullptr, ZipStatus::unsupported},
        HostileCase{"StrongEncryption", stored, [](CraftedEntry& e) { e.flags = 1 | 64; },
                    no_archive_change, "pw", ZipStatus::unsupported}),
    [](const testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.label); });

TEST(CraftedEntry, ZeroLengthFileExtractsAsEmpty)
{
    for (const CraftedEntry& crafted : {stored_entry("empty", ""), deflated_entry("empty", "")}) {
        const std::string archive = build_archive({crafted});
        const Extracted extracted = extract(archive, read_entries(archive).at(0), nullptr);
        EXPECT_EQ(extracted.status, ZipStatus::ok);
        EXPECT_TRUE(extracted.data.empty());
    }
}

// Changes to the end record (the last 22 bytes) or the directory before it.
struct DirectoryCase {
    const char* label;
    std::function<void(std::string&)> change;
    ZipStatus expected;
    size_t entries_kept;
};

class CentralDirectory : public testing::TestWithParam<DirectoryCase> {};

TEST_P(CentralDirectory, StatusAndEntriesReadBeforeTheDamage)
{
    std::string archive = build_archive({stored_entry("one", "1"), stored_entry("two", "22")});
    GetParam().change(archive);
    std::vector<ZipEntry> entries;
    EXPECT_EQ(read_central_directory(input_for(archive), entries), GetParam().expected);
    EXPECT_EQ(entries.size(), GetParam().entries_kept);
}

size_t end_record(const std::string& a) { return a.size() - 22; }

INSTANTIATE_TEST_SUITE_P(
    Damage, CentralDirectory,
    testing::Values(
        DirectoryCase{"Intact", [](std::string&) {}, ZipStatus::ok, 2},
        DirectoryCase{"Empty", [](std::string& a) { a.clear(); }, ZipStatus::damaged, 0},
        DirectoryCase{"EndRecordCut", [](std::string& a) { a.resize(a.size() - 1); }, ZipStatus::damaged, 0},
        DirectoryCase{"CommentAfterEndRecord",
                      [](std::string& a) { put16(a, end_record(a) + 20, 9); a += "a comment"; },
                      ZipStatus::ok, 2},
        DirectoryCase{"FakeEndRecordInsideComment",
                      [](std::string& a) {
                          std::string fake = a.substr(end_record(a));
                          put32(fake, 16, 0x7fffffff);
                          fake += " and more comment";
                          put16(a, end_record(a) + 20, static_cast<uint16_t>(fake.size()));
                          a += fake;
                      },
                      ZipStatus::ok, 2},
        DirectoryCase{"BytesAppended", [](std::string& a) { a += "junk"; }, ZipStatus::ok, 2},
        DirectoryCase{"DirectoryOffsetBeyondEndRecord",
                      [](std::string& a) { put32(a, end_record(a) + 16, 0x7fffffff); },
                      ZipStatus::damaged, 0},
        DirectoryCase{"MoreEntriesThanRecords",
                      [](std::string& a) { put16(a, end_record(a) + 8, 3); put16(a, end_record(a) + 10, 3); },
                      ZipStatus::damaged, 2},
        DirectoryCase{"SecondRecordSignatureBroken",
                      [](std::string& a) { a[end_record(a) - 49] = 'X'; }, ZipStatus::damaged, 1},
        DirectoryCase{"NameLengthOverrunsDirectory",
                      [](std::string& a) { put16(a, end_record(a) - 49 + 28, 0x1000); },
                      ZipStatus::damaged, 1},
        DirectoryCase{"SecondDisk", [](std::string& a) { put16(a, end_record(a) + 4, 1); },
                      ZipStatus::unsupported, 0},
        DirectoryCase{"Zip64EntryCount",
                      [](std::string& a) { put16(a, end_record(a) + 8, 0xffff); put16(a, end_record(a) + 10, 0xffff); },
                      ZipStatus::unsupported, 0},
        DirectoryCase{"Zip64Locator",
                      [](std::string& a) {
                          std::string locator(20, '\0');
                          put32(locator, 0, 0x07064b50);
                          a.insert(end_record(a), locator);
                      },
                      ZipStatus::unsupported, 0},
        DirectoryCase{"Zip64EntrySize",
                      [](std::string& a) { put32(a, end_record(a) - 49 + 20, 0xffffffffu); },
                      ZipStatus::unsupported, 1}),
    [](const testing::TestParamInfo<DirectoryCase>& info) { return std::string(info.param.label); });

// Every cut and every single-byte change of a small real archive: no crash
// (run under sanitizers to see the most), never success for data that is not
// the original, and never success on a cut archive.
TEST(DamageSweep, NoCutOrChangedByteYieldsWrongDataAsSuccess)
{
    TempDir temp;
    write_file(temp.path() / "tree/a.txt", compressible_data(3000));
    write_file(temp.path() / "tree/b.txt", "short\n");
    const std::string original = make_info_zip_archive(temp.path() / "tree", "-P secret");
    std::map<std::string, std::string> expected;
    for (const ZipEntry& entry : read_entries(original))
        expected[entry.name] = extract(original, entry, "secret").data;
    ASSERT_EQ(expected.size(), 2u);

    // Returns whether every entry of `archive` extracted; checks the data of
    // each that did.
    auto extracts_fully = [&](const std::string& archive) {
        std::vector<ZipEntry> entries;
        bool all_ok = read_central_directory(input_for(archive), entries) == ZipStatus::ok;
        for (const ZipEntry& entry : entries) {
            const Extracted extracted = extract(archive, entry, "secret");
            all_ok &= extracted.status == ZipStatus::ok;
            if (extracted.status == ZipStatus::ok && expected.count(entry.name)) {
                EXPECT_EQ(extracted.data, expected[entry.name]) << entry.name;
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
