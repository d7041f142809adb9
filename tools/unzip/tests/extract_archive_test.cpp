// Whole-archive extraction on the real file system, and the command line of
// the native build of the tool.
#include "extract_archive.h"

#include "exit_codes.h"
#include "little_endian.h"
#include "zip_test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <map>

namespace {

using Tree = std::map<std::string, std::string>;

// Every file below `root` with its content, directories as "name/", links
// (never followed) as "-> target".
Tree treeOf(const fs::path& root) {
    Tree tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string name = item.path().lexically_relative(root).generic_string();
        if (item.is_symlink())
            tree[name] = "-> " + fs::read_symlink(item.path()).string();
        else if (item.is_directory())
            tree[name + "/"] = "";
        else
            tree[name] = readFile(item.path());
    }
    return tree;
}

struct Sandbox {
    ScratchDirectory temp;
    fs::path archive = temp / "package.zip";
    fs::path destination = temp / "work dir";

    int extract(const std::string& archiveBytes, const char* password) {
        writeFile(archive, archiveBytes);
        return extractArchive(archive.string().c_str(), password, destination.string().c_str());
    }
};

TEST(ExtractArchive, InfoZipTreeWithPasswordLandsIntactWithNoTemporaryLeft) {
    Sandbox box;
    const std::map<std::string, std::string> files{{"setup.ini", "[setup]\n"},
                                                   {"sub dir/", ""},
                                                   {"sub dir/deep/", ""},
                                                   {"sub dir/deep/big.bin", incompressibleData(200 * 1024)},
                                                   {"empty", ""}};
    for (const auto& [name, content] : files)
        if (name.back() != '/') writeFile(box.temp / "tree/" + name, content);
    writeFile(box.archive, makeInfoZipArchive(box.temp / "tree", "-P secret"));

    // Given as the launcher does: trailing doubled separator.
    const std::string destination = box.destination.string() + "//";
    EXPECT_EQ(extractArchive(box.archive.string().c_str(), "secret", destination.c_str()), exitSuccess);
    EXPECT_EQ(treeOf(box.destination), files);
}

// Times as Info-ZIP writes them: with its extended timestamp (to the
// second, before 1980 and after 2038 too), and without extra fields (-X:
// the DOS fields in local time, 1980 at the earliest, in two seconds, an
// odd second rounded up by zip).
// Folders get theirs once their files are written.
struct TimedTree {
    const char* label;
    const char* zipOptions;
    std::map<std::string, std::pair<std::string, std::string>> times;  // name: given, expected
};

class RestoredTimes : public testing::TestWithParam<TimedTree> {};

time_t localTime(const std::string& text) {
    std::tm parts{};
    std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday, &parts.tm_hour,
                &parts.tm_min, &parts.tm_sec);
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

