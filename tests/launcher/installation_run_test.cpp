// Whole installation runs on real media: the real setup.exe, the stand-in
// unzip.exe and archives made with Info-ZIP zip that hold the test child as
// SETUP.EXE and a PostProcess.cmd that logs its run.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "medium.h"

using namespace testing_support;

namespace {

std::string extractionCommand(const std::string& packageDirectory, const std::string& workDirectory) {
    return quoted(packageDirectory + "\\unzip.exe") + " -P " + packagePassword() + " " +
           quoted(packageDirectory + "\\package.zip") + " -d " + quoted(workDirectory);
}

TEST(InstallationRun, APlainRunExtractsRunsSetupThenTheScriptAndRemovesTheWorkDirectory) {
    Medium medium(testName(), waitingForTheNotice());
    const RecordedRun run = medium.run("");
    EXPECT_EQ(run.exitCode, 1u);

    const auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 2u);
    const std::string work = medium.workDirectory();
    EXPECT_EQ(runs[0].at("run"), work + "\\SETUP.EXE");
    EXPECT_EQ(runs[0].at("commandLine"), quoted(work + "\\SETUP.EXE"));
    EXPECT_EQ(runs[0].at("currentDirectory"), work);
    // Wine gives a console program started from a program without a console
    // no console of its own, so only the title asked for can be checked.
    EXPECT_EQ(runs[0].at("startupTitle"), "External Program");
    EXPECT_EQ(runs[0].at("noticeStanding"), "0") << "the notice is closed before setup starts";
    EXPECT_EQ(runs[1].at("run"), work + "\\PostProcess.cmd");
    EXPECT_EQ(runs[1].at("currentDirectory"), work);

    ASSERT_EQ(run.countWithText(noticeBoxText), 1);
    EXPECT_EQ(run.boxes[0].caption, "Varnel Kestrune");
    EXPECT_TRUE(run.boxes[0].vanished) << "the launcher closed its notice";
    EXPECT_FALSE(pathExists(work));
}

TEST(InstallationRun, TheExtractorGetsItsCommandDirectoryAndWindow) {
    // The test child stands in for unzip.exe and logs how it was started.
    Medium medium(testName(), MediumLayout{"package.zip", false, "", ""});
    copyFile(testChildPath(), medium.directory + "\\unzip.exe");
    // The notice's thread may not have shown its box yet when the tool starts.
    ScopedEnvironment noticeWait("KESTRUNE_CHILD_NOTICE_WAIT", "5000");
    medium.run("");
    const auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 1u) << "nothing was extracted, so no SETUP.EXE ran";
    EXPECT_EQ(runs[0].at("commandLine"), extractionCommand(medium.directory, medium.workDirectory()));
    EXPECT_EQ(runs[0].at("currentDirectory"), medium.directory);
    EXPECT_EQ(runs[0].at("startupTitle"), "Unzip Files");
    EXPECT_EQ(runs[0].at("consoleTitle"), "Unzip Files");
    EXPECT_EQ(runs[0].at("startupFlags"), "1");
    EXPECT_EQ(runs[0].at("showWindow"), "6");
    EXPECT_EQ(runs[0].at("noticeStanding"), "1") << "extraction runs under the notice";
    EXPECT_FALSE(pathExists(medium.workDirectory()));
}

// A small package is out at once, often before the notice's thread has shown
// its box: the close waits for the box, so that none shows over SETUP.EXE,
// which looks for one for three seconds.
TEST(InstallationRun, NoNoticeStandsOverSetupWhenTheExtractionEndsAtOnce) {
    Medium medium(testName());
    ScopedEnvironment noticeWait("KESTRUNE_CHILD_NOTICE_WAIT", "3000");
    for (int round = 0; round < 3; ++round) {
        const RecordedRun run = medium.run("");
        EXPECT_EQ(run.exitCode, 1u);
        for (const RecordedBox& box : run.boxes) EXPECT_TRUE(box.vanished) << box.text;
    }
    const auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 6u);
    for (size_t i = 0; i < runs.size(); i += 2) EXPECT_EQ(runs[i].at("noticeStanding"), "0") << "round " << i / 2;
}

