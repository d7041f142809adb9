#include "install/installation.h"

#include "install/commands.h"
#include "install/held_file.h"
#include "install/work_directory.h"
#include "install/work_directory_removal.h"
#include "launcher/kestrune.h"
#include "launcher/medium_files.h"
#include "launcher/system_functions.h"
#include "package_password.h"
#include "process/child_runner.h"
#include "process/progress_notice.h"
#include "text/bounded_text.h"

namespace {

using TemporaryPathCall = DWORD(WINAPI*)(DWORD, LPSTR);

// The text of the box that names a work directory left behind.
constexpr size_t leftBoxSize = pathBufferSize + 64;

// Once SETUP.EXE has started, the installer has spoken to the user: what
// ends the run after that is told in verbose mode only.
void reportInVerboseMode(const char* text) {
    if (verboseMode) showBox(text, mainCaption);
}

// The temporary path, or null when the platform has none that fits. Where
// the platform has GetTempPath2A, that: for SYSTEM it gives a directory that
// other processes cannot reach.
const char* readTemporaryPath(char (&buffer)[pathBufferSize]) {
    auto temporaryPath = lookUpSystemFunctionAs<TemporaryPathCall>(kernelModule, "GetTempPath2A");
    if (temporaryPath == nullptr) temporaryPath = &GetTempPathA;
    const DWORD length = temporaryPath(pathBufferSize, buffer);
    return length != 0 && length < pathBufferSize ? buffer : nullptr;
}

const char* workDirectoryRefusalText(WorkDirectoryState state) {
    switch (state) {
        case WorkDirectoryState::isLink: return workDirectoryIsLinkText;
        case WorkDirectoryState::othersMayChange: return workDirectoryOthersMayChangeText;
        case WorkDirectoryState::notDirectory: return workDirectoryNotDirectoryText;
        case WorkDirectoryState::tooLong: return workDirectoryTooLongText;
        case WorkDirectoryState::ready:
        case WorkDirectoryState::notCreated: break;
    }
    return workDirectoryNotCreatedText;
}

// A program still at work may hold the work directory's files: nothing
// further is started and the directory is not removed under it.
StepEnd endOfProgram(const ChildOutcome& outcome) {
    if (!childMayStillRun(outcome)) return StepEnd::goOn;
    reportInVerboseMode(childStillRunningText);
    return StepEnd::childStillRunning;
}

// Runs `command`, whose program is the file `name` of the work directory,
// only while that file is held, from its check until it has ended; what
// became of it goes to `outcome`. The script may be missing; SETUP.EXE may
// not.
StepEnd runHeld(const char* name, const char* command, const char* workDirectory, HANDLE workDirectoryHold,
                bool isScript, unsigned long waitLimit, ChildOutcome& outcome) {
    HeldFile program;
    const FileHold hold = program.holdIn(workDirectoryHold, workDirectory, name);
    if (hold == FileHold::missing && isScript) return StepEnd::goOn;
    if (hold != FileHold::held) {
        char text[pathBufferSize] = "";
        appendText(text, name);
        appendText(text, notAPlainFileText);
        isScript ? reportInVerboseMode(text) : showReason(text);
        return StepEnd::stopped;
    }
    outcome =
        runChildWithLimit(isScript ? ChildKind::program : ChildKind::installer, workDirectory, command, waitLimit);
    return endOfProgram(outcome);
}

StepEnd runSetup(SetupForm form, const char* workDirectory, HANDLE workDirectoryHold, ChildOutcome& outcome,
                 unsigned long waitLimit) {
    char command[pathBufferSize];
    if (!composeSetupCommand(form, workDirectory, command, sizeof command)) {
        showReason(setupCommandTooLongText);
        return StepEnd::stopped;
    }
    return runHeld(setupProgramName, command, workDirectory, workDirectoryHold, false, waitLimit, outcome);
}

StepEnd runPostProcessing(const char* workDirectory, HANDLE workDirectoryHold, unsigned long waitLimit) {
    char command[pathBufferSize];
    if (!composeScriptCommand(workDirectory, command, sizeof command)) {
        reportInVerboseMode(scriptPathTooLongText);
        return StepEnd::stopped;
    }
    // A package without a script is no fault; what it does is not the run's
    // outcome.
    ChildOutcome outcome;
    return runHeld(scriptFileName, command, workDirectory, workDirectoryHold, true, waitLimit, outcome);
}

// Extraction, setup and post-processing, as far as each lets the run go.
StepEnd runPackage(const char* packageDirectory, const char* workDirectory, HANDLE workDirectoryHold,
                   unsigned long waitLimit, ChildOutcome& setup) {
    StepEnd end = extractPackage(packageDirectory, workDirectory, waitLimit);
    if (end != StepEnd::goOn) return end;
    const SetupForm form = chooseSetupForm(silentMode, silentMode == 1 ? hasTailMarker(msiMarkerTag) : 0);
    end = form == SetupForm::interactive ? runSetupInteractive(workDirectory, workDirectoryHold, setup, waitLimit)
          : form == SetupForm::msiQuiet  ? runSetupMsiQuiet(workDirectory, workDirectoryHold, setup, waitLimit)
                                         : runSetupSilent(workDirectory, workDirectoryHold, setup, waitLimit);
    // The script runs whatever the installer's outcome, once it has ended.
    if (end != StepEnd::goOn) return end;
    return runPostProcessing(workDirectory, workDirectoryHold, waitLimit);
}

// The run's own temporary work directory goes whole; what stays is named.
void removeTemporary(HANDLE hold, const char* workDirectory) {
    if (removeOwnTree(hold, workDirectory)) return;
    char text[leftBoxSize] = "";
    appendText(text, workDirectoryLeftTextStart);
    appendText(text, workDirectory);
    reportInVerboseMode(text);
}

}  // namespace

