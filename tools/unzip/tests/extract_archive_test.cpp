// Whole-archive extraction on the real file system, and the command line of
// the native build of the tool.
#include "extract_archive.h"

#include "exit_codes.h"
#include "zip_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

namespace {

using Tree = std::map<std::string, std::string>;

// Every file below `root` with its content, directories as "name/", links
// (never followed) as "-> target".
Tree tree_of(const fs::path& root)
{
    Tree tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string name = item.path().lexically_relative(root).generic_string();
        if (item.is_symlink())
            tree[name] = "-> " + fs::read_symlink(item.path()).string();
        else if (item.is_directory())
            tree[name + "/"] = "";
        else
            tree[name] = read_file(item.path());
    }
    return tree;
}

struct Sandbox {
    TempDir temp;
    fs::path archive = temp.path / "package.zip";
    fs::path destination = temp.path / "work dir";

    int extract(const std::string& archive_bytes, const char* password)
    {
        write_file(archive, archive_bytes);
        return extractArchive(archive.string().c_str(), password, destination.string().c_str());
    }
};

TEST(ExtractArchive, InfoZipTreeWithPasswordLandsIntactWithNoTemporaryLeft)
{
    Sandbox box;
    const std::map<std::string, std::string> files{
        {"setup.ini", "[setup]\n"}, {"sub dir/", ""}, {"sub dir/deep/", ""},
        {"sub dir/deep/big.bin", incompressible_data(200 * 1024)}, {"empty", ""}};
    for (const auto& [name, content] : files)
        if (name.back() != '/')
            write_file(box.temp.path / "tree" / name, content);
    write_file(box.archive, make_info_zip_archive(box.temp.path / "tree", "-P secret"));

    // Given as the launcher does: trailing doubled separator.
    const std::string destination = box.destination.string() + "//";
    EXPECT_EQ(extractArchive(box.archive.string().c_str(), "secret", destination.c_str()), exitSuccess);
    EXPECT_EQ(tree_of(box.destination), files);
}

TEST(ExtractArchive, AnArchiveWithoutEntriesGivesAnEmptyDestination)
{
    Sandbox box;
    EXPECT_EQ(box.extract(build_archive({}), "secret"), exitSuccess);
    EXPECT_TRUE(fs::is_directory(box.destination));
    EXPECT_TRUE(tree_of(box.destination).empty());
}

TEST(ExtractArchive, CreatesOnlyTheLastComponentOfTheDestination)
{
    Sandbox box;
    const std::string archive = build_archive({stored_entry("a", "a")});
    write_file(box.archive, archive);
    const fs::path too_deep = box.temp.path / "missing" / "work";
    EXPECT_EQ(extractArchive(box.archive.string().c_str(), nullptr, too_deep.string().c_str()), exitWriteFailed);
    EXPECT_FALSE(fs::exists(too_deep.parent_path()));
}

TEST(ExtractArchive, VerifiedEntryReplacesFileButFailedOneLeavesItAlone)
{
    Sandbox box;
    write_file(box.destination / "good.txt", "old good");
    write_file(box.destination / "bad.txt", "old bad");
    CraftedEntry bad = deflated_entry("bad.txt", compressible_data(100000));
    bad.crc32 ^= 1;
    EXPECT_EQ(box.extract(build_archive({stored_entry("good.txt", "new"), bad}), nullptr),
              exitDamagedArchive);
    const std::map<std::string, std::string> expected{{"good.txt", "new"}, {"bad.txt", "old bad"}};
    EXPECT_EQ(tree_of(box.destination), expected);
}

TEST(ExtractArchive, WrongPasswordCreatesNeitherFileNorParentDirectory)
{
    Sandbox box;
    const CraftedEntry locked = encrypted(deflated_entry("sub/locked.txt", "x"), "secret");
    EXPECT_EQ(box.extract(build_archive({locked}), "guess"), exitWrongPassword);
    EXPECT_TRUE(tree_of(box.destination).empty());
}

