// Attacks on a launcher that runs with more rights than the user who
// prepared its surroundings: files planted where it extracts, an existing
// directory others may change, files swapped between their check and their
// start, the new work directory renamed away, an extraction that fails or
// does not end, a second launcher, another program's box with the notice's
// caption. Each planted file must never run. The swaps are made on the
// Windows side, where share modes hold (a Linux-side process ignores them):
// by an attacker's process, or, at the exact moment, by a function of the
// test put in place of the one the launcher's code calls.
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hostile_support.h"
#include "launcher/exit_codes.h"

// From the launcher's own code, linked in. Its headers are not included:
// their constants would clash with the test media's names for the same texts.
extern int silentMode;
extern int verboseMode;
ChildOutcome runInstallation(const char* dText);
ChildOutcome runInstallationWithLimit(const char* dText, unsigned long waitLimit);
// The wait limit for runs in this process that do not test the limit.
constexpr unsigned long childWaitLimitForTests = 120000;

using namespace testing_support;
using namespace hostile;

namespace {

std::string lastBox(const RecordedRun& run) {
    const auto boxes = run.answeredBoxes();
    return boxes.empty() ? "" : boxes.back();
}

// A copy of the test child where the attacker put it: it logs if it runs.
void plantSetup(const std::string& directory) { copyFile(testChildPath(), directory + "\\SETUP.EXE"); }

// The attacker's own programs: the test child with bytes appended, so that
// its log (programBytes) tells it apart; and a script that logs it ran.
std::string attackerProgram(const std::string& path) {
    writeFile(path, readFile(testChildPath()) + std::string(4096, 'A'));
    return path;
}
std::string attackerScript(const std::string& path) {
    writeFile(path,
              "@echo off\r\necho run: %~f0>> \"%KESTRUNE_CHILD_LOG%\"\r\n"
              "echo planted: yes>> \"%KESTRUNE_CHILD_LOG%\"\r\necho end>> \"%KESTRUNE_CHILD_LOG%\"\r\n");
    return path;
}
bool isAttackers(const ChildRun& run) {
    return run.count("planted") != 0 || (run.count("programBytes") != 0 &&
                                         run.at("programBytes") != std::to_string(readFile(testChildPath()).size()));
}

// Silent installation runs in this process, from the medium's directory,
// one for each -d text, each waiting at most `waitLimit` for a child; what
// became of each run's SETUP.EXE goes to `outcomes` when given.
void runSilentlyHere(const Medium& medium, const std::vector<std::string>& dTexts, unsigned long waitLimit,
                     std::vector<ChildOutcome>* outcomes = nullptr) {
    medium.useEnvironment();
    const std::string start = currentDirectory();
    ASSERT_TRUE(SetCurrentDirectoryA(medium.directory.c_str()));
    silentMode = 1;
    for (const std::string& dText : dTexts) {
        const ChildOutcome setup = runInstallationWithLimit(dText.c_str(), waitLimit);
        if (outcomes != nullptr) outcomes->push_back(setup);
    }
    silentMode = 0;
    SetCurrentDirectoryA(start.c_str());
}

TEST(LauncherTrust, APlantedSetupHeldOpenInALeftoverWorkDirectoryNeverRuns) {
    Medium medium(testName());
    const std::string work = medium.workDirectory();
    makeDirectory(work);
    plantSetup(work);
    writeFile(work + "\\SETUP.EXE", readFile(work + "\\SETUP.EXE") + "planted");
    const OutsideWatch watch(medium);
    // Held without delete sharing: nothing can remove or replace it, so the
    // run leaves it and installs from a sibling of its own.
    const RecordedRun run = runHoldingOpen(medium, work + "\\SETUP.EXE", FILE_SHARE_READ, "-s");
    EXPECT_EQ(run.exitCode, 1u);
    const auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 2u) << "the package's SETUP.EXE and script";
    for (const ChildRun& child : runs) {
        EXPECT_FALSE(isAttackers(child)) << child.at("run");
        EXPECT_NE(child.at("run").find(work + "."), std::string::npos) << child.at("run");
    }
    EXPECT_EQ(entriesBelow(work), std::vector<std::string>{"SETUP.EXE"});
    EXPECT_EQ(watch.changes({work}), std::vector<std::string>{});
}