void setTime(const fs::path& path, const std::string& text) {
    const timespec times[2] = {{localTime(text), 0}, {localTime(text), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

TEST_P(RestoredTimes, FilesAndFoldersGetTheirTimesFromTheArchive) {
    Sandbox box;
    const fs::path tree = box.temp / "tree";
    for (const auto& [name, times] : GetParam().times) {
        if (name.back() == '/') {
            fs::create_directories(tree / name);
        } else {
            writeFile(tree / name, name);
        }
    }
    // The deepest first: a folder's time is set after its files are made.
    for (auto it = GetParam().times.rbegin(); it != GetParam().times.rend(); ++it)
        setTime(tree / it->first, it->second.first);
    writeFile(box.archive, makeInfoZipArchive(tree, GetParam().zipOptions));
    ASSERT_EQ(extractArchive(box.archive.string().c_str(), nullptr, box.destination.string().c_str()), exitSuccess);
    for (const auto& [name, times] : GetParam().times) {
        struct stat status;
        ASSERT_EQ(lstat((box.destination / name).c_str(), &status), 0) << name;
        EXPECT_EQ(status.st_mtime, localTime(times.second))
            << name << ": " << std::asctime(std::localtime(&status.st_mtime));
    }
}

INSTANTIATE_TEST_SUITE_P(InfoZip, RestoredTimes,
                         testing::Values(TimedTree{"ExtendedTimestamp",
                                                   "",
                                                   {{"a.txt", {"2001-02-03 04:05:07", "2001-02-03 04:05:07"}},
                                                    {"old.txt", {"1975-06-01 12:00:01", "1975-06-01 12:00:01"}},
                                                    {"late.txt", {"2040-01-01 00:00:03", "2040-01-01 00:00:03"}},
                                                    {"sub/", {"1999-12-31 23:59:59", "1999-12-31 23:59:59"}},
                                                    {"sub/x.txt", {"2010-07-08 09:10:11", "2010-07-08 09:10:11"}}}},
                                         TimedTree{"DosFieldsOnly",
                                                   "-X",
                                                   {{"a.txt", {"2001-02-03 04:05:07", "2001-02-03 04:05:08"}},
                                                    {"old.txt", {"1975-06-01 12:00:01", "1980-01-01 00:00:00"}},
                                                    {"late.txt", {"2040-01-01 00:00:03", "2040-01-01 00:00:04"}},
                                                    {"sub/", {"1999-12-31 23:59:59", "2000-01-01 00:00:00"}},
                                                    {"sub/x.txt", {"2010-07-08 09:10:10", "2010-07-08 09:10:10"}}}}),
                         [](const testing::TestParamInfo<TimedTree>& info) { return std::string(info.param.label); });

// Names as Windows will spell them: with the UTF-8 flag in UTF-8, without
// it in the OEM code page (437 on a host), each written in UTF-8 here.
TEST(ExtractArchive, NamesAreDecodedByTheirFlag) {
    Sandbox box;
    CraftedEntry japanese = storedEntry("\u65e5\u672c\u8a9e/\U0001F600 \u00e9.txt", "utf-8");
    japanese.flags |= 0x800;
    const CraftedEntry dos = storedEntry("caf\x82 \x9a.txt", "437");
    EXPECT_EQ(box.extract(buildArchive({japanese, dos}), nullptr), exitSuccess);
    const Tree expected{{"\u65e5\u672c\u8a9e/", ""},
                        {"\u65e5\u672c\u8a9e/\U0001F600 \u00e9.txt", "utf-8"},
                        {"caf\u00e9 \u00dc.txt", "437"}};
    EXPECT_EQ(treeOf(box.destination), expected);
}

// Past the end record's 16-bit count: every entry lands.
TEST(ExtractArchive, MoreThan65535EntriesAllLand) {
    Sandbox box;
    std::vector<CraftedEntry> entries;
    for (int i = 0; i < 65600; ++i)
        entries.push_back(storedEntry("d" + std::to_string(i % 64) + "/f" + std::to_string(i), ""));
    entries.back() = storedEntry("last.txt", "last");
    EXPECT_EQ(box.extract(buildZip64Archive(entries), nullptr), exitSuccess);
    size_t files = 0;
    for (const auto& item : fs::recursive_directory_iterator(box.destination)) files += item.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 65600u);
    EXPECT_EQ(readFile(box.destination / "last.txt"), "last");
}

TEST(ExtractArchive, AnArchiveWithoutEntriesGivesAnEmptyDestination) {
    Sandbox box;
    EXPECT_EQ(box.extract(buildArchive({}), "secret"), exitSuccess);
    EXPECT_TRUE(fs::is_directory(box.destination));
    EXPECT_TRUE(treeOf(box.destination).empty());
}

TEST(ExtractArchive, CreatesOnlyTheLastComponentOfTheDestination) {
    Sandbox box;
    const std::string archive = buildArchive({storedEntry("a", "a")});
    writeFile(box.archive, archive);
    const fs::path tooDeep = box.temp / "missing/work";
    EXPECT_EQ(extractArchive(box.archive.string().c_str(), nullptr, tooDeep.string().c_str()), exitWriteFailed);
    EXPECT_FALSE(fs::exists(tooDeep.parent_path()));
}

TEST(ExtractArchive, VerifiedEntryReplacesFileButFailedOneLeavesItAlone) {
    Sandbox box;
    writeFile(box.destination / "good.txt", "old good");
    writeFile(box.destination / "bad.txt", "old bad");
    CraftedEntry bad = deflatedEntry("bad.txt", compressibleData(100000));
    bad.crc32 ^= 1;
    // In a folder this run makes, files are written at their final names:
    // a failed one is removed from there.
    CraftedEntry badInNewFolder = deflatedEntry("new/bad.txt", compressibleData(100000));
    badInNewFolder.crc32 ^= 1;
    EXPECT_EQ(box.extract(buildArchive({storedEntry("good.txt", "new"), bad, storedEntry("new/good.txt", "fresh"),
                                        badInNewFolder}),
                          nullptr),
              exitDamagedArchive);
    const std::map<std::string, std::string> expected{
        {"good.txt", "new"}, {"bad.txt", "old bad"}, {"new/", ""}, {"new/good.txt", "fresh"}};
    EXPECT_EQ(treeOf(box.destination), expected);
}

TEST(ExtractArchive, WrongPasswordCreatesNeitherFileNorParentDirectory) {
    Sandbox box;
    const CraftedEntry locked = encrypted(deflatedEntry("sub/locked.txt", "x"), "secret");
    EXPECT_EQ(box.extract(buildArchive({locked}), "guess"), exitWrongPassword);
    EXPECT_TRUE(treeOf(box.destination).empty());
}

class UnsafeName : public testing::TestWithParam<std::string> {};

TEST_P(UnsafeName, IsRefusedAndNothingLandsOutsideTheDestination) {
    Sandbox box;
    CraftedEntry unsafe = storedEntry(GetParam(), "evil");
    unsafe.flags |= 0x800;  // UTF-8
    const int code = box.extract(buildArchive({unsafe, storedEntry("good.txt", "good")}), nullptr);
    EXPECT_EQ(code, exitRefusedEntryName);
    const std::map<std::string, std::string> expectedOutside{
        {"package.zip", readFile(box.archive)}, {"work dir/", ""}, {"work dir/good.txt", "good"}};
    EXPECT_EQ(treeOf(box.temp.path), expectedOutside);
    EXPECT_FALSE(fs::exists("/kestrune-unzip-abs"));
}

INSTANTIATE_TEST_SUITE_P(ZipSlip, UnsafeName,
                         testing::Values("../x", "a/../../x", "..\\x", "a\\..\\..\\x", "/kestrune-unzip-abs", "C:x",
                                         "c:\\x", "", "sub/../../x/"));
// Names Windows would open as a device or change, and names that are not
// the UTF-8 they say they are (an overlong "../").
INSTANTIATE_TEST_SUITE_P(WindowsNames, UnsafeName,
                         testing::Values("COM\u00b9", "lpt\u00b2.txt", "sub/LPT\u00b3", "CONIN$", "conout$.log",
                                         "SETUP.EXE.", "setup.exe ", "sub./x", "\xc0\xae\xc0\xae/x", "caf\xe9"));

// Links planted in the destination before the run, pointing outside it,
// beside a sound good.txt that must still land.
struct LinkCase {
    const char* label;
    void (*plant)(const fs::path& destination, const fs::path& outside);
    std::vector<CraftedEntry> entries;
    int expectedCode;
    Tree destinationAfter;  // good.txt aside
};

class PlantedLink : public testing::TestWithParam<LinkCase> {};

TEST_P(PlantedLink, IsNeverWrittenThroughAndTheOutsideStaysAsItWas) {
    Sandbox box;
    const fs::path outside = box.temp / "outside";
    writeFile(outside / "target.txt", "outside data");
    fs::create_directories(outside / "dir");
    const Tree outsideBefore = treeOf(outside);
    fs::create_directories(box.destination);
    GetParam().plant(box.destination, outside);

    std::vector<CraftedEntry> entries = GetParam().entries;
    entries.push_back(storedEntry("good.txt", "good"));
    EXPECT_EQ(box.extract(buildArchive(entries), nullptr), GetParam().expectedCode);
    EXPECT_EQ(treeOf(outside), outsideBefore);
    Tree expected = GetParam().destinationAfter;
    expected["good.txt"] = "good";
    EXPECT_EQ(treeOf(box.destination), expected);
}

void link(const fs::path& from, const fs::path& to) { fs::create_symlink(to, from); }

const std::string outsideDir = "-> " + std::string("../outside/dir");

// readme.txt's part name and its 99 spare ones, each a link to outside.
Tree everyPartNameLinked() {
    Tree links{{"readme.txt.kestrune-part", "-> ../outside/made.txt"}};
    for (int i = 1; i <= 99; ++i) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".kestrune-p%03d", i);
        links["readme.txt" + std::string(suffix)] = "-> ../outside/made.txt";
    }
    return links;
}