// Exit code 1 is Info-ZIP's "warnings only": the package came out and the
// run goes on to SETUP.EXE (which the test child standing in for the tool
// did not write). 2 and above end it.
TEST(InstallationRun, AnExtractionToolEndingWithOneLetsTheRunGoOn) {
    struct Case {
        const char* exitCode;
        const char* lastBox;
    } cases[] = {
        {"0", "Varnel Kestrune|SETUP.EXE is not a plain file in the work directory."},
        {"1", "Varnel Kestrune|SETUP.EXE is not a plain file in the work directory."},
        {"2", "Varnel Kestrune|The extraction failed with exit code 2."},
    };
    for (const Case& c : cases) {
        Medium medium(testName() + c.exitCode, MediumLayout{"package.zip", false, "", ""});
        copyFile(testChildPath(), medium.directory + "\\unzip.exe");
        ScopedEnvironment exitCode("KESTRUNE_CHILD_EXIT", c.exitCode);
        const auto boxes = medium.run("-s -v").answeredBoxes();
        ASSERT_FALSE(boxes.empty()) << c.exitCode;
        EXPECT_EQ(boxes.back(), c.lastBox) << c.exitCode;
        EXPECT_EQ(medium.childRuns().size(), 1u) << c.exitCode << ": only the extraction tool ran";
    }
}

TEST(InstallationRun, TheSwitchesAndTheMarkerChooseTheSetupForm) {
    struct Case {
        const char* tail;
        const char* markers;
        const char* arguments;
        int notices;
    } cases[] = {
        {"", "", "", 1},
        {"", "msi.tag \r\n", "", 1},
        {"-s", "", " -s -SMS", 0},
        {"-s", "other.tag \r\n", " -s -SMS", 0},
        {"-s", "msi.tag \r\n", " /qn REBOOT=ReallySuppress", 0},
        {"/S", "other.tag \r\nmsi.tag \r\n", " /qn REBOOT=ReallySuppress", 0},
        {"-s", "MSI.TAG \r\n", " -s -SMS", 0},
    };
    for (const Case& c : cases) {
        // Without the notice the waiting tool would wait in vain.
        MediumLayout layout = c.notices > 0 ? waitingForTheNotice() : MediumLayout{};
        layout.tail = c.markers;
        Medium medium(testName(), layout);
        const RecordedRun run = medium.run(c.tail);
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_EQ(run.countWithText(noticeBoxText), c.notices) << c.tail << " " << c.markers;
        const auto runs = medium.childRuns();
        ASSERT_EQ(runs.size(), 2u) << c.tail << " " << c.markers;
        EXPECT_EQ(runs[0].at("commandLine"), quoted(medium.workDirectory() + "\\SETUP.EXE") + c.arguments)
            << c.tail << " " << c.markers;
    }
}

// USER32 is most of what a launcher costs to start: only a run that shows a
// box (the notice, or verbose boxes) loads it.
TEST(InstallationRun, OnlyARunWithBoxesLoadsUser32) {
    struct Case {
        const char* tail;
        bool loads;
    } cases[] = {{"-s", false}, {"", true}, {"-s -v", true}};
    for (const Case& c : cases) {
        Medium medium(testName());
        medium.run(c.tail);
        const auto runs = medium.childRuns();
        ASSERT_FALSE(runs.empty()) << c.tail;
        const std::string modules = runs[0].at("parentModules");
        EXPECT_NE(modules.find("kernel32.dll "), std::string::npos) << c.tail << ": " << modules;
        EXPECT_EQ(modules.find("user32.dll ") != std::string::npos, c.loads) << c.tail << ": " << modules;
    }
}

TEST(InstallationRun, VerboseModeShowsEveryStepInOrder) {
    Medium medium(testName(), waitingForTheNotice());
    const RecordedRun run = medium.run("-v");
    const std::string work = medium.workDirectory();
    const std::string setup = quoted(work + "\\SETUP.EXE");
    const std::vector<std::string> expected = {
        "Varnel Kestrune|ProgramPointer: " + medium.directory + "\\setup.exe\n",
        "Varnel Kestrune|Current: " + medium.root + "\nRun: " + medium.directory + "\\",
        "Varnel Kestrune: Zip CommandLine|" + extractionCommand(medium.directory, work),
        "Varnel Kestrune: Directory into Run|" + medium.directory,
        "Varnel Kestrune: Directory to Run From|" + medium.directory,
        "Directory into Run|" + medium.directory,
        "Directory to Run From|" + work,
        "Running app|" + setup,
        "Directory into Run|" + medium.directory,
        "Directory to Run From|" + work,
        "Running app|" + quoted(work + "\\PostProcess.cmd"),
    };
    EXPECT_EQ(run.answeredBoxes(), expected);
    EXPECT_EQ(run.countWithText(noticeBoxText), 1);
    EXPECT_EQ(medium.childRuns().size(), 2u);
}

