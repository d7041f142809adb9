// A temporary work directory that already holds something when the run
// starts (a file held open without sharing, read-only files, a SETUP.EXE and
// script left from an earlier run whose removal did not finish), and what an
// installer leaves in its own (a read-only file, a tree deeper than any path,
// a helper that outlives it). The run uses only a work directory it made
// itself: what an earlier run left is removed when it can be, and otherwise
// left alone for a sibling of the run's own. Nothing of the run's own stays
// in the temporary directory, and no leftover stops a later run.
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

std::string temporaryDirectory(const Medium& medium) { return medium.temp.substr(0, medium.temp.size() - 1); }

// The package's SETUP.EXE and script ran from a sibling of `work`.
void expectInstalledFromASibling(const Medium& medium, const std::string& work) {
    const auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 2u);
    const std::string& setup = runs[0].at("run");
    EXPECT_EQ(setup.substr(0, work.size() + 1), work + ".") << setup;
    EXPECT_EQ(setup.substr(setup.size() - 10), "\\SETUP.EXE") << setup;
    EXPECT_EQ(runs[1].at("run"), setup.substr(0, setup.size() - 9) + "PostProcess.cmd");
}

TEST(WorkDirectoryContents, ALeftoverHoldingAFileOpenIsLeftAndTheRunUsesASibling) {
    Medium medium(testName());
    const std::string work = medium.workDirectory();
    leaveOldFiles(work);
    makeDirectory(work + "\\held");
    writeFile(work + "\\held\\held.txt", "held open");
    const OutsideWatch watch(medium);
    const RecordedRun run = runHoldingOpen(medium, work + "\\held\\held.txt", 0, "-s");
    EXPECT_EQ(run.exitCode, 1u);
    expectInstalledFromASibling(medium, work);
    EXPECT_EQ(entriesBelow(work), (std::vector<std::string>{"held", "held\\held.txt"}));
    EXPECT_EQ(readFile(work + "\\held\\held.txt"), "held open");
    EXPECT_EQ(entriesBelow(temporaryDirectory(medium)),
              (std::vector<std::string>{"KESTRUNE", "KESTRUNE\\held", "KESTRUNE\\held\\held.txt"}));
    EXPECT_EQ(watch.changes({work}), std::vector<std::string>{});
}

// In a tree this run did not make, nothing clears a read-only attribute:
// such files (and the folder holding one) stay, the rest goes, and the run
// installs from a sibling.
TEST(WorkDirectoryContents, ReadOnlyFilesOfALeftoverStayAndTheRunUsesASibling) {
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
    expectInstalledFromASibling(medium, work);
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

// What an installer leaves in its current directory, the work directory, is
// the run's own: it goes whole, and the next run installs too. Each case
// runs twice in a row; after each run the temporary directory is empty.
TEST(WorkDirectoryContents, WhatTheInstallerLeavesGoesAndTheNextRunInstallsToo) {
    struct Case {
        const char* what;
        const char* variable;
        const char* value;
    } cases[] = {
        {"a read-only file", "KESTRUNE_CHILD_READ_ONLY", "left-read-only.txt"},
        {"folders deeper than any 520-character path", "KESTRUNE_CHILD_DEEP", "700"},
        // It holds a file open, and the directory as its current one, for a
        // while after SETUP.EXE and the script have ended.
        {"a helper that outlives the installer", "KESTRUNE_CHILD_HELPER", "2500"},
    };
    for (const Case& c : cases) {
        Medium medium(testName() + c.variable);
        ScopedEnvironment left(c.variable, c.value);
        for (int run = 1; run <= 2; ++run) {
            EXPECT_EQ(medium.run("-s").exitCode, 1u) << c.what << ", run " << run;
            EXPECT_EQ(medium.childRuns().size(), 2u * run) << c.what << ", run " << run;
            EXPECT_EQ(entriesBelow(temporaryDirectory(medium)), std::vector<std::string>{})
                << c.what << ", run " << run;
        }
    }
}

// The script's console may keep the work directory as its current one for a
// moment after the script ended: ten silent runs in a row leave nothing.
TEST(WorkDirectoryContents, TenSilentRunsWithAScriptLeaveNothingInTheTemporaryDirectory) {
    Medium medium(testName());
    for (int run = 1; run <= 10; ++run) {
        const auto started = medium.start("-s");
        ASSERT_TRUE(started->started());
        EXPECT_EQ(started->waitForExit(120000), 1u) << "run " << run;
        EXPECT_EQ(medium.childRuns().size(), 2u * run) << "run " << run;
        EXPECT_EQ(entriesBelow(temporaryDirectory(medium)), std::vector<std::string>{}) << "run " << run;
    }
}

}  // namespace