INSTANTIATE_TEST_SUITE_P(
    InTheDestination, PlantedLink,
    testing::Values(
        LinkCase{"FolderLink",
                 [](const fs::path& d, const fs::path&) { link(d / "docs", "../outside/dir"); },
                 {storedEntry("docs/readme.txt", "evil")},
                 exitRefusedEntryName,
                 {{"docs", outsideDir}}},
        LinkCase{"FolderLinkGivenAsFolderEntries",
                 [](const fs::path& d, const fs::path&) { link(d / "docs", "../outside/dir"); },
                 {storedEntry("docs/", ""), storedEntry("docs/sub/", "")},
                 exitRefusedEntryName,
                 {{"docs", outsideDir}}},
        LinkCase{"FolderLinkDeeperDown",
                 [](const fs::path& d, const fs::path&) {
                     fs::create_directories(d / "a");
                     link(d / "a/b", "../../outside/dir");
                 },
                 {storedEntry("a/b/c/d.txt", "evil"), storedEntry("a/e.txt", "e")},
                 exitRefusedEntryName,
                 {{"a/", ""}, {"a/b", "-> ../../outside/dir"}, {"a/e.txt", "e"}}},
        LinkCase{"LinkToTheDestinationItself",
                 [](const fs::path& d, const fs::path&) { link(d / "loop", "."); },
                 {storedEntry("loop/x.txt", "x")},
                 exitRefusedEntryName,
                 {{"loop", "-> ."}}},
        LinkCase{"FileLinkAtTheName",
                 [](const fs::path& d, const fs::path&) { link(d / "readme.txt", "../outside/target.txt"); },
                 {storedEntry("readme.txt", "evil")},
                 exitRefusedEntryName,
                 {{"readme.txt", "-> ../outside/target.txt"}}},
        LinkCase{"DanglingLinkAtTheName",
                 [](const fs::path& d, const fs::path&) { link(d / "readme.txt", "../outside/made.txt"); },
                 {storedEntry("readme.txt", "evil")},
                 exitRefusedEntryName,
                 {{"readme.txt", "-> ../outside/made.txt"}}},
        // Whatever stands at the part name is left alone, and the entry is
        // written under a spare part name: nothing planted there can keep an
        // older file in the package's place.
        LinkCase{"LinkAtThePartName",
                 [](const fs::path& d, const fs::path&) {
                     link(d / "readme.txt.kestrune-part", "../outside/target.txt");
                     writeFile(d / "readme.txt", "planted");
                 },
                 {storedEntry("readme.txt", "new")},
                 exitSuccess,
                 {{"readme.txt.kestrune-part", "-> ../outside/target.txt"}, {"readme.txt", "new"}}},
        LinkCase{
            "DanglingLinkAtThePartName",
            [](const fs::path& d, const fs::path&) { link(d / "readme.txt.kestrune-part", "../outside/made.txt"); },
            {storedEntry("readme.txt", "new")},
            exitSuccess,
            {{"readme.txt.kestrune-part", "-> ../outside/made.txt"}, {"readme.txt", "new"}}},
        LinkCase{"FolderAtThePartName",
                 [](const fs::path& d, const fs::path&) {
                     writeFile(d / "readme.txt.kestrune-part/planted.txt", "planted");
                     link(d / "readme.txt.kestrune-p001", "../outside/target.txt");
                     writeFile(d / "readme.txt", "planted");
                 },
                 {storedEntry("readme.txt", "new")},
                 exitSuccess,
                 {{"readme.txt.kestrune-part/", ""},
                  {"readme.txt.kestrune-part/planted.txt", "planted"},
                  {"readme.txt.kestrune-p001", "-> ../outside/target.txt"},
                  {"readme.txt", "new"}}},
        LinkCase{"PartFileOfAnEarlierRunAndAnOlderFile",
                 [](const fs::path& d, const fs::path&) {
                     writeFile(d / "readme.txt.kestrune-part", "stale");
                     writeFile(d / "readme.txt", "old");
                 },
                 {storedEntry("readme.txt", "new")},
                 exitSuccess,
                 {{"readme.txt.kestrune-part", "stale"}, {"readme.txt", "new"}}},
        // The spare names run out only when all 100 are planted.
        LinkCase{"EveryPartNameTaken",
                 [](const fs::path& d, const fs::path&) {
                     for (const auto& [name, target] : everyPartNameLinked()) link(d / name, target.substr(3));
                 },
                 {storedEntry("readme.txt", "new")},
                 exitRefusedEntryName,
                 everyPartNameLinked()},
        LinkCase{"FolderAtTheName",
                 [](const fs::path& d, const fs::path&) { writeFile(d / "readme.txt/planted.txt", "planted"); },
                 {storedEntry("readme.txt", "new")},
                 exitWriteFailed,
                 {{"readme.txt/", ""}, {"readme.txt/planted.txt", "planted"}}}),
    [](const testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.label); });

