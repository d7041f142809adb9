#include "zip_reader_containers.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class RefusedEntryName : public testing::TestWithParam<const char*> {};

TEST_P(RefusedEntryName, IsReportedAsAProblem) { EXPECT_NE(entryNameProblem(GetParam()), nullptr) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(EscapingOrDevicePaths, RefusedEntryName,
                         testing::Values("", "..", "../x", "a/../../x", "a/..", "..\\x", "a\\..\\..\\x", "x/../y",
                                         "...", ".. /x", "./x", " /x", "/abs", "\\abs", "//server/share/x",
                                         "\\\\server\\share\\x", "C:x", "c:\\x", "C:/x", "a/b:c", "a:stream", "a//b",
                                         "con", "NUL.txt", "dir/com1", "Lpt9.log", "aux .txt",
                                         "a\x01"
                                         "b",
                                         "a?b", "a*b", "a|b",
                                         // Superscript port numbers (code page 1252) and the console's names.
                                         "COM\xb9", "com\xb2.txt", "dir/LPT\xb3", "lpt\xb9.log", "conin$",
                                         "CONOUT$.txt",
                                         // Windows drops trailing dots and blanks, so the name would change.
                                         "SETUP.EXE.", "setup.exe ", "dir./x", "dir /x", "a.txt. . ", "sub/name."));

struct SafeName {
    const char* name;
    std::vector<std::string> components;
};

class SafeEntryName : public testing::TestWithParam<SafeName> {};

TEST_P(SafeEntryName, IsAcceptedAndSplitAtBothSeparators) {
    const SafeName& safe = GetParam();
    EXPECT_EQ(entryNameProblem(safe.name), nullptr) << safe.name;
    EXPECT_EQ(entryNameComponents(safe.name), safe.components) << safe.name;
}

INSTANTIATE_TEST_SUITE_P(
    OrdinaryNames, SafeEntryName,
    testing::Values(SafeName{"a.txt", {"a.txt"}}, SafeName{"dir/", {"dir"}}, SafeName{"a/b/c.txt", {"a", "b", "c.txt"}},
                    SafeName{"a\\b.txt", {"a", "b.txt"}}, SafeName{"name with blanks.txt", {"name with blanks.txt"}},
                    SafeName{"..a/a..b/.hidden", {"..a", "a..b", ".hidden"}},
                    SafeName{"console/com10/conf.txt", {"console", "com10", "conf.txt"}},
                    SafeName{"com\xb4/lpt\xbc", {"com\xb4", "lpt\xbc"}}, SafeName{" lead/.dot", {" lead", ".dot"}}));

// Every name splits, safe or not: the clash finder looks at all of them.
TEST(NameComponents, KeepEmptyOnesButNotAFoldersTrailingSeparator) {
    using Components = std::vector<std::string>;
    EXPECT_EQ(entryNameComponents(""), Components{""});
    EXPECT_EQ(entryNameComponents("/"), Components{""});
    EXPECT_EQ(entryNameComponents("//"), (Components{"", ""}));
    EXPECT_EQ(entryNameComponents("a//b"), (Components{"a", "", "b"}));
    EXPECT_EQ(entryNameComponents("/a\\"), (Components{"", "a"}));
    EXPECT_EQ(nameComponentCount("a/b\\c/", 6), 3u);
    EXPECT_TRUE(nameIsFolder("a\\", 2));
    EXPECT_FALSE(nameIsFolder("", 0));
}

struct DestinationCase {
    const char* given;
    const char* directory;
};

class DestinationDirectory : public testing::TestWithParam<DestinationCase> {};

TEST_P(DestinationDirectory, DropsTrailingSeparatorsButKeepsRoots) {
    EXPECT_EQ(destinationDirectory(GetParam().given), GetParam().directory);
}

INSTANTIATE_TEST_SUITE_P(LauncherForms, DestinationDirectory,
                         testing::Values(DestinationCase{"C:\\Keep\\\\", "C:\\Keep"},
                                         DestinationCase{"C:\\Work dir", "C:\\Work dir"},
                                         DestinationCase{"D:\\\\", "D:\\"}, DestinationCase{"D:\\", "D:\\"},
                                         DestinationCase{"\\\\server\\share\\", "\\\\server\\share"},
                                         DestinationCase{"/tmp/out//", "/tmp/out"}, DestinationCase{"/", "/"}));

TEST(JoinBelow, AddsOneSeparatorPerComponentEvenBelowARoot) {
    EXPECT_EQ(joinBelow("C:\\Keep", "a/b\\c.txt", 3, '\\'), "C:\\Keep\\a\\b\\c.txt");
    EXPECT_EQ(joinBelow("C:\\Keep", "a/b/c.txt", 1, '\\'), "C:\\Keep\\a");
    EXPECT_EQ(joinBelow("D:\\", "a/b/c.txt", 2, '\\'), "D:\\a\\b");
    EXPECT_EQ(joinBelow("/", "a/b/", 2, '/'), "/a/b");
    EXPECT_EQ(joinBelow("", "a/b/c.txt", 3, '/'), "a/b/c.txt");
}

// The plain form needs the room it says it needs, and uses no more.
TEST(JoinBelow, RefusesTooLittleRoomAndLeavesNoText) {
    const std::string directory = "C:\\Keep";
    const std::string name = "sub/file.txt";
    const size_t enough = directory.size() + name.size() + 2;
    char room[64];
    std::memset(room, 'x', sizeof room);
    EXPECT_TRUE(joinBelow(room, enough, directory.data(), directory.size(), name.data(), name.size(), 2, '\\'));
    EXPECT_STREQ(room, "C:\\Keep\\sub\\file.txt");
    EXPECT_EQ(room[enough], 'x');
    EXPECT_FALSE(joinBelow(room, enough - 1, directory.data(), directory.size(), name.data(), name.size(), 2, '\\'));
    EXPECT_STREQ(room, "");
}

}  // namespace