TEST(InstallationRun, SilentAndVerboseShowsTheCommandButNoNotice) {
    Medium medium(testName());
    const RecordedRun run = medium.run("-s -v");
    EXPECT_EQ(run.countWithText(noticeBoxText), 0);
    EXPECT_EQ(run.countWithText(extractionCommand(medium.directory, medium.workDirectory())), 1);
}

TEST(InstallationRun, ANamedDirectoryIsLeftWithTheExtractedFiles) {
    Medium medium(testName());
    const std::string withColon = medium.root + "\\keep";
    // Without a colon the text goes under C:\.
    const std::string withoutColon = medium.root.substr(3) + "\\keep2";
    const std::string withBlank = medium.root + "\\My Keep";
    struct Case {
        std::string tail;
        std::string work;
    } cases[] = {
        {"-d" + withColon, withColon},
        {"-d" + withoutColon, "C:\\" + withoutColon},
        {"-d\"" + withBlank + "\"", withBlank},
        // Drive-relative: from the current directory of drive C:, which is the
        // medium's while the launcher runs. Every child gets the full path.
        {"-dC:relkeep", medium.directory + "\\relkeep"},
    };
    size_t seen = 0;
    for (const Case& c : cases) {
        medium.run(c.tail);
        EXPECT_TRUE(pathExists(c.work + "\\SETUP.EXE")) << c.tail;
        EXPECT_TRUE(pathExists(c.work + "\\docs\\readme.txt")) << c.tail;
        EXPECT_TRUE(pathExists(c.work + "\\PostProcess.cmd")) << c.tail;
        const auto runs = medium.childRuns();
        ASSERT_EQ(runs.size(), seen + 2) << c.tail;
        EXPECT_EQ(runs[seen].at("commandLine"), quoted(c.work + "\\SETUP.EXE")) << c.tail;
        EXPECT_EQ(runs[seen].at("currentDirectory"), c.work) << c.tail;
        EXPECT_EQ(runs[seen + 1].at("run"), c.work + "\\PostProcess.cmd") << c.tail;
        seen = runs.size();
    }
    EXPECT_FALSE(pathExists(medium.workDirectory()));
}

TEST(InstallationRun, AnEarlierWorkDirectoryIsReusedAndRemovedWithItsFiles) {
    Medium medium(testName());
    makeDirectory(medium.workDirectory() + "\\old\\deeper");
    writeFile(medium.workDirectory() + "\\old\\deeper\\left-over.txt", "from an earlier run");
    writeFile(medium.workDirectory() + "\\SETUP.EXE", "not a program");
    medium.run("");
    EXPECT_EQ(medium.childRuns().size(), 2u) << "the archive's SETUP.EXE replaced the old file";
    EXPECT_FALSE(pathExists(medium.workDirectory()));
}

