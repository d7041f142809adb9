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

TEST(CommandLineText, TheNearestWordIsTheOneFewestEditsAway) {
    struct Case {
        const char* from;
        const char* to;
        size_t distance;
    } cases[] = {
        {"", "", 0},     {"build", "build", 0}, {"biuld", "build", 2},     {"chek", "check", 1},
        {"", "mark", 4}, {"marks", "mark", 1},  {"MSI.TAG", "msi.tag", 6},
    };
    for (const Case& c : cases) EXPECT_EQ(editDistance(c.from, c.to), c.distance) << c.from << " " << c.to;
    const std::vector<std::string> commands = {"build", "mark", "markers", "check", "help"};
    EXPECT_EQ(nearestOf("burn", commands), "build");
    EXPECT_EQ(nearestOf("marker", commands), "markers");
    EXPECT_EQ(nearestOf("mrk", commands), "mark");
    EXPECT_EQ(nearestOf("checks", commands), "check");
}
