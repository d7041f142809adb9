// Attacks on a launcher that runs with more rights than the user who
// prepared its surroundings: files planted where it extracts, an extraction
// that fails or does not end, a second launcher, another program's box with
// the notice's caption. Each planted file must never run.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostile_support.h"

// From the launcher's own code, linked in. Its headers are not included:
// their constants would clash with the test media's names for the same texts.
extern int silentMode;
void runInstallationWithLimit(const char* dText, unsigned long waitLimit);

using namespace testing_support;
using namespace hostile;

namespace {

std::string lastBox(const RecordedRun& run) {
    const auto boxes = run.answeredBoxes();
    return boxes.empty() ? "" : boxes.back();
}

// A copy of the test child where the attacker put it: it logs if it runs.
void plantSetup(const std::string& directory) { copyFile(testChildPath(), directory + "\\SETUP.EXE"); }

// Silent installation runs in this process, from the medium's directory,
// one for each -d text, each waiting at most `waitLimit` for a child.
void runSilentlyHere(const Medium& medium, const std::vector<std::string>& dTexts, unsigned long waitLimit) {
    medium.useEnvironment();
    const std::string start = currentDirectory();
    ASSERT_TRUE(SetCurrentDirectoryA(medium.directory.c_str()));
    silentMode = 1;
    for (const std::string& dText : dTexts) runInstallationWithLimit(dText.c_str(), waitLimit);
    silentMode = 0;
    SetCurrentDirectoryA(start.c_str());
}

TEST(LauncherTrust, APlantedSetupHeldOpenInALeftoverWorkDirectoryNeverRuns) {
    Medium medium(testName());
    const std::string work = medium.workDirectory();
    makeDirectory(work);
    plantSetup(work);
    const OutsideWatch watch(medium);
    // Held without delete sharing: neither the emptying nor the extraction
    // can replace it.
    const RecordedRun run = runHoldingOpen(medium, work + "\\SETUP.EXE", FILE_SHARE_READ, "-s -v");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(medium.childRuns().empty()) << "the planted SETUP.EXE ran";
    EXPECT_EQ(lastBox(run), notEmptiedBox);
    EXPECT_EQ(entriesBelow(work), std::vector<std::string>{"SETUP.EXE"});
    EXPECT_EQ(watch.changes({work}), std::vector<std::string>{});
}

TEST(LauncherTrust, APartDirectoryInAnExistingNamedDirectoryNeverKeepsAPlantedSetup) {
    Medium medium(testName());
    // Made first by someone else, as any user can under C:\.
    const std::string keep = medium.root + "\\KestruneFiles";
    makeDirectory(keep + "\\SETUP.EXE.kestrune-part");
    // The planted program differs from the package's by its last bytes.
    plantSetup(keep);
    const std::string plantedTail = "planted by someone else";
    writeFile(keep + "\\SETUP.EXE", readFile(keep + "\\SETUP.EXE") + plantedTail);
    const OutsideWatch watch(medium);
    const RecordedRun run = medium.run("-s -d" + keep);
    EXPECT_EQ(run.exitCode, 1u);
    // The extraction tool leaves what stands at a part name alone and writes
    // under a spare one, so the package's SETUP.EXE replaces the planted one
    // before anything runs.
    const std::string setup = readFile(keep + "\\SETUP.EXE");
    EXPECT_EQ(setup, readFile(testChildPath())) << "the planted SETUP.EXE was kept";
    EXPECT_EQ(medium.childRuns().size(), 2u) << "the package's SETUP.EXE and script run";
    EXPECT_TRUE(pathExists(keep + "\\SETUP.EXE.kestrune-part")) << "what stood at the part name was removed";
    EXPECT_EQ(watch.changes({keep}), std::vector<std::string>{});
}

// Some files are out when the extraction fails: none of them is run.
TEST(LauncherTrust, AnExtractionThatFailsAfterWritingSomeFilesRunsNothing) {
    {
        // The central directory understates SETUP.EXE: it is refused as
        // damaged (exit code 2) after the sound script was written.
        Medium medium = mediumWithArchive(testName() + "2", "small-setup.zip");
        const OutsideWatch watch(medium);
        const RecordedRun run = medium.run("-s -v");
        EXPECT_TRUE(medium.childRuns().empty());
        EXPECT_EQ(lastBox(run), "Varnel Kestrune|The extraction failed with exit code 2.");
        EXPECT_FALSE(pathExists(medium.workDirectory())) << "a failed extraction's directory is removed";
        EXPECT_EQ(watch.changes(), std::vector<std::string>{});
    }
    {
        // A file where the archive has a directory: docs\readme.txt cannot be
        // written (exit code 50), SETUP.EXE and the script are out.
        Medium medium(testName() + "50");
        const std::string keep = medium.root + "\\keep";
        makeDirectory(keep);
        writeFile(keep + "\\docs", "a file, not a directory");
        const RecordedRun run = medium.run("-s -v -d" + keep);
        EXPECT_TRUE(pathExists(keep + "\\SETUP.EXE"));
        EXPECT_TRUE(pathExists(keep + "\\PostProcess.cmd"));
        EXPECT_TRUE(medium.childRuns().empty()) << "files of a failed extraction ran";
        EXPECT_EQ(lastBox(run), "Varnel Kestrune|The extraction failed with exit code 50.");
    }
}

// The installation run in this process, with the wait limit the launcher's
// runners take as a parameter: an extraction tool (the test child, which
// sleeps) still running at the limit.
TEST(LauncherTrust, AnExtractionStillRunningAtItsLimitRunsNothingAndLeavesItsDirectory) {
    Medium medium(testName(), MediumLayout{"package.zip", false, "", ""});
    copyFile(testChildPath(), medium.directory + "\\unzip.exe");
    const std::string keep = medium.root + "\\keep";
    makeDirectory(keep);
    plantSetup(keep);
    ScopedEnvironment sleeping("KESTRUNE_CHILD_SLEEP", "4000");
    runSilentlyHere(medium, {"", keep}, 500);

    EXPECT_TRUE(pathExists(medium.workDirectory())) << "the tool may still write there";
    // Both tools have logged their start and end once they are done.
    auto finished = [&] {
        const std::string log = readFile(medium.log);
        size_t count = 0;
        for (size_t at = log.find("finished: "); at != std::string::npos; at = log.find("finished: ", at + 1)) ++count;
        return count;
    };
    for (int i = 0; i < 400 && finished() < 2; ++i) Sleep(50);
    std::vector<std::string> ran;
    for (const auto& child : medium.childRuns()) ran.push_back(child.at("run"));
    EXPECT_EQ(ran, std::vector<std::string>(2, medium.directory + "\\unzip.exe")) << "only the two extractions ran";
}

// SETUP.EXE (the test child) still running at a limit the extraction keeps:
// it runs on, nothing further starts, and its files stay.
TEST(LauncherTrust, ASetupStillRunningAtItsLimitEndsTheRunAndKeepsItsFiles) {
    Medium medium(testName());
    ScopedEnvironment sleeping("KESTRUNE_CHILD_SLEEP", "9000");
    runSilentlyHere(medium, {""}, 4000);

    const auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 1u) << "the script does not run after a SETUP.EXE that outlived its wait";
    EXPECT_EQ(runs[0].at("run"), medium.workDirectory() + "\\SETUP.EXE");
    EXPECT_EQ(runs[0].count("finished"), 0u) << "the limit ran out before SETUP.EXE ended";
    EXPECT_TRUE(pathExists(medium.workDirectory() + "\\SETUP.EXE")) << "its files are not removed under it";
    EXPECT_TRUE(pathExists(medium.workDirectory() + "\\PostProcess.cmd"));
    for (int i = 0; i < 300 && medium.childRuns()[0].count("finished") == 0; ++i) Sleep(50);
}