// The user's own existing directory, which holds a SETUP.EXE and a directory
// at its part name from whatever put them there.
TEST(LauncherTrust, APartDirectoryInAnExistingNamedDirectoryNeverKeepsAPlantedSetup) {
    Medium medium(testName());
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

// -dKeep is C:\Keep, and every authenticated user may make folders in C:\,
// which then let them all change what is in them. Someone made it first,
// with a PostProcess.cmd in it, and keeps replacing SETUP.EXE with a program
// of their own (a package without a script, so that a planted one would be
// run as the package's).
TEST(LauncherTrust, AnExistingDirectoryOthersMayChangeIsNeverUsed) {
    Medium medium(testName(), MediumLayout{"package-no-script.zip", true, "", ""});
    const std::string keep = medium.root + "\\Keep";
    makeDirectory(keep);
    ASSERT_TRUE(letEveryoneChange(keep));
    attackerScript(keep + "\\PostProcess.cmd");
    const std::string stop = medium.root + "\\stop-swapping";
    const std::string count = medium.root + "\\swaps";
    StartedProcess swapper(quoted(swapperPath()) + " " + quoted(attackerProgram(medium.root + "\\attacker.exe")) + " " +
                           quoted(keep + "\\SETUP.EXE") + " " + quoted(stop) + " " + quoted(count));
    ASSERT_TRUE(swapper.started());
    ASSERT_TRUE(waitForPath(keep + "\\SETUP.EXE", 30000)) << "the swapper is at work";
    const RecordedRun run = medium.run("-s -v -d" + keep);
    writeFile(stop, "");
    EXPECT_EQ(swapper.waitForExit(30000), 0u);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(lastBox(run), "Varnel Kestrune|The work directory exists and other users may change it.");
    EXPECT_EQ(medium.childRuns().size(), 0u) << "nothing is extracted into it and nothing in it runs";
    EXPECT_NE(readFile(count), "0") << "the swapper kept at it the whole time";
}

// The moment between SETUP.EXE's (and the script's) check and its start:
// right before the launcher starts it, the attacker moves a file of their
// own onto it. Held without write or delete sharing since its check, it
// cannot be replaced, and the package's own runs.
using CreateProcessCall = BOOL(WINAPI*)(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                        LPVOID, LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION);
CreateProcessCall realCreateProcess = nullptr;
struct Swap {
    std::string program;  // what the launcher starts
    std::string attackers;
    bool tried = false;
    bool done = false;
};
std::vector<Swap> swaps;

BOOL WINAPI swappingCreateProcess(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES process,
                                  LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                                  LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION information) {
    for (Swap& swap : swaps) {
        if (std::string(commandLine).find(testing_support::quoted(swap.program)) != 0) continue;
        const std::string copy = swap.attackers + ".copy";
        copyFile(swap.attackers, copy);
        swap.tried = true;
        swap.done = MoveFileExA(copy.c_str(), swap.program.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    return realCreateProcess(application, commandLine, process, thread, inherit, flags, environment, directory, startup,
                             information);
}

TEST(LauncherTrust, SetupAndScriptCannotBeSwappedBetweenTheirCheckAndTheirStart) {
    Medium medium(testName());
    const std::string work = medium.workDirectory();
    swaps = {{work + "\\SETUP.EXE", attackerProgram(medium.root + "\\attacker.exe")},
             {work + "\\PostProcess.cmd", attackerScript(medium.root + "\\attacker.cmd")}};
    {
        ScopedImport<CreateProcessCall> swapping("kernel32.dll", "CreateProcessA", &swappingCreateProcess);
        ASSERT_TRUE(swapping.active());
        realCreateProcess = swapping.original();
        runSilentlyHere(medium, {""}, childWaitLimitForTests);
    }
    for (const Swap& swap : swaps) {
        EXPECT_TRUE(swap.tried) << swap.program;
        EXPECT_FALSE(swap.done) << swap.program << " was replaced before it started";
    }
    const auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 2u);
    for (const ChildRun& child : runs) EXPECT_FALSE(isAttackers(child)) << child.at("run");
    EXPECT_FALSE(pathExists(work));
}

// The moment right after the work directory is made: the attacker renames it
// away and puts a directory of their own, with a script in it, in its place
// (a package without a script, so that the planted one would be run as the
// package's). Made and held in one step, without delete sharing, it cannot
// be renamed. Wherever the launcher makes a directory (NtCreateFile, or
// CreateDirectoryA), the rename follows at once.
using NtCreateFileCall = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, LARGE_INTEGER*, ULONG,
                                      ULONG, ULONG, ULONG, void*, ULONG);
using CreateDirectoryCall = BOOL(WINAPI*)(LPCSTR, LPSECURITY_ATTRIBUTES);
NtCreateFileCall realNtCreateFile = nullptr;
CreateDirectoryCall realCreateDirectory = nullptr;
std::string renameTarget;
int renamesTried = 0;
int renamesDone = 0;

void renameAway() {
    if (!pathExists(renameTarget)) return;
    ++renamesTried;
    if (!MoveFileExA(renameTarget.c_str(), (renameTarget + ".away").c_str(), 0)) return;
    ++renamesDone;
    makeDirectory(renameTarget);
    attackerScript(renameTarget + "\\PostProcess.cmd");
}

LONG NTAPI renamingNtCreateFile(HANDLE* handle, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes,
                                IO_STATUS_BLOCK* status, LARGE_INTEGER* size, ULONG fileAttributes, ULONG share,
                                ULONG disposition, ULONG options, void* extended, ULONG extendedLength) {
    const LONG result = realNtCreateFile(handle, access, attributes, status, size, fileAttributes, share, disposition,
                                         options, extended, extendedLength);
    // FILE_CREATE of a directory (FILE_DIRECTORY_FILE).
    if (result >= 0 && disposition == 2 && (options & 1) != 0) renameAway();
    return result;
}

BOOL WINAPI renamingCreateDirectory(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
    const BOOL made = realCreateDirectory(path, security);
    if (made) renameAway();
    return made;
}

TEST(LauncherTrust, TheNewWorkDirectoryCannotBeRenamedAwayBeforeItIsHeld) {
    Medium medium(testName(), MediumLayout{"package-no-script.zip", true, "", ""});
    renameTarget = medium.workDirectory();
    renamesTried = renamesDone = 0;
    {
        ScopedLookUp native("NtCreateFile", reinterpret_cast<void*>(&renamingNtCreateFile));
        ScopedImport<CreateDirectoryCall> byPath("kernel32.dll", "CreateDirectoryA", &renamingCreateDirectory);
        ASSERT_TRUE(native.active() && byPath.active());
        realNtCreateFile = native.original<NtCreateFileCall>();
        realCreateDirectory = byPath.original();
        runSilentlyHere(medium, {""}, childWaitLimitForTests);
    }
    EXPECT_EQ(renamesTried, 1);
    EXPECT_EQ(renamesDone, 0) << "the new work directory was renamed away";
    const auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 1u) << "only the package's SETUP.EXE";
    EXPECT_FALSE(isAttackers(runs[0]));
    EXPECT_FALSE(pathExists(renameTarget));
    EXPECT_FALSE(pathExists(renameTarget + ".away"));
}

