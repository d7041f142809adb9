#include <windows.h>

#include "install/installation.h"
#include "launcher/exit_codes.h"
#include "launcher/kestrune.h"
#include "launcher/switches.h"
#include "text/bounded_text.h"

int verboseMode = 0;
int silentMode = 0;
char programPath[pathBufferSize];

namespace {

// Two full-length directories and their labels.
constexpr size_t directoriesBoxSize = 2 * pathBufferSize + 32;

void readStartDirectory(char (&startDirectory)[pathBufferSize]) {
    const DWORD length = GetCurrentDirectoryA(pathBufferSize, startDirectory);
    // Too long for the buffer: the platform filled nothing, so show nothing.
    if (length == 0 || length >= pathBufferSize) startDirectory[0] = 0;
}

void showDirectoriesBox(const char* startDirectory, const char* packageDirectory) {
    char boxText[directoriesBoxSize] = "";
    appendText(boxText, currentDirectoryLabel);
    appendText(boxText, startDirectory);
    appendText(boxText, runDirectoryLabel);
    appendText(boxText, packageDirectory);
    showBox(boxText, mainCaption);
}

// How a run past the usage box ends, from what became of SETUP.EXE.
int endOfRun(const ChildOutcome& setup) {
    return static_cast<int>(runExitCode(hasTailMarker(exitCodeMarkerTag), setup));
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandTail, int) {
    // A longer tail is cut: every switch must stand in its first 259 characters.
    char workingCopy[pathBufferSize];
    copyLeadingText(workingCopy, commandTail);

    verboseMode = getSwitch(workingCopy, 'V');
    if (getSwitch(workingCopy, 'H')) {
        showBox(usageText, usageCaption);
        return usageExitCode;
    }
    // Known before anything can end the run, so that a silent run shows no box.
    if (getSwitch(workingCopy, 'S')) silentMode = 1;

    char startDirectory[pathBufferSize];
    readStartDirectory(startDirectory);
    char packageDirectory[pathBufferSize];
    // The directory of a cut path may be another than the launcher's: its
    // extraction tool and package are never used. Nor is its own file, so
    // its tail is not read either.
    const ChildOutcome notStarted = {ChildState::notStarted, 0};
    if (!getProgramDirectory(packageDirectory)) {
        showReason(programPathTooLongText);
        return plainExitCode;
    }
    SetCurrentDirectoryA(packageDirectory);
    if (verboseMode) showDirectoriesBox(startDirectory, packageDirectory);

    char outputDirectory[pathBufferSize];
    clearText(outputDirectory);
    const int named = getSwitch(workingCopy, 'D', outputDirectory);
    // A cut value would name a directory the user never asked for.
    if (!switchValueIsWhole(commandTail, workingCopy, 'D')) {
        showReason(workDirectoryTooLongText);
        return endOfRun(notStarted);
    }
    if (named && verboseMode) showBox(outputDirectory, outputDirectoryCaption);

    return endOfRun(runInstallation(outputDirectory));
}
