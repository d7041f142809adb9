#include "launcher/command_tail.h"

#include <gtest/gtest.h>

namespace {

struct TailCase {
    const char* commandLine;
    const char* tail;
};

const TailCase tailCases[] = {
    {"setup.exe -v -s", "-v -s"},
    {"\"C:\\My Media\\setup.exe\" -s", "-s"},
    {"\"C:\\My Media\\setup.exe\"-s", "-s"},
    {"\"C:\\unclosed quote -s", ""},
    {"setup.exe", ""},
    {"", ""},
    {"setup.exe \t\r\n\x01\x1f -d\"a b\"", "-d\"a b\""},
    {"setup.exe\t-v", "-v"},
    {"C:\\x\\setup.exe  -v  ", "-v  "},
    {"\"\" -h", "-h"},
    {"\"a b\"c -h", "c -h"},
    {"setup.exe \xe9t\xe9", "\xe9t\xe9"},
};

TEST(SkipProgramName, GivesTheCommandTail) {
    for (const TailCase& c : tailCases) {
        EXPECT_STREQ(skipProgramName(c.commandLine), c.tail) << c.commandLine;
    }
}

}  // namespace
