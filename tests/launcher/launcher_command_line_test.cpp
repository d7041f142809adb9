// The launcher as a user starts it: its switches, its usage box and the
// boxes of verbose mode, seen from outside through the box recorder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "medium.h"

using namespace testing_support;

namespace {

const std::string usageBox =
    "Varnel Kestrune Check 1.3|Usage: setup [-s] [-d<directory>]\n\n"
    "  where <directory> is path to leave files behind.";

TEST(LauncherCommandLine, HelpShowsTheUsageBoxAloneAndEndsWithZero) {
    const char* tails[] = {"-h", "-H", "/h", "/H", "-v -h", "-s -dC:\\out -h", "-dC:/help"};
    Medium medium(testName());
    for (const char* tail : tails) {
        const RecordedRun run = medium.run(tail);
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.exitCode, 0u) << tail;
        EXPECT_EQ(run.answeredBoxes(), std::vector<std::string>{usageBox}) << tail;
        EXPECT_EQ(run.boxes.size(), 1u) << tail;
    }
    EXPECT_TRUE(medium.childRuns().empty()) << "nothing runs after the usage box";
    EXPECT_FALSE(pathExists(medium.workDirectory()));
}

TEST(LauncherCommandLine, AnUnquotedProgramNameIsSkippedToo) {
    Medium medium(testName());
    RecordOptions options;
    const RecordedRun run = recordRun(medium.directory + "\\setup.exe \t -h", options);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.answeredBoxes(), std::vector<std::string>{usageBox});
}

TEST(LauncherCommandLine, APlainRunShowsNoBoxButTheNoticeAndEndsWithOne) {
    Medium medium(testName(), waitingForTheNotice());
    const RecordedRun run = medium.run("");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.answeredBoxes(), std::vector<std::string>{});
    EXPECT_EQ(run.countWithText(noticeBoxText), 1);
}

TEST(LauncherCommandLine, VerboseModeShowsTheProgramAndDirectoriesFirst) {
    Medium medium(testName());
    const std::string start = medium.root + "\\start here";
    makeDirectory(start);
    const RecordedRun run = medium.run("-v", start);
    EXPECT_EQ(run.exitCode, 1u);
    const auto boxes = run.answeredBoxes();
    ASSERT_GE(boxes.size(), 3u);
    EXPECT_EQ(boxes[0], "Varnel Kestrune|ProgramPointer: " + medium.directory + "\\setup.exe\n");
    EXPECT_EQ(boxes[1], "Varnel Kestrune|Current: " + start + "\nRun: " + medium.directory + "\\");
    EXPECT_EQ(boxes[2].rfind("Varnel Kestrune: Zip CommandLine|", 0), 0u) << "no output directory box without D";
}

TEST(LauncherCommandLine, VerboseModeShowsTheOutputDirectoryValue) {
    Medium medium(testName());
    const std::string keep = medium.root + "\\keep";
    struct Case {
        std::string tail;
        std::string box;
    } cases[] = {
        {"-v -d", "Varnel Kestrune: Output Directory|"},
        {"-v -d" + keep, "Varnel Kestrune: Output Directory|" + keep},
        {"-v -d\"" + keep + "\"", "Varnel Kestrune: Output Directory|\"" + keep + "\""},
    };
    for (const Case& c : cases) {
        const auto boxes = medium.run(c.tail).answeredBoxes();
        ASSERT_GE(boxes.size(), 3u) << c.tail;
        EXPECT_EQ(boxes[2], c.box) << c.tail;
    }
}

TEST(LauncherCommandLine, OnlyTheFirst259CharactersOfTheTailCount) {
    Medium medium(testName());
    const RecordedRun early = medium.run("-h" + std::string(300, 'x'));
    EXPECT_EQ(early.exitCode, 0u);
    const RecordedRun late = medium.run(std::string(260, 'x') + " -h");
    EXPECT_EQ(late.exitCode, 1u) << "a switch beyond the working copy is not seen";
    EXPECT_EQ(late.answeredBoxes(), std::vector<std::string>{});
}

TEST(LauncherCommandLine, SwitchLettersInsideAValueCount) {
    Medium medium(testName());
    // -dC:\my-stuff holds -s: silent mode, so no notice.
    const RecordedRun run = medium.run("-d" + medium.root + "\\my-stuff");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.countWithText(noticeBoxText), 0);
    const auto runs = medium.childRuns();
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs[0].at("commandLine"), "\"" + medium.root + "\\my-stuff\\SETUP.EXE\" -s -SMS");
}

}  // namespace
