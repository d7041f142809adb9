// Whole-archive extraction on the real file system, and the command line of
// the native build of the tool.
#include "extract_archive.h"

#include "exit_codes.h"
#include "zip_test_support.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// Every file below `root` with its content, directories as "name/".
std::map<std::string, std::string> tree_of(const fs::path& root)
{
    std::map<std::string, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(item.path(), root).generic_string();
        if (item.is_directory())
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
        return extract_archive(archive.string(), password, destination.string());
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
    EXPECT_EQ(extract_archive(box.archive.string(), "secret", destination), exit_success);
    EXPECT_EQ(tree_of(box.destination), files);
}

TEST(ExtractArchive, CreatesOnlyTheLastComponentOfTheDestination)
{
    Sandbox box;
    const std::string archive = build_archive({stored_entry("a", "a")});
    write_file(box.archive, archive);
    const fs::path too_deep = box.temp.path / "missing" / "work";
    EXPECT_EQ(extract_archive(box.archive.string(), nullptr, too_deep.string()), exit_write_failed);
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
              exit_damaged_archive);
    const std::map<std::string, std::string> expected{{"good.txt", "new"}, {"bad.txt", "old bad"}};
    EXPECT_EQ(tree_of(box.destination), expected);
}

TEST(ExtractArchive, WrongPasswordCreatesNeitherFileNorParentDirectory)
{
    Sandbox box;
    const CraftedEntry locked = encrypted(deflated_entry("sub/locked.txt", "x"), "secret");
    EXPECT_EQ(box.extract(build_archive({locked}), "guess"), exit_wrong_password);
    EXPECT_TRUE(tree_of(box.destination).empty());
}

class UnsafeName : public testing::TestWithParam<std::string> {};

TEST_P(UnsafeName, IsRefusedAndNothingLandsOutsideTheDestination)
{
    Sandbox box;
    const int code = box.extract(
        build_archive({stored_entry(GetParam(), "evil"), stored_entry("good.txt", "good")}), nullptr);
    EXPECT_EQ(code, exit_refused_entry_name);
    const std::map<std::string, std::string> expected_outside{
        {"package.zip", read_file(box.archive)}, {"work dir/", ""}, {"work dir/good.txt", "good"}};
    EXPECT_EQ(tree_of(box.temp.path), expected_outside);
    EXPECT_FALSE(fs::exists("/kestrune-unzip-abs"));
}

INSTANTIATE_TEST_SUITE_P(ZipSlip, UnsafeName,
                         testing::Values("../x", "a/../../x", "..\\x", "a\\..\\..\\x",
                                         "/kestrune-unzip-abs", "C:x", "c:\\x", "", "sub/../../x/"));

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
        ProblemOrder{{stored_entry("../x", ""), bad_crc()}, exit_refused_entry_name},
        ProblemOrder{{bad_crc(), stored_entry("../x", "")}, exit_damaged_archive},
        ProblemOrder{{encrypted(stored_entry("e", "e"), "other"), bad_crc()}, exit_wrong_password},
        ProblemOrder{{[] { CraftedEntry e = stored_entry("m", "m"); e.method = 14; return e; }()},
                     exit_unsupported}));

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
    if (GetParam().expected_code == exit_success) {
        EXPECT_EQ(read_file(temp.path / "out dir/f.txt"), "f");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLine,
    testing::Values(
        CommandCase{"LauncherForm", "-P pw 'pack dir/package.zip' -d 'out dir'", exit_success},
        CommandCase{"OptionsInOtherOrder", "-d 'out dir' 'pack dir/package.zip'", exit_success},
        CommandCase{"NoArguments", "", exit_bad_usage},
        CommandCase{"NoDestination", "'pack dir/package.zip'", exit_bad_usage},
        CommandCase{"PasswordValueMissing", "-d out 'pack dir/package.zip' -P", exit_bad_usage},
        CommandCase{"UnknownOption", "-o 'pack dir/package.zip' -d out", exit_bad_usage},
        CommandCase{"MissingArchive", "-P pw 'pack dir/none.zip' -d out", exit_archive_unreadable}),
    [](const testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.label); });

} // namespace