// Archives that mean one thing on Windows only in archive order: refused
// whole, before the destination is even made.
struct WholeArchiveCase {
    const char* label;
    std::string (*makeArchive)();
    int expectedCode;
};

class RefusedArchive : public testing::TestWithParam<WholeArchiveCase> {};

TEST_P(RefusedArchive, WritesNothingAtAll) {
    Sandbox box;
    EXPECT_EQ(box.extract(GetParam().makeArchive(), nullptr), GetParam().expectedCode);
    EXPECT_FALSE(fs::exists(box.destination));
}

std::string setupInThreeSpellings() {
    return buildArchive({storedEntry("SETUP.EXE", "checked"), storedEntry("setup.exe", "run"),
                         storedEntry("SETUP.EXE.", "run instead")});
}

INSTANTIATE_TEST_SUITE_P(
    OneArchiveOneMeaning, RefusedArchive,
    testing::Values(
        WholeArchiveCase{"SetupInThreeSpellings", setupInThreeSpellings, exitRefusedEntryName},
        WholeArchiveCase{"FileAndFolderOfOneName",
                         [] {
                             return buildArchive({storedEntry("docs", "d"), storedEntry("DOCS/a.txt", "a")});
                         },
                         exitRefusedEntryName},
        WholeArchiveCase{
            "ShortNameBesideALongOne",
            [] {
                return buildArchive({storedEntry("Long File Name.txt", "long"), storedEntry("LONGFI~1.TXT", "short")});
            },
            exitRefusedEntryName},
        WholeArchiveCase{"FortyEntriesOverOneStream", [] { return fortyEntriesOverOneStream(4 << 20); },
                         exitRefusedEntryName},
        WholeArchiveCase{"DuplicateCentralRecord",
                         [] {
                             return buildArchiveSharingOneStream(storedEntry("a", "a"), {"a", "b"});
                         },
                         exitRefusedEntryName}),
    [](const testing::TestParamInfo<WholeArchiveCase>& info) { return std::string(info.param.label); });

