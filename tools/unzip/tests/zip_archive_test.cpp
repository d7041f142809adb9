// The reader on archives in memory: real ones made by Info-ZIP zip, and
// crafted ones that lie, break or end early.
#include "zip_reader_containers.h"

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
        DirectoryCase{"Zip64Locator",
                      [](A& a) {
                          A locator(20, '\0');
                          put32(locator, 0, 0x07064b50);
                          a.insert(endRecord(a), locator);
                      },
                      ZipStatus::unsupported, 0},
        DirectoryCase{"Zip64Size", [](A& a) { put32(a, secondRecord(a) + 20, 0xffffffff); }, ZipStatus::unsupported,
                      1}),
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
