// A medium is built in a temporary folder beside its destination and renamed
// into place only when it is complete, so that an interrupted or failed build
// leaves either the old medium or nothing, never half a medium.
#pragma once

#include <string>

struct Staging {
    std::string target;  // the medium folder asked for
    std::string path;    // the temporary folder beside it; empty once gone
};

// Why `target` cannot receive a medium: "" when it is missing or an empty
// folder, or when it is a folder and `replace` allows it to be replaced.
std::string targetProblem(const std::string& target, bool replace);

// Creates ".<name>.kestrune-medium-XXXXXX" beside `target`.
bool createStaging(const std::string& target, Staging& staging, std::string& error);
// Puts the staged medium at `target`. With `replace`, an existing medium is
// swapped out in one step and removed only after the new one stands.
bool commitStaging(Staging& staging, bool replace, std::string& error);
// Removes the temporary folder and whatever is in it.
void discardStaging(Staging& staging);

// SIGINT, SIGTERM and SIGHUP only set a flag, which the build polls; it then
// discards its temporary folder and calls reraiseInterrupt(), so the tool
// ends as killed by that signal. A second signal ends the tool at once.
void installInterruptHandlers();
bool interruptRequested();
void reraiseInterrupt();
