#include "launcher/switches.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct SwitchCase {
    const char* tail;
    char letter;
    int found;
    const char* value;  // null: the buffer stays untouched (empty)
};

// The value table of the switch rules, for the D switch and others.
const SwitchCase switchCases[] = {
    {"-dC:\\out", 'D', 1, "C:\\out"},
    {"-DC:\\out", 'D', 1, "C:\\out"},
    {"/dC:\\out", 'D', 1, "C:\\out"},
    {"-d C:\\out", 'D', 1, ""},
    {"-dC:\\out -s", 'D', 1, "C:\\out"},
    {"-s -dX", 'D', 1, "X"},
    {"-dfoo bar", 'D', 1, "foo"},
    {"-dX/Y", 'D', 1, "X/Y"},
    {"/D\"C:\\My Dir\"", 'D', 1, "\"C:\\My Dir\""},
    {"-d\"a b\" -s", 'D', 1, "\"a b\""},
    {"-d\"a b\"c d", 'D', 1, "\"a b\"c"},
    {"-d\"C:\\My Dir", 'D', 1, "\"C:\\My Dir"},
    {"-d", 'D', 1, ""},
    {"-dA -DB", 'D', 1, "B"},
    {"/DA -dB", 'D', 1, "B"},
    {"-default", 'D', 1, "efault"},
    {"-sdX", 'D', 0, nullptr},
    {"", 'D', 0, nullptr},
    {"-dC:\\out\t-s", 'D', 1, "C:\\out\t-s"},
    {"-dC:\\my-stuff", 'S', 1, "tuff"},
    {"-dD:/video", 'V', 1, "ideo"},
    {"-dC:/help", 'H', 1, "elp"},
    {"-sv", 'S', 1, "v"},
    {"-sv", 'V', 0, nullptr},
    {"-verbose", 'V', 1, "erbose"},
    {"x/h", 'H', 1, ""},
    {"-H -h /H /h", 'H', 1, ""},
};

TEST(GetSwitch, FollowsTheSwitchTable) {
    for (const SwitchCase& c : switchCases) {
        char value[260];
        std::memset(value, 0, sizeof value);
        EXPECT_EQ(getSwitch(c.tail, c.letter, value), c.found) << c.tail << " letter " << c.letter;
        EXPECT_STREQ(value, c.value == nullptr ? "" : c.value) << c.tail << " letter " << c.letter;
        EXPECT_EQ(getSwitch(c.tail, c.letter), c.found) << "presence only: " << c.tail;
    }
}

TEST(GetSwitch, LeavesTheBufferUntouchedWhenTheSwitchIsAbsent) {
    char value[8] = "keep";
    EXPECT_EQ(getSwitch("-s", 'D', value), 0);
    EXPECT_STREQ(value, "keep");
}

TEST(GetSwitch, NeverWritesPastTheValueBuffer) {
    char buffer[12];
    std::memset(buffer, 'Z', sizeof buffer);
    // Room for four characters and the terminator; the rest must stay.
    EXPECT_EQ(getSwitch("-dABCDEFGHIJ", 'D', buffer, 5), 1);
    EXPECT_STREQ(buffer, "ABCD");
    for (size_t i = 5; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 'Z') << i;
}

// Found by fuzzing: a zero letter matched a bare '-' or '/' and the value was
// read from past the tail's terminator.
TEST(GetSwitch, AZeroLetterIsNeverASwitch) {
    for (const char* text : {"-", "/", "-d", "a -", "/ -"}) {
        const size_t size = std::strlen(text) + 1;
        char* tail = new char[size];
        std::memcpy(tail, text, size);
        char value[8] = "keep";
        EXPECT_EQ(getSwitch(tail, '\0', value), 0) << text;
        EXPECT_STREQ(value, "keep") << text;
        EXPECT_EQ(getSwitch(tail, '\0'), 0) << text;
        delete[] tail;
    }
}

TEST(GetSwitch, AValueOfTheLongestTailFitsThePathBuffer) {
    char tail[260];
    std::memset(tail, 'x', 259);
    tail[259] = 0;
    tail[0] = '-';
    tail[1] = 'd';
    char value[260];
    std::memset(value, 0, sizeof value);
    EXPECT_EQ(getSwitch(tail, 'D', value), 1);
    EXPECT_EQ(std::strlen(value), 257u);
}

// Whether the D value read from the first 259 characters of the tail is the
// whole value.
TEST(SwitchValueIsWhole, TheSameOccurrenceIsComparedInBothCopies) {
    const std::string keep = "C:\\keep";
    auto tailWithSwitchAt = [](const std::string& head, size_t dashIndex, const std::string& rest) {
        std::string tail = head;
        tail += std::string(dashIndex - head.size(), 'x');
        return tail + rest;
    };
    struct Case {
        std::string what;
        std::string tail;
        bool whole;
    } cases[] = {
        // A -d whose '-' is character 259 and whose 'd' is character 260: the
        // working copy holds only /dC:\keep, whose value is whole.
        {"-d straddling the limit behind /d", tailWithSwitchAt("/d" + keep + " ", 258, "-dD:\\other"), true},
        {"-D straddling the limit behind /D", tailWithSwitchAt("/D" + keep + " ", 258, "-DD:\\other"), true},
        // The value itself runs across the limit.
        {"a value cut by the limit", tailWithSwitchAt("", 250, "-dC:\\abcdefghijkl"), false},
        {"a value ending at character 259", tailWithSwitchAt("", 250, "-dC:\\abcd ") + "more", true},
        {"a value in quotes cut by the limit", tailWithSwitchAt("", 250, "-d\"C:\\a b c d e f\""), false},
        {"no D at all", std::string(300, 'x'), true},
        {"a short tail", "-s -d" + keep, true},
    };
    for (const Case& c : cases) {
        char workingCopy[260] = "";
        for (size_t i = 0; i < 259 && i < c.tail.size(); ++i) workingCopy[i] = c.tail[i];
        EXPECT_EQ(switchValueIsWhole(c.tail.c_str(), workingCopy, 'D'), c.whole) << c.what;
    }
}

}  // namespace
