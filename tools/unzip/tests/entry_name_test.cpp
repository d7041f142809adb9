#include "zip_reader_containers.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class RefusedEntryName : public testing::TestWithParam<std::string> {};

TEST_P(RefusedEntryName, IsReportedAsAProblem) { EXPECT_NE(entryNameProblem(GetParam()), nullptr) << GetParam(); }

// Names are given in UTF-8, as an entry with the UTF-8 flag holds them.
INSTANTIATE_TEST_SUITE_P(EscapingOrDevicePaths, RefusedEntryName,
                         testing::Values("", "..", "../x", "a/../../x", "a/..", "..\\x", "a\\..\\..\\x", "x/../y",
                                         "...", ".. /x", "./x", " /x", "/abs", "\\abs", "//server/share/x",
                                         "\\\\server\\share\\x", "C:x", "c:\\x", "C:/x", "a/b:c", "a:stream", "a//b",
                                         "con", "NUL.txt", "dir/com1", "Lpt9.log", "aux .txt",
                                         "a\x01"
                                         "b",
                                         "a?b", "a*b", "a|b",
                                         // Superscript port numbers and the console's names.
                                         "COM\u00b9", "com\u00b2.txt", "dir/LPT\u00b3", "lpt\u00b9.log", "conin$",
                                         "CONOUT$.txt",
                                         // Windows drops trailing dots and blanks, so the name would change.
                                         "SETUP.EXE.", "setup.exe ", "dir./x", "dir /x", "a.txt. . ", "sub/name."));

// Bytes that are not UTF-8 in a name that says it is: refused whole, never
// guessed at. An overlong '/' or '.' would otherwise climb out.
INSTANTIATE_TEST_SUITE_P(NotUtf8, RefusedEntryName,
                         testing::Values("caf\xe9.txt", "\xc0\xaf..\xc0\xafx", "a\xc0\xae\xc0\xae/x", "\xe0\x80\xafx",
                                         "\xed\xa0\x80.txt", "\xf4\x90\x80\x80", "\xf8\x88\x80\x80\x80", "cut\xe6\x97",
                                         "\x80stray", "\xfe\xff"));

// Windows allows 255 characters (UTF-16 units) in a name, and unzip.exe's
// part file takes 14 of a file's.
INSTANTIATE_TEST_SUITE_P(TooLong, RefusedEntryName,
                         testing::Values(std::string(256, 'd') + "/x", "x/" + std::string(242, 'f'),
                                         // 121 characters beyond the Basic Multilingual Plane: 242 units.
                                         [] {
                                             std::string emoji;
                                             for (int i = 0; i < 121; ++i) emoji += "\U0001F600";
                                             return emoji;
                                         }()));

struct SafeName {
    std::string name;
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
                    SafeName{"com\u00b4/lpt\u00bc", {"com\u00b4", "lpt\u00bc"}},
                    SafeName{" lead/.dot", {" lead", ".dot"}},
                    SafeName{"caf\u00e9/Gr\u00f6\u00dfe.txt", {"caf\u00e9", "Gr\u00f6\u00dfe.txt"}},
                    SafeName{"\u65e5\u672c\u8a9e/\U0001F600.txt", {"\u65e5\u672c\u8a9e", "\U0001F600.txt"}},
                    // A fullwidth solidus is a letter, not a separator.
                    SafeName{"a\uff0fb", {"a\uff0fb"}}, SafeName{std::string(255, 'd') + "/", {std::string(255, 'd')}},
                    SafeName{std::string(241, 'f'), {std::string(241, 'f')}}));

// Conversions both ways, and the upper case Windows compares names in.
TEST(UnicodeText, Utf8DecodesToUtf16AndBack) {
    const std::string text = "a\u00e9\u65e5\U0001F600\uffff";
    std::u16string wide;
    ASSERT_TRUE(decodeName(text, true, wide));
    EXPECT_EQ(wide, u"a\u00e9\u65e5\U0001F600\uffff");
    EXPECT_EQ(utf8Text(wide), text);
    EXPECT_EQ(utf8Text(u"lone \xd800 surrogate"), "lone \ufffd surrogate");
}