class UnsafeName : public testing::TestWithParam<std::string> {};

TEST_P(UnsafeName, IsRefusedAndNothingLandsOutsideTheDestination)
{
    Sandbox box;
    const int code = box.extract(
        build_archive({stored_entry(GetParam(), "evil"), stored_entry("good.txt", "good")}), nullptr);
    EXPECT_EQ(code, exitRefusedEntryName);
    const std::map<std::string, std::string> expected_outside{
        {"package.zip", read_file(box.archive)}, {"work dir/", ""}, {"work dir/good.txt", "good"}};
    EXPECT_EQ(tree_of(box.temp.path), expected_outside);
    EXPECT_FALSE(fs::exists("/kestrune-unzip-abs"));
}

INSTANTIATE_TEST_SUITE_P(ZipSlip, UnsafeName,
                         testing::Values("../x", "a/../../x", "..\\x", "a\\..\\..\\x",
                                         "/kestrune-unzip-abs", "C:x", "c:\\x", "", "sub/../../x/"));
// Names Windows would open as a device or change.
INSTANTIATE_TEST_SUITE_P(WindowsNames, UnsafeName,
                         testing::Values("COM\xb9", "lpt\xb2.txt", "sub/LPT\xb3", "CONIN$", "conout$.log",
                                         "SETUP.EXE.", "setup.exe ", "sub./x"));

// Links planted in the destination before the run, pointing outside it,
// beside a sound good.txt that must still land.
struct LinkCase {
    const char* label;
    void (*plant)(const fs::path& destination, const fs::path& outside);
    std::vector<CraftedEntry> entries;
    int expected_code;
    Tree destination_after; // good.txt aside
};

class PlantedLink : public testing::TestWithParam<LinkCase> {};

TEST_P(PlantedLink, IsNeverWrittenThroughAndTheOutsideStaysAsItWas)
{
    Sandbox box;
    const fs::path outside = box.temp.path / "outside";
    write_file(outside / "target.txt", "outside data");
    fs::create_directories(outside / "dir");
    const Tree outside_before = tree_of(outside);
    fs::create_directories(box.destination);
    GetParam().plant(box.destination, outside);

    std::vector<CraftedEntry> entries = GetParam().entries;
    entries.push_back(stored_entry("good.txt", "good"));
    EXPECT_EQ(box.extract(build_archive(entries), nullptr), GetParam().expected_code);
    EXPECT_EQ(tree_of(outside), outside_before);
    Tree expected = GetParam().destination_after;
    expected["good.txt"] = "good";
    EXPECT_EQ(tree_of(box.destination), expected);
}

void link(const fs::path& from, const fs::path& to) { fs::create_symlink(to, from); }

const std::string outside_dir = "-> " + std::string("../outside/dir");

