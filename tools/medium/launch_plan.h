// What the launcher composes when it runs from a given package directory
// with a given temporary path: the work directory and every command line,
// made by the launcher's own functions (install/commands.cpp), so that a
// medium that checks out here is run the same way on Windows.
#pragma once

#include <string>
#include <vector>

#include "archive_check.h"
#include "command_line.h"
#include "install/commands.h"
#include "launcher/medium_files.h"

// Longest path the ANSI Win32 calls accept: the launcher's, and those of the
// programs it runs.
constexpr size_t longestPath = pathBufferSize - 1;
// CreateDirectoryA leaves room for an 8.3 name: 248 with the terminator. The
// launcher and unzip.exe create the work directory with it.
constexpr size_t longestDirectoryPath = 247;

struct LaunchStep {
    std::string what;     // "work directory", "extraction command", ...
    std::string text;     // as the launcher composes it; empty when it does not fit
    bool secret = false;  // holds the package password: shown by length only
};

struct LaunchPlan {
    std::string packageDirectory;  // as GetCurrentDirectoryA gives it
    std::string temporaryPath;     // as GetTempPathA gives it
    std::vector<LaunchStep> steps;
    SetupForm silentForm = SetupForm::silent;
    std::vector<std::string> problems;
};

// Where the medium will run, as --package-dir and --temp give it (`build`
// and `check` take both): by default a drive root, as a medium in a CD or
// USB drive is seen, and the default user's temporary folder.
constexpr const char* defaultPackageDirectory = "D:\\";
constexpr const char* defaultTemporaryPath = "C:\\Users\\Default\\AppData\\Local\\Temp\\";
extern const OptionRule packageDirectoryOption;
extern const OptionRule temporaryPathOption;

struct LaunchPlace {
    std::string packageDirectory = defaultPackageDirectory;
    std::string temporaryPath = defaultTemporaryPath;
};
// The place from the parsed options; false, with `error`, for a value that
// is not an absolute Windows path.
bool launchPlaceFrom(const ParsedArguments& parsed, LaunchPlace& place, std::string& error);

// Why `path` is not an absolute Windows path ("D:\..." or "\\server\share..."),
// or "" when it is one.
std::string windowsPathProblem(const std::string& path);
// The package directory as the launcher holds it after changing into it:
// no final backslash, except the one of a drive root ("D:\").
std::string launcherPackageDirectory(const std::string& given);
// The temporary path as GetTempPathA gives it: with a final backslash.
std::string launcherTemporaryPath(const std::string& given);

// `msiMarkerSeen` is what the launcher's windowHoldsTag finds for msi.tag in
// setup.exe; `entries` are the archive's, their names as Windows will spell
// them, whose extracted paths must fit too.
// Every problem is listed: one line for each command or path that does not fit.
LaunchPlan planLaunch(const std::string& packageDirectory, const std::string& temporaryPath, bool msiMarkerSeen,
                      const char* password, const std::vector<ArchiveEntryInfo>& entries);
LaunchPlan planLaunch(const LaunchPlace& place, bool msiMarkerSeen, const char* password,
                      const std::vector<ArchiveEntryInfo>& entries);
