#include "entry_name.h"

#include <gtest/gtest.h>

namespace {

class RefusedEntryName : public testing::TestWithParam<const char*> {};

TEST_P(RefusedEntryName, IsReportedAsAProblem)
{
    EXPECT_NE(entry_name_problem(GetParam()), nullptr) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(
    EscapingOrDevicePaths, RefusedEntryName,
    testing::Values("", "..", "../x", "a/../../x", "a/..", "..\\x", "a\\..\\..\\x", "x/../y",
                    "...", ".. /x", "./x", " /x", "/abs", "\\abs", "//server/share/x",
                    "\\\\server\\share\\x", "C:x", "c:\\x", "C:/x", "a/b:c", "a:stream", "a//b",
                    "con", "NUL.txt", "dir/com1", "Lpt9.log", "aux .txt", "a\x01" "b", "a?b",
                    "a*b", "a|b",
                    // Superscript port numbers (code page 1252) and the console's names.
                    "COM\xb9", "com\xb2.txt", "dir/LPT\xb3", "lpt\xb9.log", "conin$", "CONOUT$.txt",
                    // Windows drops trailing dots and blanks, so the name would change.
                    "SETUP.EXE.", "setup.exe ", "dir./x", "dir /x", "a.txt. . ", "sub/name."));

struct SafeName {
    const char* name;
    std::vector<std::string> components;
};

class SafeEntryName : public testing::TestWithParam<SafeName> {};

TEST_P(SafeEntryName, IsAcceptedAndSplitAtBothSeparators)
{
    const SafeName& safe = GetParam();
    EXPECT_EQ(entry_name_problem(safe.name), nullptr) << safe.name;
    EXPECT_EQ(entry_name_components(safe.name), safe.components) << safe.name;
}

INSTANTIATE_TEST_SUITE_P(
    OrdinaryNames, SafeEntryName,
    testing::Values(SafeName{"a.txt", {"a.txt"}}, SafeName{"dir/", {"dir"}},
                    SafeName{"a/b/c.txt", {"a", "b", "c.txt"}},
                    SafeName{"a\\b.txt", {"a", "b.txt"}},
                    SafeName{"name with blanks.txt", {"name with blanks.txt"}},
                    SafeName{"..a/a..b/.hidden", {"..a", "a..b", ".hidden"}},
                    SafeName{"console/com10/conf.txt", {"console", "com10", "conf.txt"}},
                    SafeName{"com\xb4/lpt\xbc", {"com\xb4", "lpt\xbc"}},
                    SafeName{" lead/.dot", {" lead", ".dot"}}));

struct DestinationCase {
    const char* given;
    const char* directory;
};

class DestinationDirectory : public testing::TestWithParam<DestinationCase> {};

TEST_P(DestinationDirectory, DropsTrailingSeparatorsButKeepsRoots)
{
    EXPECT_EQ(destination_directory(GetParam().given), GetParam().directory);
}

INSTANTIATE_TEST_SUITE_P(
    LauncherForms, DestinationDirectory,
    testing::Values(DestinationCase{"C:\\Keep\\\\", "C:\\Keep"},
                    DestinationCase{"C:\\Work dir", "C:\\Work dir"},
                    DestinationCase{"D:\\\\", "D:\\"}, DestinationCase{"D:\\", "D:\\"},
                    DestinationCase{"\\\\server\\share\\", "\\\\server\\share"},
                    DestinationCase{"/tmp/out//", "/tmp/out"}, DestinationCase{"/", "/"}));

TEST(JoinBelow, AddsOneSeparatorPerComponentEvenBelowARoot)
{
    const std::vector<std::string> components{"a", "b", "c.txt"};
    EXPECT_EQ(join_below("C:\\Keep", components, 3, '\\'), "C:\\Keep\\a\\b\\c.txt");
    EXPECT_EQ(join_below("C:\\Keep", components, 1, '\\'), "C:\\Keep\\a");
    EXPECT_EQ(join_below("D:\\", components, 2, '\\'), "D:\\a\\b");
    EXPECT_EQ(join_below("/", components, 1, '/'), "/a");
}

} // namespace