TEST(UnicodeText, NamesWithoutTheFlagAreReadInCodePage437) {
    std::u16string wide;
    ASSERT_TRUE(
        decodeName("caf\x82 \x81"
                   "ber \xe1 \xfd",
                   false, wide));
    EXPECT_EQ(wide, u"caf\u00e9 \u00fcber \u00df \u00b2");
    // Superscript two: a device name in code page 437 too.
    ASSERT_TRUE(decodeName("COM\xfd", false, wide));
    EXPECT_NE(entryNameProblem(wide), nullptr);
}

struct UpperCase {
    char16_t character;
    char16_t upper;
};

class UpperCaseOf : public testing::TestWithParam<UpperCase> {};

TEST_P(UpperCaseOf, IsTheSimpleUpperCase) { EXPECT_EQ(upperCaseOf(GetParam().character), GetParam().upper); }

INSTANTIATE_TEST_SUITE_P(
    Scripts, UpperCaseOf,
    testing::Values(UpperCase{u'a', u'A'}, UpperCase{u'Z', u'Z'}, UpperCase{u'1', u'1'},
                    UpperCase{u'\u00e9', u'\u00c9'}, UpperCase{u'\u00ff', u'\u0178'}, UpperCase{u'\u00df', u'\u00df'},
                    UpperCase{u'\u0131', u'I'}, UpperCase{u'\u017f', u'S'}, UpperCase{u'\u0101', u'\u0100'},
                    UpperCase{u'\u0100', u'\u0100'}, UpperCase{u'\u03c2', u'\u03a3'}, UpperCase{u'\u03c3', u'\u03a3'},
                    UpperCase{u'\u0444', u'\u0424'}, UpperCase{u'\u0561', u'\u0531'}, UpperCase{u'\u10d0', u'\u1c90'},
                    UpperCase{u'\u1f80', u'\u1f88'}, UpperCase{u'\u24d0', u'\u24b6'}, UpperCase{u'\uff41', u'\uff21'},
                    UpperCase{u'\u65e5', u'\u65e5'}, UpperCase{char16_t{0xd83d}, char16_t{0xd83d}},
                    UpperCase{u'\uffff', u'\uffff'}, UpperCase{u'\u0000', u'\u0000'}));

// Whether an opened entry stands where its name says, from final paths.
struct PlaceCase {
    std::u16string folder, name, entry;
    bool inPlace;
};

class StandsInPlace : public testing::TestWithParam<PlaceCase> {};

TEST_P(StandsInPlace, ComparesTheFolderExactlyAndTheNameInEitherCase) {
    const PlaceCase& c = GetParam();
    EXPECT_EQ(
        standsInPlace(c.folder.data(), c.folder.size(), c.name.data(), c.name.size(), c.entry.data(), c.entry.size()),
        c.inPlace);
}

INSTANTIATE_TEST_SUITE_P(
    FinalPaths, StandsInPlace,
    testing::Values(PlaceCase{u"\\\\?\\C:\\Keep", u"sub", u"\\\\?\\C:\\Keep\\sub", true},
                    PlaceCase{u"\\\\?\\C:\\", u"sub", u"\\\\?\\C:\\sub", true},
                    PlaceCase{u"\\\\?\\C:\\Keep", u"caf\u00e9", u"\\\\?\\C:\\Keep\\CAF\u00c9", true},
                    // A link followed: the target's path.
                    PlaceCase{u"\\\\?\\C:\\Keep", u"sub", u"\\\\?\\C:\\Elsewhere\\sub", false},
                    PlaceCase{u"\\\\?\\C:\\Keep", u"sub", u"\\\\?\\C:\\Keep\\other", false},
                    PlaceCase{u"\\\\?\\C:\\Keep", u"sub", u"\\\\?\\C:\\Keep", false},
                    PlaceCase{u"\\\\?\\C:\\Keep", u"sub", u"\\\\?\\C:\\Keep\\sub\\sub", false},
                    PlaceCase{u"\\\\?\\C:\\Keep", u"sub", u"\\\\?\\C:\\Keepsub", false},
                    PlaceCase{u"\\\\?\\C:\\Keep", u"sub", u"\\\\?\\C:\\keep\\sub", false},
                    // A short name for a long one is not the name asked for.
                    PlaceCase{u"\\\\?\\C:\\Keep", u"PROGRA~1", u"\\\\?\\C:\\Keep\\Program Files", false},
                    PlaceCase{u"", u"sub", u"\\sub", false}, PlaceCase{u"\\\\?\\C:", u"", u"\\\\?\\C:\\", false}));

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
