#include "install/installation.h"

#include <windows.h>

#include "install/commands.h"
#include "install/work_directory_removal.h"
#include "launcher/kestrune.h"
#include "package_password.h"
#include "process/child_runner.h"
#include "process/progress_notice.h"
#include "text/bounded_text.h"

namespace {

// Outside verbose mode the run just ends, as every failure does.
void reportEarlyEnd(const char* text) {
    if (verboseMode) showBox(text, mainCaption);
}

// The temporary path, or null when the platform has none that fits.
const char* readTemporaryPath(char (&buffer)[pathBufferSize]) {
    const DWORD length = GetTempPathA(pathBufferSize, buffer);
    return length != 0 && length < pathBufferSize ? buffer : nullptr;
}

int runSetup(SetupForm form, const char* workDirectory) {
    char command[pathBufferSize];
    if (!composeSetupCommand(form, workDirectory, command, sizeof command)) {
        reportEarlyEnd(setupCommandTooLongText);
        return 0;
    }
    runProgram(workDirectory, command);
    return 1;
}

int runPostProcessing(const char* workDirectory) {
    char scriptPath[pathBufferSize];
    char command[pathBufferSize];
    if (!composeScriptPath(workDirectory, scriptPath, sizeof scriptPath) ||
        !composeScriptCommand(workDirectory, command, sizeof command)) {
        reportEarlyEnd(scriptPathTooLongText);
        return 0;
    }
    if (fileExists(scriptPath)) runProgram(workDirectory, command);
    return 1;
}

// Extraction, setup and post-processing; stops at the first command that
// does not fit.
void runPackage(const char* packageDirectory, const char* workDirectory) {
    if (!extractPackage(packageDirectory, workDirectory)) return;
    const SetupForm form = chooseSetupForm(silentMode, silentMode == 1 ? hasTailMarker(msiMarkerTag) : 0);
    const int setupRan = form == SetupForm::interactive ? runSetupInteractive(workDirectory)
                         : form == SetupForm::msiQuiet  ? runSetupMsiQuiet(workDirectory)
                                                        : runSetupSilent(workDirectory);
    if (setupRan) runPostProcessing(workDirectory);
}

}  // namespace

int extractPackage(const char* packageDirectory, const char* workDirectory) {
    char command[pathBufferSize];
    if (!composeExtractionCommand(packageDirectory, packagePassword, workDirectory, command,
                                  sizeof command)) {
        reportEarlyEnd(extractionCommandTooLongText);
        return 0;
    }
    // The notice stands only while the extraction runs, and only when the
    // command is whole, so that it is never left behind unclosed.
    if (!silentMode) startProgressNotice();
    if (verboseMode) showBox(command, zipCommandCaption);
    runExtractor("unzip.exe", packageDirectory, command);
    if (!silentMode) closeProgressNotice();
    return 1;
}

int runSetupInteractive(const char* workDirectory) { return runSetup(SetupForm::interactive, workDirectory); }
int runSetupMsiQuiet(const char* workDirectory) { return runSetup(SetupForm::msiQuiet, workDirectory); }
int runSetupSilent(const char* workDirectory) { return runSetup(SetupForm::silent, workDirectory); }

void runInstallation(const char* dText) {
    char temporaryPath[pathBufferSize];
    const char* temporaryBase = workDirectoryIsNamed(dText) ? nullptr : readTemporaryPath(temporaryPath);
    char workDirectory[pathBufferSize];
    const WorkDirectoryChoice choice = chooseWorkDirectory(dText, temporaryBase, workDirectory, sizeof workDirectory);
    if (choice == WorkDirectoryChoice::noTemporaryPath) {
        reportEarlyEnd(noTemporaryPathText);
        return;
    }
    if (choice == WorkDirectoryChoice::tooLong) {
        reportEarlyEnd(workDirectoryTooLongText);
        return;
    }

    if (choice == WorkDirectoryChoice::temporary) {
        // What an earlier run left there (its removal stopped by a file in
        // use) must never be run as this package's files.
        removeWorkDirectory(workDirectory);
        // A link in its place would lead the extraction out of the
        // temporary directory.
        const DWORD attributes = GetFileAttributesA(workDirectory);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            reportEarlyEnd(noTemporaryPathText);
            return;
        }
    }
    CreateDirectoryA(workDirectory, nullptr);
    char packageDirectory[pathBufferSize];
    const DWORD length = GetCurrentDirectoryA(pathBufferSize, packageDirectory);
    if (length != 0 && length < pathBufferSize) {
        runPackage(packageDirectory, workDirectory);
    } else {
        reportEarlyEnd(packageDirectoryTooLongText);
    }

    if (choice == WorkDirectoryChoice::temporary) removeWorkDirectory(workDirectory);
}
