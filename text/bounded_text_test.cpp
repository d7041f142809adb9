#include "text/bounded_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

TEST(BoundedText, AppendsOnlyWhatFitsWhole) {
    char buffer[8] = "abc";
    EXPECT_TRUE(appendText(buffer, "defg"));
    EXPECT_STREQ(buffer, "abcdefg");
    EXPECT_FALSE(appendText(buffer, "h"));
    EXPECT_STREQ(buffer, "abcdefg");

    char small[4] = "ab";
    EXPECT_FALSE(appendText(small, "cd"));
    EXPECT_STREQ(small, "ab") << "a refused append leaves the text as it was";
}

TEST(BoundedText, CopyRefusesATextThatDoesNotFit) {
    char buffer[4] = "xy";
    EXPECT_FALSE(copyText(buffer, "abcd"));
    EXPECT_STREQ(buffer, "xy");
    EXPECT_TRUE(copyText(buffer, "abc"));
    EXPECT_STREQ(buffer, "abc");
}

TEST(BoundedText, LeadingCopyCutsAndSaysSo) {
    char buffer[4];
    EXPECT_FALSE(copyLeadingText(buffer, "abcdef"));
    EXPECT_STREQ(buffer, "abc");
    EXPECT_TRUE(copyLeadingText(buffer, "ab"));
    EXPECT_STREQ(buffer, "ab");
}

TEST(BoundedText, AppendsDecimalNumbers) {
    struct Case {
        long value;
    } cases[] = {{0}, {2}, {-1}, {258}, {LONG_MIN}};
    for (const Case& c : cases) {
        char buffer[32] = "rc = ";
        EXPECT_TRUE(appendDecimal(buffer, c.value));
        EXPECT_EQ(std::string(buffer), std::string("rc = ") + std::to_string(c.value));
    }
    char tight[3] = "";
    EXPECT_FALSE(appendDecimal(tight, -10));
    EXPECT_STREQ(tight, "");
}

TEST(BoundedText, QuotesArgumentsByThePlatformRules) {
    struct Case {
        const char* text;
        const char* quoted;
    } cases[] = {
        {"C:\\My Dir\\unzip.exe", "\"C:\\My Dir\\unzip.exe\""},
        {"C:\\Keep\\", "\"C:\\Keep\\\\\""},
        {"C:\\\\Keep", "\"C:\\\\Keep\""},
        {"D:\\\\package.zip", "\"D:\\\\package.zip\""},
        {"a\"b", "\"a\\\"b\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},
        {"", "\"\""},
    };
    for (const Case& c : cases) {
        char buffer[64] = "";
        EXPECT_TRUE(appendQuotedArgument(buffer, c.text)) << c.text;
        EXPECT_STREQ(buffer, c.quoted) << c.text;
    }
    char tight[6] = "";
    EXPECT_FALSE(appendQuotedArgument(tight, "C:\\"));  // needs "C:\\" and the terminator
    EXPECT_STREQ(tight, "");
}

TEST(BoundedText, FindsTexts) {
    EXPECT_STREQ(findText("one -s two", "-s"), "-s two");
    EXPECT_EQ(findText("one", "-s"), nullptr);
    EXPECT_STREQ(findText("abc", ""), "abc");
    EXPECT_EQ(findText("", "a"), nullptr);
    EXPECT_TRUE(textsEqual("..", ".."));
    EXPECT_FALSE(textsEqual(".", ".."));
    EXPECT_TRUE(containsChar("D:x", ':'));
    EXPECT_FALSE(containsChar("Keep", ':'));
}

}  // namespace