// Where the platform has GetTempPath2A (for SYSTEM it gives a directory no
// other process can reach), the work directory is made where it says.
std::string secondTemporary;
DWORD WINAPI fakeGetTempPath2(DWORD capacity, LPSTR buffer) {
    if (capacity <= secondTemporary.size()) return static_cast<DWORD>(secondTemporary.size() + 1);
    std::snprintf(buffer, capacity, "%s", secondTemporary.c_str());
    return static_cast<DWORD>(secondTemporary.size());
}

TEST(LauncherTrust, TheWorkDirectoryIsMadeWhereGetTempPath2SaysWhereThePlatformHasIt) {
    Medium medium(testName());
    secondTemporary = medium.root + "\\system-temp\\";
    makeDirectory(secondTemporary);
    {
        ScopedLookUp temporary("GetTempPath2A", reinterpret_cast<void*>(&fakeGetTempPath2));
        ASSERT_TRUE(temporary.active());
        runSilentlyHere(medium, {""}, childWaitLimitForTests);
    }
    const auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].at("run"), secondTemporary + "KESTRUNE\\SETUP.EXE");
    EXPECT_EQ(entriesBelow(medium.temp.substr(0, medium.temp.size() - 1)), std::vector<std::string>{});
    EXPECT_EQ(entriesBelow(secondTemporary.substr(0, secondTemporary.size() - 1)), std::vector<std::string>{});
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

