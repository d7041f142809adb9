#pragma once

#include "launcher/constants.h"
#include "process/child_outcome.h"

// Runs the extraction command from `directory` in a minimized console window
// titled "Unzip Files" and waits for it, at most `waitLimit` milliseconds.
// The tool name is not used: the command line alone names the program.
ChildOutcome runExtractor(const char* toolFileName, const char* directory, const char* commandLine,
                          unsigned long waitLimit = childWaitLimit);

// Runs an installer or script command from `directory` and waits for it.
ChildOutcome runProgram(const char* directory, const char* commandLine, unsigned long waitLimit = childWaitLimit);

// The one routine behind both runners. SETUP.EXE is a program whose failure
// to start ends the run before anything was installed: that is told in a box
// unless the run is silent, as every such end is (launcher/kestrune.h).
enum class ChildKind { extractor, program, installer };
ChildOutcome runChildWithLimit(ChildKind kind, const char* directory, const char* commandLine, unsigned long waitLimit);
