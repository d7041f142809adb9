// Every caption, message, format and limit of the launcher, named once.
#pragma once

#include <stddef.h>

// The platform's path limit (MAX_PATH): 259 characters and a terminator.
constexpr size_t pathBufferSize = 260;
// Only this many bytes at the end of the launcher's own file hold markers.
constexpr size_t markerWindowSize = 256;
// Longest wait for any child process, in milliseconds (six minutes).
constexpr unsigned long childWaitLimit = 360000;

constexpr const char* mainCaption = "Varnel Kestrune";
constexpr const char* usageCaption = "Varnel Kestrune Check 1.3";
constexpr const char* usageText =
    "Usage: setup [-s] [-d<directory>]\n\n"
    "  where <directory> is path to leave files behind.";

constexpr const char* programPathLabel = "ProgramPointer: ";
constexpr const char* currentDirectoryLabel = "Current: ";
constexpr const char* runDirectoryLabel = "\nRun: ";
constexpr const char* outputDirectoryCaption = "Varnel Kestrune: Output Directory";

constexpr const char* msiMarkerTag = "msi.tag";

constexpr const char* progressNoticeText = "Copying Files. Please wait.";

constexpr const char* extractorSavedDirectoryCaption = "Varnel Kestrune: Directory into Run";
constexpr const char* extractorRunDirectoryCaption = "Varnel Kestrune: Directory to Run From";
constexpr const char* extractorTitle = "Unzip Files";
constexpr const char* extractorFailureText = "Program Exec Failed.";

constexpr const char* programSavedDirectoryCaption = "Directory into Run";
constexpr const char* programRunDirectoryCaption = "Directory to Run From";
constexpr const char* programCommandCaption = "Running app";
constexpr const char* programTitle = "External Program";
// Completed with the error code and ".".
constexpr const char* programFailureTextStart = "Program Exec failed with rc = ";

constexpr const char* zipCommandCaption = "Varnel Kestrune: Zip CommandLine";
// Shown in verbose mode when a run ends early rather than use a cut path.
constexpr const char* noTemporaryPathText = "No temporary directory is available.";
constexpr const char* workDirectoryTooLongText = "The work directory does not fit in 259 characters.";
constexpr const char* packageDirectoryTooLongText = "The package directory does not fit in 259 characters.";
constexpr const char* extractionCommandTooLongText = "The extraction command does not fit in 259 characters.";
constexpr const char* setupCommandTooLongText = "The setup command does not fit in 259 characters.";
constexpr const char* scriptPathTooLongText = "The post-processing command does not fit in 259 characters.";

// Why a run ends before anything is extracted or run (verbose mode).
constexpr const char* workDirectoryInUseText = "The work directory is in use by another run.";
constexpr const char* workDirectoryIsLinkText = "The temporary work directory is a link.";
constexpr const char* leftoverNotClearedText = "The work directory left by an earlier run could not be emptied.";
constexpr const char* workDirectoryNotCreatedText = "The work directory could not be created.";
constexpr const char* workDirectoryNotDirectoryText = "The work directory is not a directory.";

// Why nothing is run after the extraction (verbose mode).
constexpr const char* extractionNotStartedText = "The extraction tool did not start.";
constexpr const char* extractionStillRunningText = "The extraction tool still runs after its wait.";
constexpr const char* extractionWaitFailedText = "The wait for the extraction tool failed.";
// Completed with the exit code and ".".
constexpr const char* extractionFailedTextStart = "The extraction failed with exit code ";
// A program that outlived its wait may still use the work directory.
constexpr const char* childStillRunningText = "A program still runs after its wait; its files are left.";
