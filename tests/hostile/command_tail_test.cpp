// Hostile command tails: far beyond the 259 characters the launcher reads,
// a work directory value cut by that limit, unclosed quotes, tails of control
// characters only and bytes above 127.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostile_support.h"

using namespace testing_support;
using namespace hostile;

namespace {

constexpr size_t tailLimit = 259;
const std::string silentArguments = " -s -SMS";
const std::string tooLongBox = "Varnel Kestrune|The work directory does not fit in 259 characters.";

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += "[" + line + "] ";
    return text;
}

// A whole run into the temporary work directory, which is removed again.
void expectTemporaryRun(const Medium& medium, const RecordedRun& run, const OutsideWatch& watch,
                        const std::string& arguments, const std::string& what) {
    EXPECT_EQ(run.exitCode, 1u) << what;
    EXPECT_FALSE(run.timedOut) << what;
    const auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 2u) << what;
    EXPECT_EQ(runs[0].at("commandLine"), quoted(medium.workDirectory() + "\\SETUP.EXE") + arguments) << what;
    EXPECT_EQ(runs[1].at("run"), medium.workDirectory() + "\\PostProcess.cmd") << what;
    EXPECT_FALSE(pathExists(medium.workDirectory())) << what;
    EXPECT_EQ(watch.changes(), std::vector<std::string>{}) << what;
}

TEST(CommandTail, OnlyTheFirst259CharactersAreRead) {
    struct Case {
        std::string tail;
        bool verbose;
        std::string arguments;
    } cases[] = {
        // "-v" ends at character 259, then at 260.
        {std::string(tailLimit - 3, 'x') + " -v", true, ""},
        {std::string(tailLimit - 2, 'x') + " -v", false, ""},
        {std::string(tailLimit - 3, 'x') + " -s", false, silentArguments},
        {std::string(tailLimit - 2, 'x') + " -s", false, ""},
        // Near the platform's 32767-character command line.
        {std::string(32000, 'x') + " -v -s -h", false, ""},
        {"-s " + std::string(32000, 'x'), false, silentArguments},
        {"-s" + std::string(32000, '"'), false, silentArguments},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::string what = "case " + std::to_string(index) + " of " + std::to_string(c.tail.size());
        Medium medium(testName() + std::to_string(index++));
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run(c.tail);
        EXPECT_EQ(run.answeredBoxes().empty(), !c.verbose) << what << ": " << joined(run.answeredBoxes());
        expectTemporaryRun(medium, run, watch, c.arguments, what);
    }
}

TEST(CommandTail, AWorkDirectoryCutByTheLimitIsNeverUsed) {
    for (const bool verbose : {false, true}) {
        Medium medium(testName() + (verbose ? "v" : ""));
        const std::string head = verbose ? "-v " : "";
        const std::string kept = medium.root + "\\straddle";
        const std::string value = kept + "-beyond-the-limit";
        // The limit falls right behind "straddle": the first 259 characters
        // name a directory the user never asked for.
        const std::string tail = head + std::string(tailLimit - head.size() - 3 - kept.size(), 'x') + " -d" + value;
        ASSERT_EQ(tail.find(kept) + kept.size(), tailLimit);
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run(tail);
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_TRUE(medium.childRuns().empty()) << verbose;
        EXPECT_FALSE(pathExists(kept)) << verbose;
        EXPECT_FALSE(pathExists(value)) << verbose;
        EXPECT_EQ(watch.changes(), std::vector<std::string>{}) << verbose;
        EXPECT_EQ(run.countWithText(noticeBoxText), 0) << verbose;
        if (verbose) {
            const auto boxes = run.answeredBoxes();
            ASSERT_FALSE(boxes.empty());
            EXPECT_EQ(boxes.back(), tooLongBox);
        }
    }
}

TEST(CommandTail, AWorkDirectoryEndingRightAtTheLimitIsWhole) {
    Medium medium(testName());
    const std::string work = medium.root + "\\edge";
    // The value's last character is the 259th; a blank follows it.
    const std::string tail = std::string(tailLimit - 3 - work.size(), 'x') + " -d" + work + " trailing words";
    ASSERT_EQ(tail.find(work) + work.size(), tailLimit);
    const OutsideWatch watch(medium);
    const RecordedRun run = medium.run(tail);
    EXPECT_EQ(run.exitCode, 1u);
    const auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].at("currentDirectory"), work);
    EXPECT_TRUE(pathExists(work + "\\docs\\readme.txt"));
    EXPECT_EQ(watch.changes({work}), std::vector<std::string>{});
}