// Entries that each declare nearly 4 GiB, together 8 GiB more than the
// destination's volume has free (deflated streams of nothing: they would
// fail as damaged, but are never tried).
TEST(ExtractArchive, MoreThanTheVolumeHoldsIsRefusedBeforeAnythingIsWritten) {
    Sandbox box;
    fs::create_directories(box.destination);
    const uint64_t declaredEach = 0xfffffff0u;
    const uint64_t count = fs::space(box.destination).available / declaredEach + 2;
    ASSERT_LT(count, 65535u) << "the volume is too large for this test";
    std::vector<CraftedEntry> entries;
    for (uint64_t i = 0; i < count; ++i) {
        CraftedEntry entry = deflatedEntry("big" + std::to_string(i), "");
        entry.uncompressedSize = static_cast<uint32_t>(declaredEach);
        entries.push_back(entry);
    }
    EXPECT_EQ(box.extract(buildArchive(entries), nullptr), exitWriteFailed);
    EXPECT_TRUE(treeOf(box.destination).empty());

    // One declaring half the free space fits: it is tried, and fails as the
    // lie it is.
    entries.resize(1);
    entries[0].uncompressedSize =
        static_cast<uint32_t>(std::min<uint64_t>(fs::space(box.destination).available / 2, declaredEach));
    EXPECT_EQ(box.extract(buildArchive(entries), nullptr), exitDamagedArchive);
}

