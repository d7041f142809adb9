// The reader on archives in memory: real ones made by Info-ZIP zip, and
// crafted ones that lie, break or end early.
#include "zip_reader_containers.h"

#include "entry_time.h"
#include "little_endian.h"
#include "zip_test_support.h"

#include <gtest/gtest.h>

#include <map>

namespace {

ArchiveInput inputFor(const std::string& archive) {
    return memoryArchiveInput(reinterpret_cast<const uint8_t*>(archive.data()), archive.size());
}

bool appendToString(void* context, const uint8_t* data, size_t length) {
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
Extracted extract(const std::string& archive, const ZipEntry& entry, const char* password) {
    Extracted result{ZipStatus::ok, {}};
    result.status = extractEntry(inputFor(archive), entry, password, {appendToString, &result.data});
    EXPECT_LE(result.data.size(), entry.uncompressedSize) << entryNameText(entry);
    if (result.status == ZipStatus::wrongPassword) {
        EXPECT_TRUE(result.data.empty()) << entryNameText(entry);
    }
    return result;
}

// The entries of an archive that the caller keeps alive, their names
// pointing into the directory's bytes.
ZipDirectory readEntries(const std::string& archive) {
    ZipDirectory directory;
    EXPECT_EQ(readZipDirectory(inputFor(archive), directory), ZipStatus::ok);
    return directory;
}

// Files for the Info-ZIP archives: several 64 KiB chunks, an empty file, a
// subdirectory.
std::map<std::string, std::string> sampleFiles() {
    return {{"text.txt", compressibleData(300 * 1024)},
            {"noise.bin", incompressibleData(150 * 1024)},
            {"empty", ""},
            {"sub dir/inner.txt", "inner file\n"}};
}

std::string infoZipArchiveOfSamples(const ScratchDirectory& temp, const std::string& options) {
    const fs::path tree = temp / "tree";
    for (const auto& [name, content] : sampleFiles()) writeFile(tree / name, content);
    return makeInfoZipArchive(tree, options);
}

struct InfoZipCase {
    const char* label;
    const char* options;
    const char* password;
};

class InfoZipArchive : public testing::TestWithParam<InfoZipCase> {};

TEST_P(InfoZipArchive, ExtractsEveryFileExactly) {
    ScratchDirectory temp;
    const std::string archive = infoZipArchiveOfSamples(temp, GetParam().options);
    std::map<std::string, std::string> files;
    bool sawDirectory = false;
    for (const ZipEntry& entry : readEntries(archive).entries) {
        if (zipEntryIsDirectory(entry)) {
            sawDirectory |= entryNameText(entry) == "sub dir/";
            continue;
        }
        const Extracted extracted = extract(archive, entry, GetParam().password);
        EXPECT_EQ(extracted.status, ZipStatus::ok) << entryNameText(entry);
        files[entryNameText(entry)] = extracted.data;
    }
    EXPECT_TRUE(sawDirectory);
    EXPECT_EQ(files, sampleFiles());
}

INSTANTIATE_TEST_SUITE_P(Methods, InfoZipArchive,
                         testing::Values(InfoZipCase{"Stored", "-0", nullptr}, InfoZipCase{"Deflated", "-9", nullptr},
                                         InfoZipCase{"EncryptedStored", "-0 -P secret", "secret"},
                                         InfoZipCase{"EncryptedDeflated", "-P secret", "secret"}),
                         [](const testing::TestParamInfo<InfoZipCase>& info) { return std::string(info.param.label); });

// One crafted entry with the content below, as a lying or broken archive.
struct HostileCase {
    const char* label;
    const char* password;
    ZipStatus expected;
    std::string (*makeArchive)();
};

const std::string content = compressibleData(100 * 1024);
CraftedEntry stored() { return storedEntry("a.txt", content); }
CraftedEntry deflated() { return deflatedEntry("a.txt", content); }
std::string archiveOf(const CraftedEntry& entry) { return buildArchive({entry}); }

class HostileEntry : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileEntry, GetsItsStatusWithoutOverrunningTheDeclaredSize) {
    const std::string archive = GetParam().makeArchive();
    const ZipDirectory directory = readEntries(archive);
    ASSERT_EQ(directory.entries.size(), 1u);
    const Extracted extracted = extract(archive, directory.entries[0], GetParam().password);
    EXPECT_EQ(extracted.status, GetParam().expected) << zipStatusText(extracted.status);
    if (GetParam().expected == ZipStatus::ok) {
        EXPECT_EQ(extracted.data, content);
    }
}

using E = CraftedEntry;
constexpr ZipStatus ok = ZipStatus::ok, damaged = ZipStatus::damaged;

INSTANTIATE_TEST_SUITE_P(Crafted, HostileEntry,
                         testing::Values(HostileCase{"Stored", nullptr, ok, [] { return archiveOf(stored()); }},
                                         HostileCase{"Deflated", nullptr, ok, [] { return archiveOf(deflated()); }},
                                         HostileCase{"EncryptedCrcCheckByte", "pw", ok,
                                                     [] { return archiveOf(encrypted(deflated(), "pw")); }},
                                         HostileCase{"EncryptedTimeCheckByte", "pw", ok,
                                                     [] {
                                                         E e = deflated();
                                                         e.flags = 8;
                                                         return archiveOf(encrypted(e, "pw"));
                                                     }},
                                         HostileCase{"NoPassword", nullptr, ZipStatus::wrongPassword,
                                                     [] { return archiveOf(encrypted(stored(), "pw")); }},
                                         HostileCase{"WrongPassword", "PW", ZipStatus::wrongPassword,
                                                     [] { return archiveOf(encrypted(deflated(), "pw")); }},
                                         HostileCase{"EncryptedShorterThanHeader", "pw", damaged,
                                                     [] {
                                                         E e = encrypted(stored(), "pw");
                                                         e.data.resize(e.compressedSize = 5);
                                                         return archiveOf(e);
                                                     }},
                                         HostileCase{"BadCrc", nullptr, damaged,
                                                     [] {
                                                         E e = stored();
                                                         e.crc32 ^= 1;
                                                         return archiveOf(e);
                                                     }},
                                         HostileCase{"StoredSizesDisagree", nullptr, damaged,
                                                     [] {
                                                         E e = stored();
                                                         e.uncompressedSize++;
                                                         return archiveOf(e);
                                                     }},
                                         HostileCase{"DeclaresFarMoreThanItHolds", nullptr, damaged,
                                                     [] {
                                                         E e = deflated();
                                                         e.uncompressedSize = 0x7fffffff;
                                                         return archiveOf(e);
                                                     }},
                                         HostileCase{"DeclaresLessThanItHolds", nullptr, damaged,
                                                     [] {
                                                         E e = deflated();
                                                         e.uncompressedSize = 1000;
                                                         return archiveOf(e);
                                                     }},
                                         HostileCase{"CompressedSizeBeyondEndOfFile", nullptr, damaged,
                                                     [] {
                                                         E e = stored();
                                                         e.compressedSize = e.uncompressedSize = 0x7fffff00;
                                                         return archiveOf(e);
                                                     }},
                                         HostileCase{"DeflateStreamCutShort", nullptr, damaged,
                                                     [] {
                                                         E e = deflated();
                                                         e.data.resize(e.compressedSize /= 2);
                                                         return archiveOf(e);
                                                     }},
                                         HostileCase{"LocalSignatureBroken", nullptr, damaged,
                                                     [] {
                                                         std::string a = archiveOf(stored());
                                                         a[0] = 'X';
                                                         return a;
                                                     }},
                                         HostileCase{"LocalNameLengthPastData", nullptr, damaged,
                                                     [] {
                                                         std::string a = archiveOf(stored());
                                                         put16(a, 26, 0xffff);
                                                         return a;
                                                     }},
                                         HostileCase{"UnknownMethod", nullptr, ZipStatus::unsupported,
                                                     [] {
                                                         E e = stored();
                                                         e.method = 12;
                                                         return archiveOf(e);
                                                     }},
                                         HostileCase{"StrongEncryption", "pw", ZipStatus::unsupported,
                                                     [] {
                                                         E e = stored();
                                                         e.flags = 1 | 64;
                                                         return archiveOf(e);
                                                     }}),
                         [](const testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.label); });