// A whole /d value followed, across the limit, by another D switch: the
// wider copy of the tail holds a pattern that comes first there, but the
// value read is compared with the same occurrence.
TEST(CommandTail, AWholeValueIsNotRefusedForASwitchStraddlingTheLimit) {
    Medium medium(testName());
    const std::string work = medium.root + "\\keep";
    std::string tail = "/d" + work + " ";
    // '-' is character 259 and 'd' character 260.
    tail += std::string(tailLimit - 1 - tail.size(), 'x') + "-d" + medium.root + "\\other";
    ASSERT_EQ(tail.find("-d"), tailLimit - 1);
    const OutsideWatch watch(medium);
    const RecordedRun run = medium.run(tail);
    EXPECT_EQ(run.exitCode, 1u);
    const auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 2u) << "the whole value was refused";
    EXPECT_EQ(runs[0].at("currentDirectory"), work);
    EXPECT_TRUE(pathExists(work + "\\docs\\readme.txt"));
    EXPECT_FALSE(pathExists(medium.root + "\\other"));
    EXPECT_EQ(watch.changes({work}), std::vector<std::string>{});
}

TEST(CommandTail, AnUnclosedQuoteRunsToTheEndOfTheTail) {
    Medium medium(testName());
    const std::string root = medium.root;
    struct Case {
        std::string tail;
        std::string work;
        std::string arguments;
    } cases[] = {
        {"-d\"" + root + "\\x y", root + "\\x y", ""},
        // The blank and the -s stand inside the open quote, yet -s counts.
        {"-d\"" + root + "\\p q -s", root + "\\p q -s", silentArguments},
        {"-s -d\"" + root + "\\r s \"t u", root + "\\r s t", silentArguments},
    };
    std::vector<std::string> works;
    size_t seen = 0;
    for (const Case& c : cases) {
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run(c.tail);
        EXPECT_EQ(run.exitCode, 1u) << c.tail;
        const auto runs = medium.childRuns();
        ASSERT_EQ(runs.size(), seen + 2) << c.tail;
        EXPECT_EQ(runs[seen].at("commandLine"), quoted(c.work + "\\SETUP.EXE") + c.arguments) << c.tail;
        EXPECT_EQ(runs[seen].at("currentDirectory"), c.work) << c.tail;
        seen = runs.size();
        EXPECT_TRUE(pathExists(c.work + "\\docs\\readme.txt")) << c.tail;
        EXPECT_EQ(watch.changes({c.work}), std::vector<std::string>{}) << c.tail;
    }
}

TEST(CommandTail, ControlCharactersAreNeitherBlanksNorSwitches) {
    struct Case {
        std::string tail;
        std::string arguments;
    } cases[] = {
        {"\t", ""},
        {"\x01\x02\x03", ""},
        {"\x1f \x0b\x0c\t\x1b", ""},
        {"\x7f", ""},
        {std::string(300, '\x01'), ""},
        // A switch between control characters still counts.
        {"\x01-s\x02", silentArguments},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::string what = "case " + std::to_string(index);
        Medium medium(testName() + std::to_string(index++));
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run(c.tail);
        EXPECT_TRUE(run.answeredBoxes().empty()) << what << ": " << joined(run.answeredBoxes());
        expectTemporaryRun(medium, run, watch, c.arguments, what);
    }
}

TEST(CommandTail, BytesAbove127AreOrdinaryCharacters) {
    {
        // No switch letter among them: a plain run.
        Medium medium(testName());
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run("\xe9\xff\x80\xa0\x85");
        EXPECT_TRUE(run.answeredBoxes().empty());
        expectTemporaryRun(medium, run, watch, "", "high bytes only");
    }
    {
        // A non-breaking space (0xA0) is no blank: both switches count.
        Medium medium(testName() + "nbsp");
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run("-s\xa0-v");
        EXPECT_FALSE(run.answeredBoxes().empty());
        expectTemporaryRun(medium, run, watch, silentArguments, "-s NBSP -v");
    }
    // In a work directory they name the directory byte for byte.
    Medium medium(testName() + "named");
    size_t seen = 0;
    for (const std::string name : {"caf\xe9\xfc\xdf", "\xa0\xff\xc0"}) {
        const std::string work = medium.root + "\\" + name;
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run("-d" + work);
        EXPECT_EQ(run.exitCode, 1u);
        const auto runs = medium.childRuns();
        ASSERT_EQ(runs.size(), seen + 2) << name;
        EXPECT_EQ(runs[seen].at("currentDirectory"), work) << name;
        seen = runs.size();
        EXPECT_TRUE(pathExists(work + "\\docs\\readme.txt")) << name;
        EXPECT_EQ(watch.changes({work}), std::vector<std::string>{}) << name;
    }
}

}  // namespace
