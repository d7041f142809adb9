// Running the outside programs the tool relies on (osslsigncode, xorriso):
// found on PATH, started without a shell, never with a terminal to prompt on.
#pragma once

#include <string>
#include <vector>

// The executable file `name` on PATH, or "" when there is none.
std::string findOnPath(const std::string& name);

struct ProgramResult {
    bool started = false;
    int status = -1;  // exit code, or 128 + the signal that ended it
    std::string out;
    std::string err;
};

// Runs `command` (its first element a path) with stdin from /dev/null and
// stdout and stderr collected, in a session of its own: without a
// controlling terminal it cannot ask for a password, and a Ctrl-C meant for
// this tool reaches it only through `cancelled`: when a signal interrupts
// the wait and `cancelled` says so, the program is ended (SIGTERM).
ProgramResult runHostProgram(const std::vector<std::string>& command, bool (*cancelled)() = nullptr);

// "name is not installed or not on PATH; ..." for a program a command needs.
std::string missingProgramText(const std::string& name, const std::string& neededFor);