// readme.txt's part name and its 99 spare ones, each a link to outside.
Tree every_part_name_linked()
{
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
                 {stored_entry("docs/readme.txt", "evil")}, exitRefusedEntryName, {{"docs", outside_dir}}},
        LinkCase{"FolderLinkGivenAsFolderEntries",
                 [](const fs::path& d, const fs::path&) { link(d / "docs", "../outside/dir"); },
                 {stored_entry("docs/", ""), stored_entry("docs/sub/", "")}, exitRefusedEntryName,
                 {{"docs", outside_dir}}},
        LinkCase{"FolderLinkDeeperDown",
                 [](const fs::path& d, const fs::path&) {
                     fs::create_directories(d / "a");
                     link(d / "a/b", "../../outside/dir");
                 },
                 {stored_entry("a/b/c/d.txt", "evil"), stored_entry("a/e.txt", "e")}, exitRefusedEntryName,
                 {{"a/", ""}, {"a/b", "-> ../../outside/dir"}, {"a/e.txt", "e"}}},
        LinkCase{"LinkToTheDestinationItself",
                 [](const fs::path& d, const fs::path&) { link(d / "loop", "."); },
                 {stored_entry("loop/x.txt", "x")}, exitRefusedEntryName, {{"loop", "-> ."}}},
        LinkCase{"FileLinkAtTheName",
                 [](const fs::path& d, const fs::path&) { link(d / "readme.txt", "../outside/target.txt"); },
                 {stored_entry("readme.txt", "evil")}, exitRefusedEntryName,
                 {{"readme.txt", "-> ../outside/target.txt"}}},
        LinkCase{"DanglingLinkAtTheName",
                 [](const fs::path& d, const fs::path&) { link(d / "readme.txt", "../outside/made.txt"); },
                 {stored_entry("readme.txt", "evil")}, exitRefusedEntryName,
                 {{"readme.txt", "-> ../outside/made.txt"}}},
        // Whatever stands at the part name is left alone, and the entry is
        // written under a spare part name: nothing planted there can keep an
        // older file in the package's place.
        LinkCase{"LinkAtThePartName",
                 [](const fs::path& d, const fs::path&) {
                     link(d / "readme.txt.kestrune-part", "../outside/target.txt");
                     write_file(d / "readme.txt", "planted");
                 },
                 {stored_entry("readme.txt", "new")}, exitSuccess,
                 {{"readme.txt.kestrune-part", "-> ../outside/target.txt"}, {"readme.txt", "new"}}},
        LinkCase{"DanglingLinkAtThePartName",
                 [](const fs::path& d, const fs::path&) {
                     link(d / "readme.txt.kestrune-part", "../outside/made.txt");
                 },
                 {stored_entry("readme.txt", "new")}, exitSuccess,
                 {{"readme.txt.kestrune-part", "-> ../outside/made.txt"}, {"readme.txt", "new"}}},
        LinkCase{"FolderAtThePartName",
                 [](const fs::path& d, const fs::path&) {
                     write_file(d / "readme.txt.kestrune-part/planted.txt", "planted");
                     link(d / "readme.txt.kestrune-p001", "../outside/target.txt");
                     write_file(d / "readme.txt", "planted");
                 },
                 {stored_entry("readme.txt", "new")}, exitSuccess,
                 {{"readme.txt.kestrune-part/", ""},
                  {"readme.txt.kestrune-part/planted.txt", "planted"},
                  {"readme.txt.kestrune-p001", "-> ../outside/target.txt"},
                  {"readme.txt", "new"}}},
        LinkCase{"PartFileOfAnEarlierRunAndAnOlderFile",
                 [](const fs::path& d, const fs::path&) {
                     write_file(d / "readme.txt.kestrune-part", "stale");
                     write_file(d / "readme.txt", "old");
                 },
                 {stored_entry("readme.txt", "new")}, exitSuccess,
                 {{"readme.txt.kestrune-part", "stale"}, {"readme.txt", "new"}}},
        // The spare names run out only when all 100 are planted.
        LinkCase{"EveryPartNameTaken",
                 [](const fs::path& d, const fs::path&) {
                     for (const auto& [name, target] : every_part_name_linked())
                         link(d / name, target.substr(3));
                 },
                 {stored_entry("readme.txt", "new")}, exitRefusedEntryName, every_part_name_linked()},
        LinkCase{"FolderAtTheName",
                 [](const fs::path& d, const fs::path&) { write_file(d / "readme.txt/planted.txt", "planted"); },
                 {stored_entry("readme.txt", "new")}, exitWriteFailed,
                 {{"readme.txt/", ""}, {"readme.txt/planted.txt", "planted"}}}),
    [](const testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.label); });

// Archives that mean one thing on Windows only in archive order: refused
// whole, before the destination is even made.
struct WholeArchiveCase {
    const char* label;
    std::string (*make_archive)();
    int expected_code;
};

class RefusedArchive : public testing::TestWithParam<WholeArchiveCase> {};