// Deployment tools decide from the exit code. With exitcode.tag in the tail
// it is the installer's own, or 1603 when the run ended before the installer
// started; without it 1, as always; 0 after the usage box either way. A
// silent run never shows a box, whatever happens: as SYSTEM nobody could
// answer it.
TEST(InstallationRun, TheExitCodeTagPassesOnTheInstallersCodeAndTellsAFailure) {
    const std::string tag = "exitcode.tag \r\n";
    struct Case {
        const char* what;
        std::string markers;
        MediumLayout layout;
        std::string arguments;
        const char* setupExit;  // the test child's, as SETUP.EXE
        unsigned long exitCode;
        size_t childRuns;
        const char* reason = nullptr;  // the one box a run without -s shows, its start; nullptr: none
    } cases[] = {
        {"success", tag, {}, "-s", "0", 0, 2},
        {"restart needed", tag, {}, "-s", "3010", 3010, 2},
        {"with msi.tag too", "msi.tag \r\n" + tag, {}, "-s", "1641", 1641, 2},
        {"interactive", tag, {}, "", "5", 5, 2},
        {"wrong password", tag, {"package-wrong-password.zip", true, "", ""}, "-s", "0", 1603, 0},
        {"no extraction tool", tag, {"package.zip", false, "", ""}, "-s", "0", 1603, 0},
        {"no archive", tag, {"", true, "", ""}, "-s", "0", 1603, 0},
        {"-d cut by the tail's limit", tag, {}, "-s -dC:\\" + std::string(300, 'd'), "0", 1603, 0},
        // The script still runs after an installer that would not start.
        {"SETUP.EXE would not start", tag, {"package-setup-not-a-program.zip", true, "", ""}, "-s", "0", 1603, 1},
        {"SETUP.EXE would not start, not silent",
         tag,
         {"package-setup-not-a-program.zip", true, "", ""},
         "",
         "0",
         1603,
         1,
         "Varnel Kestrune|Program Exec failed with rc = "},
        {"usage", tag, {}, "-h", "0", 0, 0},
        {"untagged success", "", {}, "-s", "0", 1, 2},
        {"untagged restart needed", "", {}, "-s", "3010", 1, 2},
        {"untagged wrong password", "", {"package-wrong-password.zip", true, "", ""}, "-s", "0", 1, 0},
        {"untagged usage", "", {}, "-h", "0", 0, 0},
    };
    for (Case& c : cases) {
        c.layout.tail = c.markers;
        Medium medium(testName(), c.layout);
        ScopedEnvironment setupExit("KESTRUNE_CHILD_EXIT", c.setupExit);
        const RecordedRun run = medium.run(c.arguments);
        EXPECT_FALSE(run.timedOut) << c.what;
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what;
        EXPECT_EQ(medium.childRuns().size(), c.childRuns) << c.what;
        if (c.arguments.rfind("-s", 0) == 0) {
            EXPECT_TRUE(run.boxes.empty()) << c.what << ": a silent run showed a box";
        } else if (c.arguments.empty()) {
            const auto boxes = run.answeredBoxes();
            ASSERT_EQ(boxes.size(), c.reason != nullptr ? 1u : 0u) << c.what;
            if (c.reason != nullptr) EXPECT_EQ(boxes[0].rfind(c.reason, 0), 0u) << c.what << ": " << boxes[0];
        }
    }
}

// A run that ends before SETUP.EXE has started says why in one box, unless
// it is silent; in verbose mode the same box comes once, last.
TEST(InstallationRun, ARunThatInstallsNothingSaysWhyUnlessSilent) {
    struct Case {
        const char* what;
        MediumLayout layout;
        bool refusedDirectory;  // -d names a directory others may change
        const char* reason;
    } cases[] = {
        {"wrong password",
         {"package-wrong-password.zip", true, "", ""},
         false,
         "The extraction failed with exit code 82."},
        {"no extraction tool", {"package.zip", false, "", ""}, false, "The extraction tool did not start."},
        {"no archive", {"", true, "", ""}, false, "The extraction failed with exit code 9."},
        {"refused directory",
         {"package.zip", true, "", ""},
         true,
         "The work directory exists and other users may change it."},
    };
    for (const Case& c : cases) {
        Medium medium(testName(), c.layout);
        std::string named;
        if (c.refusedDirectory) {
            named = " -d" + medium.root + "\\open";
            makeDirectory(medium.root + "\\open");
            ASSERT_TRUE(letEveryoneChange(medium.root + "\\open"));
        }
        const std::string reason = std::string("Varnel Kestrune|") + c.reason;
        for (const std::string mode : {"", "-s", "-v"}) {
            const std::string what = std::string(c.what) + " " + mode;
            const RecordedRun run = medium.run(mode + named);
            EXPECT_EQ(run.exitCode, 1u) << what;
            EXPECT_FALSE(run.timedOut) << what;
            const auto boxes = run.answeredBoxes();
            if (mode == "-s") {
                EXPECT_TRUE(run.boxes.empty()) << what;
            } else if (mode == "-v") {
                ASSERT_FALSE(boxes.empty()) << what;
                EXPECT_EQ(boxes.back(), reason) << what;
                EXPECT_EQ(std::count(boxes.begin(), boxes.end(), reason), 1) << what;
            } else {
                EXPECT_EQ(boxes, std::vector<std::string>{reason}) << what;
            }
            EXPECT_TRUE(medium.childRuns().empty()) << what;
            EXPECT_FALSE(pathExists(medium.workDirectory())) << what;
        }
    }
}