TEST(CraftedEntry, ZeroLengthFileExtractsAsEmpty) {
    for (const CraftedEntry& crafted : {storedEntry("empty", ""), deflatedEntry("empty", "")}) {
        const std::string archive = archiveOf(crafted);
        const Extracted extracted = extract(archive, readEntries(archive).entries.at(0), nullptr);
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
    size_t entriesKept;
};

size_t endRecord(const std::string& a) { return a.size() - 22; }
size_t secondRecord(const std::string& a) { return a.size() - 22 - 49; }

class CentralDirectory : public testing::TestWithParam<DirectoryCase> {};

TEST_P(CentralDirectory, StatusAndEntriesReadBeforeTheDamage) {
    std::string archive = buildArchive({storedEntry("one", "1"), storedEntry("two", "22")});
    GetParam().change(archive);
    ZipDirectory directory;
    EXPECT_EQ(readZipDirectory(inputFor(archive), directory), GetParam().expected);
    EXPECT_EQ(directory.entries.size(), GetParam().entriesKept);
}

using A = std::string;

INSTANTIATE_TEST_SUITE_P(
    Damage, CentralDirectory,
    testing::Values(
        DirectoryCase{"Intact", [](A&) {}, ok, 2}, DirectoryCase{"Empty", [](A& a) { a.clear(); }, damaged, 0},
        DirectoryCase{"EndRecordCut", [](A& a) { a.pop_back(); }, damaged, 0},
        DirectoryCase{"BytesAppended", [](A& a) { a += "junk"; }, ok, 2},
        // A comment holding a record-like block that does not reach the end.
        DirectoryCase{"FakeEndRecordInComment",
                      [](A& a) {
                          A comment = a.substr(endRecord(a)) + " and more";
                          put32(comment, 16, 0x7fffffff);
                          put16(a, endRecord(a) + 20, static_cast<uint16_t>(comment.size()));
                          a += comment;
                      },
                      ok, 2},
        DirectoryCase{"OffsetBeyondEndRecord", [](A& a) { put32(a, endRecord(a) + 16, 0x7fffffff); }, damaged, 0},
        DirectoryCase{"MoreEntriesThanRecords",
                      [](A& a) {
                          put16(a, endRecord(a) + 8, 3);
                          put16(a, endRecord(a) + 10, 3);
                      },
                      damaged, 2},
        DirectoryCase{"SignatureBroken", [](A& a) { a[secondRecord(a)] = 'X'; }, damaged, 1},
        DirectoryCase{"NameOverrunsDirectory", [](A& a) { put16(a, secondRecord(a) + 28, 0x1000); }, damaged, 1},
        DirectoryCase{"SecondDisk", [](A& a) { put16(a, endRecord(a) + 4, 1); }, ZipStatus::unsupported, 0},
        // A locator is read: this one points at the first local header.
        DirectoryCase{"Zip64LocatorToNoRecord",
                      [](A& a) {
                          A locator(20, '\0');
                          put32(locator, 0, 0x07064b50);
                          a.insert(endRecord(a), locator);
                      },
                      damaged, 0},
        DirectoryCase{"Zip64SizeMarkerWithoutItsField", [](A& a) { put32(a, secondRecord(a) + 20, 0xffffffff); },
                      damaged, 1},
        // Literal all-ones counts without a locator are taken as they are.
        DirectoryCase{"AllOnesCountWithoutLocator",
                      [](A& a) {
                          put16(a, endRecord(a) + 8, 0xffff);
                          put16(a, endRecord(a) + 10, 0xffff);
                      },
                      damaged, 2}),
    [](const testing::TestParamInfo<DirectoryCase>& info) { return std::string(info.param.label); });

// Entries whose stored bytes overlap: the decompression bomb of many entries
// over one stream, and its variants.
struct OverlapCase {
    const char* label;
    std::string (*makeArchive)();
    std::vector<std::pair<size_t, size_t>> overlaps;  // entry, the one it overlaps
};

class OverlappingEntries : public testing::TestWithParam<OverlapCase> {};

TEST_P(OverlappingEntries, AreFoundWithThePartTheyOverlap) {
    const std::string archive = GetParam().makeArchive();
    const ZipDirectory directory = readEntries(archive);
    std::vector<ZipOverlap> overlaps;
    ASSERT_EQ(findOverlappingEntries(inputFor(archive), directory, overlaps), ZipStatus::ok);
    std::vector<std::pair<size_t, size_t>> found;
    for (const ZipOverlap& overlap : overlaps) found.emplace_back(overlap.entry, overlap.other);
    EXPECT_EQ(found, GetParam().overlaps);
}

// The second entry's local header and data lie inside the first's data.
std::string localHeaderInsideOtherData() {
    const std::string inner = buildArchive({deflatedEntry("inner.txt", content)});
    const std::string innerRecord = inner.substr(0, centralRecordOffset(inner, 0));
    std::string archive = buildArchive({storedEntry("outer.bin", innerRecord), deflatedEntry("inner.txt", content)});
    put32(archive, centralRecordOffset(archive, 1) + 42, 30 + std::string("outer.bin").size());
    return archive;
}

// The entry's sizes reach 10 bytes into the central directory.
std::string dataIntoCentralDirectory() {
    CraftedEntry entry = stored();
    entry.compressedSize += 10;
    entry.uncompressedSize += 10;
    return buildArchive({storedEntry("first.txt", "first"), entry});
}

INSTANTIATE_TEST_SUITE_P(
    Bombs, OverlappingEntries,
    testing::Values(OverlapCase{"SoundCrafted",
                                [] {
                                    return buildArchive({stored(), deflatedEntry("b.txt", content)});
                                },
                                {}},
                    OverlapCase{"SoundInfoZip",
                                [] {
                                    ScratchDirectory temp;
                                    return infoZipArchiveOfSamples(temp, "-P secret");
                                },
                                {}},
                    OverlapCase{"FortyEntriesOverOneStream", [] { return fortyEntriesOverOneStream(1 << 20); },
                                [] {
                                    std::vector<std::pair<size_t, size_t>> all;
                                    for (size_t i = 1; i < 40; ++i) all.emplace_back(i, 0);
                                    return all;
                                }()},
                    OverlapCase{"LocalHeaderInsideAnotherEntrysData", localHeaderInsideOtherData, {{1, 0}}},
                    OverlapCase{"DataRunsIntoTheCentralDirectory", dataIntoCentralDirectory, {{1, 2}}},
                    // Data past the end of the archive is refused as damaged on its own.
                    OverlapCase{"DataRunsPastTheEnd",
                                [] {
                                    E e = stored();
                                    e.compressedSize = e.uncompressedSize = 0x7fffff00;
                                    return archiveOf(e);
                                },
                                {}}),
    [](const testing::TestParamInfo<OverlapCase>& info) { return std::string(info.param.label); });

// The zip64 form of a two-entry archive, changed. Offsets: `z` the zip64 end
// record, `l` its locator, `e` the end record, `c` the first central record.
size_t z(const std::string& a) { return zip64EndRecordOffset(a); }
size_t l(const std::string& a) { return zip64LocatorOffset(a); }
size_t c(const std::string& a) { return static_cast<size_t>(readLittle64(a, z(a) + 48)); }
// The first central record's zip64 field: id, length, then the values.
size_t zip64Field(const std::string& a) { return c(a) + 46 + readLittle16(a, c(a) + 28); }

class Zip64Directory : public testing::TestWithParam<DirectoryCase> {};

TEST_P(Zip64Directory, StatusAndEntriesReadBeforeTheDamage) {
    std::string archive = buildZip64Archive({storedEntry("one", "1"), deflatedEntry("two", content)});
    GetParam().change(archive);
    ZipDirectory directory;
    EXPECT_EQ(readZipDirectory(inputFor(archive), directory), GetParam().expected);
    ASSERT_EQ(directory.entries.size(), GetParam().entriesKept);
    if (GetParam().expected != ok) return;
    // The values came from the zip64 records: both entries extract whole.
    EXPECT_EQ(extract(archive, directory.entries[0], nullptr).data, "1");
    EXPECT_EQ(extract(archive, directory.entries[1], nullptr).data, content);
}

constexpr ZipStatus unsupported = ZipStatus::unsupported;

INSTANTIATE_TEST_SUITE_P(
    Zip64, Zip64Directory,
    testing::Values(
        DirectoryCase{"Intact", [](A&) {}, ok, 2},
        DirectoryCase{
            "OnlyTheEntriesInZip64Form",
            [](A& a) {
                a = buildZip64Archive({storedEntry("one", "1"), deflatedEntry("two", content)}, Zip64Form{true, false});
            },
            ok, 2},
        DirectoryCase{
            "OnlyTheEndInZip64Form",
            [](A& a) {
                a = buildZip64Archive({storedEntry("one", "1"), deflatedEntry("two", content)}, Zip64Form{false, true});
            },
            ok, 2},
        // The end record may hold the values themselves, when they agree.
        DirectoryCase{"EndRecordHoldsTheSameValues",
                      [](A& a) {
                          const size_t e = a.size() - 22;
                          put32(a, e + 4, 0);
                          put16(a, e + 8, 2);
                          put16(a, e + 10, 2);
                          put32(a, e + 12, static_cast<uint32_t>(l(a) - c(a) - 56));
                          put32(a, e + 16, static_cast<uint32_t>(c(a)));
                      },
                      ok, 2},
        // One archive, two meanings: refused.
        DirectoryCase{"EndRecordCountDisagrees", [](A& a) { put16(a, a.size() - 22 + 10, 1); }, damaged, 0},
        DirectoryCase{"EndRecordOffsetDisagrees", [](A& a) { put32(a, a.size() - 22 + 16, 0); }, damaged, 0},
        DirectoryCase{"CountOnThisDiskDiffers", [](A& a) { put64(a, z(a) + 24, 1); }, unsupported, 0},
        DirectoryCase{"SecondDisk", [](A& a) { put32(a, z(a) + 16, 1); }, unsupported, 0},
        DirectoryCase{"LocatorNamesTwoDisks", [](A& a) { put32(a, l(a) + 16, 2); }, unsupported, 0},
        DirectoryCase{"LocatorPastTheEnd", [](A& a) { put64(a, l(a) + 8, a.size() + 100); }, damaged, 0},
        DirectoryCase{"LocatorAtTheLocator", [](A& a) { put64(a, l(a) + 8, l(a)); }, damaged, 0},
        DirectoryCase{"LocatorFarPast2To63", [](A& a) { put64(a, l(a) + 8, ~uint64_t{0} - 10); }, damaged, 0},
        DirectoryCase{"LocatorIntoTheDirectory", [](A& a) { put64(a, l(a) + 8, c(a)); }, damaged, 0},
        DirectoryCase{"RecordSizeTooSmall", [](A& a) { put64(a, z(a) + 4, 43); }, damaged, 0},
        DirectoryCase{"RecordSizePastTheLocator", [](A& a) { put64(a, z(a) + 4, 45); }, damaged, 0},
        DirectoryCase{"RecordSizeNear2To64", [](A& a) { put64(a, z(a) + 4, ~uint64_t{0} - 5); }, damaged, 0},
        // Offset and size that overflow when added, or reach past the record.
        DirectoryCase{"DirectoryOffsetNear2To64", [](A& a) { put64(a, z(a) + 48, ~uint64_t{0} - 8); }, damaged, 0},
        DirectoryCase{"DirectorySizeNear2To64", [](A& a) { put64(a, z(a) + 40, ~uint64_t{0} - 8); }, damaged, 0},
        DirectoryCase{"DirectoryRunsIntoTheRecord", [](A& a) { put64(a, z(a) + 40, l(a) - c(a) - 55); }, damaged, 0},
        // A count no directory of this size can hold: read until the records
        // run out, with no memory taken for the count.
        DirectoryCase{"CountNear2To64",
                      [](A& a) {
                          put64(a, z(a) + 24, ~uint64_t{0});
                          put64(a, z(a) + 32, ~uint64_t{0});
                      },
                      damaged, 2},
        DirectoryCase{"Zip64FieldMissing", [](A& a) { put16(a, zip64Field(a), 0x9999); }, damaged, 0},
        DirectoryCase{"Zip64FieldShort", [](A& a) { put16(a, zip64Field(a) + 2, 16); }, damaged, 0},
        DirectoryCase{"Zip64FieldTwice",
                      [](A& a) {
                          // The field's values become a second field of its own.
                          put16(a, zip64Field(a) + 2, 0);
                          put16(a, zip64Field(a) + 4, 0x0001);
                          put16(a, zip64Field(a) + 6, 16);
                      },
                      damaged, 0},
        DirectoryCase{"Zip64FieldRunsPastTheExtra", [](A& a) { put16(a, zip64Field(a) + 2, 400); }, damaged, 0},
        DirectoryCase{"StartDiskMarkerWithoutItsValue", [](A& a) { put16(a, c(a) + 34, 0xffff); }, damaged, 0}),
    [](const testing::TestParamInfo<DirectoryCase>& info) { return std::string(info.param.label); });

TEST(Zip64Directory, NoMoreRoomIsAskedForThanTheDirectoryCanHold) {
    EXPECT_EQ(zipEntryCapacity(ZipDirectoryPlace{0, 46 * 3, ~uint64_t{0}, 0}), 3u);
    EXPECT_EQ(zipEntryCapacity(ZipDirectoryPlace{0, 46 * 3 + 45, 2, 0}), 2u);
    EXPECT_EQ(zipEntryCapacity(ZipDirectoryPlace{0, 0, 5, 0}), 0u);
}

// Entries whose values past 32 bits lie or overflow: refused as damaged when
// extracted, before the sink gets anything.
TEST(Zip64Directory, HugeValuesInTheZip64FieldAreDamageNotAnOverflow) {
    for (const uint64_t value : {uint64_t{1} << 32, ~uint64_t{0}, ~uint64_t{0} - 100, uint64_t{1} << 63}) {
        for (const size_t field : {0, 1, 2}) {  // uncompressed, compressed, local header offset
            std::string archive = buildZip64Archive({storedEntry("one", "1"), deflatedEntry("two", content)});
            put64(archive, zip64Field(archive) + 4 + 8 * field, value);
            ZipDirectory directory;
            ASSERT_EQ(readZipDirectory(inputFor(archive), directory), ok);
            const Extracted extracted = extract(archive, directory.entries[0], nullptr);
            EXPECT_EQ(extracted.status, damaged) << value << " in field " << field;
            EXPECT_TRUE(extracted.data.empty());
        }
    }
}

// More entries than the end record's 16 bits count.
TEST(Zip64Directory, ReadsMoreThan65535Entries) {
    std::vector<CraftedEntry> entries;
    for (size_t i = 0; i < 70000; ++i) entries.push_back(storedEntry("f" + std::to_string(i), ""));
    const std::string archive = buildZip64Archive(entries, Zip64Form{false, true});
    const ZipDirectory directory = readEntries(archive);
    ASSERT_EQ(directory.entries.size(), 70000u);
    EXPECT_EQ(entryNameText(directory.entries[69999]), "f69999");
    std::vector<ZipOverlap> overlaps;
    EXPECT_EQ(findOverlappingEntries(inputFor(archive), directory, overlaps), ok);
    EXPECT_TRUE(overlaps.empty());
}

// Info-ZIP zip -fz writes the zip64 form on any data: every file extracts.
TEST(Zip64Directory, InfoZipForcedZip64ArchiveExtractsWhole) {
    ScratchDirectory temp;
    const std::string archive = infoZipArchiveOfSamples(temp, "-fz -P secret");
    ASSERT_NE(archive.find(std::string("PK\x06\x06", 4)), std::string::npos) << "zip -fz wrote no zip64 end record";
    std::map<std::string, std::string> files;
    for (const ZipEntry& entry : readEntries(archive).entries) {
        if (zipEntryIsDirectory(entry)) continue;
        const Extracted extracted = extract(archive, entry, "secret");
        EXPECT_EQ(extracted.status, ok) << entryNameText(entry);
        files[entryNameText(entry)] = extracted.data;
    }
    EXPECT_EQ(files, sampleFiles());
}

// An entry's time: its extended timestamp when it has one (a time with the
// high bit set read by the DOS year), else its DOS fields, else none.
struct TimeCase {
    const char* label;
    uint16_t dosDate, dosTime;
    std::string extra;
    EntryTime::Kind kind;
    int64_t unixTime;
    CalendarTime local;
};

class EntryTimes : public testing::TestWithParam<TimeCase> {};

TEST_P(EntryTimes, ComeFromTheTimestampOrTheDosFields) {
    CraftedEntry entry = storedEntry("a", "a");
    entry.dosDate = GetParam().dosDate;
    entry.dosTime = GetParam().dosTime;
    entry.extra = GetParam().extra;
    const std::string archive = buildArchive({entry});
    const EntryTime time = zipEntryTime(readEntries(archive).entries.at(0));
    ASSERT_EQ(time.kind, GetParam().kind);
    if (time.kind == EntryTime::Kind::utc) EXPECT_EQ(time.unixTime, GetParam().unixTime);
    if (time.kind == EntryTime::Kind::local) {
        const CalendarTime& want = GetParam().local;
        const CalendarTime& got = time.local;
        EXPECT_EQ(std::vector<int>({got.year, got.month, got.day, got.hour, got.minute, got.second}),
                  std::vector<int>({want.year, want.month, want.day, want.hour, want.minute, want.second}));
    }
}

constexpr auto utc = EntryTime::Kind::utc;
constexpr auto local = EntryTime::Kind::local;
constexpr auto none = EntryTime::Kind::none;
// DOS dates: (year - 1980) << 9 | month << 5 | day; times: hour << 11 | minute << 5 | second / 2.
constexpr uint16_t dosDate(int year, int month, int day) {
    return static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
}
constexpr uint16_t dosTime(int hour, int minute, int second) {
    return static_cast<uint16_t>(hour << 11 | minute << 5 | second / 2);
}

std::string timestampField(uint8_t flags, const std::string& rest) {
    std::string field = extendedTimestamp(0).substr(0, 2);
    field += static_cast<char>(1 + rest.size());
    field += '\0';
    field += static_cast<char>(flags);
    return field + rest;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, EntryTimes,
    testing::Values(
        TimeCase{"DosFields", dosDate(2024, 2, 29), dosTime(23, 59, 58), "", local, 0, {2024, 2, 29, 23, 59, 58}},
        TimeCase{"DosEarliest", dosDate(1980, 1, 1), 0, "", local, 0, {1980, 1, 1, 0, 0, 0}},
        TimeCase{"DosLatest", dosDate(2107, 12, 31), dosTime(23, 59, 58), "", local, 0, {2107, 12, 31, 23, 59, 58}},
        TimeCase{"DosNoLeapDay", dosDate(2023, 2, 29), 0, "", none, 0, {}},
        TimeCase{"DosMonthZero", dosDate(2023, 0, 1), 0, "", none, 0, {}},
        TimeCase{"DosMonth13", dosDate(2023, 13, 1), 0, "", none, 0, {}},
        TimeCase{"DosDayZero", dosDate(2023, 1, 0), 0, "", none, 0, {}},
        TimeCase{"DosApril31", dosDate(2023, 4, 31), 0, "", none, 0, {}},
        TimeCase{"DosHour24", dosDate(2023, 1, 1), dosTime(24, 0, 0), "", none, 0, {}},
        TimeCase{"DosMinute60", dosDate(2023, 1, 1), dosTime(1, 60, 0), "", none, 0, {}},
        TimeCase{"DosSecond60", dosDate(2023, 1, 1), dosTime(1, 0, 60), "", none, 0, {}},
        TimeCase{"Timestamp1975", dosDate(1980, 1, 1), 0, extendedTimestamp(170856001), utc, 170856001, {}},
        TimeCase{"TimestampOverAnInvalidDosTime", 0, 0, extendedTimestamp(1700000000), utc, 1700000000, {}},
        // The high bit: before 1970 unless the DOS year is 2038 or later.
        TimeCase{"Timestamp1960",
                 dosDate(1980, 1, 1),
                 0,
                 extendedTimestamp(0xf0000000u),
                 utc,
                 int64_t{0xf0000000u} - (int64_t{1} << 32),
                 {}},
        TimeCase{
            "Timestamp2100", dosDate(2100, 1, 1), 0, extendedTimestamp(0xf0000000u), utc, int64_t{0xf0000000u}, {}},
        TimeCase{"TimestampWithoutItsModificationTime",
                 dosDate(2001, 2, 3),
                 dosTime(4, 5, 6),
                 timestampField(2, std::string(4, '\x7f')),
                 local,
                 0,
                 {2001, 2, 3, 4, 5, 6}},
        TimeCase{"TimestampCutShort",
                 dosDate(2001, 2, 3),
                 dosTime(4, 5, 6),
                 timestampField(1, "ab"),
                 local,
                 0,
                 {2001, 2, 3, 4, 5, 6}},
        // After another extra field, and after one that runs past the end.
        TimeCase{"TimestampAfterAnotherField",
                 dosDate(2001, 2, 3),
                 0,
                 std::string("\x34\x12\x02\x00xy", 6) + extendedTimestamp(1000),
                 utc,
                 1000,
                 {}},
        TimeCase{"FieldRunningPastTheEnd",
                 dosDate(2001, 2, 3),
                 0,
                 std::string("\x34\x12\x20\x00xy", 6) + extendedTimestamp(1000),
                 local,
                 0,
                 {2001, 2, 3, 0, 0, 0}}),
    [](const testing::TestParamInfo<TimeCase>& info) { return std::string(info.param.label); });

// Every cut and every single-byte change of a small real archive: no crash
// (run under sanitizers to see the most), never success for data that is not
// the original, and never success on a cut archive.
TEST(DamageSweep, NoCutOrChangedByteYieldsWrongDataAsSuccess) {
    ScratchDirectory temp;
    writeFile(temp / "tree/a.txt", compressibleData(3000));
    writeFile(temp / "tree/b.txt", "short\n");
    const std::string original = makeInfoZipArchive(temp / "tree", "-P secret");
    std::map<std::string, std::string> expected;
    for (const ZipEntry& entry : readEntries(original).entries)
        expected[entryNameText(entry)] = extract(original, entry, "secret").data;
    ASSERT_EQ(expected.size(), 2u);

    // Returns whether every entry of `archive` extracted; checks the data of
    // each that did.
    auto extractsFully = [&](const std::string& archive) {
        ZipDirectory directory;
        bool allOk = readZipDirectory(inputFor(archive), directory) == ZipStatus::ok;
        for (const ZipEntry& entry : directory.entries) {
            const Extracted extracted = extract(archive, entry, "secret");
            allOk &= extracted.status == ZipStatus::ok;
            if (extracted.status == ZipStatus::ok && expected.count(entryNameText(entry))) {
                EXPECT_EQ(extracted.data, expected[entryNameText(entry)]) << entryNameText(entry);
            }
        }
        return allOk;
    };
    for (size_t length = 0; length < original.size(); ++length)
        EXPECT_FALSE(extractsFully(original.substr(0, length))) << "cut at " << length;
    for (size_t at = 0; at < original.size(); ++at) {
        std::string changed = original;
        changed[at] = static_cast<char>(changed[at] ^ 0xa5);
        extractsFully(changed);
    }
}

}  // namespace
