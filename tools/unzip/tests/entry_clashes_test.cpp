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
        // Names in UTF-8, compared in Unicode's simple upper case: e acute,
        // Cyrillic, the dotless i (it folds to I), final sigma and sigma,
        // Armenian, fullwidth letters; case in a folder's name.
        ClashCase{"LettersAboveAscii",
                  {"caf\u00e9", "CAF\u00c9", "\u043f\u0440\u0438\u0432\u0435\u0442",
                   "\u041f\u0420\u0418\u0412\u0415\u0422", "f\u0131le", "FILE", "\u03c2", "\u03c3", "\u0561", "\u0531",
                   "\uff41", "\uff21", "Gr\u00f6\u00dfe/a", "GR\u00d6\u00dfE/A"},
                  {{1, 0, inCase},
                   {3, 2, inCase},
                   {5, 4, inCase},
                   {7, 6, inCase},
                   {9, 8, inCase},
                   {11, 10, inCase},
                   {13, 12, inCase}}},
        ClashCase{"FileAndFolderOfOneName", {"docs", "DOCS/readme.txt"}, {{1, 0, fileAndFolder}}},
        ClashCase{"FolderEntryThenFile", {"docs/", "Docs"}, {{1, 0, fileAndFolder}}},
        ClashCase{"ShortNameBesideALongOne", {"PROGRA~1/a.txt", "Program Files/b.txt"}, {{1, 0, shortName}}},
        ClashCase{"ShortNameAfterTheLongOne", {"sub/Long File Name.exe", "sub/LONGFI~1.EXE"}, {{1, 0, shortName}}},
        ClashCase{"LowerCaseShortName", {"readme.markdown", "readme~2.mar"}, {{1, 0, shortName}}},
        // The same folder twice, files apart, names that only look alike,
        // and short-name forms among 8.3 names only.
        ClashCase{
            "NoClash",
            {"docs/", "Docs/a.txt", "docs/b.txt", "a.txt", "a.txt.bak", "a", "a b", "\u00e9", "\u00e8", "setup.exe",
             "other/Long Name.txt", "dos/PROGRA~1/y", "dos/SETUP~1.EXE", "dos/readme.txt", "dos/~1", "dos/a~1b",
             // Windows keeps these apart: no simple upper case joins
             // them, nor does it compose or decompose characters.
             "stra\u00dfe", "STRASSE", "\u1e9e", "\u00df", "\u65e5\u672c", "\U0001F600", "\U0001F601", "caf\u00e9.txt",
             "cafe\u0301.txt", "\U00010428", "\U00010400"},
            {}},
        ClashCase{"EmptyAndClimbingNamesAreLeftOut", {"", "..", "../x", "./x", "/x", "x", "a//b"}, {}},
        ClashCase{
            "OneLinePerEntry", {"a", "A", "a.", "A/"}, {{1, 0, inCase}, {2, 0, trailing}, {3, 0, fileAndFolder}}}),
    [](const testing::TestParamInfo<ClashCase>& info) { return std::string(info.param.label); });

}  // namespace