StepEnd extractPackage(const char* packageDirectory, const char* workDirectory, unsigned long waitLimit) {
    char command[pathBufferSize];
    if (!composeExtractionCommand(packageDirectory, packagePassword, workDirectory, command, sizeof command)) {
        showReason(extractionCommandTooLongText);
        return StepEnd::stopped;
    }
    // The notice stands only while the extraction runs, and only when the
    // command is whole, so that it is never left behind unclosed.
    if (!silentMode) startProgressNotice();
    if (verboseMode) showBox(command, zipCommandCaption);
    const ChildOutcome outcome = runExtractor(extractorFileName, packageDirectory, command, waitLimit);
    if (!silentMode) closeProgressNotice();
    // Nothing from a package that did not come out whole is ever run; the
    // verdict alone decides, the text only tells it.
    if (judgeExtraction(outcome) == ExtractionVerdict::succeeded) return StepEnd::goOn;
    char reason[pathBufferSize];
    composeExtractionFailureText(outcome, reason);
    showReason(reason);
    return childMayStillRun(outcome) ? StepEnd::childStillRunning : StepEnd::stopped;
}

StepEnd runSetupInteractive(const char* workDirectory, HANDLE workDirectoryHold, ChildOutcome& outcome,
                            unsigned long waitLimit) {
    return runSetup(SetupForm::interactive, workDirectory, workDirectoryHold, outcome, waitLimit);
}
StepEnd runSetupMsiQuiet(const char* workDirectory, HANDLE workDirectoryHold, ChildOutcome& outcome,
                         unsigned long waitLimit) {
    return runSetup(SetupForm::msiQuiet, workDirectory, workDirectoryHold, outcome, waitLimit);
}
StepEnd runSetupSilent(const char* workDirectory, HANDLE workDirectoryHold, ChildOutcome& outcome,
                       unsigned long waitLimit) {
    return runSetup(SetupForm::silent, workDirectory, workDirectoryHold, outcome, waitLimit);
}

ChildOutcome runInstallation(const char* dText) { return runInstallationWithLimit(dText, childWaitLimit); }

ChildOutcome runInstallationWithLimit(const char* dText, unsigned long waitLimit) {
    ChildOutcome setup = {ChildState::notStarted, 0};
    char temporaryPath[pathBufferSize];
    const char* temporaryBase = workDirectoryIsNamed(dText) ? nullptr : readTemporaryPath(temporaryPath);
    char workDirectory[pathBufferSize];
    const WorkDirectoryChoice choice = chooseWorkDirectory(dText, temporaryBase, workDirectory, sizeof workDirectory);
    if (choice == WorkDirectoryChoice::noTemporaryPath) {
        showReason(noTemporaryPathText);
        return setup;
    }
    if (choice == WorkDirectoryChoice::tooLong) {
        showReason(workDirectoryTooLongText);
        return setup;
    }
    const bool temporary = choice == WorkDirectoryChoice::temporary;

    HANDLE hold = INVALID_HANDLE_VALUE;
    const WorkDirectoryState state = prepareWorkDirectory(workDirectory, temporary, &hold);
    if (state != WorkDirectoryState::ready) {
        showReason(workDirectoryRefusalText(state));
        return setup;
    }
    StepEnd end = StepEnd::stopped;
    char packageDirectory[pathBufferSize];
    const DWORD length = GetCurrentDirectoryA(pathBufferSize, packageDirectory);
    if (length != 0 && length < pathBufferSize) {
        end = runPackage(packageDirectory, workDirectory, hold, waitLimit, setup);
    } else {
        showReason(packageDirectoryTooLongText);
    }
    // The removal starts from the handle held since the directory was made.
    if (temporary && end != StepEnd::childStillRunning) {
        removeTemporary(hold, workDirectory);
    } else {
        CloseHandle(hold);
    }
    return setup;
}
