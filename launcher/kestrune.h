// The launcher's chief header: the process-wide state that every subsystem
// reads, and the services about the launcher's own file.
#pragma once

#include "launcher/constants.h"

// 0 or 1; written only by the main flow, before any second thread exists.
extern int verboseMode;
extern int silentMode;
// The launcher's full file name, filled once at start-up.
extern char programPath[pathBufferSize];

// The directory that holds the launcher's file, with its final backslash,
// into `out` (pathBufferSize bytes). Shows the program path in verbose mode.
int getProgramDirectory(char* out);
// Whether `tag` stands in the last bytes of the launcher's own file.
int hasTailMarker(const char* tag);

// A box with no owner and only an OK button; the run waits for the user.
void showBox(const char* text, const char* caption);