TEST(InstallationRun, AFailingInstallerIsStillFollowedByTheScript) {
    Medium medium(testName());
    ScopedEnvironment failing("KESTRUNE_CHILD_EXIT", "1603");
    medium.run("-s");
    const auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].at("run"), medium.workDirectory() + "\\PostProcess.cmd");
}

TEST(InstallationRun, WithoutAScriptOnlySetupRuns) {
    Medium medium(testName(), MediumLayout{"package-no-script.zip", true, "", ""});
    const RecordedRun run = medium.run("-v");
    EXPECT_EQ(medium.childRuns().size(), 1u);
    EXPECT_EQ(run.countWithText(quoted(medium.workDirectory() + "\\PostProcess.cmd")), 0);
}

TEST(InstallationRun, BlanksInThePackageAndTemporaryDirectoriesAreQuoted) {
    const std::string directory = std::string(scratchRoot) + "\\My Media " + std::to_string(GetCurrentProcessId());
    Medium withBlanks(testName(), MediumLayout{"package.zip", true, "", directory});
    withBlanks.temp = withBlanks.root + "\\my temp\\";
    makeDirectory(withBlanks.temp);
    withBlanks.run("");
    const auto runs = withBlanks.childRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].at("commandLine"), quoted(withBlanks.workDirectory() + "\\SETUP.EXE"));
    EXPECT_EQ(runs[0].at("currentDirectory"), withBlanks.workDirectory());
    EXPECT_FALSE(pathExists(withBlanks.workDirectory()));
}

TEST(InstallationRun, ALauncherAtTheRootOfADrive) {
    // ctest's wine.prefix fixture maps drive M: to an empty directory of the prefix.
    ASSERT_TRUE(pathExists("M:\\")) << "drive M: is not mapped (tests/wine_prefix_fixture.sh)";
    Medium medium(testName(), MediumLayout{"package.zip", true, "", "M:\\"});
    const RecordedRun run = medium.run("-v");
    const auto boxes = run.answeredBoxes();
    ASSERT_GE(boxes.size(), 3u);
    EXPECT_EQ(boxes[1], "Varnel Kestrune|Current: " + medium.root + "\nRun: M:\\");
    EXPECT_EQ(boxes[2], "Varnel Kestrune: Zip CommandLine|" + extractionCommand("M:\\", medium.workDirectory()));
    EXPECT_EQ(medium.childRuns().size(), 2u) << "the doubled backslashes still name the files";
    DeleteFileA("M:\\setup.exe");
    DeleteFileA("M:\\unzip.exe");
    DeleteFileA("M:\\package.zip");
}

TEST(InstallationRun, AWorkDirectoryThatWouldNotFitEndsTheRunUntouched) {
    Medium medium(testName());
    // 257 characters (the most a 259-character tail holds) go under C:\ and
    // need 260; the /v inside turns verbose mode on.
    const std::string dText = std::string(100, 'w') + "/v" + std::string(155, 'w');
    const RecordedRun run = medium.run("-d" + dText);
    const auto boxes = run.answeredBoxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back(), "Varnel Kestrune|The work directory does not fit in 259 characters.");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(medium.childRuns().empty());
    EXPECT_EQ(run.countWithText(noticeBoxText), 0);
}

TEST(InstallationRun, ATemporaryPathTooLongForKestruneRunsNothing) {
    Medium medium(testName());
    medium.temp = medium.root + "\\" + std::string(254 - medium.root.size(), 't') + "\\";
    ASSERT_EQ(medium.temp.size(), 256u);
    makeDirectory(medium.temp);
    const RecordedRun run = medium.run("-v");
    const auto boxes = run.answeredBoxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back(), "Varnel Kestrune|The work directory does not fit in 259 characters.");
    EXPECT_TRUE(medium.childRuns().empty());
}

}  // namespace
