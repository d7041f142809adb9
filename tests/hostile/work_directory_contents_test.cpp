// A temporary work directory that already holds something when the run
// starts: a file held open without sharing, read-only files, and a SETUP.EXE
// and script left from an earlier run whose removal did not finish. The run
// uses only a work directory it made itself: when what was left cannot all
// be removed, it ends before anything is extracted or run.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hostile_support.h"

using namespace testing_support;
using namespace hostile;

namespace {

// Files and directories that a run must remove like its own.
void leaveOldFiles(const std::string& work) {
    makeDirectory(work + "\\old\\deeper");
    writeFile(work + "\\old\\deeper\\left-over.txt", "from an earlier run");
    writeFile(work + "\\loose.txt", "loose");
}

TEST(WorkDirectoryContents, AFileHeldOpenStaysEverythingElseGoesAndNothingRuns) {
    Medium medium(testName());
    const std::string work = medium.workDirectory();
    leaveOldFiles(work);
    makeDirectory(work + "\\held");
    writeFile(work + "\\held\\held.txt", "held open");
    const OutsideWatch watch(medium);
    const RecordedRun run = runHoldingOpen(medium, work + "\\held\\held.txt", 0, "-s -v");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(medium.childRuns().size(), 0u);
    ASSERT_FALSE(run.answeredBoxes().empty());
    EXPECT_EQ(run.answeredBoxes().back(), notEmptiedBox);
    EXPECT_EQ(entriesBelow(work), (std::vector<std::string>{"held", "held\\held.txt"}));
    EXPECT_EQ(readFile(work + "\\held\\held.txt"), "held open");
    EXPECT_EQ(watch.changes({work}), std::vector<std::string>{});
}

// Nothing clears a read-only attribute: such files (and the folder holding
// one) stay, the rest goes, and the run ends.
TEST(WorkDirectoryContents, ReadOnlyFilesAreAllThatMayStayAndNothingRuns) {
    Medium medium(testName());
    const std::string work = medium.workDirectory();
    leaveOldFiles(work);
    makeDirectory(work + "\\locked");
    const std::vector<std::string> readOnly = {work + "\\read-only.txt", work + "\\locked\\read-only.txt"};
    for (const std::string& path : readOnly) {
        writeFile(path, "read-only");
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    const OutsideWatch watch(medium);
    const RecordedRun run = medium.run("-s");
    EXPECT_EQ(run.exitCode, 1u);
    const std::vector<std::string> left = entriesBelow(work);
    for (const std::string& path : readOnly) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(left, (std::vector<std::string>{"locked", "locked\\read-only.txt", "read-only.txt"}));
    EXPECT_EQ(medium.childRuns().size(), 0u) << "nothing runs over a leftover";
    EXPECT_EQ(watch.changes({work}), std::vector<std::string>{});
}

// A failed extraction must not run what an earlier run left behind.
TEST(WorkDirectoryContents, WhatAnEarlierRunLeftIsNeverRunAfterAFailedExtraction) {
    struct Case {
        const char* archive;
        std::vector<std::string> expectedRuns;  // below the work directory
    } cases[] = {
        {"wrong-password.zip", {}},
        {"cut-half.zip", {}},
        // SETUP.EXE is damaged; the sound script is written but not run.
        {"huge-setup.zip", {}},
    };
    int index = 0;
    for (const Case& c : cases) {
        Medium medium = mediumWithArchive(testName() + std::to_string(index++), c.archive);
        const std::string work = medium.workDirectory();
        leaveOldFiles(work);
        copyFile(testChildPath(), work + "\\SETUP.EXE");
        writeFile(work + "\\PostProcess.cmd",
                  "@echo off\r\necho run: %~f0>> \"%KESTRUNE_CHILD_LOG%\"\r\n"
                  "echo stale: yes>> \"%KESTRUNE_CHILD_LOG%\"\r\necho end>> \"%KESTRUNE_CHILD_LOG%\"\r\n");
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run("-s");
        EXPECT_EQ(run.exitCode, 1u) << c.archive;
        std::vector<std::string> ran;
        for (const auto& child : medium.childRuns()) {
            EXPECT_EQ(child.count("stale"), 0u) << c.archive << ": the old script ran";
            ran.push_back(child.at("run").substr(work.size() + 1));
        }
        EXPECT_EQ(ran, c.expectedRuns) << c.archive;
        EXPECT_FALSE(pathExists(work)) << c.archive;
        EXPECT_EQ(watch.changes({work}), std::vector<std::string>{}) << c.archive;
    }
}

}  // namespace