// The shipped program waits six minutes for every child: the runs in this
// process with the launcher's own entry, each child's wait seen as the
// platform is asked for it.
using WaitCall = DWORD(WINAPI*)(HANDLE, DWORD);
WaitCall realWait = nullptr;
std::vector<DWORD> childWaits;
DWORD WINAPI recordingWait(HANDLE object, DWORD milliseconds) {
    // The notice's and the removal's short waits are not a child's.
    if (milliseconds > 60000) childWaits.push_back(milliseconds);
    return realWait(object, milliseconds);
}

TEST(LauncherTrust, TheShippedWaitLimitIsSixMinutesForEveryChild) {
    Medium medium(testName());
    childWaits.clear();
    {
        ScopedImport<WaitCall> recording("kernel32.dll", "WaitForSingleObject", &recordingWait);
        ASSERT_TRUE(recording.active());
        realWait = recording.original();
        medium.useEnvironment();
        const std::string start = currentDirectory();
        ASSERT_TRUE(SetCurrentDirectoryA(medium.directory.c_str()));
        silentMode = 1;
        runInstallation("");
        silentMode = 0;
        SetCurrentDirectoryA(start.c_str());
    }
    EXPECT_EQ(medium.childRuns().size(), 2u);
    EXPECT_EQ(childWaits, std::vector<DWORD>(3, 360000)) << "the extraction tool, SETUP.EXE and the script";
}

// SETUP.EXE (the test child) still running at a limit the extraction keeps:
// it runs on, nothing further starts, and its files stay.
TEST(LauncherTrust, ASetupStillRunningAtItsLimitEndsTheRunAndKeepsItsFiles) {
    Medium medium(testName());
    ScopedEnvironment sleeping("KESTRUNE_CHILD_SLEEP", "9000");
    std::vector<ChildOutcome> outcomes;
    runSilentlyHere(medium, {""}, 4000, &outcomes);
    // Deployment tools hear "another installation is in progress" from a
    // launcher marked for them, and 1 as always from any other.
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].state, ChildState::stillRunning);
    EXPECT_EQ(runExitCode(1, outcomes[0]), 1618u);
    EXPECT_EQ(runExitCode(0, outcomes[0]), 1u);

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
        // launcher to run whole meanwhile.
        ScopedEnvironment slow("KESTRUNE_CHILD_SLEEP", "8000");
        first = medium.start("-s");
        ASSERT_TRUE(first->started());
    }
    for (int i = 0; i < 600 && medium.childRuns().empty(); ++i) Sleep(50);
    ASSERT_EQ(medium.childRuns().size(), 1u) << "the first run's SETUP.EXE is running";
    const RecordedRun second = medium.run("-s");
    EXPECT_EQ(second.exitCode, 1u);
    // The second installs from a sibling of its own while the first still runs.
    auto runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].count("finished"), 0u) << "the first SETUP.EXE still runs";
    EXPECT_TRUE(pathExists(medium.workDirectory() + "\\SETUP.EXE")) << "the first run's files are left alone";
    EXPECT_EQ(runs[1].at("run").substr(0, medium.workDirectory().size() + 1), medium.workDirectory() + ".");
    EXPECT_EQ(runs[2].at("run"), runs[1].at("run").substr(0, runs[1].at("run").size() - 9) + "PostProcess.cmd");
    EXPECT_EQ(first->waitForExit(60000), 1u);
    runs = medium.childRuns();
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].at("run"), medium.workDirectory() + "\\SETUP.EXE");
    // Its end is logged after the second run's children.
    EXPECT_NE(readFile(medium.log).find("finished: " + medium.workDirectory() + "\\SETUP.EXE"), std::string::npos)
        << "the first SETUP.EXE ran to its end";
    EXPECT_EQ(runs[3].at("run"), medium.workDirectory() + "\\PostProcess.cmd");
    EXPECT_EQ(entriesBelow(medium.temp.substr(0, medium.temp.size() - 1)), std::vector<std::string>{});
}

