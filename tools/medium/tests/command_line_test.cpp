// The command line's text helpers: quoting in messages and the nearest of
// known words.
#include <gtest/gtest.h>

#include "command_line.h"

TEST(CommandLineText, PathsAreQuotedAsAShellTakesThem) {
    const std::pair<const char*, const char*> textAndShown[] = {
        {"medium", "'medium'"},
        {"my medium", "'my medium'"},
        {"it's", "'it'\\''s'"},
        {"line\nbreak", "'line?break'"},
        {"", "''"},
    };
    for (const auto& [text, shown] : textAndShown) EXPECT_EQ(quoted(text), shown) << text;
}

TEST(CommandLineText, OnlyARealNearMissIsSuggested) {
    struct Case {
        const char* from;
        const char* to;
        size_t distance;
    } cases[] = {
        {"", "", 0},     {"build", "build", 0}, {"biuld", "build", 1},     {"chek", "check", 1},
        {"", "mark", 4}, {"marks", "mark", 1},  {"MSI.TAG", "msi.tag", 6}, {"burn", "build", 3},
    };
    for (const Case& c : cases) EXPECT_EQ(editDistance(c.from, c.to), c.distance) << c.from << " " << c.to;

    const std::vector<std::string> commands = {"build", "mark", "markers", "check", "sign", "help", "--version"};
    const std::vector<std::string> options = {"--out", "--iso", "--label", "--marker", "--any-marker", "-h", "--help"};
    const struct {
        const char* given;
        const std::vector<std::string>* known;
        const char* meant;  // "": no suggestion
    } suggestions[] = {
        {"biuld", &commands, "build"},
        {"marker", &commands, "markers"},
        {"mrk", &commands, "mark"},
        {"checks", &commands, "check"},
        {"BUILD", &commands, "build"},
        {"--build", &commands, "build"},
        {"-verison", &commands, "--version"},
        {"burn", &commands, ""},
        {"-v", &commands, ""},
        {"x", &commands, ""},
        {"deploy", &commands, ""},
        {"--lable", &options, "--label"},
        {"-iso", &options, "--iso"},
        {"--markers", &options, "--marker"},
        {"--colour", &options, ""},
        {"-x", &options, ""},
        {"-v", &options, ""},
        {"--verbose", &options, ""},
    };
    for (const auto& s : suggestions) EXPECT_EQ(nearMatch(s.given, *s.known), s.meant) << s.given;
}
