// The launcher's chief header: the process-wide state that every subsystem
// reads, and the services about the launcher's own file.
#pragma once

#include "launcher/constants.h"

// 0 or 1; written only by the main flow, before any second thread exists.
extern int verboseMode;
extern int silentMode;
// The launcher's full file name, filled once at start-up.
extern char programPath[pathBufferSize];

// Fills programPath with the running module's file name, once at start-up;
// empty when the platform's name does not fit (the directory of a cut name
// may be another than the launcher's).
void readProgramPath();
// The directory that holds the launcher's file, with its final backslash,
// into `out`; 0 (and `out` empty) when the launcher's path is not known
// whole. Shows the program path in verbose mode.
int getProgramDirectory(char (&out)[pathBufferSize]);
// Whether `tag` stands in the last bytes of the launcher's own file.
int hasTailMarker(const char* tag);

// A box with no owner and only an OK button; the run waits for the user.
void showBox(const char* text, const char* caption);
// Why the run ends before the installer has started: in a box unless the
// run is silent (in verbose mode always), so that a user is never left
// without an answer and a silent run never waits on a box nobody may see.
void showReason(const char* text);