TEST_P(RefusedArchive, WritesNothingAtAll)
{
    Sandbox box;
    EXPECT_EQ(box.extract(GetParam().make_archive(), nullptr), GetParam().expected_code);
    EXPECT_FALSE(fs::exists(box.destination));
}

std::string setup_in_three_spellings()
{
    return build_archive({stored_entry("SETUP.EXE", "checked"), stored_entry("setup.exe", "run"),
                          stored_entry("SETUP.EXE.", "run instead")});
}

INSTANTIATE_TEST_SUITE_P(
    OneArchiveOneMeaning, RefusedArchive,
    testing::Values(
        WholeArchiveCase{"SetupInThreeSpellings", setup_in_three_spellings, exitRefusedEntryName},
        WholeArchiveCase{"FileAndFolderOfOneName",
                         [] { return build_archive({stored_entry("docs", "d"), stored_entry("DOCS/a.txt", "a")}); },
                         exitRefusedEntryName},
        WholeArchiveCase{"ShortNameBesideALongOne",
                         [] {
                             return build_archive({stored_entry("Long File Name.txt", "long"),
                                                   stored_entry("LONGFI~1.TXT", "short")});
                         },
                         exitRefusedEntryName},
        WholeArchiveCase{"FortyEntriesOverOneStream", [] { return forty_entries_over_one_stream(4 << 20); }, exitRefusedEntryName},
        WholeArchiveCase{"DuplicateCentralRecord",
                         [] { return build_archive_sharing_one_stream(stored_entry("a", "a"), {"a", "b"}); },
                         exitRefusedEntryName}),
    [](const testing::TestParamInfo<WholeArchiveCase>& info) { return std::string(info.param.label); });

// Entries that each declare nearly 4 GiB, together 8 GiB more than the
// destination's volume has free (deflated streams of nothing: they would
// fail as damaged, but are never tried).
TEST(ExtractArchive, MoreThanTheVolumeHoldsIsRefusedBeforeAnythingIsWritten)
{
    Sandbox box;
    fs::create_directories(box.destination);
    const uint64_t declared_each = 0xfffffff0u;
    const uint64_t count = fs::space(box.destination).available / declared_each + 2;
    ASSERT_LT(count, 65535u) << "the volume is too large for this test";
    std::vector<CraftedEntry> entries;
    for (uint64_t i = 0; i < count; ++i) {
        CraftedEntry entry = deflated_entry("big" + std::to_string(i), "");
        entry.uncompressed_size = static_cast<uint32_t>(declared_each);
        entries.push_back(entry);
    }
    EXPECT_EQ(box.extract(build_archive(entries), nullptr), exitWriteFailed);
    EXPECT_TRUE(tree_of(box.destination).empty());

    // One declaring half the free space fits: it is tried, and fails as the
    // lie it is.
    entries.resize(1);
    entries[0].uncompressed_size =
        static_cast<uint32_t>(std::min<uint64_t>(fs::space(box.destination).available / 2, declared_each));
    EXPECT_EQ(box.extract(build_archive(entries), nullptr), exitDamagedArchive);
}

struct ProblemOrder {
    std::vector<CraftedEntry> entries;
    int expected_code;
};

class SeveralProblems : public testing::TestWithParam<ProblemOrder> {};

TEST_P(SeveralProblems, FirstProblemDecidesAndGoodEntriesStillLand)
{
    Sandbox box;
    std::vector<CraftedEntry> entries = GetParam().entries;
    entries.push_back(stored_entry("good.txt", "good"));
    EXPECT_EQ(box.extract(build_archive(entries), "pw"), GetParam().expected_code);
    EXPECT_EQ(read_file(box.destination / "good.txt"), "good");
}

CraftedEntry bad_crc()
{
    CraftedEntry entry = stored_entry("bad.txt", "data");
    entry.crc32 ^= 1;
    return entry;
}

