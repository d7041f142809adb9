#include "text/bounded_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>

namespace {

// Each copy or append says whether the text fit whole; a refused one leaves
// the text as it was (the leading copy keeps what fits), and none writes past
// the capacity.
TEST(BoundedText, CopiesAndAppendsSayWhetherTheTextFit) {
    using TextOperation = bool (*)(char*, size_t, const char*);
    struct Case {
        const char* name;
        TextOperation operation;
        size_t capacity;
        const char* before;
        const char* argument;
        bool fits;
        const char* after;
    } cases[] = {
        {"append", appendText, 8, "abc", "defg", true, "abcdefg"},
        {"append", appendText, 8, "abcdefg", "h", false, "abcdefg"},
        {"append", appendText, 4, "ab", "cd", false, "ab"},
        {"copy", copyText, 4, "xy", "abcd", false, "xy"},
        {"copy", copyText, 4, "xy", "abc", true, "abc"},
        {"leading copy", copyLeadingText, 4, "xy", "abcdef", false, "abc"},
        {"leading copy", copyLeadingText, 4, "xy", "ab", true, "ab"},
    };
    for (const Case& c : cases) {
        char buffer[16];
        std::memset(buffer, 'Z', sizeof buffer);
        std::memcpy(buffer, c.before, std::strlen(c.before) + 1);
        EXPECT_EQ(c.operation(buffer, c.capacity, c.argument), c.fits) << c.name << " " << c.argument;
        EXPECT_STREQ(buffer, c.after) << c.name << " " << c.argument;
        for (size_t i = c.capacity; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 'Z') << c.name << " " << i;
    }
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
    const std::pair<const char*, const char*> textsAndQuoted[] = {
        {"C:\\My Dir\\unzip.exe", "\"C:\\My Dir\\unzip.exe\""},
        {"C:\\Keep\\", "\"C:\\Keep\\\\\""},
        {"C:\\\\Keep", "\"C:\\\\Keep\""},
        {"D:\\\\package.zip", "\"D:\\\\package.zip\""},
        {"a\"b", "\"a\\\"b\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},
        {"", "\"\""},
    };
    for (const auto& [text, quoted] : textsAndQuoted) {
        char buffer[64] = "";
        EXPECT_TRUE(appendQuotedArgument(buffer, text)) << text;
        EXPECT_STREQ(buffer, quoted) << text;
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
