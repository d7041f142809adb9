// Composition of the work directory, the child command lines and the paths of
// an installation run. Every result is either whole or refused: nothing is cut.
#pragma once

#include <stddef.h>

#include "launcher/constants.h"

// Joins with a single backslash ("%s\%s"), nothing normalised.
bool joinPath(const char* directory, const char* name, char* out, size_t capacity);

// The D text with its double quotes removed; they cannot be part of a path.
// Whether anything remains decides between a named and the temporary work
// directory.
bool workDirectoryIsNamed(const char* dText);

enum class WorkDirectoryChoice {
    temporary,        // the temporary path with "KESTRUNE" behind it; removed after the run
    named,            // from the D text; left behind after the run
    noTemporaryPath,  // the temporary path was not to be had
    tooLong,          // the result would not fit in a path buffer
};

// `temporaryPath` (as GetTempPathA gives it, with its final backslash) is
// only read when the D text names no directory; it may be null when the
// platform could not give one.
WorkDirectoryChoice chooseWorkDirectory(const char* dText, const char* temporaryPath, char* out, size_t capacity);

// The temporary work directory's sibling for a run that finds its name
// taken: the work directory, a point and `random` as eight hexadecimal
// digits ("...\KESTRUNE.0A1B2C3D").
bool composeSiblingWorkDirectory(const char* workDirectory, unsigned long random, char (&out)[pathBufferSize]);

// "P\unzip.exe" -P password "P\package.zip" -d "W"
bool composeExtractionCommand(const char* packageDirectory, const char* password, const char* workDirectory, char* out,
                              size_t capacity);

enum class SetupForm { interactive, msiQuiet, silent };
SetupForm chooseSetupForm(int silent, int msiMarkerPresent);
// "W\SETUP.EXE" followed by the form's arguments.
bool composeSetupCommand(SetupForm form, const char* workDirectory, char* out, size_t capacity);

// W\PostProcess.cmd, as a path to look for.
bool composeScriptPath(const char* workDirectory, char* out, size_t capacity);
// "W\PostProcess.cmd", as the whole command line.
bool composeScriptCommand(const char* workDirectory, char* out, size_t capacity);

template <size_t N>
inline bool joinPath(const char* directory, const char* name, char (&out)[N]) {
    return joinPath(directory, name, out, N);
}