INSTANTIATE_TEST_SUITE_P(
    Order, SeveralProblems,
    testing::Values(
        ProblemOrder{{stored_entry("../x", ""), bad_crc()}, exitRefusedEntryName},
        ProblemOrder{{bad_crc(), stored_entry("../x", "")}, exitDamagedArchive},
        ProblemOrder{{encrypted(stored_entry("e", "e"), "other"), bad_crc()}, exitWrongPassword},
        ProblemOrder{{[] { CraftedEntry e = stored_entry("m", "m"); e.method = 14; return e; }()},
                     exitUnsupported}));

// Names are untrusted bytes: neither name of a clash reaches the console
// with its control characters (a terminal would obey an escape sequence).
TEST(ExtractArchive, ClashLinesShowNeitherNamesControlCharacters)
{
    Sandbox box;
    write_file(box.archive, build_archive({stored_entry("red\x1b[31m", "a"), stored_entry("RED\x1b[31m", "b")}));
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
TEST(ExtractArchive, LinesComeInArchiveOrderHoweverTheWorkersFinish)
{
    Sandbox box;
    CraftedEntry damaged = deflated_entry("big.txt", compressible_data(8 << 20));
    damaged.crc32 ^= 1;
    CraftedEntry unknown_method = stored_entry("m.txt", "m");
    unknown_method.method = 14;
    const std::vector<CraftedEntry> entries{damaged, stored_entry("../up.txt", "x"), stored_entry("small.txt", "small"),
                                            unknown_method, stored_entry("con.txt", "x"),
                                            deflated_entry("sub/other.txt", compressible_data(1 << 20))};
    write_file(box.archive, build_archive(entries));
    testing::internal::CaptureStderr();
    const int code = extractArchive(box.archive.string().c_str(), nullptr, box.destination.string().c_str());
    const std::string lines = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, exitDamagedArchive);
    EXPECT_EQ(lines, "unzip: big.txt: damaged archive\n"
                     "unzip: ../up.txt: parent or current directory component\n"
                     "unzip: m.txt: unsupported ZIP feature\n"
                     "unzip: con.txt: reserved device name\n");
    EXPECT_EQ(read_file(box.destination / "small.txt"), "small");
    EXPECT_EQ(read_file(box.destination / "sub/other.txt"), compressible_data(1 << 20));
    EXPECT_FALSE(fs::exists(box.destination / "big.txt"));
}

struct CommandCase {
    const char* label;
    std::string arguments; // after the program name
    int expected_code;
};

class CommandLine : public testing::TestWithParam<CommandCase> {};

// Runs the native tool on an archive in a directory with blanks in its name.
TEST_P(CommandLine, ExitCode)
{
    TempDir temp;
    write_file(temp.path / "pack dir/package.zip", build_archive({stored_entry("f.txt", "f")}));
    const std::string command = "cd '" + temp.path.string() + "' && '" KESTRUNE_UNZIP_EXE "' " +
                                GetParam().arguments + " 2>/dev/null";
    EXPECT_EQ(run_command(command), GetParam().expected_code);
    if (GetParam().expected_code == exitSuccess) {
        EXPECT_EQ(read_file(temp.path / "out dir/f.txt"), "f");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLine,
    testing::Values(
        CommandCase{"LauncherForm", "-P pw 'pack dir/package.zip' -d 'out dir'", exitSuccess},
        CommandCase{"OptionsInOtherOrder", "-d 'out dir' 'pack dir/package.zip'", exitSuccess},
        CommandCase{"NoArguments", "", exitBadUsage},
        CommandCase{"NoDestination", "'pack dir/package.zip'", exitBadUsage},
        CommandCase{"PasswordValueMissing", "-d out 'pack dir/package.zip' -P", exitBadUsage},
        CommandCase{"UnknownOption", "-o 'pack dir/package.zip' -d out", exitBadUsage},
        CommandCase{"MissingArchive", "-P pw 'pack dir/none.zip' -d out", exitArchiveUnreadable}),
    [](const testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.label); });

} // namespace
