// A launcher deep in the directory tree: its own path near the 259-character
// limit is shown whole, and the commands that hold its directory twice do
// not fit, so nothing runs and no temporary directory is left. Beyond the
// limit, its path would be cut, and the directory of the cut path is not its
// own: nothing there runs either.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hostile_support.h"
#include "text/bounded_text.h"

// From the launcher's own code, linked in (its own headers would clash with
// the test media's names for the same texts).
extern int silentMode;
extern int verboseMode;
extern char programPath[260];
void readProgramPath();

using namespace testing_support;
using namespace hostile;

namespace {

// A directory below `root` whose "\setup.exe" path is `length` characters.
std::string nestedDirectory(const std::string& root, size_t length) {
    const size_t directoryLength = length - std::string("\\setup.exe").size();
    std::string directory = root;
    for (char letter = 'a'; directory.size() < directoryLength; ++letter) {
        const size_t room = directoryLength - directory.size() - 1;
        directory += "\\" + std::string(room < 60 ? room : 60, letter);
    }
    return directory;
}

TEST(LauncherLocation, APathNearTheLimitIsShownWholeAndNothingRuns) {
    for (const size_t length : {255u, 259u}) {
        for (const bool verbose : {true, false}) {
            const std::string what = std::to_string(length) + (verbose ? " verbose" : "");
            const std::string name = testName() + what;
            // A medium's scratch root is known once one is laid out; the deep
            // one below replaces it under the same name.
            const std::string directory = nestedDirectory(Medium(name).root, length);
            Medium medium(name, MediumLayout{"package.zip", true, "", directory});
            const std::string launcher = directory + "\\setup.exe";
            ASSERT_EQ(launcher.size(), length);
            ASSERT_TRUE(pathExists(launcher)) << what;

            const OutsideWatch watch(medium);
            const RecordedRun run = medium.run(verbose ? "-v" : "");
            ASSERT_TRUE(run.started) << what;
            EXPECT_EQ(run.exitCode, 1u) << what;
            const std::string reason = "Varnel Kestrune|The extraction command does not fit in 259 characters.";
            const std::vector<std::string> expected = {
                "Varnel Kestrune|ProgramPointer: " + launcher + "\n",
                "Varnel Kestrune|Current: " + medium.root + "\nRun: " + directory + "\\",
                reason,
            };
            // Without -v the reason alone.
            EXPECT_EQ(run.answeredBoxes(), verbose ? expected : std::vector<std::string>{reason}) << what;
            EXPECT_EQ(run.countWithText(noticeBoxText), 0) << what;
            EXPECT_TRUE(medium.childRuns().empty()) << what;
            EXPECT_FALSE(pathExists(medium.workDirectory())) << what;
            EXPECT_EQ(watch.changes(), std::vector<std::string>{}) << what;
        }
    }
}

// The launcher's entry point in this process, as its start-up calls it,
// with every box answered and recorded; the exit code is WinMain's.
// `beforeEntry` runs right before it.
RecordedRun runEntryHere(const std::string& tail, void (*beforeEntry)() = nullptr) {
    const std::string start = currentDirectory();
    RecordOptions options;
    options.leaveStanding = {noticeBoxText};
    BoxWatcher boxes(options);
    std::string copy = tail;
    if (beforeEntry != nullptr) beforeEntry();
    const int exitCode = WinMain(GetModuleHandleA(nullptr), nullptr, &copy[0], SW_SHOWDEFAULT);
    RecordedRun run = boxes.stop();
    run.exitCode = static_cast<unsigned long>(exitCode);
    verboseMode = 0;
    silentMode = 0;
    SetCurrentDirectoryA(start.c_str());
    return run;
}

// The platform's answer for a module name longer than the buffer: Windows XP
// fills the buffer to its end and leaves it unterminated; later systems cut
// it one character shorter and terminate it. Both return the buffer's size.
std::string longModuleName;
bool terminatesCutName = false;
DWORD WINAPI cuttingModuleFileName(HMODULE, LPSTR buffer, DWORD size) {
    std::memcpy(buffer, longModuleName.data(), size);
    if (terminatesCutName) buffer[size - 1] = 0;
    return size;
}

// A launcher whose path runs past 259 characters within a directory name:
// cut at the limit, its directory would be the one above, where someone left
// an extraction tool (the test child, which logs when it runs) and a package.
// Windows cannot start such a program under Wine, so the launcher's start-up
// and entry run in this process, given the platform's cut name.
TEST(LauncherLocation, ALauncherWhosePathDoesNotFitRunsNothingBesideTheCutPath) {
    Medium medium(testName(), MediumLayout{"package.zip", false, "", ""});
    copyFile(testChildPath(), medium.directory + "\\unzip.exe");
    longModuleName = medium.directory + "\\" + std::string(250 - medium.directory.size(), 'd') + "\\setup.exe";
    ASSERT_GT(longModuleName.size(), 260u);
    medium.useEnvironment();
    const std::string reason = "Varnel Kestrune|The launcher's path does not fit in 259 characters.";
    struct Case {
        bool terminates;
        const char* tail;
        std::vector<std::string> boxes;
    } cases[] = {
        {false, "", {reason}},
        {true, "", {reason}},
        {true, "-s", {}},
        {false, "-v", {"Varnel Kestrune|ProgramPointer: \n", reason}},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.tail) + (c.terminates ? " terminated" : " unterminated");
        terminatesCutName = c.terminates;
        {
            ScopedImport<DWORD(WINAPI*)(HMODULE, LPSTR, DWORD)> cutting("kernel32.dll", "GetModuleFileNameA",
                                                                        &cuttingModuleFileName);
            ASSERT_TRUE(cutting.active());
            readProgramPath();
        }
        EXPECT_STREQ(programPath, "") << what;
        const RecordedRun run = runEntryHere(c.tail);
        EXPECT_EQ(run.exitCode, 1u) << what;
        EXPECT_EQ(run.answeredBoxes(), c.boxes) << what;
    }
    EXPECT_TRUE(medium.childRuns().empty()) << "the extraction tool beside the cut path ran";
    EXPECT_EQ(entriesBelow(medium.temp.substr(0, medium.temp.size() - 1)), std::vector<std::string>{});
}

// A start directory too long for the platform to give in 259 characters
// (Wine cannot have one, so the platform's answer is given here) is shown
// empty; the run goes on.
bool startDirectoryAsked = true;
using CurrentDirectoryCall = DWORD(WINAPI*)(DWORD, LPSTR);
CurrentDirectoryCall realCurrentDirectory = nullptr;
DWORD WINAPI tooLongFirstCurrentDirectory(DWORD size, LPSTR buffer) {
    if (startDirectoryAsked) return realCurrentDirectory(size, buffer);
    startDirectoryAsked = true;
    return 300;
}

TEST(LauncherLocation, AStartDirectoryTooLongToReadIsShownEmpty) {
    Medium medium(testName());
    copyText(programPath, (medium.directory + "\\setup.exe").c_str());
    medium.useEnvironment();
    RecordedRun run;
    {
        ScopedImport<CurrentDirectoryCall> tooLong("kernel32.dll", "GetCurrentDirectoryA",
                                                   &tooLongFirstCurrentDirectory);
        ASSERT_TRUE(tooLong.active());
        realCurrentDirectory = tooLong.original();
        run = runEntryHere("-v", [] { startDirectoryAsked = false; });
    }
    const auto boxes = run.answeredBoxes();
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], "Varnel Kestrune|Current: \nRun: " + medium.directory + "\\");
    EXPECT_EQ(medium.childRuns().size(), 2u);
}

}  // namespace
