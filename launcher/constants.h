// Every caption, message, format and limit of the launcher, named once.
// Texts are arrays, defined once for the whole program: each is stored once,
// however many files use it.
#pragma once

#include <stddef.h>

// The platform's path limit (MAX_PATH): 259 characters and a terminator.
constexpr size_t pathBufferSize = 260;
// Only this many bytes at the end of the launcher's own file hold markers.
constexpr size_t markerWindowSize = 256;
// Longest wait for any child process, in milliseconds (six minutes).
constexpr unsigned long childWaitLimit = 360000;

inline constexpr char mainCaption[] = "Varnel Kestrune";
inline constexpr char usageCaption[] = "Varnel Kestrune Check 1.3";
inline constexpr char usageText[] =
    "Usage: setup [-s] [-d<directory>]\n\n"
    "  where <directory> is path to leave files behind.";

inline constexpr char programPathLabel[] = "ProgramPointer: ";
inline constexpr char currentDirectoryLabel[] = "Current: ";
inline constexpr char runDirectoryLabel[] = "\nRun: ";
inline constexpr char outputDirectoryCaption[] = "Varnel Kestrune: Output Directory";

inline constexpr char msiMarkerTag[] = "msi.tag";
// The run's exit code tells deployment tools what became of the installer
// (launcher/exit_codes.h).
inline constexpr char exitCodeMarkerTag[] = "exitcode.tag";

inline constexpr char progressNoticeText[] = "Copying Files. Please wait.";

inline constexpr char extractorSavedDirectoryCaption[] = "Varnel Kestrune: Directory into Run";
inline constexpr char extractorRunDirectoryCaption[] = "Varnel Kestrune: Directory to Run From";
inline constexpr char extractorTitle[] = "Unzip Files";
inline constexpr char extractorFailureText[] = "Program Exec Failed.";

// The same captions without the "Varnel Kestrune: " of a step: the tails of
// the extractor's, so that each text is stored once.
inline constexpr size_t stepCaptionPrefixLength = sizeof "Varnel Kestrune: " - 1;
inline constexpr const char* programSavedDirectoryCaption = extractorSavedDirectoryCaption + stepCaptionPrefixLength;
inline constexpr const char* programRunDirectoryCaption = extractorRunDirectoryCaption + stepCaptionPrefixLength;
inline constexpr char programCommandCaption[] = "Running app";
inline constexpr char programTitle[] = "External Program";
// Completed with the error code and ".".
inline constexpr char programFailureTextStart[] = "Program Exec failed with rc = ";

inline constexpr char zipCommandCaption[] = "Varnel Kestrune: Zip CommandLine";
// Why a run ends early rather than use a cut path (launcher/kestrune.h,
// showReason).
inline constexpr char programPathTooLongText[] = "The launcher's path does not fit in 259 characters.";
inline constexpr char noTemporaryPathText[] = "No temporary directory is available.";
inline constexpr char workDirectoryTooLongText[] = "The work directory does not fit in 259 characters.";
inline constexpr char packageDirectoryTooLongText[] = "The package directory does not fit in 259 characters.";
inline constexpr char extractionCommandTooLongText[] = "The extraction command does not fit in 259 characters.";
inline constexpr char setupCommandTooLongText[] = "The setup command does not fit in 259 characters.";
inline constexpr char scriptPathTooLongText[] = "The post-processing command does not fit in 259 characters.";

// Why a run ends before anything is extracted or run.
inline constexpr char workDirectoryNotCreatedText[] = "The work directory could not be created.";
inline constexpr char workDirectoryNotDirectoryText[] = "The work directory is not a directory.";
inline constexpr char workDirectoryIsLinkText[] = "The work directory is a link.";
inline constexpr char workDirectoryOthersMayChangeText[] = "The work directory exists and other users may change it.";

// Why nothing is run after the extraction.
inline constexpr char extractionNotStartedText[] = "The extraction tool did not start.";
inline constexpr char extractionStillRunningText[] = "The extraction tool still runs after its wait.";
inline constexpr char extractionWaitFailedText[] = "The wait for the extraction tool failed.";
// Completed with the exit code and ".".
inline constexpr char extractionFailedTextStart[] = "The extraction failed with exit code ";
// Behind "SETUP.EXE" or "PostProcess.cmd" when it could not be held as a
// plain file of the work directory, and so is not started.
inline constexpr char notAPlainFileText[] = " is not a plain file in the work directory.";
// Completed with the work directory: what is left of it after the removal.
inline constexpr char workDirectoryLeftTextStart[] = "The work directory could not be removed: ";
// A program that outlived its wait may still use the work directory.
inline constexpr char childStillRunningText[] = "A program still runs after its wait; its files are left.";