// A helper of the installer still holds a file in the work directory when
// every pause of the removal is spent (the pauses are skipped here, not
// waited): the run leaves the directory and names it in a verbose box.
DWORD mainThread = 0;
void WINAPI noPauseOnTheMainThread(DWORD milliseconds) {
    if (GetCurrentThreadId() != mainThread) SleepEx(milliseconds, FALSE);
}

TEST(LauncherTrust, AWorkDirectoryStillInUseAfterEveryPauseIsNamedInAVerboseBox) {
    Medium medium(testName());
    RecordedRun run;
    {
        ScopedEnvironment helper("KESTRUNE_CHILD_HELPER", "5000");
        mainThread = GetCurrentThreadId();
        ScopedImport<void(WINAPI*)(DWORD)> pauses("kernel32.dll", "Sleep", &noPauseOnTheMainThread);
        ASSERT_TRUE(pauses.active());
        BoxWatcher boxes;
        verboseMode = 1;
        runSilentlyHere(medium, {""}, childWaitLimitForTests);
        verboseMode = 0;
        run = boxes.stop();
    }
    EXPECT_EQ(medium.childRuns().size(), 2u);
    EXPECT_EQ(lastBox(run), "Varnel Kestrune|The work directory could not be removed: " + medium.workDirectory());
    EXPECT_TRUE(pathExists(medium.workDirectory() + "\\helper.lock")) << "the helper's file stays";
    // The helper ends by itself; what it kept then goes.
    for (int i = 0; i < 300 && pathExists(medium.workDirectory()); ++i) {
        removeTree(medium.workDirectory());
        Sleep(50);
    }
}

TEST(LauncherTrust, AnotherProgramsBoxWithTheNoticesCaptionIsNeitherClosedNorWaitedFor) {
    for (const std::string mode : {"hung", "answering"}) {
        Medium medium(testName() + mode, waitingForTheNotice());  // the notice is counted below
        const std::string standing = medium.root + "\\box-standing";
        StartedProcess box(quoted(foreignBoxPath()) + " " + mode + " " + quoted(standing));
        ASSERT_TRUE(waitForPath(standing, 30000)) << mode;
        const RecordedRun run = medium.run("");
        EXPECT_FALSE(run.timedOut) << mode << ": the launcher waited on the other program's box";
        EXPECT_EQ(run.exitCode, 1u) << mode;
        EXPECT_EQ(medium.childRuns().size(), 2u) << mode;
        // The launcher closed its own notice, and only that.
        ASSERT_EQ(run.countWithText(noticeBoxText), 1) << mode;
        for (const RecordedBox& recorded : run.boxes) {
            if (recorded.text == noticeBoxText) {
                EXPECT_TRUE(recorded.vanished) << mode;
            }
        }
        EXPECT_NE(FindWindowA(MAKEINTATOM(0x8002), "Varnel Kestrune"), nullptr) << mode << ": the other box was closed";
    }
}

}  // namespace
