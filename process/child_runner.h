#pragma once

// Runs the extraction command from `directory` in a minimized console window
// titled "Unzip Files" and waits for it. The tool name is not used: the
// command line alone names the program. Returns 1 whatever happened.
int runExtractor(const char* toolFileName, const char* directory, const char* commandLine);

// Runs an installer or script command from `directory` and waits for it.
// Returns 0 when it ended in time, 258 when the wait limit passed first, -1
// when the wait failed, or the platform's error code when it did not start.
int runProgram(const char* directory, const char* commandLine);

// The one routine behind both runners, with the wait limit as a parameter so
// that the limit can be exercised without waiting six minutes.
enum class ChildKind { extractor, program };
int runChildWithLimit(ChildKind kind, const char* directory, const char* commandLine,
                      unsigned long waitLimit);