TEST(LauncherTrust, ASecondLauncherLeavesTheFirstOnesWorkDirectoryAlone) {
    Medium medium(testName());
    std::unique_ptr<StartedProcess> first;
    {
        // The first run's SETUP.EXE takes its time, enough for the second
        // launcher to start and end meanwhile.
        ScopedEnvironment slow("KESTRUNE_CHILD_SLEEP", "8000");
        first = medium.start("-s");
        ASSERT_TRUE(first->started());
    }
    for (int i = 0; i < 600 && medium.childRuns().empty(); ++i) Sleep(50);
    ASSERT_EQ(medium.childRuns().size(), 1u) << "the first run's SETUP.EXE is running";
    const RecordedRun second = medium.run("-s -v");
    EXPECT_EQ(second.exitCode, 1u);
    EXPECT_EQ(lastBox(second), "Varnel Kestrune|The work directory is in use by another run.");
    EXPECT_EQ(first->waitForExit(60000), 1u);
    const auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 2u) << "only the first run's SETUP.EXE and script ran";
    EXPECT_EQ(runs[0].at("run"), medium.workDirectory() + "\\SETUP.EXE");
    EXPECT_EQ(runs[0].count("finished"), 1u) << "the first SETUP.EXE ran to its end";
    EXPECT_EQ(runs[1].at("run"), medium.workDirectory() + "\\PostProcess.cmd");
    EXPECT_FALSE(pathExists(medium.workDirectory()));
}

TEST(LauncherTrust, AnotherProgramsBoxWithTheNoticesCaptionIsNeitherClosedNorWaitedFor) {
    for (const std::string mode : {"hung", "answering"}) {
        Medium medium(testName() + mode, MediumLayout{"package-large.zip", true, "", ""});
        const std::string standing = medium.root + "\\box-standing";
        StartedProcess box(quoted(foreignBoxPath()) + " " + mode + " " + quoted(standing));
        ASSERT_TRUE(waitForPath(standing, 30000)) << mode;
        const RecordedRun run = medium.run("");
        EXPECT_FALSE(run.timedOut) << mode << ": the launcher waited on the other program's box";
        EXPECT_EQ(run.exitCode, 1u) << mode;
        EXPECT_EQ(medium.childRuns().size(), 2u) << mode;
        // The launcher closed its own notice, and only that.
        ASSERT_EQ(run.countWithText(progressNoticeText), 1) << mode;
        for (const RecordedBox& recorded : run.boxes) {
            if (recorded.text == progressNoticeText) {
                EXPECT_TRUE(recorded.vanished) << mode;
            }
        }
        EXPECT_NE(FindWindowA(MAKEINTATOM(0x8002), "Varnel Kestrune"), nullptr) << mode << ": the other box was closed";
    }
}

}  // namespace
