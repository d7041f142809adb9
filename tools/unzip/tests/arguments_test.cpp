// unzip.exe's command line: split as msvcrt.dll splits it (checked against
// the independent reading in fuzz/support), then parsed.
#include "arguments.h"

#include "support/windows_arguments.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split(const std::string& line) {
    std::vector<char> buffer(line.size() + 1);
    std::vector<const char*> arguments(line.size() / 2 + 2);
    const size_t count = splitArguments(line.c_str(), buffer.data(), arguments.data());
    return std::vector<std::string>(arguments.begin(), arguments.begin() + static_cast<std::ptrdiff_t>(count));
}

// The reading in fuzz/support, less the program name.
std::vector<std::string> classic(const std::string& line) {
    std::vector<std::string> all = splitCommandLine(line, QuoteRules::classic);
    all.erase(all.begin());
    return all;
}

class SplitLine : public testing::TestWithParam<std::string> {};

TEST_P(SplitLine, AsTheCRuntimeSplitsIt) { EXPECT_EQ(split(GetParam()), classic(GetParam())) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitLine,
    testing::Values(
        // The launcher's own form, with the work directory at a drive's root
        // and below one that ends in a backslash.
        "\"C:\\Media\\unzip.exe\" -P pw \"C:\\Media\\package.zip\" -d \"C:\\Users\\me\\Temp\\KESTRUNE\"",
        "\"D:\\\\unzip.exe\" -P pw \"D:\\\\package.zip\" -d \"C:\\\\Keep\\\\\"",
        "unzip.exe -P pw C:\\a\\package.zip -d C:\\work dir", "", "unzip", "\"unzip", "\"un zip\"x y", "a\tb  \t c",
        "x \"\"", "x \"a\"\"b\" c", "x \"a\"\"\"b", "x a\\\\\\\"b", "x a\\\\\\b", "x \"a\\\\\"b", "x \\\"",
        "x \"\\\\\"", "x \"open", "x trailing\\", "x \"with \"\" inside\" after"));

TEST(SplitLine, AgreesWithTheIndependentReadingOnRandomLines) {
    std::mt19937 generator(7);
    const char alphabet[] = {'a', ' ', '\t', '"', '\\', 'b'};
    for (int round = 0; round < 20000; ++round) {
        std::string line;
        const size_t length = generator() % 16;
        for (size_t i = 0; i < length; ++i) line += alphabet[generator() % sizeof alphabet];
        ASSERT_EQ(split(line), classic(line)) << "[" << line << "]";
    }
}

struct ParseCase {
    const char* label;
    std::vector<const char*> arguments;
    bool accepted;
    const char* password;
    const char* archive;
    const char* destination;
};

class ParseArguments : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseArguments, AcceptsTheOneFormInAnyOrder) {
    const ParseCase& c = GetParam();
    Arguments parsed{};
    ASSERT_EQ(parseArguments(c.arguments.data(), c.arguments.size(), parsed), c.accepted);
    if (!c.accepted) return;
    EXPECT_STREQ(parsed.password, c.password);
    EXPECT_STREQ(parsed.archive, c.archive);
    EXPECT_STREQ(parsed.destination, c.destination);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ParseArguments,
    testing::Values(ParseCase{"LauncherForm", {"-P", "pw", "a.zip", "-d", "W"}, true, "pw", "a.zip", "W"},
                    ParseCase{"OtherOrder", {"-d", "W", "a.zip", "-P", "pw"}, true, "pw", "a.zip", "W"},
                    ParseCase{"NoPassword", {"a.zip", "-d", "W"}, true, nullptr, "a.zip", "W"},
                    ParseCase{
                        "PasswordThatLooksLikeAnOption", {"-P", "-d", "a.zip", "-d", "W"}, true, "-d", "a.zip", "W"},
                    ParseCase{"Nothing", {}, false, nullptr, nullptr, nullptr},
                    ParseCase{"NoDestination", {"a.zip"}, false, nullptr, nullptr, nullptr},
                    ParseCase{"EmptyDestination", {"a.zip", "-d", ""}, false, nullptr, nullptr, nullptr},
                    ParseCase{"EmptyArchive", {"", "-d", "W"}, false, nullptr, nullptr, nullptr},
                    ParseCase{"ValueMissing", {"a.zip", "-d", "W", "-P"}, false, nullptr, nullptr, nullptr},
                    ParseCase{"OptionTwice", {"a.zip", "-d", "W", "-d", "V"}, false, nullptr, nullptr, nullptr},
                    ParseCase{"TwoArchives", {"a.zip", "b.zip", "-d", "W"}, false, nullptr, nullptr, nullptr},
                    ParseCase{"UnknownOption", {"-o", "a.zip", "-d", "W"}, false, nullptr, nullptr, nullptr},
                    ParseCase{"OptionWithItsValueJoined", {"a.zip", "-dW"}, false, nullptr, nullptr, nullptr}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.label); });

}  // namespace