// Sizes past 32 bits in zip64 fields: what they declare together is counted
// without wrapping (two times 2^63 is no 0), and refused as more than any
// volume holds before anything is written.
TEST(ExtractArchive, DeclaredZip64SizesAddUpWithoutWrapping) {
    Sandbox box;
    std::string archive = buildZip64Archive({deflatedEntry("a", ""), deflatedEntry("b", "")});
    const size_t directory = static_cast<size_t>(readLittle64(archive, zip64EndRecordOffset(archive) + 48));
    size_t record = directory;
    for (int i = 0; i < 2; ++i) {
        const size_t field = record + 46 + readLittle16(archive, record + 28);
        put64(archive, field + 4, uint64_t{1} << 63);  // the uncompressed size
        record = field + readLittle16(archive, record + 30);
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(box.extract(archive, nullptr), exitWriteFailed);
    const std::string lines = testing::internal::GetCapturedStderr();
    EXPECT_NE(lines.find("the archive declares 18446744073709551615 bytes"), std::string::npos) << lines;
    EXPECT_TRUE(treeOf(box.destination).empty());
}

struct ProblemOrder {
    std::vector<CraftedEntry> entries;
    int expectedCode;
};

class SeveralProblems : public testing::TestWithParam<ProblemOrder> {};

TEST_P(SeveralProblems, FirstProblemDecidesAndGoodEntriesStillLand) {
    Sandbox box;
    std::vector<CraftedEntry> entries = GetParam().entries;
    entries.push_back(storedEntry("good.txt", "good"));
    EXPECT_EQ(box.extract(buildArchive(entries), "pw"), GetParam().expectedCode);
    EXPECT_EQ(readFile(box.destination / "good.txt"), "good");
}

CraftedEntry badCrc() {
    CraftedEntry entry = storedEntry("bad.txt", "data");
    entry.crc32 ^= 1;
    return entry;
}

INSTANTIATE_TEST_SUITE_P(Order, SeveralProblems,
                         testing::Values(ProblemOrder{{storedEntry("../x", ""), badCrc()}, exitRefusedEntryName},
                                         ProblemOrder{{badCrc(), storedEntry("../x", "")}, exitDamagedArchive},
                                         ProblemOrder{{encrypted(storedEntry("e", "e"), "other"), badCrc()},
                                                      exitWrongPassword},
                                         ProblemOrder{{[] {
                                                          CraftedEntry e = storedEntry("m", "m");
                                                          e.method = 14;
                                                          return e;
                                                      }()},
                                                      exitUnsupported}));

// Names are untrusted bytes: neither name of a clash reaches the console
// with its control characters (a terminal would obey an escape sequence).
TEST(ExtractArchive, ClashLinesShowNeitherNamesControlCharacters) {
    Sandbox box;
    writeFile(box.archive, buildArchive({storedEntry("red\x1b[31m", "a"), storedEntry("RED\x1b[31m", "b")}));
    testing::internal::CaptureStderr();
    EXPECT_EQ(extractArchive(box.archive.string().c_str(), nullptr, box.destination.string().c_str()),
              exitRefusedEntryName);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "unzip: RED?[31m: names the same file as red?[31m on Windows (they differ only in case); "
              "nothing is extracted\n");
}

