#include "install/commands.h"

#include "launcher/medium_files.h"
#include "text/bounded_text.h"

namespace {

constexpr const char* temporaryDirectoryName = "KESTRUNE";
constexpr const char* unnamedDriveRoot = "C:\\";
constexpr const char* msiQuietArguments = " /qn REBOOT=ReallySuppress";
constexpr const char* silentArguments = " -s -SMS";

// Builds into a scratch buffer so that `out` changes only on success.
bool publish(const char* composed, bool fits, char* out, size_t capacity) {
    return fits && copyText(out, capacity, composed);
}

bool appendQuotedJoin(char (&command)[pathBufferSize], const char* directory, const char* name) {
    char path[pathBufferSize];
    return joinPath(directory, name, path) && appendQuotedArgument(command, path);
}

}  // namespace

bool joinPath(const char* directory, const char* name, char* out, size_t capacity) {
    char joined[pathBufferSize] = "";
    const bool fits = appendText(joined, directory) && appendText(joined, "\\") && appendText(joined, name);
    return publish(joined, fits, out, capacity);
}

bool workDirectoryIsNamed(const char* dText) {
    for (; *dText != 0; ++dText) {
        if (*dText != '"') return true;
    }
    return false;
}

WorkDirectoryChoice chooseWorkDirectory(const char* dText, const char* temporaryPath, char* out, size_t capacity) {
    char composed[pathBufferSize] = "";
    if (!workDirectoryIsNamed(dText)) {
        if (temporaryPath == nullptr || temporaryPath[0] == 0) return WorkDirectoryChoice::noTemporaryPath;
        const bool fits = appendText(composed, temporaryPath) && appendText(composed, temporaryDirectoryName);
        return publish(composed, fits, out, capacity) ? WorkDirectoryChoice::temporary : WorkDirectoryChoice::tooLong;
    }

    char unquoted[pathBufferSize] = "";
    bool fits = true;
    for (const char* p = dText; *p != 0 && fits; ++p) {
        const char c[2] = {*p, 0};
        if (*p != '"') fits = appendText(unquoted, c);
    }
    if (fits && !containsChar(unquoted, ':')) fits = appendText(composed, unnamedDriveRoot);
    fits = fits && appendText(composed, unquoted);
    return publish(composed, fits, out, capacity) ? WorkDirectoryChoice::named : WorkDirectoryChoice::tooLong;
}

bool composeSiblingWorkDirectory(const char* workDirectory, unsigned long random, char (&out)[pathBufferSize]) {
    char suffix[] = ".00000000";
    for (size_t digit = sizeof suffix - 2; digit > 0; --digit, random >>= 4) {
        suffix[digit] = "0123456789ABCDEF"[random & 0xF];
    }
    char composed[pathBufferSize] = "";
    return publish(composed, appendText(composed, workDirectory) && appendText(composed, suffix), out, sizeof out);
}

bool composeExtractionCommand(const char* packageDirectory, const char* password, const char* workDirectory, char* out,
                              size_t capacity) {
    char command[pathBufferSize] = "";
    const bool fits = appendQuotedJoin(command, packageDirectory, extractorFileName) && appendText(command, " -P ") &&
                      appendText(command, password) && appendText(command, " ") &&
                      appendQuotedJoin(command, packageDirectory, packageFileName) && appendText(command, " -d ") &&
                      appendQuotedArgument(command, workDirectory);
    return publish(command, fits, out, capacity);
}

SetupForm chooseSetupForm(int silent, int msiMarkerPresent) {
    if (silent != 1) return SetupForm::interactive;
    return msiMarkerPresent == 1 ? SetupForm::msiQuiet : SetupForm::silent;
}

bool composeSetupCommand(SetupForm form, const char* workDirectory, char* out, size_t capacity) {
    const char* arguments = form == SetupForm::msiQuiet ? msiQuietArguments
                            : form == SetupForm::silent ? silentArguments
                                                        : "";
    char command[pathBufferSize] = "";
    const bool fits = appendQuotedJoin(command, workDirectory, setupProgramName) && appendText(command, arguments);
    return publish(command, fits, out, capacity);
}

bool composeScriptPath(const char* workDirectory, char* out, size_t capacity) {
    return joinPath(workDirectory, scriptFileName, out, capacity);
}

bool composeScriptCommand(const char* workDirectory, char* out, size_t capacity) {
    char command[pathBufferSize] = "";
    return publish(command, appendQuotedJoin(command, workDirectory, scriptFileName), out, capacity);
}
