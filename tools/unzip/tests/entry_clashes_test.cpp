#include "zip_reader_containers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A clash as the tests spell it: the later entry, the earlier one, and a
// word of the reason.
struct ExpectedClash {
    size_t entry;
    size_t other;
    const char* reasonHolds;
};

struct ClashCase {
    const char* label;
    std::vector<std::string> names;
    std::vector<ExpectedClash> clashes;
};

class EntryClashes : public testing::TestWithParam<ClashCase> {};

TEST_P(EntryClashes, AreFoundOncePerLaterEntryWithTheirReason) {
    const std::vector<EntryClash> found = findEntryClashes(GetParam().names);
    ASSERT_EQ(found.size(), GetParam().clashes.size());
    for (size_t i = 0; i < found.size(); ++i) {
        const ExpectedClash& expected = GetParam().clashes[i];
        EXPECT_EQ(found[i].entry, expected.entry) << i;
        EXPECT_EQ(found[i].other, expected.other) << i;
        EXPECT_NE(std::string(found[i].reason).find(expected.reasonHolds), std::string::npos)
            << i << ": " << found[i].reason;
    }
}

const char* const twice = "same name twice";
const char* const inCase = "only in case";
const char* const trailing = "only in trailing dots";
const char* const caseAndTrailing = "case and in trailing";
const char* const fileAndFolder = "a file, the other a folder";
const char* const shortName = "short name";

INSTANTIATE_TEST_SUITE_P(
    Names, EntryClashes,
    testing::Values(
        // The attack: the launcher would run the later of these, not the
        // one a check looked at.
        ClashCase{
            "SetupInThreeSpellings", {"SETUP.EXE", "setup.exe", "SETUP.EXE."}, {{1, 0, inCase}, {2, 0, trailing}}},
        ClashCase{"SameNameTwice", {"a.txt", "b.txt", "a.txt"}, {{2, 0, twice}}},
        ClashCase{"EitherSeparator", {"docs/a.txt", "docs\\a.txt"}, {{1, 0, twice}}},
        ClashCase{"CaseInAFolderName", {"Docs/readme.txt", "docs/README.TXT"}, {{1, 0, inCase}}},
        ClashCase{"TrailingBlanksAndCase", {"Read Me", "read me . "}, {{1, 0, caseAndTrailing}}},
        ClashCase{"TrailingDotOnAFolder", {"dir./x", "dir/x"}, {{1, 0, trailing}}},
        // Code page 1252: e acute in both cases; 1251: Cyrillic a; 1254:
        // the dotless i folds to I; 1253: final sigma and sigma.
        ClashCase{"LettersAboveAscii",
                  {"caf\xe9", "CAF\xc9", "\xe0\xe1", "\xc0\xc1", "f\xfdle", "FILE", "\xf2", "\xf3"},
                  {{1, 0, inCase}, {3, 2, inCase}, {5, 4, inCase}, {7, 6, inCase}}},
        ClashCase{"FileAndFolderOfOneName", {"docs", "DOCS/readme.txt"}, {{1, 0, fileAndFolder}}},
        ClashCase{"FolderEntryThenFile", {"docs/", "Docs"}, {{1, 0, fileAndFolder}}},
        ClashCase{"ShortNameBesideALongOne", {"PROGRA~1/a.txt", "Program Files/b.txt"}, {{1, 0, shortName}}},
        ClashCase{"ShortNameAfterTheLongOne", {"sub/Long File Name.exe", "sub/LONGFI~1.EXE"}, {{1, 0, shortName}}},
        ClashCase{"LowerCaseShortName", {"readme.markdown", "readme~2.mar"}, {{1, 0, shortName}}},
        // The same folder twice, files apart, names that only look alike,
        // and short-name forms among 8.3 names only.
        ClashCase{"NoClash",
                  {"docs/", "Docs/a.txt", "docs/b.txt", "a.txt", "a.txt.bak", "a", "a b", "\xe9", "\xe8", "setup.exe",
                   "other/Long Name.txt", "dos/PROGRA~1/y", "dos/SETUP~1.EXE", "dos/readme.txt", "dos/~1", "dos/a~1b"},
                  {}},
        ClashCase{"EmptyAndClimbingNamesAreLeftOut", {"", "..", "../x", "./x", "/x", "x", "a//b"}, {}},
        ClashCase{
            "OneLinePerEntry", {"a", "A", "a.", "A/"}, {{1, 0, inCase}, {2, 0, trailing}, {3, 0, fileAndFolder}}}),
    [](const testing::TestParamInfo<ClashCase>& info) { return std::string(info.param.label); });

}  // namespace