// The first entry takes its worker a while before it fails; the small ones
// behind it are done by another worker long before. Their lines still come
// in archive order, and the first problem in archive order decides the exit
// code.
TEST(ExtractArchive, LinesComeInArchiveOrderHoweverTheWorkersFinish) {
    Sandbox box;
    CraftedEntry damaged = deflatedEntry("big.txt", compressibleData(8 << 20));
    damaged.crc32 ^= 1;
    CraftedEntry unknownMethod = storedEntry("m.txt", "m");
    unknownMethod.method = 14;
    const std::vector<CraftedEntry> entries{
        damaged,       storedEntry("../up.txt", "x"), storedEntry("small.txt", "small"),
        unknownMethod, storedEntry("con.txt", "x"),   deflatedEntry("sub/other.txt", compressibleData(1 << 20))};
    writeFile(box.archive, buildArchive(entries));
    testing::internal::CaptureStderr();
    const int code = extractArchive(box.archive.string().c_str(), nullptr, box.destination.string().c_str());
    const std::string lines = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, exitDamagedArchive);
    EXPECT_EQ(lines,
              "unzip: big.txt: damaged archive\n"
              "unzip: ../up.txt: parent or current directory component\n"
              "unzip: m.txt: unsupported ZIP feature\n"
              "unzip: con.txt: reserved device name\n");
    EXPECT_EQ(readFile(box.destination / "small.txt"), "small");
    EXPECT_EQ(readFile(box.destination / "sub/other.txt"), compressibleData(1 << 20));
    EXPECT_FALSE(fs::exists(box.destination / "big.txt"));
}

struct CommandCase {
    const char* label;
    std::string arguments;  // after the program name
    int expectedCode;
};

class CommandLine : public testing::TestWithParam<CommandCase> {};

// Runs the native tool on an archive in a directory with blanks in its name.
TEST_P(CommandLine, ExitCode) {
    ScratchDirectory temp;
    writeFile(temp / "pack dir/package.zip", buildArchive({storedEntry("f.txt", "f")}));
    const std::string command =
        "cd '" + temp.path + "' && '" KESTRUNE_UNZIP_EXE "' " + GetParam().arguments + " 2>/dev/null";
    EXPECT_EQ(runCommand(command), GetParam().expectedCode);
    if (GetParam().expectedCode == exitSuccess) {
        EXPECT_EQ(readFile(temp / "out dir/f.txt"), "f");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLine,
    testing::Values(CommandCase{"LauncherForm", "-P pw 'pack dir/package.zip' -d 'out dir'", exitSuccess},
                    CommandCase{"OptionsInOtherOrder", "-d 'out dir' 'pack dir/package.zip'", exitSuccess},
                    CommandCase{"NoArguments", "", exitBadUsage},
                    CommandCase{"NoDestination", "'pack dir/package.zip'", exitBadUsage},
                    CommandCase{"PasswordValueMissing", "-d out 'pack dir/package.zip' -P", exitBadUsage},
                    CommandCase{"UnknownOption", "-o 'pack dir/package.zip' -d out", exitBadUsage},
                    CommandCase{"MissingArchive", "-P pw 'pack dir/none.zip' -d out", exitArchiveUnreadable}),
    [](const testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.label); });

}  // namespace
