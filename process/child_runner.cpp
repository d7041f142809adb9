#include "process/child_runner.h"

#include <windows.h>

#include "launcher/kestrune.h"
#include "text/bounded_text.h"

namespace {

struct RunnerSettings {
    const char* savedDirectoryCaption;
    const char* runDirectoryCaption;
    const char* commandCaption;  // null: the command line is not shown
    const char* title;
    DWORD startupFlags;
    WORD showWindow;
    DWORD creationFlags;
    bool explicitSecurity;
};

constexpr RunnerSettings extractorSettings = {
    extractorSavedDirectoryCaption,
    extractorRunDirectoryCaption,
    nullptr,
    extractorTitle,
    STARTF_USESHOWWINDOW,
    SW_MINIMIZE,
    CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS | CREATE_SEPARATE_WOW_VDM,
    false,
};

constexpr RunnerSettings programSettings = {
    programSavedDirectoryCaption,
    programRunDirectoryCaption,
    programCommandCaption,
    programTitle,
    0,
    SW_HIDE,
    CREATE_DEFAULT_ERROR_MODE,
    true,
};

void showFailure(ChildKind kind, DWORD error) {
    if (kind == ChildKind::extractor) {
        showBox(extractorFailureText, mainCaption);
        return;
    }
    char text[pathBufferSize] = "";
    appendText(text, programFailureTextStart);
    appendDecimal(text, static_cast<long>(error));
    appendText(text, ".");
    showBox(text, mainCaption);
}

// Starts the child and waits for it, at most `waitLimit` milliseconds.
ChildOutcome startAndWait(const RunnerSettings& settings, const char* directory, const char* commandLine,
                          unsigned long waitLimit) {
    // CreateProcessA wants a writable command line; an over-long one is refused
    // rather than cut.
    char command[pathBufferSize];
    if (!copyText(command, commandLine)) return {ChildState::notStarted, ERROR_FILENAME_EXCED_RANGE};

    STARTUPINFOA startup;
    fillBytes(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpTitle = const_cast<char*>(settings.title);
    startup.dwFlags = settings.startupFlags;
    startup.wShowWindow = settings.showWindow;

    SECURITY_ATTRIBUTES processSecurity = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    SECURITY_ATTRIBUTES threadSecurity = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};

    PROCESS_INFORMATION child;
    fillBytes(&child, 0, sizeof child);
    if (!CreateProcessA(nullptr, command, settings.explicitSecurity ? &processSecurity : nullptr,
                        settings.explicitSecurity ? &threadSecurity : nullptr, FALSE, settings.creationFlags, nullptr,
                        directory, &startup, &child)) {
        return {ChildState::notStarted, GetLastError()};
    }
    ChildOutcome outcome = {ChildState::waitFailed, 0};
    const DWORD waitResult = WaitForSingleObject(child.hProcess, waitLimit);
    if (waitResult == WAIT_TIMEOUT) outcome.state = ChildState::stillRunning;
    DWORD exitCode = 0;
    if (waitResult == WAIT_OBJECT_0 && GetExitCodeProcess(child.hProcess, &exitCode)) {
        outcome = {ChildState::ended, exitCode};
    }
    // A child still running keeps running; only our handles to it go.
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return outcome;
}

}  // namespace

ChildOutcome runChildWithLimit(ChildKind kind, const char* directory, const char* commandLine,
                               unsigned long waitLimit) {
    const RunnerSettings& settings = kind == ChildKind::extractor ? extractorSettings : programSettings;

    // Saved with the full path capacity, and restored only when the platform
    // really filled the buffer.
    char savedDirectory[pathBufferSize];
    const DWORD savedLength = GetCurrentDirectoryA(pathBufferSize, savedDirectory);
    const bool saved = savedLength != 0 && savedLength < pathBufferSize;
    if (!saved) savedDirectory[0] = 0;

    if (verboseMode) {
        showBox(savedDirectory, settings.savedDirectoryCaption);
        showBox(directory, settings.runDirectoryCaption);
        if (settings.commandCaption != nullptr) showBox(commandLine, settings.commandCaption);
    }

    SetCurrentDirectoryA(directory);
    const ChildOutcome outcome = startAndWait(settings, directory, commandLine, waitLimit);
    if (outcome.state == ChildState::notStarted && (verboseMode || (kind == ChildKind::installer && !silentMode)))
        showFailure(kind, outcome.code);
    if (saved) SetCurrentDirectoryA(savedDirectory);
    return outcome;
}

ChildOutcome runExtractor(const char* toolFileName, const char* directory, const char* commandLine,
                          unsigned long waitLimit) {
    (void)toolFileName;
    return runChildWithLimit(ChildKind::extractor, directory, commandLine, waitLimit);
}

ChildOutcome runProgram(const char* directory, const char* commandLine, unsigned long waitLimit) {
    return runChildWithLimit(ChildKind::program, directory, commandLine, waitLimit);
}
